// The system's MIDI devices through RtMidi. Every compiled API is asked in turn; one that cannot
// start here (ALSA without a sequencer, JACK without a server) simply lists nothing.
//
// Clients are made once and kept: on JACK every new client costs the server tens of
// milliseconds and, on a loaded machine, now and then a refusal. Each MIDI system has one
// listing client for the process, which counts and finds the ports, and each opened port keeps
// its RtMidi object (its client) in a pool for the life of the process; an opening only
// registers and connects the port on a kept client, and closing unregisters it. So the pair of
// ports costs two clients on its first opening and none after.

#include "midibackend.h"
#include "rtmidisupport.h"

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string_view>
#include <thread>
#include <type_traits>

#if defined(KBX_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif
#if defined(KBX_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace kbxmidi {
namespace {

constexpr const char* kClientName = "KbxMan";

// A refused client or port is tried again this many times in all, waiting a little longer each
// time: a loaded JACK server refuses when its socket replies time out, and is usually willing a
// moment later. Bounded, so that a server that has really gone is reported within about 0.3 s.
constexpr int kAttempts = 5;
constexpr std::chrono::milliseconds kFirstPause{10};

std::atomic<unsigned> g_clientsCreated{0};

#if defined(KBX_HAVE_ALSA)
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#if defined(KBX_HAVE_JACK)
void quietJack(const char*) {}
#endif

void pauseBeforeAttempt(int attempt) {
    std::this_thread::sleep_for(kFirstPause * (1 << (attempt - 1)));
}

} // namespace

void silenceSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
#if defined(KBX_HAVE_ALSA)
        snd_lib_error_set_handler(quietAlsa);
#endif
#if defined(KBX_HAVE_JACK)
        jack_set_error_function(quietJack);
        jack_set_info_function(quietJack);
#endif
    });
}

std::string clientName() {
    static std::atomic<unsigned> serial{0};
    return std::string(kClientName) + " " + std::to_string(++serial);
}

// A port of this program's (of any running copy's): "KbxMan <n>[-<m>]:KbxMan". Ports stay open
// between openings on JACK, and are never a device to choose.
bool isOwnPort(std::string_view name) {
    const std::string_view own(kClientName);
    const auto colon = name.find(':');
    return colon != std::string_view::npos && name.substr(colon + 1) == own &&
           name.substr(0, colon).starts_with(std::string(own) + " ");
}

bool jackServerRunning() {
#if defined(KBX_HAVE_JACK)
    jack_client_t* client = jack_client_open(clientName().c_str(), JackNoStartServer, nullptr);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
#else
    return false;
#endif
}

unsigned systemClientsCreated() {
    return g_clientsCreated.load();
}

namespace {

// Collects what RtMidi reports through its error callback (which may run on RtMidi's threads),
// so the caller can turn it into an exception. Without a callback RtMidi prints and throws.
class ErrorTrap {
public:
    static void callback(RtMidiError::Type type, const std::string& text, void* user) {
        if (type == RtMidiError::DEBUG_WARNING)
            return;
        auto* self = static_cast<ErrorTrap*>(user);
        std::lock_guard lock(self->m_mutex);
        // A real error outranks the warnings that led up to it.
        const bool warning = type == RtMidiError::WARNING;
        if (self->m_text.empty() || (self->m_onlyWarnings && !warning)) {
            self->m_text = text;
            self->m_onlyWarnings = warning;
        }
    }

    void clear() {
        std::lock_guard lock(m_mutex);
        m_text.clear();
        m_onlyWarnings = true;
    }
    // Throws with the reported text, if anything was reported since clear().
    void check() {
        std::lock_guard lock(m_mutex);
        if (!m_text.empty()) {
            std::string text = std::move(m_text);
            m_text.clear();
            throw std::runtime_error(text);
        }
    }

private:
    std::mutex m_mutex;
    std::string m_text;
    bool m_onlyWarnings = true;
};

// Where a kept input object's callback hands the bytes: the opening that holds it now, or
// nobody between openings.
struct InputTarget {
    std::mutex mutex;
    ReceiveFn onMessage;
};

// One RtMidi object of one API and direction, made once and kept; its port is opened and closed
// per opening. Shared with the connection that holds it, so that a connection still open when
// the backend goes keeps what it uses.
#if defined(KBX_HAVE_JACK)
class JackLister;
#endif

template <typename Port>
struct Kept {
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    unsigned serverGeneration = 0; // JACK: the server it was made on
    bool busy = false;
    bool broken = false;             // an opening failed on it: not used again
    std::unique_ptr<ErrorTrap> trap; // outlives the port, which may call it until destroyed
    std::unique_ptr<InputTarget> target;
    std::unique_ptr<Port> port;
    std::string name; // the device open on it now, as listed
    // JACK, between openings: our port's full name as the device's port lists its connection,
    // while the port stays open and connected (empty otherwise); the listing client that tells
    // it; whether the opening failed on the port (closed then).
    std::string connection;
#if defined(KBX_HAVE_JACK)
    std::weak_ptr<JackLister> lister;
#endif
    bool failed = false;

    ~Kept() {
        // The input callback runs on RtMidi's thread; destroying the port joins it.
        if (target) {
            std::lock_guard lock(target->mutex);
            target->onMessage = nullptr;
        }
        port.reset();
    }
};

std::vector<RtMidi::Api> compiledApis() {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::erase(apis, RtMidi::RTMIDI_DUMMY);
#if !defined(KBX_HAVE_JACK)
    // Without JACK's own library the server cannot be asked first, and RtMidi 5.0 loses its
    // output buffers on every attempt to reach a server that is not there.
    std::erase(apis, RtMidi::UNIX_JACK);
#endif
    return apis;
}

// RtMidi prints a client it could not make on std::cerr (its error callback cannot be set before
// the object exists) and goes on without one; this catches the text.
class CerrCapture {
public:
    CerrCapture()
        : m_old(std::cerr.rdbuf(m_text.rdbuf())) {}
    ~CerrCapture() { std::cerr.rdbuf(m_old); }
    CerrCapture(const CerrCapture&) = delete;
    CerrCapture& operator=(const CerrCapture&) = delete;
    // What was printed, without the blank lines RtMidi puts around it.
    std::string text() const {
        const std::string t = m_text.str();
        const auto first = t.find_first_not_of('\n');
        return first == std::string::npos ? std::string()
                                          : t.substr(first, t.find_last_not_of('\n') - first + 1);
    }

private:
    std::ostringstream m_text;
    std::streambuf* m_old;
};

// An RtMidi object of the API with a client of its own. Throws std::runtime_error with
// RtMidi's text when the system does not start here or refuses the client.
template <typename Port>
std::unique_ptr<Port> makeClient(RtMidi::Api api) {
    silenceSoundLibraries();
    std::unique_ptr<Port> port;
    std::string complaint;
    try {
        CerrCapture capture;
        port = std::make_unique<Port>(api, clientName());
        complaint = capture.text();
    } catch (const RtMidiError& error) {
        throw std::runtime_error(error.getMessage());
    }
    // JACK: a client the server refused leaves the object without one; RtMidi only warned.
    if (api == RtMidi::UNIX_JACK && !complaint.empty())
        throw std::runtime_error(complaint);
    ++g_clientsCreated;
    return port;
}

template <typename Port>
std::vector<std::string> namesOf(Port& port) {
    std::vector<std::string> names;
    const unsigned count = port.getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.push_back(port.getPortName(i));
    return names;
}

#if defined(KBX_HAVE_JACK)
// The one client that lists JACK's ports for the process, both directions. It is not activated:
// reading the port list needs no process callback.
//
// JACK's library keeps what it knows of a server for as long as any client of the process is
// open; a client made while one of a server that has gone is still open sees that old server's
// port list. So when the server goes, every JACK client of the process is closed (the kept port
// objects first, see ApiDevices::forgetGoneServer) before the next listing makes a new one.
class JackLister {
public:
    ~JackLister() { drop(); }

    // The MIDI ports that take input from us (JackPortIsInput: our output devices) or give it
    // (JackPortIsOutput: our input devices); nothing when no server answers.
    std::vector<std::string> ports(unsigned long flags) {
        if (!connect())
            return {};
        std::vector<std::string> names;
        const char** ports = jack_get_ports(m_client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        for (std::size_t i = 0; ports && ports[i]; ++i)
            if (!isOwnPort(ports[i]))
                names.emplace_back(ports[i]);
        if (ports)
            jack_free(ports);
        return names;
    }

    // Returns once the server has begun a new cycle. A connection made now takes effect at the
    // start of the next cycle; a message sent on it before then is lost, and the first message
    // follows right after the opening. Bounded: a stalled server is not waited for.
    void awaitNextCycle() {
        if (!m_client)
            return;
        jack_nframes_t start = 0, now = 0;
        jack_time_t usecs = 0, next = 0;
        float period = 0;
        if (jack_get_cycle_times(m_client, &start, &usecs, &next, &period) != 0)
            return;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        do {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            if (jack_get_cycle_times(m_client, &now, &usecs, &next, &period) != 0)
                return;
        } while (now == start && std::chrono::steady_clock::now() < giveUp);
    }

    // The full names of the ports connected to the named port; none when it is not there. (JACK
    // makes this wait for a change of the graph still pending, about a period.)
    std::vector<std::string> connectionsOf(const std::string& portName) {
        std::vector<std::string> names;
        if (!connect())
            return names;
        jack_port_t* port = jack_port_by_name(m_client, portName.c_str());
        if (!port)
            return names;
        const char** connected = jack_port_get_all_connections(m_client, port);
        for (int i = 0; connected && connected[i]; ++i)
            names.emplace_back(connected[i]);
        if (connected)
            jack_free(connected);
        return names;
    }

    // The server of the listing client has shut down.
    bool serverGone() const { return m_client && m_gone && m_gone->load(); }

    // Closes the listing client; the next listing makes a new one.
    void drop() {
        if (!m_client)
            return;
        jack_client_close(m_client);
        m_client = nullptr;
        m_gone.reset();
    }

private:
    bool connect() {
        if (m_client)
            return true;
        silenceSoundLibraries();
        for (int attempt = 1; attempt <= kAttempts; ++attempt) {
            if (attempt > 1)
                pauseBeforeAttempt(attempt - 1);
            jack_status_t status{};
            m_client = jack_client_open(clientName().c_str(), JackNoStartServer, &status);
            if (m_client) {
                ++g_clientsCreated;
                // A flag of this client's own: a late word from a closed client changes nothing.
                m_gone = std::make_unique<std::atomic<bool>>(false);
                jack_on_shutdown(m_client, &JackLister::onShutdown, m_gone.get());
                return true;
            }
            // No server to reach is the normal state of a machine without JACK: not asked
            // again. A server that answered but refused is.
            if (status & JackServerFailed)
                return false;
        }
        return false;
    }

    static void onShutdown(void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); }

    jack_client_t* m_client = nullptr;
    std::unique_ptr<std::atomic<bool>> m_gone;
};
#endif

// The devices of one API: its listing, and the kept port objects of each direction.
class ApiDevices {
public:
    explicit ApiDevices(RtMidi::Api api)
        : m_api(api) {}

    std::vector<std::string> inputNames() {
#if defined(KBX_HAVE_JACK)
        if (m_api == RtMidi::UNIX_JACK) {
            forgetGoneServer();
            return m_jack->ports(JackPortIsOutput);
        }
#endif
        return listed(m_inputLister);
    }
    std::vector<std::string> outputNames() {
#if defined(KBX_HAVE_JACK)
        if (m_api == RtMidi::UNIX_JACK) {
            forgetGoneServer();
            return m_jack->ports(JackPortIsInput);
        }
#endif
        return listed(m_outputLister);
    }

    // A kept object of the direction that holds no open port, made when there is none.
    // After a port has been connected: see JackLister::awaitNextCycle.
    void awaitConnection() {
#if defined(KBX_HAVE_JACK)
        if (m_api == RtMidi::UNIX_JACK)
            m_jack->awaitNextCycle();
#endif
    }

    template <typename Port>
    std::shared_ptr<Kept<Port>> acquire() {
        forgetGoneServer();
        auto& pool = poolOf<Port>();
        // Objects of a server that has gone, or on which an opening failed, are let go.
        std::erase_if(pool, [&](const std::shared_ptr<Kept<Port>>& k) {
            return !k->busy && (k->broken || k->serverGeneration != m_serverGeneration);
        });
        for (auto& kept : pool)
            if (!kept->busy && !kept->broken && kept->serverGeneration == m_serverGeneration) {
                kept->busy = true;
                if (!kept->connection.empty()) // still connected to the device last opened
                    closeLingering(*kept);
                return kept;
            }
        auto kept = std::make_shared<Kept<Port>>();
        kept->api = m_api;
        kept->serverGeneration = m_serverGeneration;
        kept->trap = std::make_unique<ErrorTrap>();
#if defined(KBX_HAVE_JACK)
        if (m_api == RtMidi::UNIX_JACK)
            kept->lister = m_jack;
#endif
        kept->port = makeClient<Port>(m_api);
        kept->port->setErrorCallback(&ErrorTrap::callback, kept->trap.get());
        if constexpr (std::is_same_v<Port, RtMidiIn>) {
            kept->target = std::make_unique<InputTarget>();
            // System Exclusive is all we want; RtMidi drops it unless told otherwise. Whole
            // messages are assembled by RtMidi before the callback sees them.
            kept->port->ignoreTypes(false, true, true);
            kept->port->setCallback(&ApiDevices::received, kept->target.get());
        }
        kept->busy = true;
        pool.push_back(kept);
        return kept;
    }

    // JACK: the port the last opening of the same device left connected, when that connection
    // still holds; one that does not (the device went, perhaps to come back) is closed.
    template <typename Port>
    std::shared_ptr<Kept<Port>> lingering(const std::string& name) {
#if defined(KBX_HAVE_JACK)
        if (m_api != RtMidi::UNIX_JACK)
            return nullptr;
        forgetGoneServer();
        for (auto& kept : poolOf<Port>()) {
            if (kept->busy || kept->connection.empty() || kept->broken || kept->name != name ||
                kept->serverGeneration != m_serverGeneration)
                continue;
            const std::vector<std::string> connections = m_jack->connectionsOf(name);
            if (std::find(connections.begin(), connections.end(), kept->connection) !=
                connections.end()) {
                kept->busy = true;
                return kept;
            }
            closeLingering(*kept);
        }
#else
        (void)name;
#endif
        return nullptr;
    }

    template <typename Port>
    static void closeLingering(Kept<Port>& kept) {
        kept.connection.clear();
        kept.port->closePort();
    }

    static void received(double, std::vector<unsigned char>* message, void* user) {
        auto* target = static_cast<InputTarget*>(user);
        std::lock_guard lock(target->mutex);
        if (target->onMessage && message)
            target->onMessage(std::vector<std::uint8_t>(message->begin(), message->end()));
    }

private:
    // When the JACK server has gone: every client of it is closed, the port objects (those not
    // open now) before the listing client, so that the next client meets the next server.
    void forgetGoneServer() {
#if defined(KBX_HAVE_JACK)
        if (!m_jack->serverGone())
            return;
        ++m_serverGeneration;
        const auto old = [this](const auto& k) {
            return !k->busy && k->serverGeneration != m_serverGeneration;
        };
        std::erase_if(m_inputs, old);
        std::erase_if(m_outputs, old);
        m_jack->drop();
#endif
    }

    template <typename Port>
    std::vector<std::string> listed(std::unique_ptr<Port>& lister) {
        if (!lister) {
            try {
                lister = makeClient<Port>(m_api);
            } catch (const std::runtime_error&) {
                return {}; // the system does not start here
            }
        }
        return namesOf(*lister);
    }

    template <typename Port>
    std::vector<std::shared_ptr<Kept<Port>>>& poolOf() {
        if constexpr (std::is_same_v<Port, RtMidiIn>)
            return m_inputs;
        else
            return m_outputs;
    }

    RtMidi::Api m_api;
#if defined(KBX_HAVE_JACK)
    std::shared_ptr<JackLister> m_jack = std::make_shared<JackLister>();
#endif
    // The listing objects of the systems other than JACK (their clients cost little).
    std::unique_ptr<RtMidiIn> m_inputLister;
    std::unique_ptr<RtMidiOut> m_outputLister;
    std::vector<std::shared_ptr<Kept<RtMidiIn>>> m_inputs;
    std::vector<std::shared_ptr<Kept<RtMidiOut>>> m_outputs;
    unsigned m_serverGeneration = 0;
};

// Opens the named port on a kept object: found by name in the object's own list, so that a list
// that changed since it was counted cannot open another device. A refusal is tried again on a
// fresh object; a device that is no longer there is reported at once.
template <typename Port>
std::shared_ptr<Kept<Port>> openKept(ApiDevices& devices, const std::string& name,
                                     const std::function<void(Kept<Port>&)>& prepare) {
    std::string failure;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1)
            pauseBeforeAttempt(attempt - 1);
        std::shared_ptr<Kept<Port>> kept;
        try {
            kept = devices.acquire<Port>();
        } catch (const std::runtime_error& error) {
            failure = error.what(); // the client was refused
            continue;
        }
        const std::vector<std::string> names = namesOf(*kept->port);
        const auto found = std::find(names.begin(), names.end(), name);
        if (found == names.end()) {
            // Listed a moment ago, gone now: the device went, the number is not at fault.
            kept->busy = false;
            throw DeviceLost(name);
        }
        kept->trap->clear();
        prepare(*kept);
        kept->port->openPort(static_cast<unsigned>(found - names.begin()), kClientName);
        try {
            kept->trap->check();
            if (!kept->port->isPortOpen())
                throw std::runtime_error("the device could not be opened");
            kept->name = name;
            return kept;
        } catch (const std::runtime_error& error) {
            failure = error.what();
            kept->port->closePort();
            if (kept->target) {
                std::lock_guard lock(kept->target->mutex);
                kept->target->onMessage = nullptr;
            }
            kept->broken = true;
            kept->busy = false;
        }
    }
    throw std::runtime_error(failure);
}

// Opens the named device's port, on JACK reusing the port the last opening of it left
// connected (`reused`: connected and in effect, nothing to wait for).
template <typename Port>
std::shared_ptr<Kept<Port>> openOnDevice(ApiDevices& devices, const std::string& name,
                                         const std::function<void(Kept<Port>&)>& prepare,
                                         bool& reused) {
    std::shared_ptr<Kept<Port>> kept = devices.lingering<Port>(name);
    reused = kept != nullptr;
    if (kept)
        prepare(*kept);
    else
        kept = openKept<Port>(devices, name, prepare);
    kept->connection.clear(); // in use: told again when the opening ends
    kept->failed = false;
    return kept;
}

// On JACK a port stays open and connected between openings of the same device: closing a port
// waits for a server cycle and connecting one for another, which made every opening of the pair
// cost several periods. Nothing is sent on it in between, input that comes in between reaches
// nobody, and JACK shares a device among programs. The port is known by its connection when it
// is the device's only one of a copy of this program; otherwise, or when the opening failed on
// it, it is closed as before.
template <typename Port>
void release(Kept<Port>& kept) {
    kept.connection.clear();
#if defined(KBX_HAVE_JACK)
    if (!kept.failed)
        if (const std::shared_ptr<JackLister> lister = kept.lister.lock()) {
            std::vector<std::string> ours = lister->connectionsOf(kept.name);
            std::erase_if(ours, [](const std::string& c) { return !isOwnPort(c); });
            if (ours.size() == 1)
                kept.connection = ours.front();
        }
#endif
    if (kept.connection.empty())
        kept.port->closePort();
    kept.busy = false;
}

class RtInput : public InputConnection {
public:
    RtInput(std::shared_ptr<Kept<RtMidiIn>> kept)
        : m_kept(std::move(kept)) {}

    std::string name() const override { return m_kept->name; }

    ~RtInput() override {
        // Nothing is handed on once onMessage is gone; the port then stops taking input.
        {
            std::lock_guard lock(m_kept->target->mutex);
            m_kept->target->onMessage = nullptr;
        }
        release(*m_kept);
    }

private:
    std::shared_ptr<Kept<RtMidiIn>> m_kept;
};

class RtOutput : public OutputConnection {
public:
    explicit RtOutput(std::shared_ptr<Kept<RtMidiOut>> kept)
        : m_kept(std::move(kept)) {}

    std::string name() const override { return m_kept->name; }

    ~RtOutput() override { release(*m_kept); }

    void send(const std::vector<std::uint8_t>& message, SentFn sent) override {
        m_kept->trap->clear();
        m_kept->port->sendMessage(message.data(), message.size());
        try {
            m_kept->trap->check();
        } catch (...) {
            m_kept->failed = true; // closed at the end of the opening
            throw;
        }
        // RtMidi has handed the whole message to the driver when sendMessage returns.
        if (sent)
            sent();
    }

private:
    std::shared_ptr<Kept<RtMidiOut>> m_kept;
};

class RtMidiBackend : public Backend {
public:
    RtMidiBackend() {
        for (RtMidi::Api api : compiledApis())
            m_apis.push_back(std::make_unique<ApiDevices>(api));
    }

    std::vector<std::string> inputNames() override {
        std::vector<std::string> names;
        for (auto& api : m_apis) {
            auto more = api->inputNames();
            names.insert(names.end(), more.begin(), more.end());
        }
        return names;
    }
    std::vector<std::string> outputNames() override {
        std::vector<std::string> names;
        for (auto& api : m_apis) {
            auto more = api->outputNames();
            names.insert(names.end(), more.begin(), more.end());
        }
        return names;
    }

    std::unique_ptr<InputConnection> openInput(int index, ReceiveFn onMessage) override {
        auto [api, name] = find(index, &ApiDevices::inputNames);
        bool reused = false;
        auto kept = openOnDevice<RtMidiIn>(
            *api, name,
            [&onMessage](Kept<RtMidiIn>& k) {
                std::lock_guard lock(k.target->mutex);
                k.target->onMessage = std::move(onMessage);
            },
            reused);
        return std::make_unique<RtInput>(std::move(kept));
    }

    std::unique_ptr<OutputConnection> openOutput(int index) override {
        auto [api, name] = find(index, &ApiDevices::outputNames);
        bool reused = false;
        auto kept = openOnDevice<RtMidiOut>(
            *api, name, [](Kept<RtMidiOut>&) {}, reused);
        if (!reused)
            api->awaitConnection();
        return std::make_unique<RtOutput>(std::move(kept));
    }

private:
    // The system and the name of device `index` of the combined list.
    std::pair<ApiDevices*, std::string> find(int index,
                                             std::vector<std::string> (ApiDevices::*names)()) {
        if (index >= 0) {
            auto rest = static_cast<std::size_t>(index);
            for (auto& api : m_apis) {
                const std::vector<std::string> list = (api.get()->*names)();
                if (rest < list.size())
                    return {api.get(), list[rest]};
                rest -= list.size();
            }
        }
        throw std::runtime_error("The device number " + std::to_string(index) +
                                 " is out of range.");
    }

    std::vector<std::unique_ptr<ApiDevices>> m_apis;
};

} // namespace

std::unique_ptr<Backend> makeRtMidiBackend() {
    return std::make_unique<RtMidiBackend>();
}

std::string midiLibraryVersion() {
    return RtMidi::getVersion();
}

} // namespace kbxmidi

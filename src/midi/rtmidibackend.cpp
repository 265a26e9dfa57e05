// The system's MIDI devices through RtMidi. Every compiled API is asked in turn; one that cannot
// start here (ALSA without a sequencer, JACK without a server) simply lists nothing.

#include "midibackend.h"
#include "rtmidisupport.h"

#include <RtMidi.h>

#include <atomic>

#include <functional>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <streambuf>

#if defined(KBX_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif
#if defined(KBX_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace kbxmidi {
namespace {

constexpr const char* kClientName = "KbxMan";

#if defined(KBX_HAVE_ALSA)
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#if defined(KBX_HAVE_JACK)
void quietJack(const char*) {}
#endif

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

template <typename Port>
struct Opened {
    std::unique_ptr<ErrorTrap> trap; // outlives the port, which may call it until destroyed
    std::unique_ptr<Port> port;
    std::string name; // the device's, as listed
};

// A port object of one API, or nothing when the API does not start here.
template <typename Port>
Opened<Port> makePort(RtMidi::Api api) {
    silenceSoundLibraries();
#if defined(KBX_HAVE_JACK)
    if (api == RtMidi::UNIX_JACK && !jackServerRunning())
        return {};
#endif
    Opened<Port> opened;
    opened.trap = std::make_unique<ErrorTrap>();
    try {
        QuietCerr quiet;
        opened.port = std::make_unique<Port>(api, clientName());
    } catch (const RtMidiError&) {
        return {};
    }
    opened.port->setErrorCallback(&ErrorTrap::callback, opened.trap.get());
    return opened;
}

std::vector<RtMidi::Api> compiledApis() {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::erase(apis, RtMidi::RTMIDI_DUMMY);
    return apis;
}

template <typename Port>
std::vector<std::string> listNames() {
    std::vector<std::string> names;
    for (RtMidi::Api api : compiledApis()) {
        Opened<Port> opened = makePort<Port>(api);
        if (!opened.port)
            continue;
        // A server that is not running reports a warning and no ports.
        const unsigned count = opened.port->getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(opened.port->getPortName(i));
    }
    return names;
}

// Finds device `index` of the combined list and opens the port object of its API on it. The
// same object that counted the ports opens one, so the numbering cannot shift in between.
template <typename Port>
Opened<Port> openNumbered(int index, const std::function<void(Port&)>& prepare) {
    if (index >= 0) {
        unsigned rest = static_cast<unsigned>(index);
        for (RtMidi::Api api : compiledApis()) {
            Opened<Port> opened = makePort<Port>(api);
            if (!opened.port)
                continue;
            const unsigned count = opened.port->getPortCount();
            if (rest >= count) {
                rest -= count;
                continue;
            }
            opened.trap->clear();
            prepare(*opened.port);
            opened.port->openPort(rest, kClientName);
            opened.trap->check();
            if (!opened.port->isPortOpen())
                throw std::runtime_error("the device could not be opened");
            opened.name = opened.port->getPortName(rest);
            return opened;
        }
    }
    throw std::runtime_error("The device number " + std::to_string(index) + " is out of range.");
}

class RtInput : public InputConnection {
public:
    RtInput(int index, ReceiveFn onMessage)
        : m_shared(std::make_unique<Shared>()) {
        m_shared->onMessage = std::move(onMessage);
        m_opened = openNumbered<RtMidiIn>(index, [this](RtMidiIn& in) {
            // System Exclusive is all we want; RtMidi drops it unless told otherwise. Whole
            // messages are assembled by RtMidi before the callback sees them.
            in.ignoreTypes(false, true, true);
            in.setCallback(&RtInput::received, m_shared.get());
        });
    }

    ~RtInput() override {
        // The callback runs on RtMidi's thread; once onMessage is gone it hands on nothing,
        // and destroying the port joins that thread.
        {
            std::lock_guard lock(m_shared->mutex);
            m_shared->onMessage = nullptr;
        }
        if (m_opened.port) {
            m_opened.port->cancelCallback();
            m_opened.port->closePort();
            m_opened.port.reset();
        }
    }

    std::string name() const override { return m_opened.name; }

private:
    struct Shared {
        std::mutex mutex;
        ReceiveFn onMessage;
    };

    static void received(double, std::vector<unsigned char>* message, void* user) {
        auto* shared = static_cast<Shared*>(user);
        std::lock_guard lock(shared->mutex);
        if (shared->onMessage && message)
            shared->onMessage(std::vector<std::uint8_t>(message->begin(), message->end()));
    }

    std::unique_ptr<Shared> m_shared;
    Opened<RtMidiIn> m_opened;
};

class RtOutput : public OutputConnection {
public:
    explicit RtOutput(int index)
        : m_opened(openNumbered<RtMidiOut>(index, [](RtMidiOut&) {})) {}

    ~RtOutput() override { m_opened.port->closePort(); }

    std::string name() const override { return m_opened.name; }

    void send(const std::vector<std::uint8_t>& message, SentFn sent) override {
        m_opened.trap->clear();
        m_opened.port->sendMessage(message.data(), message.size());
        m_opened.trap->check();
        // RtMidi has handed the whole message to the driver when sendMessage returns.
        if (sent)
            sent();
    }

private:
    Opened<RtMidiOut> m_opened;
};

class RtMidiBackend : public Backend {
public:
    std::vector<std::string> inputNames() override { return listNames<RtMidiIn>(); }
    std::vector<std::string> outputNames() override { return listNames<RtMidiOut>(); }
    std::unique_ptr<InputConnection> openInput(int index, ReceiveFn onMessage) override {
        return std::make_unique<RtInput>(index, std::move(onMessage));
    }
    std::unique_ptr<OutputConnection> openOutput(int index) override {
        return std::make_unique<RtOutput>(index);
    }
};

} // namespace

std::unique_ptr<Backend> makeRtMidiBackend() {
    return std::make_unique<RtMidiBackend>();
}

} // namespace kbxmidi

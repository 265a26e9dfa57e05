#include "virtualportserver.h"

#include "rtmidisupport.h"
#include "virtualzr7316.h"

#include <QMetaObject>
#include <RtMidi.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace kbxmidi {

namespace {

// A System Exclusive message longer than this is no message of the keyboard's protocol; its
// bytes are dropped rather than collected without bound.
constexpr std::size_t kMaxMessage = 64 * 1024;
} // namespace

struct VirtualPortServer::Endpoint {
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    std::unique_ptr<RtMidiIn> in;
    std::unique_ptr<RtMidiOut> out;
    VirtualPortServer* server = nullptr;
    QObject* context = nullptr;
    std::size_t index = 0;

    // Touched only by the MIDI system's input thread.
    std::vector<unsigned char> partial;
    bool inSysEx = false;

    std::mutex errorMutex;
    std::string firstError;
    std::atomic<bool> serving{false};

    // RtMidi reports through this once it is set, instead of throwing or printing.
    static void onError(RtMidiError::Type type, const std::string& text, void* user) {
        auto* e = static_cast<Endpoint*>(user);
        if (e->serving) {
            std::fprintf(stderr, "kbxtool: emulate: %s\n", text.c_str());
            return;
        }
        if (type == RtMidiError::DEBUG_WARNING)
            return;
        const std::lock_guard lock(e->errorMutex);
        if (e->firstError.empty())
            e->firstError = text;
    }

    std::string error() {
        const std::lock_guard lock(errorMutex);
        return firstError;
    }

    // Runs on the MIDI system's thread: collect one System Exclusive message, then hand it to
    // the main thread. Nothing is answered from here.
    static void onMessage(double, std::vector<unsigned char>* message, void* user) {
        auto* e = static_cast<Endpoint*>(user);
        for (const unsigned char b : *message) {
            if (b == 0xF0) {
                e->partial.assign(1, b);
                e->inSysEx = true;
                continue;
            }
            if (!e->inSysEx || b >= 0xF8) // other messages; real-time bytes may interleave
                continue;
            if ((b & 0x80) && b != 0xF7) { // a status byte breaks the message off
                e->inSysEx = false;
                e->partial.clear();
                continue;
            }
            e->partial.push_back(b);
            if (e->partial.size() > kMaxMessage) {
                e->inSysEx = false;
                e->partial.clear();
                continue;
            }
            if (b == 0xF7) {
                e->inSysEx = false;
                std::vector<unsigned char> complete;
                complete.swap(e->partial);
                VirtualPortServer* server = e->server;
                const std::size_t index = e->index;
                QMetaObject::invokeMethod(
                    e->context, [server, index, complete] { server->deliver(index, complete); },
                    Qt::QueuedConnection);
            }
        }
    }
};

namespace {

std::vector<std::string> portNames(RtMidi& midi) {
    std::vector<std::string> names;
    const unsigned int count = midi.getPortCount();
    for (unsigned int i = 0; i < count; ++i)
        names.push_back(midi.getPortName(i));
    return names;
}

// The port that appeared between the two lists and carries the name; the name itself if the
// system does not show it.
QString newPort(const std::vector<std::string>& before, const std::vector<std::string>& after,
                const QString& portName) {
    std::vector<std::string> remaining = before;
    for (const std::string& name : after) {
        const auto old = std::find(remaining.begin(), remaining.end(), name);
        if (old != remaining.end()) {
            remaining.erase(old);
            continue;
        }
        const QString text = QString::fromStdString(name);
        if (text.contains(portName))
            return text;
    }
    return portName;
}

} // namespace

VirtualPortServer::VirtualPortServer(VirtualZr7316& keyboard, const QString& portName)
    : m_keyboard(keyboard)
    , m_portName(portName)
    , m_context(std::make_unique<QObject>()) {
    m_keyboard.setReplySink([this](const std::vector<std::uint8_t>& message) { reply(message); });
}

VirtualPortServer::~VirtualPortServer() {
    m_keyboard.setReplySink({});
    // Closing the ports stops the input threads before the context that their calls target goes.
    m_endpoints.clear();
    m_context.reset();
}

std::vector<VirtualPortServer::Published> VirtualPortServer::publish() {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::vector<Published> published;
    const std::string port = m_portName.toStdString();
    silenceSoundLibraries();
    for (const RtMidi::Api api : apis) {
        if (api == RtMidi::RTMIDI_DUMMY)
            continue;
        const QString system = QString::fromStdString(RtMidi::getApiDisplayName(api));
        if (api == RtMidi::UNIX_JACK && !jackServerRunning()) {
            m_skipped.append(system + QStringLiteral(": no JACK server is running"));
            continue;
        }
        auto e = std::make_unique<Endpoint>();
        e->api = api;
        e->server = this;
        e->context = m_context.get();
        e->index = m_endpoints.size();
        try {
            {
                // ALSA throws here when the machine has no sequencer.
                QuietCerr quiet;
                e->in = std::make_unique<RtMidiIn>(api, port);
                e->in->setErrorCallback(&Endpoint::onError, e.get());
                e->out = std::make_unique<RtMidiOut>(api, port);
                e->out->setErrorCallback(&Endpoint::onError, e.get());
            }
            // Listing the ports makes a system whose server is not running say so, before any
            // port is opened on a client that does not exist.
            const std::vector<std::string> sourcesBefore = portNames(*e->in);
            const std::vector<std::string> destinationsBefore = portNames(*e->out);
            if (!e->error().empty())
                throw std::runtime_error(e->error());
            e->in->ignoreTypes(false, true, true); // System Exclusive is all the keyboard reads
            e->in->setCallback(&Endpoint::onMessage, e.get());
            e->in->openVirtualPort(port);
            if (!e->error().empty())
                throw std::runtime_error(e->error());
            e->out->openVirtualPort(port);
            if (!e->error().empty())
                throw std::runtime_error(e->error());
            Published p;
            p.api = QString::fromStdString(RtMidi::getApiName(api));
            p.input = newPort(destinationsBefore, portNames(*e->out), m_portName);
            p.output = newPort(sourcesBefore, portNames(*e->in), m_portName);
            e->serving = true;
            published.push_back(p);
            m_endpoints.push_back(std::move(e));
        } catch (const RtMidiError& error) {
            m_skipped.append(system + QStringLiteral(": ") +
                             QString::fromStdString(error.getMessage()));
        } catch (const std::exception& error) {
            m_skipped.append(system + QStringLiteral(": ") + QString::fromUtf8(error.what()));
        }
    }
    if (published.empty()) {
        QString why = QStringLiteral("No MIDI system could publish virtual ports");
        if (!m_skipped.isEmpty())
            why += QStringLiteral(" (") + m_skipped.join(QStringLiteral("; ")) + u')';
        throw std::runtime_error(why.toStdString());
    }
    return published;
}

void VirtualPortServer::deliver(std::size_t endpoint, const std::vector<unsigned char>& message) {
    // The keyboard answers on the system the question came from.
    m_replyTo = endpoint;
    ++m_received;
    m_keyboard.receive(std::vector<std::uint8_t>(message.begin(), message.end()));
}

void VirtualPortServer::reply(const std::vector<std::uint8_t>& message) {
    if (m_replyTo >= m_endpoints.size())
        return;
    std::vector<unsigned char> bytes(message.begin(), message.end());
    try {
        m_endpoints[m_replyTo]->out->sendMessage(&bytes);
    } catch (const RtMidiError& error) {
        std::fprintf(stderr, "kbxtool: emulate: %s\n", error.getMessage().c_str());
    }
}

} // namespace kbxmidi

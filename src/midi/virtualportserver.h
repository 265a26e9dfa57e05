#pragma once
// The virtual ZR-7316 on real MIDI ports: one virtual input and one virtual output port per MIDI
// system that can publish them (JACK when a server runs, ALSA, CoreMIDI), so that other programs
// (or another kbxtool) can talk to it like to the instrument.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

class VirtualZr7316;

namespace kbxmidi {

class VirtualPortServer {
public:
    struct Published {
        QString api;    // RtMidi's short name: "jack", "alsa", ...
        QString input;  // the port other programs send to (the keyboard's MIDI IN)
        QString output; // the port other programs read from (the keyboard's MIDI OUT)
    };

    // The keyboard must outlive the server.
    VirtualPortServer(VirtualZr7316& keyboard, const QString& portName);
    ~VirtualPortServer();
    VirtualPortServer(const VirtualPortServer&) = delete;
    VirtualPortServer& operator=(const VirtualPortServer&) = delete;

    // Opens the ports on every compiled MIDI system that accepts them. Throws std::runtime_error
    // with each system's reason when none does.
    std::vector<Published> publish();
    // Why the systems that publish() passed over did not take the ports.
    QStringList skipped() const { return m_skipped; }

    // Messages received and replies that could not be sent, for diagnostics.
    int messagesReceived() const { return m_received; }

private:
    struct Endpoint;
    void deliver(std::size_t endpoint, const std::vector<unsigned char>& message);
    void reply(const std::vector<std::uint8_t>& message);

    VirtualZr7316& m_keyboard;
    QString m_portName;
    std::vector<std::unique_ptr<Endpoint>> m_endpoints;
    // Receives the queued calls from the MIDI systems' threads; destroyed after the endpoints,
    // so no call reaches a server that is gone.
    std::unique_ptr<QObject> m_context;
    std::size_t m_replyTo = 0;
    QStringList m_skipped;
    int m_received = 0;
};

} // namespace kbxmidi

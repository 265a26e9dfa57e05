#pragma once
// What the tests over JACK share: a JACK server of the test's own, and another program's device
// on it.

#include <QProcess>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RtMidiIn;
class RtMidiOut;

namespace kbxtest {

// A private JACK server on the dummy driver: synchronous (the default mode loses a message now
// and then), without real-time privileges or sound hardware, named after the test process. Its
// name is put into this process's JACK_DEFAULT_SERVER, which the programs it starts inherit.
class JackServer {
public:
    JackServer() = default;
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // False, with the reason, when jackd is not installed (the test is then skipped) or does not
    // start answering.
    bool start(std::string& why);
    // Waits a moment for clients to leave first: JACK keeps the name of a server stopped while
    // a client is leaving.
    void stop();
    QString name() const { return m_name; }
    bool installed() const;

private:
    QProcess m_jackd;
    QString m_name;
};

// Another program's device on JACK: a client with one input and one output port that records
// every message it receives and answers nothing.
class MidiPeer {
public:
    // Ports "<client>:<inputPort>" (where others send) and "<client>:<outputPort>".
    MidiPeer(const std::string& client, const std::string& inputPort,
             const std::string& outputPort);
    ~MidiPeer();

    void send(const std::vector<std::uint8_t>& bytes);
    std::vector<std::vector<std::uint8_t>> messages();

private:
    static void received(double, std::vector<unsigned char>* message, void* user);

    std::unique_ptr<RtMidiOut> m_out;
    std::unique_ptr<RtMidiIn> m_in;
    std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_messages;
};

} // namespace kbxtest

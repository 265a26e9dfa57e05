// The system-device backend through RtMidi, on a JACK server of its own with no sound hardware:
// System Exclusive both ways between the ports and another JACK client. Skipped where jackd is
// not installed.
#include "mididevices.h"
#include "rtmidisupport.h"
#include "testutil.h"
#include "zxmidi.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <RtMidi.h>
#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Another JACK client with one port of each direction that the registry lists as devices.
class Peer {
public:
    Peer()
        : m_out(RtMidi::UNIX_JACK, "kbxpeer")
        , m_in(RtMidi::UNIX_JACK, "kbxpeer") {
        m_out.openVirtualPort("to host");
        m_in.ignoreTypes(false, true, true);
        m_in.setCallback(&Peer::received, this);
        m_in.openVirtualPort("from host");
    }

    void send(const Bytes& bytes) { m_out.sendMessage(bytes.data(), bytes.size()); }
    std::vector<Bytes> messages() {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    static void received(double, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<Peer*>(user);
        std::lock_guard lock(self->m_mutex);
        self->m_messages.emplace_back(message->begin(), message->end());
    }

    RtMidiOut m_out;
    RtMidiIn m_in;
    std::mutex m_mutex;
    std::vector<Bytes> m_messages;
};

bool jackServerAnswers() {
    bool up = true;
    // RtMidi reports a missing server on std::cerr while constructing.
    std::ostringstream quiet;
    std::streambuf* cerr = std::cerr.rdbuf(quiet.rdbuf());
    RtMidiIn probe(RtMidi::UNIX_JACK, "kbxprobe");
    std::cerr.rdbuf(cerr);
    probe.setErrorCallback([](RtMidiError::Type, const std::string&,
                              void* user) { *static_cast<bool*>(user) = false; },
                           &up);
    probe.getPortCount();
    return up;
}

int indexOf(const std::vector<std::string>& names, const std::string& part) {
    auto it = std::find_if(names.begin(), names.end(),
                           [&](const std::string& n) { return n.find(part) != std::string::npos; });
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

class JackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable("jackd").isEmpty())
            GTEST_SKIP() << "jackd is not installed";
        // Listing once quiets the sound libraries' complaints while the server starts.
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(true);
        kbxmidi::DeviceRegistry::instance().inputNames();
        startServer();
    }

    void TearDown() override {
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(false);
        stopServer();
    }

    // A server of our own, synchronous (the default mode loses a message now and then), without
    // real-time privileges or sound hardware.
    void startServer() {
        const QByteArray name = "kbxmidi-" + QByteArray::number(QCoreApplication::applicationPid());
        qputenv("JACK_DEFAULT_SERVER", name);
        qputenv("JACK_NO_AUDIO_RESERVATION", "1");
        m_jackd.setProgram(QStandardPaths::findExecutable("jackd"));
        m_jackd.setArguments({"-S", "-r", "-n", QString::fromLatin1(name), "-d", "dummy", "-r",
                              "48000", "-p", "128"});
        m_jackd.setProcessChannelMode(QProcess::MergedChannels);
        m_jackd.start();
        ASSERT_TRUE(m_jackd.waitForStarted(5000));
        ASSERT_TRUE(kbxtest::waitFor([] { return jackServerAnswers(); }, 10000))
            << m_jackd.readAll().toStdString();
    }

    void stopServer() {
        if (m_jackd.state() == QProcess::NotRunning)
            return;
        // JACK keeps a stopped server's name registered unless its clients left a moment before.
        kbxtest::spin(500);
        m_jackd.terminate();
        if (!m_jackd.waitForFinished(5000))
            m_jackd.kill();
        m_jackd.waitForFinished(5000);
    }

    QProcess m_jackd;
};

// Opens the pair on the peer's ports, sends one message each way and closes the pair.
void exchangeWith(Peer& peer) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const int input = indexOf(registry.inputNames(), "to host");
    const int output = indexOf(registry.outputNames(), "from host");
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    ZxMidiIn in;
    ZxMidiOut out;
    int received = 0;
    ZxMidiObserver inObserver;
    inObserver.setHandler([&] { ++received; });
    in.attach(&inObserver);
    in.open(input);
    out.open(output);
    const std::size_t before = peer.messages().size();
    out.loadMessage(hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7"));
    out.sendMessage();
    EXPECT_TRUE(kbxtest::waitFor([&] { return peer.messages().size() == before + 1; }));
    peer.send(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
    EXPECT_TRUE(kbxtest::waitFor([&] { return received == 1; }));
    out.close();
    in.close();
}

TEST_F(JackTest, systemExclusiveTravelsBothWaysThroughRtMidi) {
    auto peer = std::make_unique<Peer>();
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const int input = indexOf(registry.inputNames(), "to host");
    const int output = indexOf(registry.outputNames(), "from host");
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);
    EXPECT_EQ(registry.inputNames().back(), "Virtual ZR-7316");

    ZxMidiIn in;
    ZxMidiOut out;
    std::vector<Bytes> received;
    int sent = 0;
    ZxMidiObserver inObserver, outObserver;
    inObserver.setHandler([&] {
        Bytes bytes;
        in.lastMessage(bytes);
        received.push_back(bytes);
    });
    outObserver.setHandler([&] { ++sent; });
    in.attach(&inObserver);
    out.attach(&outObserver);
    in.open(input);
    out.open(output);

    peer->send(hex("90 3C 7F")); // a note: reaches nobody
    peer->send(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
    ASSERT_TRUE(kbxtest::waitFor([&] { return !received.empty(); }));
    EXPECT_EQ(toHex(received.front()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");

    out.loadMessage(hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7"));
    out.sendMessage();
    ASSERT_TRUE(kbxtest::waitFor([&] { return sent == 1 && !peer->messages().empty(); }));
    EXPECT_EQ(toHex(peer->messages().front()), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");

    out.close();
    in.close();
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(JackTest, reopeningThePairMakesNoClientAfterTheFirstOpening) {
    auto peer = std::make_unique<Peer>();
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const int input = indexOf(registry.inputNames(), "to host");
    const int output = indexOf(registry.outputNames(), "from host");
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);

    ZxMidiIn in;
    ZxMidiOut out;
    std::vector<Bytes> received;
    ZxMidiObserver inObserver;
    inObserver.setHandler([&] {
        Bytes bytes;
        in.lastMessage(bytes);
        received.push_back(bytes);
    });
    in.attach(&inObserver);
    in.open(input);
    out.open(output);
    out.close();
    in.close();
    const unsigned clients = kbxmidi::systemClientsCreated();
    for (int round = 0; round < 5; ++round) {
        in.open(input);
        out.open(output);
        // Each opening still carries messages both ways on the kept clients.
        const Bytes request = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");
        out.loadMessage(request);
        out.sendMessage();
        ASSERT_TRUE(kbxtest::waitFor([&] { return peer->messages().size() == 1u + round; }))
            << "round " << round << ", " << peer->messages().size() << " messages";
        peer->send(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
        ASSERT_TRUE(kbxtest::waitFor([&] { return received.size() == 1u + round; }));
        out.close();
        in.close();
        EXPECT_EQ(registry.inputNames(), registry.inputNames()); // listing makes none either
    }
    EXPECT_EQ(kbxmidi::systemClientsCreated(), clients);
    // A closed port is no longer connected: the peer's message reaches nobody.
    peer->send(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
    kbxtest::spin(100);
    EXPECT_EQ(received.size(), 5u);
}

// JACK's library remembers a server while any client of the process is open: the clients of a
// server that went away are all closed, or the next server's ports would not be seen.
TEST_F(JackTest, aServerThatRestartsIsListedAndUsedAfresh) {
    auto peer = std::make_unique<Peer>();
    exchangeWith(*peer);
    peer.reset();
    stopServer();
    auto& registry = kbxmidi::DeviceRegistry::instance();
    // The server's going is told on JACK's own thread.
    EXPECT_TRUE(kbxtest::waitFor(
        [&] { return registry.outputNames() == std::vector<std::string>{"Virtual ZR-7316"}; }));

    startServer();
    peer = std::make_unique<Peer>();
    EXPECT_EQ(indexOf(registry.outputNames(), "from host"), 0);
    exchangeWith(*peer);
    peer.reset();
    EXPECT_EQ(registry.outputNames(), std::vector<std::string>{"Virtual ZR-7316"});
}

TEST_F(JackTest, devicesThatComeAndGoAreListedAtOnce) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    EXPECT_LT(indexOf(registry.outputNames(), "from host"), 0);
    auto peer = std::make_unique<Peer>();
    EXPECT_GE(indexOf(registry.outputNames(), "from host"), 0);
    EXPECT_GE(indexOf(registry.inputNames(), "to host"), 0);
    peer.reset();
    EXPECT_LT(indexOf(registry.outputNames(), "from host"), 0);
    EXPECT_EQ(registry.outputNames().back(), "Virtual ZR-7316");
}

} // namespace

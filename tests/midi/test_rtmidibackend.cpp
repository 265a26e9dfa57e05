// The system-device backend through RtMidi, on a JACK server of its own with no sound hardware:
// System Exclusive both ways between the ports and another JACK client. Skipped where jackd is
// not installed.
#include "devicewatch.h"
#include "jackserver.h"
#include "mididevices.h"
#include "rtmidisupport.h"
#include "testutil.h"
#include "zxkbd.h"
#include "zxmidi.h"

#include <QObject>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Another JACK client with one port of each direction that the registry lists as devices.
class Peer : public kbxtest::MidiPeer {
public:
    Peer()
        : MidiPeer("kbxpeer", "from host", "to host") {}
};

int indexOf(const std::vector<std::string>& names, const std::string& part) {
    auto it = std::find_if(names.begin(), names.end(),
                           [&](const std::string& n) { return n.find(part) != std::string::npos; });
    return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

class JackTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Listing once quiets the sound libraries' complaints while the server starts.
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(true);
        kbxmidi::DeviceRegistry::instance().inputNames();
        std::string why;
        if (!m_jack.installed())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(m_jack.start(why)) << why;
    }

    void TearDown() override {
        // Our listening client leaves before the server goes.
        kbxmidi::DeviceWatch::instance().stop();
        kbxmidi::DeviceRegistry::instance().setSystemDevicesEnabled(false);
        m_jack.stop();
    }

    kbxtest::JackServer m_jack;
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

// The output port stays connected between openings of the same device (reopening it costs no
// server cycle), but never carries anything to a device that was not opened: opening another
// device moves it, and a device that went and came back is connected afresh.
TEST_F(JackTest, theOutputKeptConnectedReachesOnlyTheDeviceOpenedAndFollowsOneThatCameBack) {
    auto first = std::make_unique<Peer>();
    kbxtest::MidiPeer second("kbxother", "from host", "to host");
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const auto outputOf = [&](const std::string& client) {
        return indexOf(registry.outputNames(), client);
    };
    const Bytes request = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");
    ZxMidiOut out;
    const auto sendOnce = [&](int output) {
        ASSERT_GE(output, 0) << ::testing::PrintToString(registry.outputNames());
        out.open(output);
        out.loadMessage(request);
        out.sendMessage();
        out.close();
    };

    sendOnce(outputOf("kbxpeer"));
    sendOnce(outputOf("kbxpeer"));
    ASSERT_TRUE(kbxtest::waitFor([&] { return first->messages().size() == 2u; }));
    const unsigned clients = kbxmidi::systemClientsCreated();

    sendOnce(outputOf("kbxother"));
    ASSERT_TRUE(kbxtest::waitFor([&] { return second.messages().size() == 1u; }));
    kbxtest::spin(50);
    EXPECT_EQ(first->messages().size(), 2u); // the first device got nothing more

    // The first device goes and comes back under the same name: the next opening reaches it.
    sendOnce(outputOf("kbxpeer"));
    ASSERT_TRUE(kbxtest::waitFor([&] { return first->messages().size() == 3u; }));
    const std::string name = registry.outputNames().at(outputOf("kbxpeer"));
    first.reset();
    first = std::make_unique<Peer>();
    ASSERT_EQ(registry.outputNames().at(outputOf("kbxpeer")), name);
    sendOnce(outputOf("kbxpeer"));
    ASSERT_TRUE(kbxtest::waitFor([&] { return first->messages().size() == 1u; }))
        << first->messages().size() << " messages";
    EXPECT_EQ(second.messages().size(), 1u);
    EXPECT_EQ(kbxmidi::systemClientsCreated(), clients); // moving the port made no client
}

// JACK's library remembers a server while any client of the process is open: the clients of a
// server that went away are all closed, or the next server's ports would not be seen.
TEST_F(JackTest, aServerThatRestartsIsListedAndUsedAfresh) {
    auto peer = std::make_unique<Peer>();
    exchangeWith(*peer);
    peer.reset();
    // Our listening client leaves with the server's other clients.
    kbxmidi::DeviceWatch::instance().stop();
    m_jack.stop();
    auto& registry = kbxmidi::DeviceRegistry::instance();
    // The server's going is told on JACK's own thread.
    EXPECT_TRUE(kbxtest::waitFor(
        [&] { return registry.outputNames() == std::vector<std::string>{"Virtual ZR-7316"}; }));

    std::string why;
    ASSERT_TRUE(m_jack.start(why)) << why;
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

TEST_F(JackTest, portsThatComeAndGoAreAnnouncedByName) {
    auto& watch = kbxmidi::DeviceWatch::instance();
    watch.start();
    ASSERT_TRUE(watch.announcing());
    int changes = 0;
    std::vector<std::string> removed;
    QObject context;
    QObject::connect(&watch, &kbxmidi::DeviceWatch::devicesChanged, &context, [&] { ++changes; });
    QObject::connect(&watch, &kbxmidi::DeviceWatch::devicesRemoved, &context,
                     [&](const std::vector<std::string>& names) {
                         removed.insert(removed.end(), names.begin(), names.end());
                     });

    auto peer = std::make_unique<Peer>();
    ASSERT_TRUE(kbxtest::waitFor([&] { return changes > 0; }));
    EXPECT_TRUE(removed.empty());

    auto& registry = kbxmidi::DeviceRegistry::instance();
    const std::string toHost =
        registry.inputNames()[static_cast<std::size_t>(indexOf(registry.inputNames(), "to host"))];
    peer.reset();
    ASSERT_TRUE(kbxtest::waitFor([&] {
        return std::find(removed.begin(), removed.end(), toHost) != removed.end();
    })) << toHost;
}

TEST_F(JackTest, aPortThatGoesEndsTheExchangeWithoutWaitingForTheTimeOut) {
    auto& watch = kbxmidi::DeviceWatch::instance();
    auto peer = std::make_unique<Peer>();
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const int input = indexOf(registry.inputNames(), "to host");
    const int output = indexOf(registry.outputNames(), "from host");
    ASSERT_GE(input, 0);
    ASSERT_GE(output, 0);

    ZxKbd link;
    link.open(input, output);
    ASSERT_TRUE(watch.announcing()); // the ports started listening when they opened
    bool gone = false;
    QObject context;
    QObject::connect(&watch, &kbxmidi::DeviceWatch::devicesRemoved, &context,
                     [&](const std::vector<std::string>&) { gone = true; });
    peer.reset(); // the other program ends
    ASSERT_TRUE(kbxtest::waitFor([&] { return gone; }));

    // The request finds its devices gone: the loss, not a time-out, ends it.
    try {
        link.readKeyboardType();
        FAIL() << "no failure";
    } catch (const kbxmidi::DeviceLost& e) {
        EXPECT_NE(e.deviceName().find("kbxpeer"), std::string::npos) << e.deviceName();
    } catch (const ZxSysExException& e) {
        FAIL() << "ended by ZxSysExException " << e.code();
    }
    EXPECT_FALSE(link.isOpen());
}

} // namespace

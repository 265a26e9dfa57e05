// The device registry: what it lists on this machine and in tests, and the virtual ZR-7316 as a
// device, end to end through the ports and the Qt event loop.
#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxmidi.h"

#include <QElapsedTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

namespace {

const Bytes kTypeRequest = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_registry.setSystemDevicesEnabled(false);
        m_registry.setTestBackend(nullptr);
    }
    void TearDown() override {
        m_registry.setSystemDevicesEnabled(false);
        m_registry.setTestBackend(nullptr);
    }

    kbxmidi::DeviceRegistry& m_registry = kbxmidi::DeviceRegistry::instance();
};

TEST(RegistryStart, underTheTestRunnerSystemDevicesStartDisabled) {
    const char* test = std::getenv("KBX_TEST");
    if (!test || std::string(test) != "1")
        GTEST_SKIP() << "not run by CTest";
    EXPECT_FALSE(kbxmidi::DeviceRegistry::instance().systemDevicesEnabled());
}

TEST_F(RegistryTest, withoutSystemDevicesOnlyTheVirtualKeyboardIsListed) {
    EXPECT_EQ(m_registry.inputNames(), (Names{"Virtual ZR-7316"}));
    EXPECT_EQ(m_registry.outputNames(), (Names{"Virtual ZR-7316"}));
    EXPECT_EQ(m_registry.inputCount(), 1);
    EXPECT_EQ(m_registry.outputCount(), 1);
    EXPECT_EQ(m_registry.virtualInputNumber(), 0);
    EXPECT_EQ(m_registry.virtualOutputNumber(), 0);
    EXPECT_NO_THROW(m_registry.openInput(0, [](Bytes) {}));
    EXPECT_NO_THROW(m_registry.openOutput(0));
}

TEST_F(RegistryTest, systemDevicesOfThisMachineNeverThrowAndTheVirtualKeyboardComesLast) {
    // Here there is no ALSA sequencer and no JACK server; elsewhere there may be devices.
    m_registry.setSystemDevicesEnabled(true);
    Names inputs, outputs;
    ASSERT_NO_THROW(inputs = m_registry.inputNames());
    ASSERT_NO_THROW(outputs = m_registry.outputNames());
    ASSERT_FALSE(inputs.empty());
    ASSERT_FALSE(outputs.empty());
    EXPECT_EQ(inputs.back(), "Virtual ZR-7316");
    EXPECT_EQ(outputs.back(), "Virtual ZR-7316");
    EXPECT_EQ(m_registry.virtualInputNumber(), static_cast<int>(inputs.size()) - 1);
    EXPECT_EQ(m_registry.virtualOutputNumber(), static_cast<int>(outputs.size()) - 1);
    EXPECT_NO_THROW(m_registry.openInput(m_registry.virtualInputNumber(), [](Bytes) {}));
    EXPECT_NO_THROW(m_registry.openOutput(m_registry.virtualOutputNumber()));
}

TEST_F(RegistryTest, aTestSourceIsNumberedFirst) {
    m_registry.setTestBackend(
        std::make_shared<kbxmidi::LoopbackBackend>(Names{"In A", "In B"}, Names{"Out A"}));
    EXPECT_EQ(m_registry.inputNames(), (Names{"In A", "In B", "Virtual ZR-7316"}));
    EXPECT_EQ(m_registry.outputNames(), (Names{"Out A", "Virtual ZR-7316"}));
    EXPECT_EQ(m_registry.virtualInputNumber(), 2);
    EXPECT_EQ(m_registry.virtualOutputNumber(), 1);
}

TEST_F(RegistryTest, numbersOutsideTheListsAreRefused) {
    EXPECT_THROW(m_registry.openInput(1, [](Bytes) {}), std::runtime_error);
    EXPECT_THROW(m_registry.openInput(-1, [](Bytes) {}), std::runtime_error);
    EXPECT_THROW(m_registry.openOutput(1), std::runtime_error);
    ZxMidiOut out;
    try {
        out.open(1);
        FAIL() << "opened a device that is not there";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("MIDI SYSTEM ERROR: ", 0), 0u) << e.what();
    }
}

// A bound reference opens its device wherever the lists put it now, never what takes its number,
// and once its device has gone it opens nothing, even a namesake that comes back.
TEST_F(RegistryTest, aBoundDeviceFollowsItsIdentityAndStaysLostOnceGone) {
    auto loopback = std::make_shared<kbxmidi::LoopbackBackend>(Names{"A", "B"}, Names{"A", "B"});
    m_registry.setTestBackend(loopback);
    const kbxmidi::DeviceRef b = m_registry.bindOutput(1);
    EXPECT_EQ(b.identity(), (kbxmidi::PortIdentity{"test", "B"}));

    loopback->setDeviceNames({"B"}, {"B"}); // A unplugged: B is number 0 now
    EXPECT_NO_THROW(m_registry.openOutput(b));
    EXPECT_EQ(m_registry.findOutput(b.identity()), 0);

    loopback->setDeviceNames({"A"}, {"A"}); // B unplugged: A takes its number
    const kbxmidi::DeviceRef a = m_registry.bindOutput(0);
    EXPECT_THROW(m_registry.openOutput(b), kbxmidi::DeviceLost);
    loopback->setDeviceNames({"A", "B"}, {"A", "B"});
    ZxMidiOut out;
    EXPECT_THROW(out.open(b), kbxmidi::DeviceLost);
    EXPECT_NO_THROW(out.open(a));
    EXPECT_TRUE(b.lost());
}

// The virtual keyboard through the ports.
class VirtualDeviceTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        m_keyboard = &m_registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->clearLog();
        m_sentObserver.setHandler([this] { ++m_sentCount; });
        m_out.attach(&m_sentObserver);
        m_replyObserver.setHandler([this] {
            Bytes reply;
            m_in.lastMessage(reply);
            m_replies.push_back(reply);
        });
        m_in.attach(&m_replyObserver);
    }
    void TearDown() override {
        m_out.close();
        m_in.close();
        m_keyboard->setFaults({});
        RegistryTest::TearDown();
    }

    void openBoth() {
        m_in.open(m_registry.virtualInputNumber());
        m_out.open(m_registry.virtualOutputNumber());
    }
    void send(const Bytes& message) {
        m_out.loadMessage(message);
        m_out.sendMessage();
    }
    void setWireSpeed(bool on) {
        VirtualZr7316::Faults faults;
        faults.wireSpeed = on;
        m_keyboard->setFaults(faults);
    }

    VirtualZr7316* m_keyboard = nullptr;
    ZxMidiOut m_out;
    ZxMidiIn m_in;
    ZxMidiObserver m_sentObserver, m_replyObserver;
    int m_sentCount = 0;
    std::vector<Bytes> m_replies;
};

TEST_F(VirtualDeviceTest, answersTheKeyboardTypeRequest) {
    openBoth();
    send(kTypeRequest);
    ASSERT_TRUE(kbxtest::waitFor([&] { return !m_replies.empty(); }));
    EXPECT_EQ(m_sentCount, 1);
    const Bytes& reply = m_replies.front();
    ASSERT_GE(reply.size(), 8u) << toHex(reply);
    EXPECT_EQ(toHex(Bytes(reply.begin(), reply.begin() + 8)), "F0 44 11 01 7F 00 00 0D")
        << toHex(reply);
    EXPECT_EQ(reply.back(), 0xF7);
    ASSERT_EQ(m_keyboard->received().size(), 1u);
    EXPECT_EQ(toHex(m_keyboard->received()[0]), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");
}

TEST_F(VirtualDeviceTest, theKeyboardGetsTheMessageFromTheEventLoopBeforeSentIsTold) {
    openBoth();
    int receivedWhenSent = -1;
    m_sentObserver.setHandler(
        [&] { receivedWhenSent = static_cast<int>(m_keyboard->received().size()); });
    send(kTypeRequest);
    EXPECT_TRUE(m_keyboard->received().empty()); // not inside sendMessage
    ASSERT_TRUE(kbxtest::waitFor([&] { return receivedWhenSent >= 0; }));
    EXPECT_EQ(receivedWhenSent, 1);
}

TEST_F(VirtualDeviceTest, repliesReachEveryOpenVirtualInput) {
    ZxMidiIn second;
    std::vector<Bytes> secondReplies;
    ZxMidiObserver secondObserver;
    secondObserver.setHandler([&] {
        Bytes reply;
        second.lastMessage(reply);
        secondReplies.push_back(reply);
    });
    second.attach(&secondObserver);
    second.open(m_registry.virtualInputNumber());
    openBoth();
    send(kTypeRequest);
    ASSERT_TRUE(kbxtest::waitFor([&] { return !m_replies.empty() && !secondReplies.empty(); }));
    EXPECT_EQ(m_replies, secondReplies);
}

TEST_F(VirtualDeviceTest, aRequestWithNoInputOpenIsAnsweredIntoTheVoid) {
    m_out.open(m_registry.virtualOutputNumber());
    send(kTypeRequest);
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_sentCount == 1; }));
    kbxtest::spin(50);
    m_in.open(m_registry.virtualInputNumber());
    kbxtest::spin(50);
    EXPECT_TRUE(m_replies.empty());
}

TEST_F(VirtualDeviceTest, atWireSpeedEachMessageTakesItsBytesOnTheWire) {
    setWireSpeed(true);
    openBoth();
    QElapsedTimer clock;
    std::vector<qint64> sentAtNs;
    m_sentObserver.setHandler([&] { sentAtNs.push_back(clock.nsecsElapsed()); });
    clock.start();
    send(kTypeRequest);
    send(kTypeRequest); // queued behind the first on the wire
    ASSERT_TRUE(kbxtest::waitFor([&] { return sentAtNs.size() == 2; }));
    // 12 bytes at 320 us each, one message after the other.
    EXPECT_GE(sentAtNs[0], 12 * 320'000);
    EXPECT_GE(sentAtNs[1], 2 * 12 * 320'000);
    EXPECT_EQ(m_keyboard->received().size(), 2u);
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_replies.size() == 2; }));
}

TEST_F(VirtualDeviceTest, closingTheOutputDropsWhatIsStillOnTheWire) {
    setWireSpeed(true);
    openBoth();
    send(kTypeRequest);
    m_out.close();
    kbxtest::spin(30);
    EXPECT_TRUE(m_keyboard->received().empty());
    EXPECT_EQ(m_sentCount, 0);

    m_out.open(m_registry.virtualOutputNumber());
    send(kTypeRequest);
    ASSERT_TRUE(kbxtest::waitFor([&] { return !m_replies.empty(); }));
    EXPECT_EQ(m_keyboard->received().size(), 1u);
}

} // namespace

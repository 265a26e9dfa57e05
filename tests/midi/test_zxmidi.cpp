// The MIDI ports over a scripted loopback device, through the real Qt event loop: what reaches
// the observers, when, and what the ports refuse.
#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "zxmidi.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kTypeRequest = hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7");

class PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_backend = std::make_shared<kbxmidi::LoopbackBackend>();
        registry.setTestBackend(m_backend);
    }
    void TearDown() override { kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr); }

    // Runs every notification already queued for the ports, and nothing else.
    static void flush() { QCoreApplication::sendPostedEvents(); }

    // An observer that records its number in `order` and the port's message at that moment.
    ZxMidiObserver& observer(ZxMidi& port, int number) {
        auto& o = m_observers.emplace_back(std::make_unique<ZxMidiObserver>());
        o->setHandler([this, &port, number] {
            m_order.push_back(number);
            Bytes seen;
            port.lastMessage(seen);
            m_seen.push_back(seen);
        });
        port.attach(o.get());
        return *o;
    }

    static Bytes messageOf(const ZxMidi& port) {
        Bytes bytes;
        port.lastMessage(bytes);
        return bytes;
    }

    static std::string errorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(no error)";
    }

    std::shared_ptr<kbxmidi::LoopbackBackend> m_backend;
    std::vector<std::unique_ptr<ZxMidiObserver>> m_observers;
    std::vector<int> m_order;
    std::vector<Bytes> m_seen;
};

TEST_F(PortTest, receivedMakersSysExReachesEveryObserverInAttachmentOrder) {
    ZxMidiIn in;
    observer(in, 1);
    observer(in, 2);
    observer(in, 3);
    in.open(0);
    const Bytes reply = hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    // From another thread, as a real driver does.
    std::thread driver([&] { m_backend->inject(reply); });
    driver.join();
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_order.size() == 3; }));
    EXPECT_EQ(m_order, (std::vector<int>{1, 2, 3}));
    for (const Bytes& seen : m_seen)
        EXPECT_EQ(toHex(seen), toHex(reply));
    EXPECT_EQ(toHex(messageOf(in)), toHex(reply));
}

TEST_F(PortTest, messagesFromTheDriverThreadArriveInOrder) {
    ZxMidiIn in;
    observer(in, 1);
    in.open(0);
    std::thread driver([&] {
        for (int i = 0; i < 50; ++i)
            m_backend->inject({0xF0, 0x44, static_cast<std::uint8_t>(i), 0xF7});
    });
    driver.join();
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_seen.size() == 50; }));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(m_seen[i][2], i);
}

TEST_F(PortTest, anythingButOneCompleteMakersSysExReachesNobodyAndEmptiesTheMessage) {
    const char* const refused[] = {
        "F0 44 11 01 7F 00 00 0D 00 00 00 00 00",    // no final F7
        "F0 43 11 01 7F 00 00 0D 00 00 00 00 00 F7", // another maker
        "44 11 01 7F 00 F7",                         // no F0
        "90 3C 7F",                                  // a note, not System Exclusive
        "F0 44 11 01 F7 F0 44 11 01 F7",             // two messages run together
        "F0",
    };
    ZxMidiIn in;
    observer(in, 1);
    in.open(0);
    for (const char* bytes : refused) {
        SCOPED_TRACE(bytes);
        m_backend->inject(hex("F0 44 01 02 F7"));
        flush();
        ASSERT_EQ(m_order.size(), 1u);
        m_order.clear();

        m_backend->inject(hex(bytes));
        flush();
        EXPECT_TRUE(m_order.empty());
        EXPECT_TRUE(messageOf(in).empty()) << toHex(messageOf(in));
    }
}

TEST_F(PortTest, emptyBufferFromResetIsIgnoredAndKeepsTheLastMessage) {
    ZxMidiIn in;
    observer(in, 1);
    in.open(0);
    m_backend->inject(hex("F0 44 11 01 F7"));
    flush();
    m_backend->inject({});
    flush();
    EXPECT_EQ(m_order.size(), 1u);
    EXPECT_EQ(toHex(messageOf(in)), "F0 44 11 01 F7");
}

TEST_F(PortTest, sentMessageIsTheLastMessageWhenObserversAreTold) {
    ZxMidiOut out;
    observer(out, 1);
    observer(out, 2);
    out.open(0);
    out.loadMessage(kTypeRequest);
    out.sendMessage();
    // Told from the event loop, never inside sendMessage.
    EXPECT_TRUE(m_order.empty());
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_order.size() == 2; }));
    EXPECT_EQ(m_order, (std::vector<int>{1, 2}));
    EXPECT_EQ(toHex(m_seen.at(0)), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");
    EXPECT_EQ(toHex(m_seen.at(1)), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");
    ASSERT_EQ(m_backend->sentMessages().size(), 1u);
    EXPECT_EQ(toHex(m_backend->sentMessages()[0]), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");
}

TEST_F(PortTest, eachOutputDoneCarriesTheMessageItReports) {
    ZxMidiOut out;
    observer(out, 1);
    out.open(0);
    out.loadMessage(hex("F0 44 01 F7"));
    out.sendMessage();
    out.loadMessage(hex("F0 44 02 F7"));
    out.sendMessage();
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_seen.size() == 2; }));
    EXPECT_EQ(toHex(m_seen[0]), "F0 44 01 F7");
    EXPECT_EQ(toHex(m_seen[1]), "F0 44 02 F7");
}

TEST_F(PortTest, inputQueuedBeforeCloseNeverReachesObserversAlsoAfterReopening) {
    ZxMidiIn in;
    observer(in, 1);
    in.open(0);
    m_backend->inject(hex("F0 44 00 01 F7"));
    in.close();
    m_backend->inject(hex("F0 44 00 02 F7")); // closed: no connection to reach
    in.open(0);
    flush();
    EXPECT_TRUE(m_order.empty());
    EXPECT_TRUE(messageOf(in).empty());

    m_backend->inject(hex("F0 44 00 03 F7"));
    flush();
    ASSERT_EQ(m_seen.size(), 1u);
    EXPECT_EQ(toHex(m_seen[0]), "F0 44 00 03 F7");
}

TEST_F(PortTest, outputDoneQueuedBeforeCloseNeverReachesObserversAlsoAfterReopening) {
    ZxMidiOut out;
    observer(out, 1);
    out.open(0);
    out.loadMessage(kTypeRequest);
    out.sendMessage();
    out.close();
    out.open(0);
    flush();
    EXPECT_TRUE(m_order.empty());
    EXPECT_TRUE(messageOf(out).empty());
}

TEST_F(PortTest, portsOpenAndCloseAnyNumberOfTimes) {
    ZxMidiOut out;
    ZxMidiIn in;
    observer(out, 1);
    observer(in, 2);
    m_backend->setEcho(true); // a cable from the output back to the input
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        m_order.clear();
        in.open(0);
        out.open(0);
        EXPECT_TRUE(in.isOpen());
        EXPECT_TRUE(out.isOpen());
        EXPECT_EQ(m_backend->openInputCount(), 1);
        EXPECT_EQ(m_backend->openOutputCount(), 1);
        out.loadMessage({0xF0, 0x44, static_cast<std::uint8_t>(round), 0xF7});
        out.sendMessage();
        ASSERT_TRUE(kbxtest::waitFor([&] { return m_order.size() == 2; }));
        EXPECT_EQ(m_order, (std::vector<int>{1, 2}));
        EXPECT_EQ(messageOf(in).at(2), round);
        out.close();
        in.close();
        EXPECT_FALSE(in.isOpen());
        EXPECT_FALSE(out.isOpen());
        EXPECT_EQ(m_backend->openInputCount(), 0);
        EXPECT_EQ(m_backend->openOutputCount(), 0);
    }
}

TEST_F(PortTest, closingAClosedPortDoesNothing) {
    ZxMidiOut out;
    ZxMidiIn in;
    EXPECT_NO_THROW(out.close());
    EXPECT_NO_THROW(in.close());
    in.open(0);
    out.open(0);
    out.close();
    in.close();
    EXPECT_NO_THROW(out.close());
    EXPECT_NO_THROW(in.close());
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);
}

TEST_F(PortTest, openingAnOpenPortAgainHoldsOneDevice) {
    ZxMidiIn in;
    in.open(0);
    in.open(0);
    EXPECT_EQ(m_backend->openInputCount(), 1);
}

TEST_F(PortTest, loadMessageRefusesMoreThanTheBufferAndCopiesNothing) {
    ZxMidiOut out;
    out.open(0);
    out.loadMessage(kTypeRequest);
    Bytes tooLong(257, 0x00);
    tooLong.front() = 0xF0;
    tooLong.back() = 0xF7;
    const std::string error = errorOf([&] { out.loadMessage(tooLong); });
    EXPECT_EQ(error.rfind("MIDI SYSTEM ERROR: ", 0), 0u) << error;
    out.sendMessage();
    ASSERT_EQ(m_backend->sentMessages().size(), 1u);
    EXPECT_EQ(toHex(m_backend->sentMessages()[0]), "F0 44 11 01 7F 10 00 0D 00 00 00 F7");

    Bytes full(256, 0x00);
    full.front() = 0xF0;
    full.back() = 0xF7;
    EXPECT_NO_THROW(out.loadMessage(full));
    out.sendMessage();
    EXPECT_EQ(m_backend->sentMessages().at(1), full);
}

TEST_F(PortTest, openErrorsCarryTheDriverText) {
    ZxMidiOut out;
    ZxMidiIn in;
    m_backend->setOpenInputError("device busy");
    m_backend->setOpenOutputError("no such device");
    EXPECT_EQ(errorOf([&] { in.open(0); }), "MIDI SYSTEM ERROR: device busy");
    EXPECT_EQ(errorOf([&] { out.open(0); }), "MIDI SYSTEM ERROR: no such device");
    EXPECT_FALSE(in.isOpen());
    EXPECT_FALSE(out.isOpen());

    m_backend->setOpenInputError(std::nullopt);
    m_backend->setOpenOutputError(std::nullopt);
    const std::string pastTheEnd = errorOf([&] { in.open(99); });
    EXPECT_EQ(pastTheEnd.rfind("MIDI SYSTEM ERROR: ", 0), 0u) << pastTheEnd;
    EXPECT_EQ(errorOf([&] { out.open(-1); }).rfind("MIDI SYSTEM ERROR: ", 0), 0u);
    EXPECT_NO_THROW(in.open(0));
}

TEST_F(PortTest, sendErrorCarriesTheDriverTextAndTellsNobody) {
    ZxMidiOut out;
    observer(out, 1);
    out.open(0);
    out.loadMessage(kTypeRequest);
    m_backend->setSendError("buffer full");
    EXPECT_EQ(errorOf([&] { out.sendMessage(); }), "MIDI SYSTEM ERROR: buffer full");
    flush();
    EXPECT_TRUE(m_order.empty());
}

TEST_F(PortTest, closedPortsSendNothingAndHearNothing) {
    ZxMidiOut out;
    ZxMidiIn in;
    observer(in, 1);
    out.loadMessage(kTypeRequest);
    out.sendMessage();
    m_backend->inject(kTypeRequest);
    flush();
    EXPECT_TRUE(m_backend->sentMessages().empty());
    EXPECT_TRUE(m_order.empty());
}

TEST_F(PortTest, aPortDestroyedWithNotificationsQueuedIsNotCalled) {
    auto in = std::make_unique<ZxMidiIn>();
    auto out = std::make_unique<ZxMidiOut>();
    observer(*in, 1);
    observer(*out, 2);
    in->open(0);
    out->open(0);
    m_backend->inject(kTypeRequest);
    out->loadMessage(kTypeRequest);
    out->sendMessage();
    in.reset();
    out.reset();
    flush();
    EXPECT_TRUE(m_order.empty());
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);
}

TEST_F(PortTest, observerWithoutHandlerDoesNothing) {
    ZxMidiIn in;
    ZxMidiObserver silent;
    in.attach(&silent);
    observer(in, 1);
    in.open(0);
    m_backend->inject(kTypeRequest);
    flush();
    EXPECT_EQ(m_order, (std::vector<int>{1}));
}

} // namespace

// The keyboard link against the virtual ZR-7316, through the real ports and the Qt event loop.
#include "devicewatch.h"
#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbd.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An item of `size` bytes, every byte 0x11, with an 8-character name field at `offset`.
Bytes namedItem(std::size_t size, std::size_t offset, const std::string& name) {
    Bytes bytes(size, 0x11);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

std::string hexList(const std::vector<Bytes>& messages) {
    std::string s;
    for (const auto& m : messages)
        s += toHex(m) + "\n";
    return s;
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->setStrict(true);
        m_keyboard->clearLog();
        m_in = registry.virtualInputNumber();
        m_out = registry.virtualOutputNumber();
    }

    void TearDown() override {
        m_link.close();
        // Nothing the link sent surprised the keyboard (malformed, unknown parameter, ...).
        for (const auto& why : m_keyboard->unexpected())
            ADD_FAILURE() << why;
    }

    void setFaults(const std::function<void(VirtualZr7316::Faults&)>& change) {
        VirtualZr7316::Faults faults;
        change(faults);
        m_keyboard->setFaults(faults);
    }

    const std::vector<Bytes>& received() const { return m_keyboard->received(); }

    template <class F>
    int sysExCode(F&& f) {
        try {
            f();
        } catch (const ZxSysExException& e) {
            return e.code();
        }
        return -1;
    }

    VirtualZr7316* m_keyboard = nullptr;
    int m_in = 0;
    int m_out = 0;
    ZxKbd m_link;
};

} // namespace

TEST_F(LinkTest, keyboardTypeRequestIsSentAsTheTableSays) {
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readKeyboardType(), 0u);
    EXPECT_EQ(m_link.keyboardType(), 0);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7"));
}

TEST_F(LinkTest, freeMemoryRequestReturnsTheKeyboardsReport) {
    m_keyboard->setItemBytes(10, 0, 0, Bytes(1000, 0x22));
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readFreeMemory(), m_keyboard->freeMemory());
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));
}

TEST_F(LinkTest, sizeRequestsCarryTheNumberInTheIndexByte) {
    m_keyboard->setItemBytes(10, 1, 0, namedItem(300, 4, "SONG"));
    m_keyboard->setItemBytes(11, 2, 0, namedItem(124, 2, "RHY"));
    m_keyboard->setItemBytes(11, 3, 0, {});
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readSongSize(1), 300u);
    EXPECT_EQ(m_link.readRhythmSize(2), 124u);
    EXPECT_EQ(m_link.readRhythmSize(3), 0u);
    ASSERT_EQ(received().size(), 3u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 26 1F 00 00 01 F7"));
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 10 23 1F 00 00 02 F7"));
    EXPECT_EQ(received()[2], hex("F0 44 11 01 7F 10 23 1F 00 00 03 F7"));
}

TEST_F(LinkTest, toneNameOfSlotThreeAsksDataNumber387ForParameters96Then97) {
    m_keyboard->setItemBytes(2, 3, 0, namedItem(60, 36, "Brass 3"));
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readToneName(3), "Brass 3 ");
    ASSERT_EQ(received().size(), 2u) << hexList(received());
    // kind 2, data number 387 = 3 x 128 + 3, parameter 0x60 then 0x61, width 32, index 0
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 12 60 1F 03 03 00 F7"));
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 12 61 1F 03 03 00 F7"));
}

TEST_F(LinkTest, dspSongAndRhythmNamesUseTheirParameterPairs) {
    m_keyboard->setItemBytes(9, 2, 0, namedItem(36, 0, "HALL"));
    m_keyboard->setItemBytes(10, 1, 0, namedItem(200, 4, "My Song"));
    m_keyboard->setItemBytes(11, 3, 0, namedItem(64, 2, "Samba 2"));
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readDspName(2), "HALL    ");
    EXPECT_EQ(m_link.readSongName(1), "My Song ");
    EXPECT_EQ(m_link.readRhythmName(3), "Samba 2 ");
    ASSERT_EQ(received().size(), 6u) << hexList(received());
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 19 30 1F 66 00 00 F7")); // data number 102
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 19 31 1F 66 00 00 F7"));
    EXPECT_EQ(received()[2], hex("F0 44 11 01 7F 10 27 1F 00 00 01 F7"));
    EXPECT_EQ(received()[3], hex("F0 44 11 01 7F 10 28 1F 00 00 01 F7"));
    EXPECT_EQ(received()[4], hex("F0 44 11 01 7F 10 24 1F 00 00 03 F7"));
    EXPECT_EQ(received()[5], hex("F0 44 11 01 7F 10 25 1F 00 00 03 F7"));
}

TEST_F(LinkTest, nameWithZeroBytesEndsEachChunkAtTheFirstZero) {
    // The first chunk, 00 00 41 42, holds A and B in its low bytes; the second, 58 59 5A 00, has a
    // zero least significant byte and contributes nothing.
    Bytes song = namedItem(100, 4, "");
    const Bytes name = {0, 0, 'A', 'B', 'X', 'Y', 'Z', 0};
    std::copy(name.begin(), name.end(), song.begin() + 4);
    m_keyboard->setItemBytes(10, 0, 0, song);
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readSongName(0), "AB");
}

TEST_F(LinkTest, nameAssemblyTakesTheMostSignificantByteFirst) {
    EXPECT_EQ(ZxKbd::assembleName(0x53544152, 0x20202020), "STAR    ");
    // A zero least significant byte ends the chunk before any character.
    EXPECT_EQ(ZxKbd::assembleName(0x41424300, 0x44454647), "DEFG");
    // Two zero high bytes: the two low bytes give A (bits 8-15) then B (bits 0-7).
    EXPECT_EQ(ZxKbd::assembleName(0x00004142, 0x00000000), "AB");
    EXPECT_EQ(ZxKbd::assembleName(0, 0), "");
}

TEST_F(LinkTest, deletesAreParameterValuesThatReturnOnceSent) {
    m_keyboard->setItemBytes(10, 1, 0, namedItem(300, 4, "SONG"));
    m_keyboard->setItemBytes(11, 3, 0, namedItem(64, 2, "RHY"));
    m_link.open(m_in, m_out);
    m_link.deleteSong(1);
    m_link.deleteRhythm(3);
    ASSERT_TRUE(kbxtest::waitFor([&] { return received().size() == 2; }));
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"));
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 00 21 07 00 00 00 03 00 F7"));
    EXPECT_TRUE(m_keyboard->itemBytes(10, 1).empty());
    EXPECT_TRUE(m_keyboard->itemBytes(11, 3).empty());
    EXPECT_TRUE(m_link.isOpen());
}

TEST_F(LinkTest, deleteReturnsEvenWhenTheKeyboardIsSilent) {
    setFaults([](auto& f) { f.silentFrom = 0; });
    m_link.open(m_in, m_out);
    m_link.deleteSong(0);
    EXPECT_TRUE(m_link.isOpen());
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(LinkTest, unansweredReadTimesOutWithCode6AndClosesThePorts) {
    setFaults([](auto& f) { f.noReplyTo = 0; });
    m_link.open(m_in, m_out);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(sysExCode([&] { m_link.readFreeMemory(); }), 6);
    EXPECT_GE(clock.elapsed(), ZxKbd::kTimeoutMs);
    // Ended by the time-out; a loaded machine (Wine on two cores) makes it seconds late.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(LinkTest, lateReplyCountsAsTimeOutAndTheLinkOpensAgainAfterwards) {
    setFaults([](auto& f) { f.replyDelayMs = 400; });
    m_link.open(m_in, m_out);
    EXPECT_EQ(sysExCode([&] { m_link.readKeyboardType(); }), 6);
    EXPECT_FALSE(m_link.isOpen());
    // Let the late reply go out while nothing listens, then talk again.
    ASSERT_TRUE(kbxtest::waitFor([&] { return m_keyboard->sent().size() == 1; }));
    m_keyboard->setFaults({});
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readFreeMemory(), m_keyboard->freeMemory());
}

TEST_F(LinkTest, refusedReplyClosesThePortsAndTheNextOpenWorks) {
    setFaults([](auto& f) { f.unexpectedAt = 0; });
    m_link.open(m_in, m_out);
    EXPECT_EQ(sysExCode([&] { m_link.readKeyboardType(); }), 4);
    EXPECT_FALSE(m_link.isOpen());
    m_keyboard->setFaults({});
    m_link.open(m_in, m_out);
    EXPECT_EQ(m_link.readKeyboardType(), 0u);
}

TEST_F(LinkTest, requestOnAClosedLinkFailsWithoutWaiting) {
    EXPECT_THROW(m_link.readFreeMemory(), std::runtime_error);
    EXPECT_TRUE(received().empty());
}

TEST_F(LinkTest, inputThatCannotBeOpenedLeavesTheOutputUnopened) {
    EXPECT_THROW(m_link.open(m_in + 50, m_out), std::runtime_error);
    EXPECT_FALSE(m_link.isOpen());
    m_link.open(m_in, m_out);
    EXPECT_TRUE(m_link.isOpen());
}

TEST_F(LinkTest, fixedAnswersFollowTheReportedKeyboardType) {
    m_link.open(m_in, m_out);
    m_link.readKeyboardType();
    EXPECT_EQ(m_link.toneSize(), 60);
    EXPECT_EQ(m_link.dspSize(), 36);
    EXPECT_EQ(m_link.registrationSize(), 176);
    EXPECT_EQ(m_link.presetName(3, 3), "Preset34");
    EXPECT_EQ(m_link.presetName(0, 0), "Preset01");

    setFaults([](auto& f) { f.keyboardType = 1; });
    EXPECT_EQ(m_link.readKeyboardType(), 1u);
    EXPECT_EQ(m_link.toneSize(), 0);
    EXPECT_EQ(m_link.dspSize(), 0);
    EXPECT_EQ(m_link.registrationSize(), 0);
    EXPECT_EQ(m_link.presetName(3, 3), "");
}

// ---- a scripted device: replies and driver failures the keyboard itself cannot produce ---------

namespace {

class ScriptedLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_backend = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(m_backend);
    }
    void TearDown() override {
        m_link.close();
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
    }

    std::shared_ptr<kbxmidi::LoopbackBackend> m_backend;
    ZxKbd m_link;
};

} // namespace

TEST_F(ScriptedLinkTest, replyThatOvertakesTheSentReportEndsTheRead) {
    m_link.open(0, 0);
    // Queued before the request leaves, so it arrives before the port reports the request sent.
    m_backend->inject(hex("F0 44 11 01 7F 00 22 1F 00 00 00 45 46 04 00 00 F7"));
    EXPECT_EQ(m_link.readFreeMemory(), 0x12345u);
    // The late report of that request does not disturb the exchanges that follow.
    m_backend->inject(hex("F0 44 11 01 7F 00 00 0D 00 00 00 01 00 F7"));
    EXPECT_EQ(m_link.readKeyboardType(), 1u);
    m_link.deleteSong(1);
    ASSERT_EQ(m_backend->sentMessages().size(), 3u);
    EXPECT_EQ(m_backend->sentMessages()[2], hex("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"));
    EXPECT_TRUE(m_link.isOpen());
}

TEST_F(ScriptedLinkTest, handshakeInPlaceOfAValueReturnsTheLastValueDecoded) {
    m_link.open(0, 0);
    m_backend->inject(hex("F0 44 11 01 7F 00 22 1F 00 00 00 10 00 00 00 00 F7"));
    EXPECT_EQ(m_link.readFreeMemory(), 16u);
    m_backend->inject(hex("F0 44 11 01 7F 70 00 00 00 00 01 F7"));
    EXPECT_EQ(m_link.readFreeMemory(), 16u);
}

TEST_F(ScriptedLinkTest, messageOfAnotherMakerIsNoReply) {
    m_link.open(0, 0);
    m_backend->inject(hex("F0 43 11 01 7F 00 22 1F 00 00 00 10 00 00 00 00 F7"));
    try {
        m_link.readFreeMemory();
        FAIL() << "no time-out";
    } catch (const ZxSysExException& e) {
        EXPECT_EQ(e.code(), 6);
    }
    EXPECT_FALSE(m_link.isOpen());
}

TEST_F(ScriptedLinkTest, driverFailureWhileSendingClosesThePorts) {
    m_link.open(0, 0);
    m_backend->setSendError("device gone");
    try {
        m_link.readKeyboardType();
        FAIL() << "no failure";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "MIDI SYSTEM ERROR: device gone");
    }
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);

    // A write fails the same way, and the ports open again afterwards.
    m_link.open(0, 0);
    EXPECT_THROW(m_link.deleteRhythm(0), std::runtime_error);
    EXPECT_FALSE(m_link.isOpen());
    m_backend->setSendError(std::nullopt);
    m_link.open(0, 0);
    m_link.deleteRhythm(0);
    EXPECT_EQ(m_backend->sentMessages().size(), 1u);
}

TEST_F(ScriptedLinkTest, outputThatCannotBeOpenedLeavesTheInputOpenForTheCallerToClose) {
    m_backend->setOpenOutputError("busy");
    EXPECT_THROW(m_link.open(0, 0), std::runtime_error);
    EXPECT_EQ(m_backend->openInputCount(), 1);
    m_link.close();
    EXPECT_EQ(m_backend->openInputCount(), 0);
}

TEST_F(ScriptedLinkTest, deviceReportedGoneEndsTheWaitWithItsName) {
    m_link.open(0, 0);
    // Reported while the request waits for its reply; no time-out has passed, so the failure
    // must be the loss itself.
    QTimer::singleShot(0, [] {
        kbxmidi::DeviceWatch::instance().reportRemoved({"Something else", "Loopback Out"});
    });
    try {
        m_link.readKeyboardType();
        FAIL() << "no failure";
    } catch (const kbxmidi::DeviceLost& e) {
        EXPECT_EQ(e.deviceName(), "Loopback Out");
    } catch (const ZxSysExException& e) {
        FAIL() << "ended by ZxSysExException " << e.code() << ", not by the loss";
    }
    EXPECT_FALSE(m_link.isOpen());
    EXPECT_EQ(m_backend->openInputCount(), 0);
    EXPECT_EQ(m_backend->openOutputCount(), 0);

    // The next opening starts afresh.
    m_link.open(0, 0);
    m_backend->inject(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
    EXPECT_EQ(m_link.readKeyboardType(), 0u);
}

TEST_F(ScriptedLinkTest, otherDevicesGoingDoNotDisturbAnExchange) {
    m_link.open(0, 0);
    QTimer::singleShot(0, [this] {
        kbxmidi::DeviceWatch::instance().reportRemoved({"Loopback", "Loopback In 2"});
        m_backend->inject(hex("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"));
    });
    EXPECT_EQ(m_link.readKeyboardType(), 0u);
    EXPECT_TRUE(m_link.isOpen());
    // A loss reported while no exchange waits ends the next one at once.
    kbxmidi::DeviceWatch::instance().reportRemoved({"Loopback In"});
    EXPECT_THROW(m_link.readFreeMemory(), kbxmidi::DeviceLost);
    EXPECT_FALSE(m_link.isOpen());
}

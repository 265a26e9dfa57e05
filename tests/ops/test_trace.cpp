// The trace of the MIDI monitor and kbxtool --trace against the virtual keyboard, through the real
// ports and the event loop: every message of an action, time-outs and failures as lines of their
// own, the clock of nested actions, and the files the monitor saves.

#include "ops/keyboard.h"
#include "ops/slotref.h"
#include "ops/trace.h"

#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxexception.h"
#include "zxexchange.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kbxops;
using kbxtest::hex;

namespace {

struct Lines : TraceListener {
    std::vector<TraceLine> lines;
    void traced(const TraceLine& line) override { lines.push_back(line); }
    // The texts without their milliseconds.
    std::vector<std::string> texts() const {
        std::vector<std::string> all;
        for (const TraceLine& line : lines)
            all.push_back(line.text().section(u' ', 1).toStdString());
        return all;
    }
};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        m_devices = {registry.virtualInputNumber(), registry.virtualOutputNumber()};
        Trace::instance().setListener(&m_lines);
    }
    void TearDown() override { Trace::instance().setListener(nullptr); }

    Keyboard keyboard() { return Keyboard(*m_drive, m_devices); }
    ZxData& slot(const QString& text) {
        const std::vector<SlotEntry> entries = slotsOf(m_drive->root());
        return *findSlot(entries, text)->node;
    }

    Lines m_lines;
    VirtualZr7316* m_keyboard = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    Devices m_devices;
};

} // namespace

TEST_F(TraceTest, aListIsTracedMessageByMessageWithItsWords) {
    keyboard().list();
    const std::vector<std::string> texts = m_lines.texts();
    ASSERT_EQ(texts.size(), 108u); // 54 requests, 54 replies
    EXPECT_EQ(texts[0], "> F0 44 11 01 7F 10 00 0D 00 00 00 F7  keyboard-type request");
    EXPECT_EQ(texts[1], "< F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7  parameter value: 0 "
                        "(keyboard type)");
    double last = 0;
    for (std::size_t i = 0; i < m_lines.lines.size(); ++i) {
        const TraceLine& line = m_lines.lines[i];
        EXPECT_EQ(line.kind, i % 2 ? TraceLine::Received : TraceLine::Sent) << i;
        EXPECT_GE(line.ms, last) << i;
        last = line.ms;
    }
    // The whole line: milliseconds with one decimal, the direction, the bytes, the words.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+\\.\\d > F0 44 [0-9A-F ]+ F7  \\S"))
                    .match(m_lines.lines[2].text())
                    .hasMatch())
        << m_lines.lines[2].text().toStdString();
}

TEST_F(TraceTest, aTimeOutAndTheFailureAreLinesOfTheirOwn) {
    VirtualZr7316::Faults faults;
    faults.silentFrom = 0;
    m_keyboard->setFaults(faults);
    EXPECT_THROW(keyboard().list(), ZxSysExException);
    EXPECT_EQ(m_lines.texts(), (std::vector<std::string>{
                                   "> F0 44 11 01 7F 10 00 0D 00 00 00 F7  keyboard-type request",
                                   "! time-out: no reply within 200 ms",
                                   "! error: MIDI Timeout",
                               }));
    EXPECT_EQ(m_lines.lines[1].kind, TraceLine::TimedOut);
    EXPECT_EQ(m_lines.lines[2].kind, TraceLine::Failed);
    EXPECT_TRUE(m_lines.lines[2].bytes.empty());
}

TEST_F(TraceTest, aFailureLeavingNestedActionsIsTracedOnce) {
    keyboard().list();
    QTemporaryDir dir;
    keyboard().importSlot(slot(QStringLiteral("tone:1")), dir.path());
    const QString imported = QDir(dir.path()).entryList({QStringLiteral("*.kbx")}).value(0);
    ASSERT_FALSE(imported.isEmpty());
    m_lines.lines.clear();

    VirtualZr7316::Faults faults;
    faults.handshakeAtBlock = 0; // the keyboard refuses the first block
    faults.handshakeStatus = 2;
    m_keyboard->setFaults(faults);
    {
        // kbxtool runs a whole command as one action around the keyboard's own.
        Trace::Action command;
        EXPECT_THROW(keyboard().sendFile(dir.filePath(imported), slot(QStringLiteral("tone:0"))),
                     ZxSysExException);
    }
    const std::vector<std::string> texts = m_lines.texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_TRUE(QString::fromStdString(texts[0]).endsWith(u"  data block 0, 60 bytes, tone 0"))
        << texts[0];
    EXPECT_EQ(texts[1], "< F0 44 11 01 7F 72 00 00 00 03 02 F7  handshake 2 (rejected)");
    EXPECT_EQ(texts[2], "! error: rejected by keyboard");
}

TEST_F(TraceTest, theClockRunsFromTheOutermostAction) {
    {
        Trace::Action command;
        keyboard().list();
        keyboard().list();
    }
    ASSERT_EQ(m_lines.lines.size(), 216u);
    // The second list goes on counting from the first.
    EXPECT_GE(m_lines.lines[108].ms, m_lines.lines[107].ms);
    const double lastOfCommand = m_lines.lines.back().ms;
    keyboard().list(); // an action of its own: from 0 again
    EXPECT_LT(m_lines.lines[216].ms, lastOfCommand);
}

TEST_F(TraceTest, theClockStartsWithTheActionEvenBeforeTheListenerIsSet) {
    Trace::instance().setListener(nullptr);
    Trace::Action command;
    kbxtest::spin(30); // the command's work before its first message
    Trace::instance().setListener(&m_lines);
    keyboard().list();
    ASSERT_FALSE(m_lines.lines.empty());
    EXPECT_GE(m_lines.lines.front().ms, 30.0);
}

TEST_F(TraceTest, withoutAListenerTheExchangesAreNotAsked) {
    EXPECT_NE(ZxExchange::trace(), nullptr);
    Trace::instance().setListener(nullptr);
    EXPECT_EQ(ZxExchange::trace(), nullptr);
    keyboard().list();
    EXPECT_TRUE(m_lines.lines.empty());
}

TEST(TraceFiles, savesTheLinesAsTextAndTheMessagesAsSysEx) {
    QTemporaryDir dir;
    const QString syx = dir.filePath(QStringLiteral("trace.syx"));
    saveTraceSysEx(syx, {hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"), hex("F0 44 F7")});
    QFile file(syx);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray::fromHex("F044 1101 7F10 221F 0000 00F7 F044 F7"));

    const QString text = dir.filePath(QStringLiteral("trace.txt"));
    saveTraceText(text, {QStringLiteral("0.1 > F0 F7  a"), QStringLiteral("0.2 ! b")});
    QFile lines(text);
    ASSERT_TRUE(lines.open(QIODevice::ReadOnly));
    EXPECT_EQ(lines.readAll(), QByteArray("0.1 > F0 F7  a\n0.2 ! b\n"));

    const QString nowhere = dir.filePath(QStringLiteral("no such folder/trace.txt"));
    try {
        saveTraceText(nowhere, {QStringLiteral("x")});
        ADD_FAILURE() << "an unwritable file was reported written";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains(QDir::toNativeSeparators(nowhere)))
            << error.what();
    }
}

// The safety net against the virtual keyboard through the real ports and event loop: what a
// change keeps before it runs, the song put back when a send fails after the old song was
// deleted, every fault of the keyboard during the snapshot, the send and the put-back, verified
// sends, undo, and the history's own commands.
//
// The guarantee each case checks: afterwards the keyboard holds every item it held before, or
// the history holds it and the error says so; no local file changes.
#include "faultkit.h"
#include "ops/backup.h"
#include "ops/cancel.h"
#include "ops/datafile.h"
#include "ops/history.h"
#include "ops/keyboard.h"
#include "ops/manifest.h"
#include "ops/slotref.h"
#include "ops/undo.h"

#include "kbxmidistream.h"
#include "mididevices.h"
#include "msgstr.h"
#include "settings.h"
#include "tapbackend.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace kbxops;
using namespace faultkit;
using kbxtest::hex;
using kbxtest::toHex;

namespace {

constexpr std::uint32_t kOldSong1 = 150; // song:1 before: two blocks
constexpr std::uint32_t kNewSong = 300;  // the song sent into it: three blocks

const Bytes& oldSong1() {
    static const Bytes bytes = namedItem(kOldSong1, ZxKind::Song, "oSecond", 3);
    return bytes;
}
const Bytes& newSong() {
    static const Bytes bytes = namedItem(kNewSong, ZxKind::Song, "SENTSONG", 7);
    return bytes;
}

// Installs fault switches as the operation begins its steps: the snapshot's read is step 0 of a
// send, the send itself step 1, a put-back step 2. Each setFaults starts the keyboard's message
// count afresh, so a fault names a message of that step.
class FaultPlan : public Progress {
public:
    explicit FaultPlan(VirtualZr7316& keyboard)
        : m_keyboard(keyboard) {}
    void at(int step, const VirtualZr7316::Faults& faults) { m_plan[step] = faults; }
    void begin(const Step& step) override {
        const int n = static_cast<int>(kinds.size());
        kinds.push_back(step.kind);
        if (const auto it = m_plan.find(n); it != m_plan.end())
            m_keyboard.setFaults(it->second);
    }
    void advanceTo(std::uint32_t) override {}
    void end() override {}
    std::vector<Step::Kind> kinds;

private:
    VirtualZr7316& m_keyboard;
    std::map<int, VirtualZr7316::Faults> m_plan;
};

class SafetyNet : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_kb->factoryReset();
        m_kb->setFaults({});
        m_kb->setStrict(false);
        m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(300, ZxKind::Song, "oFirst", 1));
        m_kb->setItemBytes(ZxKind::Song, 1, 0, oldSong1());
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        m_devices = {registry.virtualInputNumber(), registry.virtualOutputNumber()};
        ASSERT_TRUE(m_dir.isValid());
        m_local = m_dir.filePath(QStringLiteral("local"));
        QDir().mkpath(m_local);
        auto song = makeItem(ZxKind::Song, newSong());
        writeFile(local(QStringLiteral("new song.kbx")), *song);
        auto tone = makeItem(ZxKind::Tone, namedItem(60, ZxKind::Tone, "NewTone", 5));
        writeFile(local(QStringLiteral("new tone.kbx")), *tone);
        m_history = std::make_unique<History>(m_dir.filePath(QStringLiteral("history")));
        Keyboard(*m_drive, m_devices).list();
        m_kb->clearLog();
        m_localBefore = snapshotFolder(m_local);
        m_memoryBefore = snapshotMemory(*m_kb);
    }

    void TearDown() override {
        m_kb->setFaults({});
        EXPECT_EQ(describeDifference(m_localBefore, snapshotFolder(m_local)), "")
            << "a local file changed";
        checkKeptFiles();
        ZxKbdDrv::destroyInstance();
    }

    QString local(const QString& name) const { return QDir(m_local).filePath(name); }

    Keyboard keyboard(Progress* progress = nullptr, bool verifySend = false) {
        return Keyboard(*m_drive, m_devices, progress, Safety{m_history.get(), verifySend, true});
    }
    ZxData& slot(const QString& shortText) {
        const std::vector<SlotEntry> list = slotsOf(m_drive->root());
        const SlotEntry* entry = findSlot(list, shortText);
        if (!entry)
            throw std::logic_error("no slot " + shortText.toStdString());
        return *entry->node;
    }
    std::unique_ptr<ZxDataFile> fileItem(const QString& name) { return readDataFile(local(name)); }

    // The keyboard as it is now, backed up into a folder of its own.
    QString backUp() {
        const QString dir = m_dir.filePath(QStringLiteral("backup"));
        Keyboard kbd = keyboard();
        backupKeyboard(kbd, dir);
        return dir;
    }

    // The failure as the window and kbxtool would describe it.
    template <class Action>
    ErrorReport failureOf(Action&& action) {
        try {
            action();
        } catch (...) {
            return describeException(MsgStr(1033), std::current_exception());
        }
        ADD_FAILURE() << "no failure";
        return {};
    }

    // Every file a row names is there and holds what its name says.
    void checkKeptFiles() {
        for (const HistoryEntry& e : m_history->entries()) {
            if (e.before && !e.uncopied) {
                EXPECT_NO_THROW(m_history->load(*e.before)) << "entry " << e.id;
            }
        }
    }

    // The memory as it was, but for the slots named.
    void expectMemory(const std::map<std::string, Bytes>& changed = {}) {
        MemorySnapshot expected = m_memoryBefore;
        for (const auto& [key, bytes] : changed)
            expected[key] = bytes;
        const MemorySnapshot actual = snapshotMemory(*m_kb);
        for (const auto& [key, bytes] : expected)
            EXPECT_EQ(toHex(actual.at(key)), toHex(bytes)) << key;
    }

    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    Devices m_devices;
    QTemporaryDir m_dir;
    QString m_local;
    std::unique_ptr<History> m_history;
    FolderSnapshot m_localBefore;
    MemorySnapshot m_memoryBefore;
};

} // namespace

// ---- what a change keeps, and in which order it asks ----------------------------------------

TEST_F(SafetyNet, aSongReplacementReadsTheOldSongFirstThenSendsInTheDescribedOrder) {
    Keyboard kbd = keyboard();
    const qint64 id = kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1"),
                               Change{Operation::Send});
    const auto& received = m_kb->received();
    ASSERT_EQ(received.size(), 11u);
    EXPECT_EQ(toHex(received[0]), "F0 44 11 01 7F 5A 00 00 01 00 00 F7"); // data request song 1
    EXPECT_EQ(toHex(received[1]), "F0 44 11 01 7F 7A 00 00 01 00 01 F7"); // block 0 taken
    EXPECT_EQ(toHex(received[2]), "F0 44 11 01 7F 7A 00 00 01 00 01 F7"); // block 1 taken
    EXPECT_EQ(toHex(received[3]), "F0 44 11 01 7F 10 22 1F 00 00 00 F7"); // free memory
    EXPECT_EQ(toHex(received[4]), "F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"); // delete song 1
    EXPECT_EQ(toHex(received[5]), "F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    for (int b = 0; b < 3; ++b)
        EXPECT_EQ(toHex(Bytes(received[6 + b].begin(), received[6 + b].begin() + 13)),
                  "F0 44 11 01 7F 4A 00 4F 01 00 0" + std::to_string(b) + " 00 " +
                      (b < 2 ? "40" : "16"));
    EXPECT_EQ(toHex(received[9]), "F0 44 11 01 7F 7A 00 00 01 00 00 F7"); // end
    EXPECT_EQ(toHex(received[10]), "F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    expectMemory({{slotKey(ZxKind::Song, 1), newSong()}});

    const HistoryEntry entry = *m_history->entry(id);
    EXPECT_EQ(entry.operation, Operation::Send);
    EXPECT_EQ(entry.slot, QStringLiteral("song:1"));
    EXPECT_EQ(entry.kind, ZxKind::Song);
    ASSERT_TRUE(entry.before && entry.after);
    EXPECT_EQ(entry.before->name, "oSecond ");
    EXPECT_EQ(entry.before->size, kOldSong1);
    EXPECT_EQ(entry.after->name, "SENTSONG");
    EXPECT_EQ(entry.after->size, kNewSong);
    EXPECT_EQ(entry.inputDevice, QString::fromLatin1(kbxmidi::kVirtualDeviceName));
    EXPECT_EQ(entry.outputDevice, QString::fromLatin1(kbxmidi::kVirtualDeviceName));
    EXPECT_FALSE(entry.undone);
    const auto kept = m_history->load(*entry.before);
    EXPECT_EQ(kept->payload(), makeItem(ZxKind::Song, oldSong1())->payload());
}

TEST_F(SafetyNet, withoutAHistoryNothingIsReadBeforeTheChange) {
    Keyboard kbd(*m_drive, m_devices, nullptr, Safety{nullptr, false, false});
    EXPECT_EQ(kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1"),
                       Change{Operation::Send}),
              0);
    EXPECT_EQ(toHex(m_kb->received().front()), "F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    EXPECT_TRUE(m_history->entries().empty());
}

TEST_F(SafetyNet, aToneSlotAlwaysHoldsAnItemAndTheSameContentIsKeptOnce) {
    const Bytes oldTone = m_kb->itemBytes(ZxKind::Tone, 3);
    Keyboard kbd = keyboard();
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:3")); // keeps the old tone
    EXPECT_EQ(toHex(m_kb->received()[0]), "F0 44 11 01 7F 52 00 00 03 03 00 F7");
    kbd.send(*makeItem(ZxKind::Tone, oldTone), slot("tone:3"));          // keeps the new one
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:3")); // the old one again
    const std::vector<HistoryEntry> entries = m_history->entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].before->file, entries[2].before->file);
    EXPECT_NE(entries[0].before->file, entries[1].before->file);
    EXPECT_EQ(QDir(m_history->folder()).entryList({QStringLiteral("*.kbx")}).size(), 2);
}

TEST_F(SafetyNet, aSendIntoAnEmptySongSlotKeepsNothingButIsRecorded) {
    m_kb->setItemBytes(ZxKind::Song, 1, 0, {});
    Keyboard(*m_drive, m_devices).list();
    m_kb->clearLog();
    const qint64 id = keyboard().send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1"),
                                      Change{Operation::Send});
    EXPECT_EQ(toHex(m_kb->received().front()), "F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    const HistoryEntry entry = *m_history->entry(id);
    EXPECT_FALSE(entry.before);
    ASSERT_TRUE(entry.after);
    EXPECT_EQ(entry.after->name, "SENTSONG");
}

TEST_F(SafetyNet, aKindMismatchIsRefusedBeforeTheSnapshot) {
    const ErrorReport r = failureOf(
        [&] { keyboard().send(*fileItem(QStringLiteral("new tone.kbx")), slot("song:1")); });
    EXPECT_EQ(r.className, "KbxStreamException");
    EXPECT_EQ(r.code, KbxStreamException::KindMismatch);
    EXPECT_TRUE(m_kb->received().empty());
    EXPECT_TRUE(m_history->entries().empty());
}

TEST_F(SafetyNet, aHistoryThatCannotBeWrittenStopsTheChangeBeforeAnythingChanges) {
    QFile blocker(m_dir.filePath(QStringLiteral("not a folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    History broken(m_dir.filePath(QStringLiteral("not a folder/history")));
    Keyboard kbd(*m_drive, m_devices, nullptr, Safety{&broken, false, false});
    const ErrorReport send =
        failureOf([&] { kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1")); });
    EXPECT_EQ(send.className, "general");
    EXPECT_NE(send.message.find("nothing has been changed"), std::string::npos) << send.message;
    const ErrorReport remove = failureOf([&] { kbd.remove(slot("song:0")); });
    EXPECT_NE(remove.message.find("nothing has been changed"), std::string::npos);
    // Only the snapshots' reads reached the keyboard.
    for (const Bytes& m : m_kb->received())
        EXPECT_TRUE(m[5] >> 4 == 5 || m[5] >> 4 == 7) << toHex(m);
    expectMemory();

    const ErrorReport ja = [&] {
        try {
            kbd.remove(slot("song:0"));
        } catch (...) {
            return describeException(MsgStr(1041), std::current_exception());
        }
        return ErrorReport{};
    }();
    EXPECT_NE(ja.message.find("何も変更していません"), std::string::npos) << ja.message;
}

TEST_F(SafetyNet, aDeleteKeepsTheSongAndAFailedDeleteSaysWhereItIs) {
    const qint64 id = keyboard().remove(slot("song:0"), Change{Operation::Delete});
    const HistoryEntry entry = *m_history->entry(id);
    EXPECT_EQ(entry.operation, Operation::Delete);
    EXPECT_FALSE(entry.after);
    EXPECT_EQ(m_history->load(*entry.before)->payload(),
              makeItem(ZxKind::Song, m_memoryBefore.at(slotKey(ZxKind::Song, 0)))->payload());

    // The delete request goes out, the free-memory request after it meets no reply.
    FaultPlan plan(*m_kb);
    VirtualZr7316::Faults faults;
    faults.noReplyTo = 1;
    plan.at(1, faults);
    const ErrorReport r = failureOf([&] { keyboard(&plan).remove(slot("song:1")); });
    EXPECT_EQ(r.className, "ZxSysExException");
    EXPECT_EQ(r.code, ZxSysExException::Timeout);
    const HistoryEntry failed = m_history->entries().front();
    EXPECT_NE(r.message.find("history keeps it as entry " + std::to_string(failed.id)),
              std::string::npos)
        << r.message;
    EXPECT_NE(r.message.find(failed.before->file.toStdString()), std::string::npos);
    EXPECT_EQ(m_history->load(*failed.before)->payload(),
              makeItem(ZxKind::Song, oldSong1())->payload());
}

// ---- every fault of the keyboard in each phase of a song replacement ------------------------

namespace {

enum class Phase { Snapshot, Send, PutBack };
enum class Outcome {
    Unchanged,   // the keyboard never lost the old song; nothing is recorded
    PutBack,     // the old song was deleted and is back; nothing is recorded
    Committed,   // the new song is in; the history keeps the old one
    KeptInStore, // the old song is gone from the keyboard; the history keeps it
};

struct Case {
    std::string label;
    Phase phase;
    VirtualZr7316::Faults faults;
    int code; // of the ZxSysExException the user is told about
    Outcome outcome;
    int lateMs = 0;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.label;
}

VirtualZr7316::Faults noReply(int n) {
    VirtualZr7316::Faults f;
    f.noReplyTo = n;
    return f;
}
VirtualZr7316::Faults unexpected(int n) {
    VirtualZr7316::Faults f;
    f.unexpectedAt = n;
    return f;
}
VirtualZr7316::Faults handshake(int block, std::uint8_t status, int times) {
    VirtualZr7316::Faults f;
    f.handshakeAtBlock = block;
    f.handshakeStatus = status;
    f.handshakeTimes = times;
    return f;
}
VirtualZr7316::Faults late() {
    VirtualZr7316::Faults f;
    f.replyDelayMs = 500;
    return f;
}

int codeOfStatus(std::uint8_t status) {
    return status == 2   ? ZxSysExException::Rejected
           : status == 3 ? ZxSysExException::CommunicationError
                         : ZxSysExException::UnknownStatus;
}

std::vector<Case> cases() {
    std::vector<Case> list;
    const auto add = [&list](Phase phase, const std::string& label, const VirtualZr7316::Faults& f,
                             int code, Outcome outcome) {
        const char* prefix = phase == Phase::Snapshot ? "snapshot"
                             : phase == Phase::Send   ? "send"
                                                      : "putBack";
        list.push_back(
            {std::string(prefix) + "_" + label, phase, f, code, outcome, f.replyDelayMs});
    };
    using O = Outcome;
    constexpr int kTimeout = ZxSysExException::Timeout;
    constexpr int kBadMessage = ZxSysExException::BadMessage;
    // Unknown statuses strike as often as a block is sent again before the send gives up, so
    // that the put-back's blocks of the same numbers are accepted.
    constexpr int kAllResends = KbxMidiStream::kMaxResends + 1;

    // The snapshot reads the old song (2 blocks): data request, handshake 1, handshake 1.
    for (int n = 0; n < 3; ++n) {
        add(Phase::Snapshot, "noReply" + std::to_string(n), noReply(n), kTimeout, O::Unchanged);
        add(Phase::Snapshot, "unexpected" + std::to_string(n), unexpected(n), kBadMessage,
            O::Unchanged);
    }
    add(Phase::Snapshot, "late", late(), kTimeout, O::Unchanged);
    for (int b = 0; b < 2; ++b) {
        VirtualZr7316::Faults f;
        f.badChecksumBlock = b;
        add(Phase::Snapshot, "badChecksum" + std::to_string(b), f, ZxSysExException::BadChecksum,
            O::Unchanged);
        for (std::uint8_t status : {2, 3, 5})
            add(Phase::Snapshot,
                "handshake" + std::to_string(status) + "AtBlock" + std::to_string(b),
                handshake(b, status, -1), codeOfStatus(status), O::Unchanged);
    }

    // The send: 0 free memory, 1 delete (no reply), 2 free memory, 3-5 blocks, 6 end (no
    // reply), 7 free memory.
    for (int n : {0, 2, 3, 4, 5, 7}) {
        const O outcome = n == 0 ? O::Unchanged : n == 7 ? O::Committed : O::PutBack;
        add(Phase::Send, "noReply" + std::to_string(n), noReply(n), kTimeout, outcome);
        add(Phase::Send, "unexpected" + std::to_string(n), unexpected(n), kBadMessage, outcome);
    }
    add(Phase::Send, "late", late(), kTimeout, O::Unchanged);
    for (int b = 0; b < 3; ++b)
        for (std::uint8_t status : {2, 3, 5})
            add(Phase::Send, "handshake" + std::to_string(status) + "AtBlock" + std::to_string(b),
                handshake(b, status, status == 5 ? kAllResends : 1), codeOfStatus(status),
                O::PutBack);

    // The put-back after the send's block 1 was refused: 0 free memory, 1 delete, 2 free
    // memory, 3-4 blocks, 5 end, 6 free memory. The user hears of the send's failure.
    constexpr int kRefused = ZxSysExException::Rejected;
    for (int n : {0, 2, 3, 4, 6}) {
        const O outcome = n == 6 ? O::PutBack : O::KeptInStore;
        add(Phase::PutBack, "noReply" + std::to_string(n), noReply(n), kRefused, outcome);
        add(Phase::PutBack, "unexpected" + std::to_string(n), unexpected(n), kRefused, outcome);
    }
    add(Phase::PutBack, "late", late(), kRefused, O::KeptInStore);
    for (int b = 0; b < 2; ++b)
        for (std::uint8_t status : {2, 3, 5})
            add(Phase::PutBack,
                "handshake" + std::to_string(status) + "AtBlock" + std::to_string(b),
                handshake(b, status, status == 5 ? kAllResends : 1), kRefused, O::KeptInStore);
    return list;
}

} // namespace

class SafetyNetFaults : public SafetyNet, public ::testing::WithParamInterface<Case> {};

TEST_P(SafetyNetFaults, theKeyboardKeepsTheOldSongOrTheHistoryDoesAndTheErrorSaysSo) {
    const Case& c = GetParam();
    FaultPlan plan(*m_kb);
    switch (c.phase) {
    case Phase::Snapshot:
        plan.at(0, c.faults);
        break;
    case Phase::Send:
        plan.at(1, c.faults);
        break;
    case Phase::PutBack:
        plan.at(1, handshake(1, 2, 1));
        plan.at(2, c.faults);
        break;
    }
    Keyboard kbd = keyboard(&plan);
    const ErrorReport r =
        failureOf([&] { kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1")); });
    if (c.lateMs)
        kbxtest::spin(c.lateMs + 100); // the late replies reach the closed ports and vanish
    m_kb->setFaults({});

    EXPECT_EQ(r.className, "ZxSysExException");
    EXPECT_EQ(r.code, c.code);
    const std::string original = MsgStr(1033).GetSysExMsg(c.code);
    const std::vector<HistoryEntry> entries = m_history->entries();
    switch (c.outcome) {
    case Outcome::Unchanged:
        expectMemory();
        EXPECT_TRUE(entries.empty());
        if (c.phase == Phase::Snapshot)
            EXPECT_EQ(r.message, original + ". The item in the slot could not be kept in the "
                                            "history, so nothing has been changed.");
        else
            EXPECT_EQ(r.message, original);
        break;
    case Outcome::PutBack:
        expectMemory();
        EXPECT_TRUE(entries.empty());
        EXPECT_EQ(r.message, original + ". The song that was in the slot has been put back.");
        EXPECT_EQ(plan.kinds, (std::vector<Step::Kind>{Step::Import, Step::Send, Step::Send}));
        break;
    case Outcome::Committed:
        expectMemory({{slotKey(ZxKind::Song, 1), newSong()}});
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(m_history->load(*entries[0].before)->payload(),
                  makeItem(ZxKind::Song, oldSong1())->payload());
        EXPECT_EQ(r.message, original);
        break;
    case Outcome::KeptInStore: {
        expectMemory({{slotKey(ZxKind::Song, 1), Bytes{}}});
        ASSERT_EQ(entries.size(), 1u);
        const HistoryEntry& e = entries[0];
        EXPECT_FALSE(e.after) << "the slot is empty";
        ASSERT_TRUE(e.before);
        EXPECT_EQ(m_history->load(*e.before)->payload(),
                  makeItem(ZxKind::Song, oldSong1())->payload());
        EXPECT_EQ(r.message, original +
                                 ". The song could not be put back. It is kept in the history "
                                 "(entry " +
                                 std::to_string(e.id) +
                                 "): plug the keyboard in again and choose Edit > Undo, or run "
                                 "`kbxtool undo`.");
        // And from there it comes back.
        Keyboard(*m_drive, m_devices).list();
        EXPECT_EQ(undoLast(kbd, *m_history).id, e.id);
        expectMemory();
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, SafetyNetFaults, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return info.param.label;
                         });

TEST_F(SafetyNet, aToneSendThatFailsHalfWayLeavesTheToneAndNoRow) {
    // A registration: two blocks, so the failure comes after the keyboard took one.
    FaultPlan plan(*m_kb);
    plan.at(1, noReply(1));
    auto registration = makeItem(ZxKind::Registration, namedItem(176, ZxKind::Registration, "", 9));
    const ErrorReport r = failureOf([&] { keyboard(&plan).send(*registration, slot("reg:2:1")); });
    EXPECT_EQ(r.code, ZxSysExException::Timeout);
    EXPECT_EQ(r.message, "MIDI Timeout");
    expectMemory();
    EXPECT_TRUE(m_history->entries().empty());
}

// ---- verified sends -------------------------------------------------------------------------

TEST_F(SafetyNet, aVerifiedSendReadsTheSlotBackAndAMismatchKeepsTheOldItem) {
    Keyboard kbd = keyboard(nullptr, true);
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:2"));
    // After the end of the send and the keyboard's quiet, the read back: a data request.
    const auto requests = std::count_if(m_kb->received().begin(), m_kb->received().end(),
                                        [](const Bytes& m) { return m[5] == 0x52; });
    EXPECT_EQ(requests, 2); // the snapshot and the check
    EXPECT_EQ(toHex(m_kb->received().back()), "F0 44 11 01 7F 72 00 00 02 03 01 F7");

    VirtualZr7316::Faults faults;
    faults.corruptStoredByte = 40;
    m_kb->setFaults(faults);
    const std::vector<HistoryEntry> before = m_history->entries();
    const ErrorReport r =
        failureOf([&] { kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1")); });
    EXPECT_EQ(r.className, "KbxStreamException");
    EXPECT_EQ(r.code, KbxStreamException::VerifyMismatch);
    EXPECT_EQ(r.message, "The data read back from the keyboard differs from the data sent");
    const HistoryEntry entry = m_history->entries().front();
    ASSERT_EQ(m_history->entries().size(), before.size() + 1);
    EXPECT_EQ(m_history->load(*entry.before)->payload(),
              makeItem(ZxKind::Song, oldSong1())->payload());

    // Without the check the same send passes unnoticed; with the fault gone undo brings the old
    // song back.
    m_kb->setFaults({});
    EXPECT_EQ(undoLast(kbd, *m_history).id, entry.id);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), oldSong1());
}

TEST_F(SafetyNet, restoreAndUndoAreVerifiedByDefaultAndASingleSendIsNot) {
    // The preferences' defaults; a Keyboard made without a safety net checks nothing.
    const Safety defaults = safetyFromPreferences(KbxSettings::Safety{}, m_history.get());
    EXPECT_EQ(defaults.history, m_history.get());
    EXPECT_FALSE(defaults.verifySend);
    EXPECT_TRUE(defaults.verifyRestore);
    EXPECT_FALSE(Safety{}.verifyRestore);
    // Without copies a change is still recorded, by name and size.
    const Safety noCopies =
        safetyFromPreferences(KbxSettings::Safety{false, true, false}, m_history.get());
    EXPECT_EQ(noCopies.history, m_history.get());
    EXPECT_FALSE(noCopies.keepCopies);
    Keyboard kbd = keyboard();
    EXPECT_FALSE(kbd.verifies(Operation::Send));
    EXPECT_TRUE(kbd.verifies(Operation::Restore));
    EXPECT_TRUE(kbd.verifies(Operation::Undo));
    EXPECT_FALSE(kbd.verifies(Operation::Delete));

    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:4"));
    VirtualZr7316::Faults faults;
    faults.corruptStoredByte = 0;
    m_kb->setFaults(faults);
    const ErrorReport r = failureOf([&] { undoLast(kbd, *m_history); });
    EXPECT_EQ(r.code, KbxStreamException::VerifyMismatch);
    // The undo did not come out right: the send stays undoable, and the undo's row keeps what it
    // replaced.
    const std::vector<HistoryEntry> entries = m_history->entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_FALSE(entries[1].undone);
    EXPECT_EQ(entries[0].before->name, "NewTone ");
    m_kb->setFaults({});
    EXPECT_EQ(undoTarget(*m_history)->id, entries[1].id);
    undoLast(kbd, *m_history);
    expectMemory();
}

// ---- undo -------------------------------------------------------------------------------------

TEST_F(SafetyNet, undoingTwiceRevertsTheLastTwoChangesAndUndosAreSkipped) {
    Keyboard kbd = keyboard();
    const Bytes tone1 = m_kb->itemBytes(ZxKind::Tone, 1);
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:1"));
    kbd.remove(slot("song:0"));
    kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1"));

    EXPECT_EQ(undoText(*undoTarget(*m_history)), QStringLiteral("Undo send of SENTSONG to Song 1"));
    HistoryEntry undone = undoLast(kbd, *m_history);
    EXPECT_TRUE(undone.undone);
    EXPECT_EQ(undone.slot, QStringLiteral("song:1"));
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), oldSong1());
    EXPECT_EQ(undoText(*undoTarget(*m_history)),
              QStringLiteral("Undo delete of oFirst from Song 0"));
    undone = undoLast(kbd, *m_history);
    EXPECT_EQ(undone.slot, QStringLiteral("song:0"));
    expectMemory({{slotKey(ZxKind::Tone, 1), namedItem(60, ZxKind::Tone, "NewTone", 5)}});

    const std::vector<HistoryEntry> entries = m_history->entries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].operation, Operation::Undo);
    EXPECT_EQ(entries[1].operation, Operation::Undo);
    EXPECT_TRUE(entries[2].undone && entries[3].undone);
    EXPECT_FALSE(entries[4].undone);
    EXPECT_EQ(undoText(*undoTarget(*m_history)), QStringLiteral("Undo send of NewTone to Tone 1"));
    undoLast(kbd, *m_history);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 1), tone1);
    expectMemory();
    EXPECT_FALSE(undoTarget(*m_history));
    EXPECT_THROW(undoLast(kbd, *m_history), std::runtime_error);
}

TEST_F(SafetyNet, undoOfASendIntoAnEmptySlotDeletesWhatWasSent) {
    m_kb->setItemBytes(ZxKind::Rhythm, 2, 0, {});
    Keyboard(*m_drive, m_devices).list();
    m_memoryBefore = snapshotMemory(*m_kb);
    Keyboard kbd = keyboard();
    auto rhythm = makeItem(ZxKind::Rhythm, namedItem(90, ZxKind::Rhythm, "Beat", 2));
    kbd.send(*rhythm, slot("rhythm:2"));
    EXPECT_FALSE(m_kb->itemBytes(ZxKind::Rhythm, 2).empty());
    const HistoryEntry undone = undoLast(kbd, *m_history);
    EXPECT_FALSE(undone.before);
    expectMemory();
    const HistoryEntry undo = m_history->entries().front();
    EXPECT_EQ(undo.operation, Operation::Undo);
    EXPECT_EQ(undo.before->name, "Beat    ");
    EXPECT_FALSE(undo.after);
}

TEST_F(SafetyNet, undoWithoutKeepingAHistoryStillMarksTheEntry) {
    keyboard().remove(slot("song:1"));
    Keyboard plain(*m_drive, m_devices, nullptr, Safety{nullptr, false, false});
    undoLast(plain, *m_history);
    expectMemory();
    ASSERT_EQ(m_history->entries().size(), 1u);
    EXPECT_TRUE(m_history->entries().front().undone);
}

// ---- whole writes, outside files ------------------------------------------------------------

TEST_F(SafetyNet, onAFullDiskTheKeptCopyStopsTheChangeAndTheStateFileStaysWhole) {
    kbxtest::SmallDisk disk(1024);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const QString root = QString::fromStdString(disk.path());
    History onDisk(root + QStringLiteral("/history"));
    Keyboard kbd(*m_drive, m_devices, nullptr, Safety{&onDisk, false, false});
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:1")); // the database grows
    m_memoryBefore = snapshotMemory(*m_kb);
    disk.fill();
    const ErrorReport kept =
        failureOf([&] { kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1")); });
    EXPECT_NE(kept.message.find("the disk is full"), std::string::npos) << kept.message;
    EXPECT_NE(kept.message.find("nothing has been changed"), std::string::npos) << kept.message;
    expectMemory();
    for (const QFileInfo& f : QDir(root + QStringLiteral("/history")).entryInfoList({"*.kbx"}))
        EXPECT_GT(f.size(), 0) << f.fileName().toStdString();

    // The built-in keyboard's state file: a change it cannot keep is not made, and it is told.
    QFile::remove(root + QStringLiteral("/filler"));
    const QString state = root + QStringLiteral("/state.json");
    m_kb->setStateFile(state);
    ASSERT_TRUE(m_kb->save());
    Keyboard(*m_drive, m_devices).list();
    m_memoryBefore = snapshotMemory(*m_kb);
    QFile file(state);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    disk.fill();
    const ErrorReport saved = failureOf(
        [&] { keyboard().send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:2")); });
    const ErrorReport deleted = failureOf([&] { keyboard().remove(slot("song:0")); });
    m_kb->setStateFile(QString());
    EXPECT_NE(deleted.message.find("Cannot save the built-in keyboard's memory"), std::string::npos)
        << deleted.message;
    EXPECT_NE(saved.message.find("Cannot save the built-in keyboard's memory"), std::string::npos)
        << saved.message;
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    expectMemory();
}

TEST_F(SafetyNet, pipesDevicesEmptyAndOversizedFilesAreRefusedBeforeTheKeyboardIsAsked) {
#ifdef _WIN32
    GTEST_SKIP() << "no named pipes in the file system";
#else
    const QString fifo = m_dir.filePath(QStringLiteral("pipe.kbx"));
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QFile big(m_dir.filePath(QStringLiteral("big.kbx")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(64 + 21504 + 1, 'x'));
    big.close();
    for (const QString& path : {fifo, QStringLiteral("/dev/zero"), big.fileName()})
        EXPECT_ANY_THROW(readDataFile(path)) << path.toStdString();

    const QString backup = m_dir.filePath(QStringLiteral("pipes"));
    QDir().mkpath(backup);
    ASSERT_EQ(mkfifo((backup + QStringLiteral("/manifest.json")).toLocal8Bit().constData(), 0600),
              0);
    EXPECT_ANY_THROW(readManifest(backup));
    ItemRecord record;
    record.file = fifo;
    EXPECT_ANY_THROW(m_history->load(record));

    // A header whose size is 0 would empty the song slot and store nothing; an odd one would
    // come back a byte longer, as items travel in whole words.
    for (const std::uint32_t size : {0u, kNewSong - 1}) {
        auto item = makeItem(ZxKind::Song, newSong());
        item->setSize(size);
        const ErrorReport r = failureOf([&] { keyboard().send(*item, slot("song:1")); });
        EXPECT_EQ(r.className, "KbxStreamException") << size;
        expectMemory();
        EXPECT_TRUE(m_history->entries().empty());
    }
#endif
}

TEST_F(SafetyNet, undoNamesAChangeMadeWithoutACopyAndRefusesASlotChangedSince) {
    Keyboard kbd = keyboard();
    kbd.send(*fileItem(QStringLiteral("new tone.kbx")), slot("tone:1"));
    Safety noCopies{m_history.get(), false, true};
    noCopies.keepCopies = false;
    Keyboard(*m_drive, m_devices, nullptr, noCopies).remove(slot("song:0"));
    EXPECT_EQ(failureOf([&] { undoLast(kbd, *m_history); }).message,
              "The latest change (delete of oFirst from Song 0) was made without keeping a copy "
              "and cannot be undone.");
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 1), namedItem(60, ZxKind::Tone, "NewTone", 5));
    EXPECT_EQ(undoLast(kbd, *m_history, true).slot, QStringLiteral("tone:1"));
    expectMemory({{slotKey(ZxKind::Song, 0), {}}});

    // Another program has put something else into the slot since the send.
    kbd.send(*fileItem(QStringLiteral("new song.kbx")), slot("song:1"));
    const Bytes other = namedItem(200, ZxKind::Song, "Other", 9);
    m_kb->setItemBytes(ZxKind::Song, 1, 0, other);
    const std::string refused = failureOf([&] { undoLast(kbd, *m_history); }).message;
    EXPECT_NE(refused.find("Song 1 now holds Other (200 bytes)"), std::string::npos) << refused;
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), other);
}

// ---- the history's commands and restore -------------------------------------------------------

TEST_F(SafetyNet, anExportedItemIsTheFileAnImportWritesAndRestoreSendsItBack) {
    const qint64 id = keyboard().remove(slot("song:0"), Change{Operation::Delete});
    const QString out = m_dir.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    const QString exported = exportEntry(*m_history, id, out);
    EXPECT_TRUE(exported.endsWith(QStringLiteral("SNG_oFirst  .kbx"))) << exported.toStdString();

    Keyboard kbd = keyboard();
    HistoryEntry restored = restoreEntry(kbd, *m_history, id);
    EXPECT_EQ(restored.id, id);
    expectMemory();
    const HistoryEntry entry = m_history->entries().front();
    EXPECT_EQ(entry.operation, Operation::Restore);
    EXPECT_FALSE(entry.before);
    EXPECT_EQ(entry.after->name, "oFirst  ");

    // An import of the restored song gives the exported file byte for byte.
    const QString again = m_dir.filePath(QStringLiteral("again"));
    QDir().mkpath(again);
    const ImportedFile imported = keyboard().importSlot(slot("song:0"), again);
    QFile a(exported), b(imported.path);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    EXPECT_THROW(restoreEntry(kbd, *m_history, entry.id), std::runtime_error);
    EXPECT_THROW(exportEntry(*m_history, 999, out), std::runtime_error);

    // Exported again over a file of that name that holds something else: it goes to the trash.
    if (kbxtest::onWine()) {
        // Wine's shell file operation, which Qt's trash uses on Windows, is a stub.
        QFile probe(m_dir.filePath(QStringLiteral("probe")));
        ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
        probe.close();
        if (!QFile::moveToTrash(probe.fileName()))
            GTEST_SKIP() << "Wine cannot move a file to the recycle bin";
    }
    QFile other(exported);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("another file");
    other.close();
    QString trashed;
    exportEntry(*m_history, id, out, &trashed);
    ASSERT_FALSE(trashed.isEmpty());
    QFile aside(trashed);
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), QByteArray("another file"));
}

TEST_F(SafetyNet, aBackupRestoreKeepsEveryItemItReplacesAsRestoreEntries) {
    Keyboard kbd = keyboard();
    const QString dir = m_dir.filePath(QStringLiteral("backup"));
    backupKeyboard(kbd, dir);
    m_kb->setItemBytes(ZxKind::Tone, 0, 0, namedItem(60, ZxKind::Tone, "Changed", 4));
    m_kb->setItemBytes(ZxKind::Song, 1, 0, {});
    Keyboard(*m_drive, m_devices).list();
    const RestoreResult result = restoreBackup(kbd, dir, MsgStr(1033));
    EXPECT_TRUE(result.failed.empty());
    expectMemory();
    const std::vector<HistoryEntry> entries = m_history->entries();
    EXPECT_FALSE(entries.empty());
    for (const HistoryEntry& e : entries)
        EXPECT_EQ(e.operation, Operation::Restore) << e.slot.toStdString();
    const auto changedTone =
        std::find_if(entries.begin(), entries.end(),
                     [](const HistoryEntry& e) { return e.slot == QStringLiteral("tone:0"); });
    ASSERT_NE(changedTone, entries.end());
    EXPECT_EQ(changedTone->before->name, "Changed ");
}

// ---- a restore's songs: one entry per slot, put back when their replacement does not come ----

namespace {

// Sets fault switches as the send of an item of `size` bytes begins and keeps them for `steps`
// steps (the send, then what follows it: a put-back), then clears them. With a cancellation,
// asks it to stop there instead.
class StrikeAtSend : public Progress {
public:
    StrikeAtSend(VirtualZr7316& keyboard, std::uint32_t size, int steps,
                 const VirtualZr7316::Faults& faults, Cancellation* cancel = nullptr)
        : m_keyboard(keyboard)
        , m_size(size)
        , m_steps(steps)
        , m_faults(faults)
        , m_cancel(cancel) {}
    void begin(const Step& step) override {
        if (m_left > 0 && --m_left == 0)
            m_keyboard.setFaults({});
        if (struck || step.kind != Step::Send || step.total != m_size)
            return;
        struck = true;
        if (m_cancel) {
            m_cancel->cancel();
            return;
        }
        m_left = m_steps;
        m_keyboard.setFaults(m_faults);
    }
    void advanceTo(std::uint32_t) override {}
    void end() override {}
    bool struck = false;

private:
    VirtualZr7316& m_keyboard;
    std::uint32_t m_size;
    int m_steps;
    VirtualZr7316::Faults m_faults;
    Cancellation* m_cancel;
    int m_left = 0;
};

constexpr std::uint32_t kBackupSong0 = 300; // "oFirst", as the fixture sets it up

const Bytes& newerSong0() {
    static const Bytes bytes = namedItem(900, ZxKind::Song, "Newer", 5);
    return bytes;
}

std::map<QString, std::vector<HistoryEntry>> entriesBySlot(const History& history) {
    std::map<QString, std::vector<HistoryEntry>> bySlot;
    for (const HistoryEntry& e : history.entries())
        bySlot[e.slot].push_back(e);
    return bySlot;
}

} // namespace

TEST_F(SafetyNet, aRestoreRecordsOneEntryPerSlotItChanges) {
    Keyboard kbd = keyboard();
    const QString dir = m_dir.filePath(QStringLiteral("backup"));
    backupKeyboard(kbd, dir);
    int emptyRhythm = -1;
    for (int i = 0; i < VirtualZr7316::kRhythms && emptyRhythm < 0; ++i)
        if (m_kb->itemBytes(ZxKind::Rhythm, i).empty())
            emptyRhythm = i;
    ASSERT_GE(emptyRhythm, 0);
    // Since the backup: a tone changed, song 0 replaced, song 1 deleted, a rhythm added.
    m_kb->setItemBytes(ZxKind::Tone, 0, 0, namedItem(60, ZxKind::Tone, "Changed", 4));
    m_kb->setItemBytes(ZxKind::Song, 0, 0, newerSong0());
    m_kb->setItemBytes(ZxKind::Song, 1, 0, {});
    m_kb->setItemBytes(ZxKind::Rhythm, emptyRhythm, 0, namedItem(200, ZxKind::Rhythm, "Extra", 6));
    Keyboard(*m_drive, m_devices).list();

    const RestoreResult result = restoreBackup(kbd, dir, MsgStr(1033));
    EXPECT_TRUE(result.failed.empty());
    expectMemory();

    const auto bySlot = entriesBySlot(*m_history);
    for (const auto& [slot, entries] : bySlot) {
        EXPECT_EQ(entries.size(), 1u) << slot.toStdString();
        EXPECT_EQ(entries.front().operation, Operation::Restore) << slot.toStdString();
    }
    EXPECT_EQ(bySlot.size(), result.restored.size() + 1); // and the emptied rhythm
    const HistoryEntry& song0 = bySlot.at(QStringLiteral("song:0")).front();
    ASSERT_TRUE(song0.before && song0.after);
    EXPECT_EQ(song0.before->name, "Newer   ");
    EXPECT_EQ(song0.after->name, "oFirst  ");
    EXPECT_EQ(m_history->load(*song0.before)->payload(),
              makeItem(ZxKind::Song, newerSong0())->payload());
    const HistoryEntry& song1 = bySlot.at(QStringLiteral("song:1")).front();
    EXPECT_FALSE(song1.before);
    ASSERT_TRUE(song1.after);
    EXPECT_EQ(song1.after->name, "oSecond ");
    const HistoryEntry& rhythm = bySlot.at(QStringLiteral("rhythm:%1").arg(emptyRhythm)).front();
    ASSERT_TRUE(rhythm.before);
    EXPECT_EQ(rhythm.before->name, "Extra   ");
    EXPECT_FALSE(rhythm.after);
    EXPECT_EQ(bySlot.at(QStringLiteral("tone:0")).front().before->name, "Changed ");

    // Undoing the song's entry brings back the song the restore replaced, in one step.
    kbd.list();
    restoreEntry(kbd, *m_history, song0.id);
    EXPECT_EQ(toHex(m_kb->itemBytes(ZxKind::Song, 0)), toHex(newerSong0()));
}

TEST_F(SafetyNet, aRestoreWhoseSendFailsAfterTheDeletePutsTheSongBack) {
    const QString dir = backUp();
    m_kb->setItemBytes(ZxKind::Song, 0, 0, newerSong0());
    Keyboard(*m_drive, m_devices).list();

    // The keyboard refuses the second block of the backup's song 0, and only that once.
    StrikeAtSend strike(*m_kb, kBackupSong0, 1, handshake(1, 2, -1));
    Keyboard kbd = keyboard(&strike);
    const RestoreResult result = restoreBackup(kbd, dir, MsgStr(1033));
    ASSERT_TRUE(strike.struck);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_EQ(result.failed[0].slot, QStringLiteral("song:0"));
    EXPECT_NE(
        result.failed[0].error.message.find("The song that was in the slot has been put back"),
        std::string::npos)
        << result.failed[0].error.message;
    // Song 0 is what it was; everything else is the backup's.
    expectMemory({{slotKey(ZxKind::Song, 0), newerSong0()}});
    // The change did not happen, so no entry says it did.
    EXPECT_EQ(entriesBySlot(*m_history).count(QStringLiteral("song:0")), 0u);
    EXPECT_EQ(result.restored.size() + 1, readManifest(dir).files.size());

    // In Japanese the error says the same.
    m_kb->setItemBytes(ZxKind::Song, 0, 0, newerSong0());
    StrikeAtSend again(*m_kb, kBackupSong0, 1, handshake(1, 2, -1));
    Keyboard ja = keyboard(&again);
    const RestoreResult inJapanese = restoreBackup(ja, dir, MsgStr(1041));
    ASSERT_EQ(inJapanese.failed.size(), 1u);
    EXPECT_NE(inJapanese.failed[0].error.message.find("スロットにあった曲を元に戻しました"),
              std::string::npos)
        << inJapanese.failed[0].error.message;
}

TEST_F(SafetyNet, aRestoreThatCannotPutTheSongBackSaysWhereTheHistoryKeepsIt) {
    const QString dir = backUp();
    m_kb->setItemBytes(ZxKind::Song, 0, 0, newerSong0());
    Keyboard(*m_drive, m_devices).list();

    // The refusal strikes the put-back too.
    StrikeAtSend strike(*m_kb, kBackupSong0, 2, handshake(1, 2, -1));
    Keyboard kbd = keyboard(&strike);
    const RestoreResult result = restoreBackup(kbd, dir, MsgStr(1033));
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_TRUE(m_kb->itemBytes(ZxKind::Song, 0).empty());
    const auto bySlot = entriesBySlot(*m_history);
    ASSERT_EQ(bySlot.count(QStringLiteral("song:0")), 1u);
    const HistoryEntry& entry = bySlot.at(QStringLiteral("song:0")).front();
    EXPECT_EQ(entry.operation, Operation::Restore);
    EXPECT_FALSE(entry.after); // the slot was left empty
    ASSERT_TRUE(entry.before);
    EXPECT_EQ(m_history->load(*entry.before)->payload(),
              makeItem(ZxKind::Song, newerSong0())->payload());
    const std::string& message = result.failed[0].error.message;
    EXPECT_NE(message.find("could not be put back. It is kept in the history (entry " +
                           std::to_string(entry.id) + ")"),
              std::string::npos)
        << message;
}

TEST_F(SafetyNet, aCancelledRestorePutsBackTheSongsItEmptiedForItemsThatDidNotCome) {
    const QString dir = backUp();
    const Bytes other = namedItem(400, ZxKind::Song, "Other", 8);
    m_kb->setItemBytes(ZxKind::Song, 0, 0, newerSong0());
    m_kb->setItemBytes(ZxKind::Song, 1, 0, other);
    Keyboard(*m_drive, m_devices).list();
    const std::size_t rowsBefore = m_history->entries().size();

    // Both songs are emptied first; the cancel comes as the first of them is sent.
    Cancellation cancellation;
    const CancelScope scope(cancellation);
    StrikeAtSend strike(*m_kb, kBackupSong0, 0, {}, &cancellation);
    Keyboard kbd = keyboard(&strike);
    const RestoreResult result = restoreBackup(kbd, dir, MsgStr(1033));
    ASSERT_TRUE(strike.struck);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.failed.empty());
    EXPECT_EQ(toHex(m_kb->itemBytes(ZxKind::Song, 0)), toHex(newerSong0()));
    EXPECT_EQ(toHex(m_kb->itemBytes(ZxKind::Song, 1)), toHex(other));
    QStringList notDone;
    for (const auto& [file, slot] : result.notDone)
        notDone << slot;
    EXPECT_TRUE(notDone.contains(QStringLiteral("song:0")));
    EXPECT_TRUE(notDone.contains(QStringLiteral("song:1")));
    // What was restored before the cancel is recorded; the songs, back as they were, are not.
    const auto bySlot = entriesBySlot(*m_history);
    EXPECT_EQ(bySlot.count(QStringLiteral("song:0")), 0u);
    EXPECT_EQ(bySlot.count(QStringLiteral("song:1")), 0u);
    EXPECT_EQ(m_history->entries().size() - rowsBefore, result.restored.size());
}

// ---- a cancel at every message of a song replacement ----------------------------------------

TEST(SafetyNetCancel, aCancelledReplacementLeavesTheOldSongTheNewOneOrPutsTheOldOneBack) {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    registry.setSystemDevicesEnabled(false);
    auto tap = std::make_shared<kbxtest::TapBackend>(); // device 0 on both sides
    registry.setTestBackend(tap);
    VirtualZr7316& kb = registry.virtualKeyboard();
    kb.setStateFile(QString());
    kb.setFaults({});
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("history")));
    const auto reset = [&] {
        kb.factoryReset();
        kb.setItemBytes(ZxKind::Song, 1, 0, oldSong1());
        ZxKbdDrv::destroyInstance();
        Keyboard(ZxKbdDrv::instance(ZxKbdDrv::kKnownModel), {0, 0}).list();
    };
    const auto replace = [&] {
        ZxKbdDrv& drive = ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        Keyboard kbd(drive, {0, 0}, nullptr, Safety{&history, false, false});
        const std::vector<SlotEntry> list = slotsOf(drive.root());
        kbd.send(*makeItem(ZxKind::Song, newSong()),
                 *findSlot(list, QStringLiteral("song:1"))->node);
    };
    reset();
    tap->clear();
    replace();
    const int total = static_cast<int>(tap->sent().size());
    const std::size_t rowsAfterOne = history.entries().size();
    ASSERT_EQ(rowsAfterOne, 1u);

    int putBack = 0, unchanged = 0, done = 0;
    for (int at = 0; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        reset();
        const std::size_t rowsBefore = history.entries().size();
        kbxops::Cancellation cancellation;
        const kbxops::CancelScope scope(cancellation);
        tap->clear();
        tap->setSendHook([&](int index, const Bytes&) {
            if (index == at)
                cancellation.cancel();
        });
        std::optional<ErrorReport> error;
        try {
            replace();
        } catch (...) {
            error = describeException(MsgStr(1033), std::current_exception());
        }
        tap->setSendHook({});
        EXPECT_EQ(tap->openConnections(), 0);
        const Bytes now = kb.itemBytes(ZxKind::Song, 1);
        const std::size_t rows = history.entries().size() - rowsBefore;
        if (!error) {
            ++done; // too late to stop: the new song is in, and recorded
            EXPECT_EQ(now, newSong());
            EXPECT_EQ(rows, 1u);
            continue;
        }
        EXPECT_EQ(error->className, "ZxCancelledException");
        EXPECT_EQ(now, oldSong1()) << "the old song neither stayed nor came back";
        EXPECT_EQ(rows, 0u);
        if (error->message.find("has been put back") != std::string::npos)
            ++putBack;
        else
            ++unchanged;
    }
    EXPECT_GT(unchanged, 3); // the snapshot and the checks before the delete
    EXPECT_GT(putBack, 2);   // every block of the new song
    EXPECT_GT(done, 0);      // the end handshake and what follows it
    registry.setTestBackend(nullptr);
    ZxKbdDrv::destroyInstance();
}

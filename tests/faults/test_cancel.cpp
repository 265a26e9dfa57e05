// Cancel at every message boundary of every operation, through the real ports and event loop
// against the virtual keyboard: the cancel is asked for while message N is handed to the port,
// for every N of the operation. Afterwards the ports are closed, the keyboard holds no half
// item, no local file is damaged or half-written, and the next operation works.
#include "faultkit.h"
#include "kbxnames.h"
#include "mididevices.h"
#include "ops/backup.h"
#include "ops/cancel.h"
#include "ops/keyboard.h"
#include "ops/slotref.h"
#include "tapbackend.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <algorithm>
#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace faultkit;
using kbxtest::hex;

namespace {

constexpr int kNever = INT_MAX;

// The end of a song's transfer into song slot 0: handshake, status 0.
const Bytes kSong0End = hex("F0 44 11 01 7F 7A 00 00 00 00 00 F7");

QJsonObject readJson(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).object();
}

std::string keyOf(const QString& shortFormText) {
    const kbxops::ShortFormParse parsed = kbxops::parseShortForm(shortFormText);
    EXPECT_EQ(parsed.status, kbxops::ShortFormParse::Valid) << shortFormText.toStdString();
    return slotKey(parsed.address.kind, parsed.address.number, parsed.address.bank);
}

bool isSongOrRhythm(const std::string& key) {
    return key.rfind("song", 0) == 0 || key.rfind("rhythm", 0) == 0;
}

class Cancel : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_tap = std::make_shared<kbxtest::TapBackend>();
        registry.setTestBackend(m_tap);
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_kb->setFaults({});
        m_kb->setStrict(true);
        m_kb->clearLog();
        resetKeyboard();
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        ASSERT_TRUE(m_dir.isValid());
    }

    void TearDown() override {
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
        m_kb->setStrict(false);
    }

    void resetKeyboard() { m_kb->factoryReset(); }

    // The tap is device 0 on both sides.
    kbxops::Keyboard keyboard() { return kbxops::Keyboard(*m_drive, {0, 0}); }

    ZxData& slot(const char* shortFormText) {
        const std::vector<kbxops::SlotEntry> entries = kbxops::slotsOf(m_drive->root());
        const kbxops::SlotEntry* entry =
            kbxops::findSlot(entries, QString::fromLatin1(shortFormText));
        EXPECT_NE(entry, nullptr) << shortFormText;
        return *entry->node;
    }

    // Runs op with a cancel asked for while message `at` (from 0) is handed to the port; -1 asks
    // before op starts. True when op ended with the cancel.
    bool runCancelledAt(int at, const std::function<void()>& op) {
        kbxops::Cancellation cancellation;
        const kbxops::CancelScope scope(cancellation);
        m_tap->clear();
        if (at < 0)
            cancellation.cancel();
        m_tap->setSendHook([&](int index, const Bytes&) {
            if (index == at)
                cancellation.cancel();
        });
        bool cancelled = false;
        try {
            op();
        } catch (const ZxCancelledException&) {
            cancelled = true;
        }
        m_tap->setSendHook({});
        EXPECT_EQ(m_tap->openConnections(), 0) << "ports left open, cancel at " << at;
        return cancelled;
    }

    int messagesOf(const std::function<void()>& op) {
        EXPECT_FALSE(runCancelledAt(kNever, op));
        return static_cast<int>(m_tap->sent().size());
    }

    // The keyboard's strict notes, without those of a transfer the host gave up: that is what a
    // cancel does, and the keyboard drops such a transfer.
    std::vector<std::string> notesBesidesAbandonment() const {
        std::vector<std::string> notes;
        for (const std::string& note : m_kb->unexpected())
            if (note.rfind("message during a", 0) != 0 && note.rfind("data block 0 in the", 0) != 0)
                notes.push_back(note);
        return notes;
    }

    std::shared_ptr<kbxtest::TapBackend> m_tap;
    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Cancel, listStopsAtTheReplyOfTheMessageItWasAskedDuringAndTheNextListWorks) {
    const int total = messagesOf([&] { keyboard().list(); });
    ASSERT_GT(total, 40);
    const MemorySnapshot memory = snapshotMemory(*m_kb);
    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        EXPECT_TRUE(runCancelledAt(at, [&] { keyboard().list(); }));
        EXPECT_EQ(static_cast<int>(m_tap->sent().size()), at + 1);
    }
    EXPECT_EQ(snapshotMemory(*m_kb), memory);
    EXPECT_EQ(messagesOf([&] { keyboard().list(); }), total);
    EXPECT_TRUE(m_drive->isListed());
    EXPECT_EQ(notesBesidesAbandonment(), std::vector<std::string>());
}

TEST_F(Cancel, importWritesNoFileAndLeavesTheFileOfTheSameNameUntouched) {
    keyboard().list();
    const QString folder = m_dir.filePath(QStringLiteral("imports"));
    ASSERT_TRUE(QDir().mkpath(folder));
    // A file of the name the import would give, holding another item.
    const QString name = kbxnames::importFileName(ZxKind::Song, "Minuet  ");
    {
        QFile old(QDir(folder).filePath(name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older song the user keeps");
    }
    const FolderSnapshot before = snapshotFolder(m_dir.path());

    const QString scratch = m_dir.filePath(QStringLiteral("scratch"));
    ASSERT_TRUE(QDir().mkpath(scratch));
    const int total = messagesOf([&] { keyboard().importSlot(slot("song:0"), scratch); });
    EXPECT_EQ(total, 6); // the data request and a handshake after each of the five blocks
    ASSERT_TRUE(QDir(scratch).removeRecursively());

    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        EXPECT_TRUE(runCancelledAt(at, [&] { keyboard().importSlot(slot("song:0"), folder); }));
        EXPECT_EQ(static_cast<int>(m_tap->sent().size()), at + 1);
        const FolderSnapshot after = snapshotFolder(m_dir.path());
        EXPECT_EQ(after, before) << describeDifference(before, after);
    }

    const QString fresh = m_dir.filePath(QStringLiteral("fresh"));
    ASSERT_TRUE(QDir().mkpath(fresh));
    const kbxops::ImportedFile file = keyboard().importSlot(slot("song:0"), fresh);
    QFile written(file.path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray bytes = written.readAll();
    EXPECT_EQ(Bytes(bytes.begin() + 64, bytes.end()), m_kb->itemBytes(ZxKind::Song, 0));
    EXPECT_EQ(notesBesidesAbandonment(), std::vector<std::string>());
}

TEST_F(Cancel, songReplacingASongIsNeverEndedOnceCancelledAndNeverHalfStored) {
    const Bytes minuet = m_kb->itemBytes(ZxKind::Song, 0);
    const Bytes tune = namedItem(1000, ZxKind::Song, "Tune", 3); // eight blocks
    const auto send = [&] {
        auto item = makeItem(ZxKind::Song, tune);
        keyboard().send(*item, slot("song:0"));
    };
    keyboard().list();
    const int total = messagesOf(send);
    // Free memory, delete, free memory, blocks 0-7, handshake 0, free memory.
    ASSERT_EQ(total, 13);

    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        resetKeyboard();
        keyboard().list();
        const MemorySnapshot before = snapshotMemory(*m_kb);
        const bool cancelled = runCancelledAt(at, send);
        const std::vector<Bytes>& sent = m_tap->sent();
        // Until the end handshake has left, a cancel stops the send; after it the song is in
        // and the send is done. The delete and the free-memory reading after it are one step:
        // the cancel then strikes before the first block.
        EXPECT_EQ(cancelled, at <= 10);
        const int expectedSent = !cancelled ? total : at == 1 || at == 2 ? 3 : at + 1;
        EXPECT_EQ(static_cast<int>(sent.size()), expectedSent);
        EXPECT_EQ(std::count(sent.begin(), sent.end(), kSong0End), cancelled ? 0 : 1);

        const Bytes now = m_kb->itemBytes(ZxKind::Song, 0);
        if (!cancelled)
            EXPECT_EQ(now, tune);
        else if (at <= 0)
            EXPECT_EQ(now, minuet); // nothing had changed
        else
            EXPECT_TRUE(now.empty()); // deleted, nothing of the new one stored
        MemorySnapshot others = snapshotMemory(*m_kb);
        MemorySnapshot othersBefore = before;
        others.erase(slotKey(ZxKind::Song, 0));
        othersBefore.erase(slotKey(ZxKind::Song, 0));
        EXPECT_EQ(others, othersBefore);

        // The next operation works, and the tree then shows what the keyboard holds.
        send();
        EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 0), tune);
        keyboard().list();
        EXPECT_EQ(slot("song:0").size(), tune.size());
    }
    EXPECT_EQ(notesBesidesAbandonment(), std::vector<std::string>());
}

TEST_F(Cancel, registrationCancelledMidwayKeepsTheOldOneAndTheNextSendStartsAfresh) {
    const Bytes old = m_kb->itemBytes(ZxKind::Registration, 1, 2);
    const Bytes first = namedItem(176, ZxKind::Registration, "", 5);
    const Bytes second = namedItem(176, ZxKind::Registration, "", 9);
    const auto send = [&](const Bytes& bytes) {
        auto item = makeItem(ZxKind::Registration, bytes);
        keyboard().send(*item, slot("reg:2:1"));
    };
    keyboard().list();
    const int total = messagesOf([&] { send(first); });
    ASSERT_EQ(total, 3); // two blocks, handshake 0: no request before or after

    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        m_kb->setItemBytes(ZxKind::Registration, 1, 2, old);
        const bool cancelled = runCancelledAt(at, [&] { send(first); });
        EXPECT_EQ(cancelled, at < 2);
        EXPECT_EQ(m_kb->itemBytes(ZxKind::Registration, 1, 2), cancelled ? old : first);
        // Straight after: block 0 again, with no other request between; the keyboard must not
        // mix in what it kept of the abandoned transfer.
        send(second);
        EXPECT_EQ(m_kb->itemBytes(ZxKind::Registration, 1, 2), second);
    }
}

TEST_F(Cancel, deleteIsCancelledOnlyBeforeItsMessageLeaves) {
    keyboard().list();
    const Bytes minuet = m_kb->itemBytes(ZxKind::Song, 0);
    const int total = messagesOf([&] { keyboard().remove(slot("song:0")); });
    ASSERT_EQ(total, 2); // the delete, the free memory after it
    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        m_kb->setItemBytes(ZxKind::Song, 0, 0, minuet);
        keyboard().list();
        const bool cancelled = runCancelledAt(at, [&] { keyboard().remove(slot("song:0")); });
        // Once the delete has left, the song is gone: the action is done, not cancelled.
        EXPECT_EQ(cancelled, at < 0);
        EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 0).empty(), !cancelled);
        EXPECT_EQ(slot("song:0").isPresent(), cancelled);
    }
}

TEST_F(Cancel, backupKeepsWholeFilesAndAManifestThatSaysWhatIsMissing) {
    m_kb->setItemBytes(ZxKind::Song, 1, 0, namedItem(300, ZxKind::Song, "Second"));
    const MemorySnapshot memory = snapshotMemory(*m_kb);
    const QString dir = m_dir.filePath(QStringLiteral("backup"));
    const QString manifestPath = QDir(dir).filePath(QLatin1String(kbxops::kManifestName));
    const QByteArray oldManifest = R"({"files": {}, "empty": []})";

    int listMessages = 0;
    const int total = messagesOf([&] {
        auto kbd = keyboard();
        kbd.list();
        listMessages = static_cast<int>(m_tap->sent().size());
        kbxops::backupKeyboard(kbd, m_dir.filePath(QStringLiteral("dry")));
    });
    const int backupMessages = total - listMessages;
    ASSERT_GT(backupMessages, listMessages);

    int duringList = 0;
    for (int at = -1; at < backupMessages; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        ASSERT_TRUE(QDir(dir).removeRecursively());
        ASSERT_TRUE(QDir().mkpath(dir));
        {
            QFile old(manifestPath);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(oldManifest);
        }
        auto kbd = keyboard();
        kbxops::BackupResult result;
        const bool thrown = runCancelledAt(at, [&] { result = kbxops::backupKeyboard(kbd, dir); });
        EXPECT_EQ(snapshotMemory(*m_kb), memory);
        const QStringList entries = QDir(dir).entryList(QDir::Files | QDir::Hidden);
        if (thrown) {
            // Cancelled during the list: nothing written, the older backup's manifest kept.
            EXPECT_LT(at, listMessages);
            EXPECT_EQ(entries, QStringList{QLatin1String(kbxops::kManifestName)});
            QFile kept(manifestPath);
            ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
            EXPECT_EQ(kept.readAll(), oldManifest);
            ++duringList;
            continue;
        }
        EXPECT_GE(at, listMessages);
        EXPECT_FALSE(result.complete);
        const QJsonObject manifest = readJson(manifestPath);
        EXPECT_EQ(manifest.value(QStringLiteral("complete")), QJsonValue(false));
        const QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
        EXPECT_EQ(static_cast<std::size_t>(files.size()), result.files.size());
        // Every file named is whole; the files and the slots not done make up the present
        // items, and nothing else lies in the folder.
        std::set<std::string> covered;
        for (auto it = files.begin(); it != files.end(); ++it) {
            const std::string key = keyOf(it.value().toString());
            QFile file(QDir(dir).filePath(it.key()));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << it.key().toStdString();
            const QByteArray bytes = file.readAll();
            EXPECT_EQ(Bytes(bytes.begin() + 64, bytes.end()), memory.at(key)) << key;
            EXPECT_TRUE(covered.insert(key).second) << key;
        }
        QStringList notDone;
        for (const QJsonValue& v : manifest.value(QStringLiteral("notDone")).toArray())
            notDone << v.toString();
        EXPECT_EQ(notDone, result.notDone);
        EXPECT_FALSE(notDone.isEmpty());
        for (const QString& s : notDone)
            EXPECT_TRUE(covered.insert(keyOf(s)).second) << s.toStdString();
        std::set<std::string> present;
        for (const auto& [key, bytes] : memory)
            if (!bytes.empty())
                present.insert(key);
        EXPECT_EQ(covered, present);
        EXPECT_EQ(entries.size(), files.size() + 1);
    }
    EXPECT_EQ(duringList, listMessages + 1);
    EXPECT_EQ(notesBesidesAbandonment(), std::vector<std::string>());
}

TEST_F(Cancel, restoreOfAnIncompleteBackupBringsBackWhatItHoldsAndLeavesTheRest) {
    m_kb->setItemBytes(ZxKind::Rhythm, 2, 0, namedItem(500, ZxKind::Rhythm, "Samba"));
    const MemorySnapshot backedUp = snapshotMemory(*m_kb);
    const QString dir = m_dir.filePath(QStringLiteral("half"));
    auto kbd = keyboard();
    kbxops::BackupResult backup;
    // Half-way through the items: the list, then some twenty messages of imports.
    ASSERT_FALSE(runCancelledAt(kNever, [&] { kbd.list(); }));
    const int listMessages = static_cast<int>(m_tap->sent().size());
    ASSERT_FALSE(
        runCancelledAt(listMessages + 20, [&] { backup = kbxops::backupKeyboard(kbd, dir); }));
    ASSERT_FALSE(backup.complete);
    ASSERT_FALSE(backup.files.empty());

    // Another keyboard: every item differs from the backed-up one.
    m_kb->wipe();
    m_kb->setItemBytes(ZxKind::Song, 1, 0, namedItem(200, ZxKind::Song, "Other"));
    const MemorySnapshot other = snapshotMemory(*m_kb);
    const kbxops::RestoreResult result = kbxops::restoreBackup(kbd, dir, MsgStr(1033));
    EXPECT_FALSE(result.backupComplete);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.failed.empty());
    EXPECT_EQ(result.restored.size(), backup.files.size());

    std::set<std::string> restored;
    for (const kbxops::BackupEntry& e : backup.files)
        restored.insert(keyOf(e.slot));
    const MemorySnapshot now = snapshotMemory(*m_kb);
    for (const auto& [key, bytes] : now) {
        // The backup's empty slots are emptied; the slots it lacks keep what they held.
        const bool listedEmpty = isSongOrRhythm(key) && backedUp.at(key).empty();
        EXPECT_EQ(bytes, restored.count(key) || listedEmpty ? backedUp.at(key) : other.at(key))
            << key;
    }
}

TEST_F(Cancel, restoreStopsBetweenItemsAndReportsWhatWasDone) {
    // A: what the backup holds; B: what the keyboard holds when the restore runs.
    m_kb->setItemBytes(ZxKind::Song, 1, 0, namedItem(300, ZxKind::Song, "Second"));
    const MemorySnapshot a = snapshotMemory(*m_kb);
    const QString dir = m_dir.filePath(QStringLiteral("full"));
    {
        auto kbd = keyboard();
        ASSERT_TRUE(kbxops::backupKeyboard(kbd, dir).complete);
    }
    const auto setUpB = [&] {
        m_kb->factoryReset();
        m_kb->setItemBytes(ZxKind::Tone, 4, 0, namedItem(60, ZxKind::Tone, "Changed", 1));
        m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(900, ZxKind::Song, "Newer", 2));
        m_kb->setItemBytes(ZxKind::Rhythm, 3, 0, namedItem(200, ZxKind::Rhythm, "Extra", 3));
        m_kb->setItemBytes(ZxKind::Registration, 3, 1, namedItem(176, ZxKind::Registration, "", 4));
    };
    setUpB();
    const MemorySnapshot b = snapshotMemory(*m_kb);
    const MsgStr messages(1033);
    kbxops::RestoreResult result;
    const auto restore = [&] {
        auto kbd = keyboard();
        result = kbxops::restoreBackup(kbd, dir, messages);
    };
    const int total = messagesOf(restore);
    ASSERT_EQ(snapshotMemory(*m_kb), a);

    int outcomes[3] = {}; // cancelled during the list, between items, too late to stop
    for (int at = -1; at < total; ++at) {
        SCOPED_TRACE("cancel at message " + std::to_string(at));
        setUpB();
        result = {};
        const bool thrown = runCancelledAt(at, restore);
        const MemorySnapshot now = snapshotMemory(*m_kb);
        ++outcomes[thrown ? 0 : result.cancelled ? 1 : 2];
        if (thrown) {
            EXPECT_EQ(now, b); // cancelled during the list, before anything changed
            continue;
        }
        EXPECT_TRUE(result.failed.empty());
        if (!result.cancelled) {
            EXPECT_EQ(now, a); // the cancel came after the last item had gone in
            continue;
        }
        // Each slot holds what it held, what the backup holds, or (a song or rhythm emptied
        // before the sends) nothing: never a part of an item.
        for (const auto& [key, bytes] : now)
            EXPECT_TRUE(bytes == b.at(key) || bytes == a.at(key) ||
                        (isSongOrRhythm(key) && bytes.empty()))
                << key;
        // What was restored is in; the report names every other item as not done.
        std::set<std::string> reported;
        for (const auto& [file, slotText] : result.restored) {
            EXPECT_EQ(now.at(keyOf(slotText)), a.at(keyOf(slotText))) << file.toStdString();
            reported.insert(keyOf(slotText));
        }
        std::size_t files = 0;
        for (const auto& [file, slotText] : result.notDone) {
            EXPECT_TRUE(reported.insert(keyOf(slotText)).second) << slotText.toStdString();
            files += file.isEmpty() ? 0 : 1;
        }
        EXPECT_EQ(result.restored.size() + files,
                  static_cast<std::size_t>(
                      readJson(QDir(dir).filePath(QLatin1String(kbxops::kManifestName)))
                          .value(QStringLiteral("files"))
                          .toObject()
                          .size()));
    }
    EXPECT_GT(outcomes[0], 40);
    EXPECT_GT(outcomes[1], 40);
    EXPECT_EQ(outcomes[2], 2); // the last item's end handshake, the free memory after it
    restore();
    EXPECT_EQ(snapshotMemory(*m_kb), a);
    EXPECT_EQ(notesBesidesAbandonment(), std::vector<std::string>());
}

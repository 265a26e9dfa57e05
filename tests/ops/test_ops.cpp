// The use cases against the virtual keyboard through the real ports and event loop: what each
// operation leaves in the keyboard, in the folder and on the progress observer.

#include "ops/backup.h"
#include "ops/batch.h"
#include "ops/compare.h"
#include "ops/datafile.h"
#include "ops/keyboard.h"
#include "ops/manifest.h"
#include "ops/restoreplan.h"
#include "ops/slotref.h"

#include "kbxfilestream.h"
#include "mididevices.h"
#include "settings.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kbxops;
using Bytes = std::vector<std::uint8_t>;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The payload of a data file, as the keyboard stores the item.
Bytes payloadOf(const QString& path) {
    const QByteArray all = readAll(path);
    return Bytes(all.begin() + 64, all.end());
}

// A tone file: 64-byte header (signature, model 0x1101, kind 2, size 60) and the name at 36.
QByteArray toneFile(const QByteArray& name, int size = 60) {
    QByteArray header(64, '\0');
    header.replace(0, 16, QByteArray("VELMO Music Lib\0", 16));
    header[16] = 0;
    header[17] = 0;
    header[18] = 0;
    header[19] = static_cast<char>(size);
    header[20] = 0x11;
    header[21] = 0x01;
    header[22] = 0;
    header[23] = 2;
    QByteArray payload(size, 'x');
    if (size >= 44)
        payload.replace(36, 8, name.leftJustified(8, ' '));
    return header + payload;
}

class Recorder : public Progress {
public:
    void begin(const Step& step) override { steps.push_back(step); }
    void advanceTo(std::uint32_t done) override { positions.push_back(done); }
    void end() override { ++ends; }
    std::vector<Step> steps;
    std::vector<std::uint32_t> positions;
    int ends = 0;
};

class OpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->clearLog();
        // The streams work on the slots of the process-wide drive.
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        m_devices = {registry.virtualInputNumber(), registry.virtualOutputNumber()};
    }

    Keyboard keyboard(Progress* progress = nullptr) {
        return Keyboard(*m_drive, m_devices, progress);
    }
    ZxData& slot(const QString& text) {
        const std::vector<SlotEntry> entries = slotsOf(m_drive->root());
        const SlotEntry* entry = findSlot(entries, text);
        EXPECT_NE(entry, nullptr) << text.toStdString();
        return *entry->node;
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    VirtualZr7316* m_keyboard = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    Devices m_devices;
};

} // namespace

// ---- data files ------------------------------------------------------------------------------

TEST(DataFileOps, typedNamesKeepKatakanaAndMapEverythingElseCharacterByCharacter) {
    EXPECT_EQ(storableName(QString::fromUtf8("\xEF\xBD\xB1\xEF\xBD\xB2KANA")), "\xB1\xB2KANA");
    EXPECT_EQ(storableName(QStringLiteral("New~One")), "New_One");
    EXPECT_EQ(storableName(QString::fromUtf8("Pi~n\xC3\xB6")), "Pi_n_");
    EXPECT_EQ(storableName(QStringLiteral("a\tb")), "a_b");
}

TEST(DataFileOps, renameKeepsAnUneditedShownNameAndItsBytes) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("t.kbx"));
    const QByteArray stored = toneFile("A~\xB1Z");
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(stored);
    }
    auto item = readDataFile(file);
    // What the window shows for "A~", 0xB1, "Z": the tilde and the half-width katakana.
    const QString shown = QString::fromUtf8("A~\xEF\xBD\xB1Z    ");
    EXPECT_EQ(renameDataFile(file, *item, shown), RenameResult::Unchanged);
    EXPECT_EQ(readAll(file), stored);

    EXPECT_EQ(renameDataFile(file, *item, QStringLiteral("Fresh~")), RenameResult::Renamed);
    EXPECT_EQ(item->name(), "Fresh_  ");
    EXPECT_EQ(readAll(file), toneFile("Fresh_"));
}

TEST(DataFileOps, renameOfAnItemTooShortForItsNameFailsAndChangesNothing) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("short.kbx"));
    const QByteArray stored = toneFile("", 38); // the name field would end past the data
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(stored);
    }
    auto item = readDataFile(file);
    const std::string before = item->name();
    EXPECT_THROW(renameDataFile(file, *item, QStringLiteral("Longname")), std::runtime_error);
    EXPECT_EQ(item->name(), before);
    EXPECT_EQ(readAll(file), stored);
}

TEST(DataFileOps, takenNamesNumberRepeatsWithoutRegardToCase) {
    TakenNames taken;
    EXPECT_EQ(taken.claim(QStringLiteral("TON_Piano   .kbx")), QStringLiteral("TON_Piano   .kbx"));
    EXPECT_EQ(taken.claim(QStringLiteral("TON_PIANO   .kbx")),
              QStringLiteral("TON_PIANO    (2).kbx"));
    EXPECT_EQ(taken.claim(QStringLiteral("TON_Piano   .kbx")),
              QStringLiteral("TON_Piano    (3).kbx"));
}

TEST(DataFileOps, storedDevicesComeFromTheSettingsWithTheirChecks) {
    QTemporaryDir dir;
    const QString store = dir.filePath(QStringLiteral("KbxMan.ini"));
    KbxSettings::setDefaultStore(QSettings::IniFormat, store);
    EXPECT_EQ(storedDevices().input, 0); // nothing stored yet: the first start's devices

    {
        QSettings settings(store, QSettings::IniFormat);
        settings.setValue(QStringLiteral("MIDI/InputDevice"), 2);
        settings.setValue(QStringLiteral("MIDI/OutputDevice"), 3);
    }
    EXPECT_EQ(storedDevices().input, 2);
    EXPECT_EQ(storedDevices().output, 3);

    {
        QSettings settings(store, QSettings::IniFormat);
        settings.setValue(QStringLiteral("MIDI/OutputDevice"), QStringLiteral("three"));
    }
    try {
        storedDevices();
        ADD_FAILURE() << "a malformed device number was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("MIDI/OutputDevice"), std::string::npos)
            << error.what();
    }
    KbxSettings::setDefaultStore(QSettings::IniFormat, QString());
}

// ---- the keyboard ----------------------------------------------------------------------------

TEST_F(OpsTest, listReportsOneStepOverTheDrivesTotal) {
    Recorder progress;
    keyboard(&progress).list();
    ASSERT_EQ(progress.steps.size(), 1u);
    EXPECT_EQ(progress.steps[0].kind, Step::List);
    EXPECT_EQ(progress.steps[0].total, 143u);
    ASSERT_FALSE(progress.positions.empty());
    EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
    EXPECT_EQ(progress.positions.back(), 143u);
    EXPECT_EQ(progress.ends, 1);
}

TEST_F(OpsTest, importWritesTheSlotsBytesUnderItsKindAndNameAndReportsTheBytes) {
    Keyboard kbd = keyboard();
    kbd.list();
    Recorder progress;
    const ImportedFile file = Keyboard(*m_drive, m_devices, &progress)
                                  .importSlot(slot(QStringLiteral("song:0")), m_dir.path());
    EXPECT_TRUE(file.fileName.startsWith(QStringLiteral("SNG_")));
    EXPECT_EQ(payloadOf(file.path), m_keyboard->itemBytes(10, 0));
    ASSERT_EQ(progress.steps.size(), 1u);
    EXPECT_EQ(progress.steps[0].kind, Step::Import);
    EXPECT_EQ(progress.steps[0].total, file.size);
    EXPECT_EQ(progress.positions.back(), file.size);
}

TEST_F(OpsTest, aFailedImportLeavesTheEarlierFileWholeAndEndsItsStep) {
    Keyboard kbd = keyboard();
    kbd.list();
    const ImportedFile first = kbd.importSlot(slot(QStringLiteral("tone:0")), m_dir.path());
    const QByteArray before = readAll(first.path);
    VirtualZr7316::Faults faults;
    faults.silentFrom = 0;
    m_keyboard->setFaults(faults);
    Recorder progress;
    EXPECT_THROW(Keyboard(*m_drive, m_devices, &progress)
                     .importSlot(slot(QStringLiteral("tone:0")), m_dir.path()),
                 ZxSysExException);
    EXPECT_EQ(readAll(first.path), before);
    EXPECT_EQ(progress.ends, static_cast<int>(progress.steps.size()));
}

// On the way from the keyboard the rhythm's block loses its zero word's three bytes; the checksum
// still holds, and without the word count the rest would be imported one word early. The import
// fails as for a bad checksum, and nothing is written.
TEST_F(OpsTest, aBlockThatLostAZeroWordOnTheWayFailsTheImportAndWritesNothing) {
    m_keyboard->setItemBytes(11, 0, 0, kbxtest::hex("01 10 42 65 61 74 20 20 20 20 00 00 7F 3C"));
    Keyboard kbd = keyboard();
    kbd.list();
    VirtualZr7316::Faults faults;
    faults.dropZeroWordBlock = 0;
    m_keyboard->setFaults(faults);
    m_keyboard->clearLog();
    const QString folder = path(QStringLiteral("imports"));
    ASSERT_TRUE(QDir().mkpath(folder));

    try {
        kbd.importSlot(slot(QStringLiteral("rhythm:0")), folder);
        ADD_FAILURE() << "the import succeeded";
    } catch (const ZxSysExException& e) {
        EXPECT_EQ(e.code(), ZxSysExException::BadChecksum);
    }

    ASSERT_EQ(m_keyboard->sent().size(), 1u);
    EXPECT_EQ(kbxtest::toHex(m_keyboard->sent()[0]),
              "F0 44 11 01 7F 4B 00 4F 64 00 00 00 07 10 02 00 65 04 01 74 42 01 20 40 00 20 40 "
              "00 3C 7E 01 52 F7");
    EXPECT_TRUE(
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    // The same import without the fault writes the rhythm as it is.
    m_keyboard->setFaults({});
    const ImportedFile file = kbd.importSlot(slot(QStringLiteral("rhythm:0")), folder);
    EXPECT_EQ(kbxtest::toHex(payloadOf(file.path)), "01 10 42 65 61 74 20 20 20 20 00 00 7F 3C");
}

TEST_F(OpsTest, sendFileReadsTheFileFirstAndRefusesOneThatIsNoDataFile) {
    Keyboard kbd = keyboard();
    kbd.list();
    const QString junk = path(QStringLiteral("junk.kbx"));
    {
        QFile out(junk);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(100, 'x'));
    }
    m_keyboard->clearLog();
    EXPECT_THROW(kbd.sendFile(junk, slot(QStringLiteral("tone:1"))), KbxStreamException);
    EXPECT_TRUE(m_keyboard->received().empty()) << "the keyboard was asked before the file";

    const QString tone = path(QStringLiteral("tone.kbx"));
    {
        QFile out(tone);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(toneFile("Sent"));
    }
    const auto item = kbd.sendFile(tone, slot(QStringLiteral("tone:1")));
    EXPECT_EQ(m_keyboard->itemBytes(2, 1), payloadOf(tone));
    EXPECT_EQ(slot(QStringLiteral("tone:1")).name(), "Sent    ");
    EXPECT_EQ(item->number(), 1);
}

TEST_F(OpsTest, backupThenRestoreIntoAWipedKeyboardGivesBackEveryItemByteForByte) {
    std::map<QString, Bytes> before;
    Keyboard kbd = keyboard();
    kbd.list();
    for (const SlotEntry& s : slotsOf(m_drive->root())) {
        const SlotAddress a = addressOf(*s.node);
        before[shortForm(a)] = m_keyboard->itemBytes(a.kind, a.number, a.bank);
    }

    int reported = 0;
    const BackupResult backup = backupKeyboard(kbd, path(QStringLiteral("backup")),
                                               [&reported](const BackupEntry&) { ++reported; });
    EXPECT_EQ(reported, static_cast<int>(backup.files.size()));
    EXPECT_TRUE(QFileInfo::exists(backup.manifest));

    m_keyboard->wipe();
    const RestoreResult restored = restoreBackup(kbd, path(QStringLiteral("backup")), MsgStr(1033));
    EXPECT_TRUE(restored.failed.empty());
    EXPECT_EQ(restored.restored.size(), backup.files.size());
    for (const SlotEntry& s : slotsOf(m_drive->root())) {
        const SlotAddress a = addressOf(*s.node);
        EXPECT_EQ(m_keyboard->itemBytes(a.kind, a.number, a.bank), before[shortForm(a)])
            << shortForm(a).toStdString();
    }
}

// A file changed after the backup (its SHA-256 no longer the manifest's) is not the item the
// backup took: the restore reports it and sends the others, as the window's preview leaves it out.
TEST_F(OpsTest, aBackupFileChangedSinceItsManifestIsReportedAndNotSent) {
    Keyboard kbd = keyboard();
    kbd.list();
    const BackupResult backup = backupKeyboard(kbd, path(QStringLiteral("backup")));
    ASSERT_FALSE(backup.files.empty());
    const QString changed = backup.files.front().file.fileName;
    const QString changedPath = QDir(path(QStringLiteral("backup"))).filePath(changed);
    std::unique_ptr<ZxDataFile> item = readDataFile(changedPath);
    item->setItemName("Changed ");
    writeDataFile(changedPath, *item);

    m_keyboard->wipe();
    const RestoreResult restored = restoreBackup(kbd, path(QStringLiteral("backup")), MsgStr(1033));
    ASSERT_EQ(restored.failed.size(), 1u);
    EXPECT_EQ(restored.failed.front().file, changed);
    EXPECT_NE(restored.failed.front().error.message.find("SHA-256"), std::string::npos);
    EXPECT_EQ(restored.restored.size(), backup.files.size() - 1);
}

TEST_F(OpsTest, restoreChecksTheManifestBeforeTheKeyboardIsTouched) {
    QDir().mkpath(path(QStringLiteral("bad")));
    {
        QFile out(path(QStringLiteral("bad/manifest.json")));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(R"({"model": "ZR-1", "files": {}})");
    }
    Keyboard kbd = keyboard();
    EXPECT_THROW(restoreBackup(kbd, path(QStringLiteral("bad")), MsgStr(1033)), std::runtime_error);
    EXPECT_THROW(restoreBackup(kbd, path(QStringLiteral("none")), MsgStr(1033)),
                 std::runtime_error);
    EXPECT_TRUE(m_keyboard->received().empty());
}

TEST_F(OpsTest, importIntoAFolderThatCannotTakeAFileAsksTheKeyboardNothing) {
    Keyboard kbd = keyboard();
    kbd.list();
    m_keyboard->clearLog();
    // (Permissions do not stop root, who runs CI: a folder that is not there stands in.)
    try {
        kbd.importSlot(slot(QStringLiteral("song:0")), path(QStringLiteral("missing")));
        ADD_FAILURE() << "imported into a folder that is not there";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("missing"), std::string::npos) << error.what();
    }
    EXPECT_TRUE(m_keyboard->received().empty()) << m_keyboard->received().size();
}

TEST_F(OpsTest, anImportThatWouldReplaceOtherBytesMovesTheOldFileToTheTrash) {
    QTemporaryDir home;
    if (kbxtest::onWine()) {
        // Wine's shell file operation, which Qt's trash uses on Windows, is a stub.
        QFile probe(home.filePath(QStringLiteral("probe")));
        ASSERT_TRUE(probe.open(QIODevice::WriteOnly));
        probe.close();
        if (!QFile::moveToTrash(probe.fileName()))
            GTEST_SKIP() << "Wine cannot move a file to the recycle bin";
    }
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    Keyboard kbd = keyboard();
    kbd.list();
    const ImportedFile first = kbd.importSlot(slot(QStringLiteral("tone:2")), m_dir.path());
    EXPECT_TRUE(first.trashed.isEmpty());
    const QByteArray firstBytes = readAll(first.path);

    // The same item again: nothing to keep.
    EXPECT_TRUE(kbd.importSlot(slot(QStringLiteral("tone:2")), m_dir.path()).trashed.isEmpty());

    // Another item under the same name: the old file is kept in the trash, byte for byte.
    Bytes changed = m_keyboard->itemBytes(2, 2);
    changed[0] ^= 0x01;
    m_keyboard->setItemBytes(2, 2, 0, changed);
    const ImportedFile second = kbd.importSlot(slot(QStringLiteral("tone:2")), m_dir.path());
    EXPECT_EQ(second.fileName, first.fileName);
    ASSERT_FALSE(second.trashed.isEmpty());
    EXPECT_EQ(readAll(second.trashed), firstBytes);
    EXPECT_EQ(payloadOf(second.path), changed);
    qputenv("XDG_DATA_HOME", savedData);
}

// ---- comparing -------------------------------------------------------------------------------

TEST_F(OpsTest, twoBackupsCompareByNameSizeAndContentAndTheKeyboardByNameAndSize) {
    Keyboard kbd = keyboard();
    backupKeyboard(kbd, path(QStringLiteral("a")));
    // Same name and size, one byte of the data changed; a song deleted.
    Bytes tone = m_keyboard->itemBytes(2, 4);
    tone[10] ^= 0x01;
    m_keyboard->setItemBytes(2, 4, 0, tone);
    m_keyboard->setItemBytes(10, 0, 0, {});
    backupKeyboard(kbd, path(QStringLiteral("b")));

    QStringList skipped;
    const Side a = sideOfBackup(path(QStringLiteral("a")), &skipped);
    const Side b = sideOfBackup(path(QStringLiteral("b/manifest.json")), &skipped);
    EXPECT_TRUE(skipped.isEmpty()) << skipped.join(u'\n').toStdString();
    std::map<QString, QString> states;
    for (const SlotComparison& c : compareSides(a, b))
        states[c.slot] = stateWord(c.state);
    EXPECT_EQ(states[QStringLiteral("tone:4")], QStringLiteral("different"));
    EXPECT_EQ(states[QStringLiteral("song:0")], QStringLiteral("only-a"));
    EXPECT_EQ(states[QStringLiteral("tone:5")], QStringLiteral("equal"));
    EXPECT_EQ(states.count(QStringLiteral("song:1")), 0u) << "empty on both sides";

    // The keyboard has no bytes to compare: the changed tone matches b by name and size.
    const Side now = sideOfKeyboard(kbd);
    for (const SlotComparison& c : compareSides(b, now))
        EXPECT_EQ(c.state, SlotComparison::Equal) << c.slot.toStdString();
}

TEST_F(OpsTest, aManifestThatIsNotOneIsRefusedAndHostileEntriesAreSkipped) {
    QDir().mkpath(path(QStringLiteral("odd")));
    const auto write = [this](const QString& name, const QByteArray& bytes) {
        QFile out(path(name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    };
    write(QStringLiteral("odd/manifest.json"), "[1, 2, 3]");
    EXPECT_THROW(readManifest(path(QStringLiteral("odd"))), std::runtime_error);
    write(QStringLiteral("odd/manifest.json"), QByteArray(2 << 20, ' ') + "{\"files\": {}}");
    EXPECT_THROW(readManifest(path(QStringLiteral("odd"))), std::runtime_error);

    write(QStringLiteral("odd/manifest.json"),
          R"({"files": {"../outside.kbx": "tone:1", "x.kbx": "tone:99", "y.kbx": "sideways"}})");
#ifndef _WIN32
    // A link in the folder to a file outside it is as far away as "../outside.kbx".
    write(QStringLiteral("outside.kbx"), QByteArray());
    ASSERT_TRUE(
        QFile::link(path(QStringLiteral("outside.kbx")), path(QStringLiteral("odd/link.kbx"))));
    write(QStringLiteral("odd/manifest.json"),
          R"({"files": {"../outside.kbx": "tone:1", "x.kbx": "tone:99", "y.kbx": "sideways",)"
          R"( "link.kbx": "tone:2"}})");
#endif
    QStringList skipped;
    const Side side = sideOfBackup(path(QStringLiteral("odd")), &skipped);
    EXPECT_TRUE(side.items.empty());
#ifndef _WIN32
    EXPECT_EQ(skipped.size(), 4);
    EXPECT_TRUE(
        skipped.contains(QStringLiteral("link.kbx -> tone:2: not a file of the backup folder")))
        << skipped.join(u'\n').toStdString();
#else
    EXPECT_EQ(skipped.size(), 3);
#endif
}

TEST_F(OpsTest, aRestorePlanListsExactlyTheSlotsThatWouldChangeAndSendsNothing) {
    Keyboard kbd = keyboard();
    const BackupResult backup = backupKeyboard(kbd, path(QStringLiteral("plan")));
    const Manifest manifest = readManifest(path(QStringLiteral("plan")));
    EXPECT_EQ(manifest.sha256.size(), backup.files.size());
    EXPECT_FALSE(manifest.created.isEmpty());
    EXPECT_TRUE(manifest.program.startsWith(QStringLiteral("kbxman ")));

    m_keyboard->setItemBytes(10, 0, 0, {});              // song 0 gone
    m_keyboard->setItemBytes(11, 3, 0, Bytes(40, 0x20)); // rhythm 3 the backup lacks
    const bool rhythm3WasEmpty = manifest.empty.contains(QStringLiteral("rhythm:3"));
    m_keyboard->clearLog();
    const RestorePlan plan = planRestore(kbd, path(QStringLiteral("plan")));
    std::map<QString, const PlannedChange*> bySlot;
    for (const PlannedChange& c : plan.changes)
        bySlot[c.slot] = &c;
    ASSERT_TRUE(bySlot.count(QStringLiteral("song:0")));
    EXPECT_FALSE(bySlot[QStringLiteral("song:0")]->now);
    EXPECT_EQ(bySlot[QStringLiteral("song:0")]->backup->name, "Minuet  ");
    if (rhythm3WasEmpty) {
        ASSERT_TRUE(bySlot.count(QStringLiteral("rhythm:3")));
        EXPECT_FALSE(bySlot[QStringLiteral("rhythm:3")]->backup) << "a deletion";
    }
    EXPECT_EQ(plan.unchanged + static_cast<int>(plan.changes.size()), 42);
    for (const Bytes& m : m_keyboard->received())
        EXPECT_NE(m.size() > 5 ? m[5] >> 4 : 0, 4) << "a data block was sent";

    // "Send them anyway": every slot the backup fills is in the plan.
    const RestorePlan all = planRestore(kbd, path(QStringLiteral("plan")), true);
    EXPECT_GE(all.changes.size(), backup.files.size());
}

TEST_F(OpsTest, severalFilesGoIntoFreeSlotsOfTheirKindOrOnFromTheSelectedSlot) {
    // The factory keyboard: song 0 and rhythm 0 hold items, the other songs and rhythms are empty.
    Keyboard kbd = keyboard();
    kbd.list();
    const std::vector<SlotEntry> layout = slotsOf(m_drive->root());
    const auto at = [](const char* text) {
        return parseShortForm(QString::fromLatin1(text)).address;
    };
    const std::uint16_t tone = ZxKind::Tone, song = ZxKind::Song, rhythm = ZxKind::Rhythm;
    struct Case {
        std::vector<std::uint16_t> kinds;
        std::optional<SlotAddress> start;
        QStringList expected; // short forms, "-" for none
    };
    const std::vector<Case> cases = {
        {{rhythm, rhythm, song}, std::nullopt, {"rhythm:1", "rhythm:2", "song:1"}},
        {{rhythm, rhythm}, at("rhythm:3"), {"rhythm:3", "rhythm:1"}},
        {{song, song}, std::nullopt, {"song:1", "-"}},
        {{tone, tone, tone}, at("tone:8"), {"tone:8", "tone:9", "-"}},
        {{tone}, at("song:1"), {"-"}},
    };
    for (const Case& c : cases) {
        QStringList placed;
        for (const std::optional<SlotAddress>& a : placeFiles(layout, c.kinds, c.start))
            placed << (a ? shortForm(*a) : QStringLiteral("-"));
        EXPECT_EQ(placed, c.expected) << placed.join(' ').toStdString();
    }
}

TEST_F(OpsTest, aRestorePlanCountsUnchangedSkippedAndAbsentSlotsApart) {
    Keyboard kbd = keyboard();
    const QString dir = path(QStringLiteral("counts"));
    const BackupResult backup = backupKeyboard(kbd, dir);
    ASSERT_GE(backup.files.size(), 2u);
    // One file the manifest no longer names (absent), one changed since (skipped).
    QFile manifestFile(QDir(dir).filePath(QString::fromLatin1(kManifestName)));
    ASSERT_TRUE(manifestFile.open(QIODevice::ReadOnly));
    QJsonObject manifest = QJsonDocument::fromJson(manifestFile.readAll()).object();
    manifestFile.close();
    QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
    files.remove(backup.files[0].file.fileName);
    manifest.insert(QStringLiteral("files"), files);
    ASSERT_TRUE(manifestFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    manifestFile.write(QJsonDocument(manifest).toJson());
    manifestFile.close();
    QFile changed(backup.files[1].file.path);
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    changed.seek(changed.size() - 1);
    changed.write("!");
    changed.close();

    const RestorePlan plan = planRestore(kbd, dir);
    EXPECT_TRUE(plan.changes.empty());
    EXPECT_EQ(plan.absent, 1);
    EXPECT_EQ(plan.skipped.size(), 1);
    EXPECT_EQ(plan.unchanged, 42 - 2);
}

TEST_F(OpsTest, aBackupFileChangedAfterTheBackupIsNotTaken) {
    Keyboard kbd = keyboard();
    const BackupResult backup = backupKeyboard(kbd, path(QStringLiteral("sums")));
    const QString victim = backup.files.front().file.path;
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(file.size() - 1);
    file.write("!");
    file.close();
    QStringList skipped;
    const Side side = sideOfBackup(path(QStringLiteral("sums")), &skipped);
    EXPECT_EQ(side.items.size() + 1, backup.files.size());
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_TRUE(skipped.front().contains(QStringLiteral("SHA-256")));
}

// The history store on its own: kept files named by their content and stored once, rows that are
// written pending and settled, undo's choice, and the database after writers were killed at
// random moments or wrote at the same time.
#include "ops/history.h"

#include "kbxfile.h"
#include "testutil.h"
#include "zxdata.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifndef HISTORY_WRITER_PATH
#error "HISTORY_WRITER_PATH must name the history_writer helper"
#endif

using namespace kbxops;

namespace {

std::unique_ptr<ZxDataFile> song(const std::string& name, std::uint16_t fill,
                                 std::uint32_t size = 300) {
    auto item = std::make_unique<ZxDataFile>(ZxKind::Song);
    item->payload().assign((size + 1) / 2, fill);
    item->setSize(size);
    item->setItemName(name);
    return item;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

HistoryEntry sendEntry(const ItemRecord& before, const ZxDataFile& after) {
    HistoryEntry entry;
    entry.operation = Operation::Send;
    entry.slot = QStringLiteral("song:1");
    entry.kind = ZxKind::Song;
    entry.before = before;
    entry.after = History::describe(after);
    entry.inputDevice = QStringLiteral("in");
    entry.outputDevice = QStringLiteral("out");
    return entry;
}

// What a database left behind by anyone must satisfy: SQLite finds it whole, and every row's
// file is there and holds what its name says. Returns the number of rows.
int expectIntact(const QString& folder) {
    static int serial = 0;
    const QString name = QStringLiteral("check-%1").arg(++serial);
    int rows = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QDir(folder).filePath(QStringLiteral("history.sqlite")));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=15000"));
        EXPECT_TRUE(db.open());
        QSqlQuery check(db);
        EXPECT_TRUE(check.exec(QStringLiteral("PRAGMA integrity_check")));
        EXPECT_TRUE(check.next());
        EXPECT_EQ(check.value(0).toString(), QStringLiteral("ok"));
        check.finish();
        QSqlQuery hasTable(db);
        hasTable.exec(QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'entries'"));
        const bool table = hasTable.next() && hasTable.value(0).toInt() == 1;
        hasTable.finish();
        if (table) {
            QSqlQuery q(db);
            EXPECT_TRUE(
                q.exec(QStringLiteral("SELECT id, before_file, before_sha256 FROM entries")));
            while (q.next()) {
                ++rows;
                const QString file = q.value(1).toString();
                if (file.isEmpty())
                    continue;
                const QByteArray bytes = readAll(QDir(folder).filePath(file));
                EXPECT_FALSE(bytes.isEmpty()) << "row " << q.value(0).toLongLong()
                                              << " without its file " << file.toStdString();
                EXPECT_EQ(sha256(bytes), q.value(2).toString()) << file.toStdString();
                EXPECT_EQ(file, q.value(2).toString() + QStringLiteral(".kbx"));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

} // namespace

TEST(HistoryStore, keepsEachContentOnceAsTheDataFileAnImportWrites) {
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("h")));
    const auto item = song("Minuet", 0x4142);
    const ItemRecord first = history.keep(*item);
    const ItemRecord again = history.keep(*song("Minuet", 0x4142));
    EXPECT_EQ(first.sha256, again.sha256);
    EXPECT_EQ(first.file, again.file);
    EXPECT_EQ(QDir(history.folder()).entryList({QStringLiteral("*.kbx")}).size(), 1);

    // The file: the header an import writes (kind, size), then the payload; named by its hash.
    const QByteArray bytes = readAll(first.file);
    ZxDataFile imported(ZxKind::Undetermined);
    imported.payload() = item->payload();
    imported.copyAttributes(*item);
    const std::vector<std::uint8_t> image = kbxfile::serialize(imported);
    EXPECT_EQ(bytes, QByteArray(reinterpret_cast<const char*>(image.data()),
                                static_cast<qsizetype>(image.size())));
    EXPECT_EQ(QFileInfo(first.file).fileName(), sha256(bytes) + QStringLiteral(".kbx"));
    EXPECT_EQ(first.name, "Minuet  ");
    EXPECT_EQ(first.size, 300u);
    EXPECT_EQ(History::describe(*item).sha256, first.sha256);

    const auto loaded = history.load(first);
    EXPECT_EQ(loaded->payload(), item->payload());
    EXPECT_EQ(loaded->name(), "Minuet  ");
    EXPECT_EQ(loaded->kind(), ZxKind::Song);
}

TEST(HistoryStore, aKeptFileThatChangedIsRefusedAndTheNextKeepMendsIt) {
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("h")));
    const auto item = song("Minuet", 7);
    const ItemRecord record = history.keep(*item);
    {
        QFile file(record.file);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(100);
        file.write("X");
    }
    EXPECT_THROW(history.load(record), std::runtime_error);
    history.keep(*item);
    EXPECT_EQ(history.load(record)->payload(), item->payload());
}

TEST(HistoryStore, rowsArePendingUntilSettledAndUndoSkipsUndosAndUndone) {
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("h")));
    const auto a = song("A", 1);
    const auto b = song("B", 2);
    const ItemRecord keptA = history.keep(*a);

    const qint64 first = history.begin(sendEntry(keptA, *b));
    // Pending already counts: a crash before it is settled must leave the item findable.
    ASSERT_EQ(history.entries().size(), 1u);
    EXPECT_EQ(history.newestUndoable()->id, first);
    history.finish(first);

    const qint64 dropped = history.begin(sendEntry(keptA, *b));
    history.discard(dropped);
    EXPECT_FALSE(history.entry(dropped));
    EXPECT_TRUE(QFileInfo::exists(keptA.file)) << "a discarded row takes no file with it";

    HistoryEntry emptied = sendEntry(history.keep(*b), *a);
    const qint64 second = history.begin(emptied);
    history.finish(second, History::Outcome::SlotEmptied);
    EXPECT_FALSE(history.entry(second)->after) << "the slot was left empty";

    HistoryEntry undo = sendEntry(keptA, *b);
    undo.operation = Operation::Undo;
    const qint64 undoId = history.begin(undo, second);
    EXPECT_FALSE(history.entry(second)->undone) << "marked only when the undo is done";
    history.finish(undoId);
    EXPECT_TRUE(history.entry(second)->undone);
    EXPECT_EQ(history.newestUndoable()->id, first) << "the undo itself is skipped";

    const std::vector<HistoryEntry> entries = history.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].id, undoId); // newest first
    EXPECT_EQ(entries[2].id, first);
    EXPECT_EQ(entries[2].slot, QStringLiteral("song:1"));
    EXPECT_EQ(entries[2].before->file, keptA.file);
    EXPECT_EQ(entries[2].after->sha256, History::describe(*b).sha256);
    EXPECT_TRUE(entries[2].after->file.isEmpty());
    EXPECT_EQ(entries[2].inputDevice, QStringLiteral("in"));
    EXPECT_EQ(entries[2].time.timeSpec(), Qt::UTC);

    history.markUndone(first);
    EXPECT_FALSE(history.newestUndoable());
    expectIntact(history.folder());
}

TEST(HistoryStore, aHistoryFromBeforeGroupsIsOpenedWithItsEntriesAndTakesGroups) {
    // The table as the first version wrote it: no uncopied, no group.
    QTemporaryDir dir;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "old");
        db.setDatabaseName(QDir(dir.path()).filePath(QStringLiteral("history.sqlite")));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "CREATE TABLE entries (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL,"
            " operation TEXT NOT NULL, slot TEXT NOT NULL, kind INTEGER NOT NULL,"
            " before_name BLOB, before_size INTEGER, before_sha256 TEXT, before_file TEXT,"
            " after_name BLOB, after_size INTEGER, after_sha256 TEXT, input_device TEXT,"
            " output_device TEXT, undone INTEGER NOT NULL DEFAULT 0, undoes INTEGER,"
            " pending INTEGER NOT NULL DEFAULT 0)")));
        ASSERT_TRUE(q.exec(QStringLiteral(
            "INSERT INTO entries (time, operation, slot, kind, after_name, after_size,"
            " after_sha256) VALUES ('2026-01-02T03:04:05Z', 'send', 'song:1', 10, 'Old     ',"
            " 300, 'ab')")));
        db.close();
    }
    QSqlDatabase::removeDatabase("old");

    History history(dir.path());
    const std::vector<HistoryEntry> old = history.entries();
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].slot, QStringLiteral("song:1"));
    EXPECT_EQ(old[0].group, 0);
    EXPECT_FALSE(old[0].uncopied);
    ASSERT_TRUE(history.newestUndoable());
    EXPECT_EQ(history.newestUndoable()->id, old[0].id);

    // New entries of one group come back together, counted.
    const qint64 group = history.beginGroup(Operation::Restore);
    HistoryEntry entry = sendEntry(history.keep(*song("Kept", 1)), *song("New", 2));
    entry.operation = Operation::Restore;
    entry.group = group;
    history.begin(entry);
    history.begin(entry);
    const std::vector<HistoryEntry> members = history.groupEntries(group);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].groupSize, 2);
    EXPECT_EQ(history.entries().size(), 3u);
}

TEST(HistoryStore, aRowNeverNamesAFileThisHistoryDoesNotKeep) {
    QTemporaryDir dir;
    History history(dir.filePath(QStringLiteral("h")));
    History other(dir.filePath(QStringLiteral("other")));
    const auto a = song("A", 1);
    EXPECT_THROW(history.begin(sendEntry(other.keep(*a), *a)), std::runtime_error);
    EXPECT_TRUE(history.entries().empty());
}

TEST(HistoryStore, aFolderThatCannotBeMadeFailsTheFirstUseNotTheConstruction) {
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    History history(dir.filePath(QStringLiteral("file/history")));
    EXPECT_THROW(history.entries(), std::runtime_error);
    EXPECT_THROW(history.keep(*song("A", 1)), std::runtime_error);
}

TEST(HistoryStore, theFolderComesFromTheEnvironmentOrIsTemporaryUnderTheTestRunner) {
    ASSERT_EQ(qgetenv("KBX_TEST"), "1");
    qunsetenv("KBX_HISTORY_DIR");
    const QString temporary = History::defaultFolder();
    EXPECT_FALSE(temporary.contains(QStringLiteral("Tovanel"))) << temporary.toStdString();
    EXPECT_EQ(History::defaultFolder(), temporary);
    qputenv("KBX_HISTORY_DIR", "/somewhere/else");
    EXPECT_EQ(History::defaultFolder(), QStringLiteral("/somewhere/else"));
    qunsetenv("KBX_HISTORY_DIR");
}

TEST(HistoryStore, twoConnectionsOfOneProcessShareTheDatabase) {
    QTemporaryDir dir;
    History one(dir.filePath(QStringLiteral("h")));
    History two(dir.filePath(QStringLiteral("h")));
    const auto a = song("A", 1);
    one.finish(one.begin(sendEntry(one.keep(*a), *a)));
    two.finish(two.begin(sendEntry(two.keep(*a), *a)));
    EXPECT_EQ(one.entries().size(), 2u);
    EXPECT_EQ(two.entries().size(), 2u);
}

// ---- other processes ----------------------------------------------------------------------

TEST(HistoryCrash, aWriterKilledAtAnyMomentLeavesAWholeDatabaseAndNoRowWithoutItsFile) {
    QTemporaryDir dir;
    QRandomGenerator random(20261208);
    // How long a writer takes to start and write one entry here (milliseconds natively, a good
    // part of a second under Wine): the kills are spread over that and a little more.
    QElapsedTimer clock;
    clock.start();
    QProcess once;
    once.start(QStringLiteral(HISTORY_WRITER_PATH),
               {dir.filePath(QStringLiteral("once")), QStringLiteral("1"), QStringLiteral("0")});
    ASSERT_TRUE(once.waitForFinished(30000));
    ASSERT_EQ(once.exitCode(), 0) << once.readAllStandardError().toStdString();
    const int window = static_cast<int>(clock.elapsed()) + 60;
    // Under Wine each start costs most of a second: fewer kills there.
    const int kills = kbxtest::onWine() ? 60 : 240;
    int rounds = 0;
    int rowsSeen = 0;
    for (int round = 0; round < kills; ++round) {
        // A fresh folder now and then: kills while the database is being created count too.
        const QString folder = dir.filePath(QStringLiteral("h%1").arg(round * 4 / kills));
        QProcess writer;
        writer.start(QStringLiteral(HISTORY_WRITER_PATH),
                     {folder, QStringLiteral("0"), QString::number(round)});
        ASSERT_TRUE(writer.waitForStarted(10000));
        // The kills fall before, during and after the start-up.
        writer.waitForFinished(static_cast<int>(random.bounded(1, window)));
        ASSERT_EQ(writer.state(), QProcess::Running) << writer.readAllStandardError().toStdString();
        writer.kill(); // SIGKILL: no clean-up of any kind
        ASSERT_TRUE(writer.waitForFinished(10000));
        if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("history.sqlite"))))
            rowsSeen = std::max(rowsSeen, expectIntact(folder));
        if (::testing::Test::HasFailure())
            break;
        ++rounds;
    }
    EXPECT_EQ(rounds, kills);
    EXPECT_GT(rowsSeen, 0) << "no writer ever got as far as a row";
    // And a history left so is still usable.
    History history(dir.filePath(QStringLiteral("h3")));
    const auto a = song("After", 3);
    history.finish(history.begin(sendEntry(history.keep(*a), *a)));
}

TEST(HistoryConcurrency, twoProcessesAndThisOneWriteAtTheSameTimeAndEveryRowArrives) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("h"));
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int w = 0; w < 2; ++w) {
        auto writer = std::make_unique<QProcess>();
        writer->start(QStringLiteral(HISTORY_WRITER_PATH),
                      {folder, QStringLiteral("150"), QString::number(100 + w)});
        ASSERT_TRUE(writer->waitForStarted(10000));
        writers.push_back(std::move(writer));
    }
    History history(folder);
    int mine = 0;
    for (int n = 0; n < 100; ++n) {
        const auto item = song("Here", static_cast<std::uint16_t>(n % 5));
        history.finish(history.begin(sendEntry(history.keep(*item), *item)));
        ++mine;
    }
    for (auto& writer : writers) {
        ASSERT_TRUE(writer->waitForFinished(120000));
        EXPECT_EQ(writer->exitCode(), 0) << writer->readAllStandardError().toStdString();
    }
    // Each writer settles about three rows in four and discards the rest; the rows that stay
    // are at least this process's own and at most all that were written.
    const int rows = expectIntact(folder);
    EXPECT_GE(rows, mine);
    EXPECT_LE(rows, mine + 300);
    int others = 0;
    for (const HistoryEntry& e : history.entries())
        others += e.inputDevice == QStringLiteral("writer in");
    EXPECT_GT(others, 150) << "the writers' rows did not arrive";
}

#include "history.h"

#include "kbxfile.h"
#include "msgstr.h"
#include "wholefile.h"
#include "zxdata.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace kbxops {

namespace {

const QString kDatabaseName = QStringLiteral("history.sqlite");
// Long enough for the other program's longest write (one row) on a slow disk; a busy database
// still fails the change before anything in the keyboard has changed.
constexpr int kBusyTimeoutMs = 15000;

// The reason (often SQLite's own English text) goes on a line of its own, below the sentence.
std::runtime_error historyError(const QString& folder, const QString& why) {
    return std::runtime_error(
        (localText("The history in \"%1\" cannot be used.", "履歴「%1」を使用できません。")
             .arg(QDir::toNativeSeparators(folder)) +
         QLatin1Char('\n') + why)
            .toStdString());
}

// kbxman's application-data folder whatever the running program calls itself (kbxtool, a
// test); the names are put back at once.
QString kbxmanDataFolder() {
    const QString org = QCoreApplication::organizationName();
    const QString app = QCoreApplication::applicationName();
    const bool swap = org != QLatin1String("Tovanel") || app != QLatin1String("KbxMan");
    if (swap) {
        QCoreApplication::setOrganizationName(QStringLiteral("Tovanel"));
        QCoreApplication::setApplicationName(QStringLiteral("KbxMan"));
    }
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (swap) {
        QCoreApplication::setOrganizationName(org);
        QCoreApplication::setApplicationName(app);
    }
    return dir;
}

// The item as an import of it would be: the header holds the kind, the size and (for a
// registration) the name, nothing of where the item came from, so the same content always makes
// the same file and the same hash; the name is the 8 characters the data holds.
std::unique_ptr<ZxDataFile> asImported(const ZxDataFile& item) {
    auto copy = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
    copy->payload() = item.payload();
    copy->payload().resize((item.size() + 1) / 2, 0);
    copy->copyAttributes(item);
    return copy;
}

QString sha256Of(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray toByteArray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

bool isKeptFileName(const QString& name) {
    static const QString digits = QStringLiteral("0123456789abcdef");
    if (name.size() != 64 + 4 || !name.endsWith(QStringLiteral(".kbx")))
        return false;
    for (int i = 0; i < 64; ++i)
        if (!digits.contains(name[i]))
            return false;
    return true;
}

QVariant nullable(const std::optional<ItemRecord>& item, QVariant (*field)(const ItemRecord&)) {
    return item ? field(*item) : QVariant();
}

} // namespace

QString operationName(Operation operation) {
    switch (operation) {
    case Operation::Send:
        return QStringLiteral("send");
    case Operation::Delete:
        return QStringLiteral("delete");
    case Operation::Restore:
        return QStringLiteral("restore");
    case Operation::Undo:
        return QStringLiteral("undo");
    }
    return QString();
}

namespace {

std::optional<Operation> operationFromName(const QString& name) {
    for (Operation o : {Operation::Send, Operation::Delete, Operation::Restore, Operation::Undo})
        if (operationName(o) == name)
            return o;
    return std::nullopt;
}

} // namespace

// One connection of its own per History: QSqlDatabase connections are named per process, and
// two History objects (a test's, the window's) must not share one.
class History::Database {
public:
    explicit Database(const QString& folder)
        : m_folder(folder) {
        static std::atomic<int> serial{0};
        m_connection = QStringLiteral("kbx-history-%1").arg(++serial);
        if (!QDir().mkpath(folder))
            throw historyError(
                folder, localText("the folder cannot be created", "フォルダーを作成できません"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            db.setDatabaseName(QDir(folder).filePath(kDatabaseName));
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        }
        try {
            prepare();
        } catch (...) {
            // The next use tries again with a connection of its own.
            close();
            throw;
        }
    }

    ~Database() { close(); }

    void close() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }

    void prepare() {
        QSqlDatabase db = this->db();
        if (!db.open())
            fail(db.lastError().text());
        // WAL: a reader never waits for the other program's write, and a write cut short by a
        // crash is simply not there at the next open. FULL: a row that was reported written
        // survives a power cut too.
        // A database that another program is making at this moment is locked while it switches
        // to WAL, and SQLite does not wait for that lock: asked again until the usual time-out.
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            QSqlQuery mode(db);
            if (mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && mode.next()) {
                if (mode.value(0).toString().toLower() != u"wal")
                    fail(QStringLiteral("no WAL journal"));
                break; // the statement is finished as it goes: one still open would hold
                       // back every later COMMIT
            }
            const int code = mode.lastError().nativeErrorCode().toInt() & 0xff;
            const bool locked = code == 5 /* SQLITE_BUSY */ || code == 6 /* SQLITE_LOCKED */;
            if (!locked || waited.elapsed() >= kBusyTimeoutMs)
                fail(mode.lastError().text());
            QThread::msleep(10);
        }
        run(QStringLiteral("PRAGMA synchronous=FULL"));
        write([this] {
            run(QStringLiteral("CREATE TABLE IF NOT EXISTS entries ("
                               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " time TEXT NOT NULL,"
                               " operation TEXT NOT NULL,"
                               " slot TEXT NOT NULL,"
                               " kind INTEGER NOT NULL,"
                               " before_name BLOB, before_size INTEGER,"
                               " before_sha256 TEXT, before_file TEXT,"
                               " after_name BLOB, after_size INTEGER, after_sha256 TEXT,"
                               " input_device TEXT, output_device TEXT,"
                               " undone INTEGER NOT NULL DEFAULT 0,"
                               " undoes INTEGER,"
                               " pending INTEGER NOT NULL DEFAULT 0)"));
            // Columns added later, to a history from before as it is opened: its entries are
            // changes with copies, each of its own.
            QStringList present;
            QSqlQuery columns = run(QStringLiteral("PRAGMA table_info(entries)"));
            while (columns.next())
                present << columns.value(1).toString();
            columns.finish();
            if (!present.contains(QStringLiteral("uncopied")))
                run(QStringLiteral(
                    "ALTER TABLE entries ADD COLUMN uncopied INTEGER NOT NULL DEFAULT 0"));
            if (!present.contains(QStringLiteral("group_id")))
                run(QStringLiteral("ALTER TABLE entries ADD COLUMN group_id INTEGER"));
            run(QStringLiteral("CREATE TABLE IF NOT EXISTS groups ("
                               " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " time TEXT NOT NULL, operation TEXT NOT NULL)"));
        });
    }

    QSqlDatabase db() const { return QSqlDatabase::database(m_connection, false); }

    [[noreturn]] void fail(const QString& why) const { throw historyError(m_folder, why); }

    QSqlQuery run(const QString& sql, const QVariantList& values = {}) const {
        QSqlQuery query(db());
        if (!query.prepare(sql))
            fail(query.lastError().text());
        for (const QVariant& v : values)
            query.addBindValue(v);
        if (!query.exec())
            fail(query.lastError().text());
        return query;
    }

    // One transaction that takes the write lock at once: two programs that both read first and
    // then write could otherwise each wait for the other.
    template <class Body>
    void write(Body&& body) const {
        run(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            body();
            run(QStringLiteral("COMMIT"));
        } catch (...) {
            QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
    }

private:
    QString m_folder;
    QString m_connection;
};

History::History(const QString& folder)
    : m_folder(folder.isEmpty() ? defaultFolder() : folder) {}

History::~History() = default;

QString History::defaultFolder() {
    if (const QString dir = qEnvironmentVariable("KBX_HISTORY_DIR"); !dir.isEmpty())
        return dir;
    if (qgetenv("KBX_TEST") == "1") {
        // A test that forgot to choose a folder still writes here, never to the user's history.
        static QTemporaryDir folder;
        return folder.filePath(QStringLiteral("history"));
    }
    return QDir(kbxmanDataFolder()).filePath(QStringLiteral("history"));
}

QString History::databasePath() const {
    return QDir::toNativeSeparators(QDir(m_folder).absoluteFilePath(kDatabaseName));
}

History::Database& History::database() const {
    if (!m_database)
        m_database = std::make_unique<Database>(m_folder);
    return *m_database;
}

ItemRecord History::describe(const ZxDataFile& item) {
    const std::unique_ptr<ZxDataFile> imported = asImported(item);
    ItemRecord record;
    record.name = imported->name();
    record.size = imported->size();
    record.sha256 = sha256Of(toByteArray(kbxfile::serialize(*imported)));
    return record;
}

ItemRecord History::keep(const ZxDataFile& item) {
    const std::unique_ptr<ZxDataFile> imported = asImported(item);
    const QByteArray image = toByteArray(kbxfile::serialize(*imported));
    ItemRecord record;
    record.name = imported->name();
    record.size = imported->size();
    record.sha256 = sha256Of(image);
    if (!QDir().mkpath(m_folder))
        throw historyError(m_folder,
                           localText("the folder cannot be created", "フォルダーを作成できません"));
    const QString path = QDir(m_folder).absoluteFilePath(record.sha256 + QStringLiteral(".kbx"));
    record.file = QDir::toNativeSeparators(path);

    // Stored once: a whole file of this content is kept as it is.
    const auto keptAlready = [&] {
        kbxio::Reason ignored;
        const auto existing = kbxio::readWhole(path, kbxfile::kLargestFile, &ignored);
        return existing && sha256Of(*existing) == record.sha256;
    };
    if (keptAlready())
        return record;

    // Whole or not at all: the name only ever stands for the whole content. Another program that
    // keeps the same content at the same moment can make the replace fail (Windows refuses to
    // replace a file another process has open): its whole copy serves as well.
    kbxio::Reason why;
    if (!kbxio::writeWhole(path, image, &why) && !keptAlready())
        throw historyError(m_folder,
                           localText("\"%1\" cannot be written: %2", "「%1」を書き込めません: %2")
                               .arg(record.file, localText(why)));
    return record;
}

std::unique_ptr<ZxDataFile> History::load(const ItemRecord& record) const {
    kbxio::Reason why;
    const std::optional<QByteArray> read =
        kbxio::readWhole(record.file, kbxfile::kLargestFile, &why);
    if (!read)
        throw std::runtime_error(localText("The kept copy \"%1\" cannot be read: %2",
                                           "保存されたコピー「%1」を読み込めません: %2")
                                     .arg(record.file, localText(why))
                                     .toStdString());
    const QByteArray& bytes = *read;
    if (sha256Of(bytes) != record.sha256)
        throw std::runtime_error(localText("The kept copy \"%1\" has been changed or damaged",
                                           "保存されたコピー「%1」は変更または破損しています")
                                     .arg(record.file)
                                     .toStdString());
    auto item = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
    kbxfile::parse(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), *item);
    return item;
}

qint64 History::begin(const HistoryEntry& entry, qint64 undoes) {
    const Database& db = database();
    const auto name = [](const ItemRecord& r) {
        return QVariant(QByteArray::fromStdString(r.name));
    };
    const auto size = [](const ItemRecord& r) { return QVariant(static_cast<qint64>(r.size)); };
    const auto sha = [](const ItemRecord& r) {
        return r.sha256.isEmpty() ? QVariant() : QVariant(r.sha256);
    };
    const auto file = [](const ItemRecord& r) {
        return r.file.isEmpty() ? QVariant() : QVariant(QFileInfo(r.file).fileName());
    };
    // The file must be there before a row names it.
    if (entry.before && !entry.uncopied) {
        const QString kept = QFileInfo(entry.before->file).fileName();
        if (!isKeptFileName(kept) || !QFileInfo::exists(QDir(m_folder).filePath(kept)))
            db.fail(QStringLiteral("the item before is not kept in this history"));
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime time = entry.time.isValid() ? entry.time.toUTC() : now;
    qint64 id = 0;
    db.write([&] {
        QSqlQuery insert = db.run(
            QStringLiteral("INSERT INTO entries (time, operation, slot, kind, before_name,"
                           " before_size, before_sha256, before_file, after_name, after_size,"
                           " after_sha256, input_device, output_device, undone, undoes, pending,"
                           " uncopied, group_id)"
                           " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, 1, ?, ?)"),
            {time.toString(Qt::ISODate), operationName(entry.operation), entry.slot,
             static_cast<int>(entry.kind), nullable(entry.before, name),
             nullable(entry.before, size), nullable(entry.before, sha),
             nullable(entry.before, file), nullable(entry.after, name), nullable(entry.after, size),
             nullable(entry.after, sha), entry.inputDevice, entry.outputDevice,
             undoes > 0 ? QVariant(undoes) : QVariant(), entry.uncopied ? 1 : 0,
             entry.group > 0 ? QVariant(entry.group) : QVariant()});
        id = insert.lastInsertId().toLongLong();
        insert.finish();
    });
    return id;
}

void History::finish(qint64 id, Outcome outcome) {
    const Database& db = database();
    db.write([&] {
        if (outcome == Outcome::SlotEmptied)
            db.run(QStringLiteral("UPDATE entries SET pending = 0, after_name = NULL,"
                                  " after_size = NULL, after_sha256 = NULL WHERE id = ?"),
                   {id});
        else
            db.run(QStringLiteral("UPDATE entries SET pending = 0 WHERE id = ?"), {id});
        // The change an undo reverts counts as undone only once the undo is done.
        if (outcome == Outcome::Done)
            db.run(QStringLiteral("UPDATE entries SET undone = 1 WHERE id ="
                                  " (SELECT undoes FROM entries WHERE id = ?)"),
                   {id});
    });
}

void History::discard(qint64 id) {
    const Database& db = database();
    db.write([&] { db.run(QStringLiteral("DELETE FROM entries WHERE id = ?"), {id}); });
}

void History::markUndone(qint64 id) {
    const Database& db = database();
    db.write([&] { db.run(QStringLiteral("UPDATE entries SET undone = 1 WHERE id = ?"), {id}); });
}

qint64 History::beginGroup(Operation operation) {
    const Database& db = database();
    qint64 id = 0;
    db.write([&] {
        QSqlQuery insert = db.run(
            QStringLiteral("INSERT INTO groups (time, operation) VALUES (?, ?)"),
            {QDateTime::currentDateTimeUtc().toString(Qt::ISODate), operationName(operation)});
        id = insert.lastInsertId().toLongLong();
        insert.finish();
    });
    return id;
}

namespace {

const QString kColumns = QStringLiteral(
    "id, time, operation, slot, kind, before_name, before_size, before_sha256, before_file,"
    " after_name, after_size, after_sha256, input_device, output_device, undone, uncopied,"
    " group_id, (SELECT COUNT(*) FROM entries g WHERE g.group_id = entries.group_id)");

HistoryEntry entryOf(const QSqlQuery& q, const QString& folder) {
    HistoryEntry e;
    e.id = q.value(0).toLongLong();
    e.time = QDateTime::fromString(q.value(1).toString(), Qt::ISODate).toUTC();
    e.operation = operationFromName(q.value(2).toString()).value_or(Operation::Send);
    e.slot = q.value(3).toString();
    e.kind = static_cast<std::uint16_t>(q.value(4).toInt());
    e.uncopied = q.value(15).toInt() != 0;
    if (!q.value(7).isNull() || (e.uncopied && !q.value(5).isNull())) {
        ItemRecord before;
        before.name = q.value(5).toByteArray().toStdString();
        before.size = static_cast<std::uint32_t>(q.value(6).toLongLong());
        before.sha256 = q.value(7).toString();
        if (!q.value(8).isNull())
            before.file =
                QDir::toNativeSeparators(QDir(folder).absoluteFilePath(q.value(8).toString()));
        e.before = before;
    }
    if (!q.value(11).isNull()) {
        ItemRecord after;
        after.name = q.value(9).toByteArray().toStdString();
        after.size = static_cast<std::uint32_t>(q.value(10).toLongLong());
        after.sha256 = q.value(11).toString();
        e.after = after;
    }
    e.inputDevice = q.value(12).toString();
    e.outputDevice = q.value(13).toString();
    e.undone = q.value(14).toInt() != 0;
    e.group = q.value(16).toLongLong();
    e.groupSize = e.group ? q.value(17).toInt() : 0;
    return e;
}

} // namespace

std::vector<HistoryEntry> History::entries() const {
    QSqlQuery q =
        database().run(QStringLiteral("SELECT %1 FROM entries ORDER BY id DESC").arg(kColumns));
    std::vector<HistoryEntry> list;
    while (q.next())
        list.push_back(entryOf(q, m_folder));
    return list;
}

std::optional<HistoryEntry> History::entry(qint64 id) const {
    QSqlQuery q =
        database().run(QStringLiteral("SELECT %1 FROM entries WHERE id = ?").arg(kColumns), {id});
    if (!q.next())
        return std::nullopt;
    return entryOf(q, m_folder);
}

std::vector<HistoryEntry> History::groupEntries(qint64 group) const {
    QSqlQuery q = database().run(
        QStringLiteral("SELECT %1 FROM entries WHERE group_id = ? ORDER BY id DESC").arg(kColumns),
        {group});
    std::vector<HistoryEntry> list;
    while (q.next())
        list.push_back(entryOf(q, m_folder));
    return list;
}

std::optional<HistoryEntry> History::newestUndoable(bool skipUncopied,
                                                    const std::vector<qint64>& skip) const {
    QSqlQuery q = database().run(
        QStringLiteral("SELECT %1 FROM entries WHERE undone = 0 AND operation <> 'undo'%2"
                       " ORDER BY id DESC")
            .arg(kColumns, skipUncopied ? QStringLiteral(" AND uncopied = 0") : QString()));
    while (q.next()) {
        HistoryEntry e = entryOf(q, m_folder);
        if (std::find(skip.begin(), skip.end(), e.id) == skip.end())
            return e;
    }
    return std::nullopt;
}

} // namespace kbxops

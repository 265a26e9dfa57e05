#pragma once
// The safety net's store. Every item a change to the keyboard removes or replaces is kept as an
// ordinary data file named by the SHA-256 of its bytes (the same content is stored once), and
// each change is one row of a SQLite database beside the files (history.sqlite). A file is
// written, atomically, before the row that names it, so no row is ever without its file.
// kbxman and kbxtool may use one history at the same time: WAL, one short transaction per write
// and a busy time-out.

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ZxDataFile;

namespace kbxops {

enum class Operation { Send, Delete, Restore, Undo };
// "send", "delete", "restore", "undo": the words of the database and of kbxtool's JSON.
QString operationName(Operation operation);

// An item as the history describes it.
struct ItemRecord {
    std::string name;       // keyboard-side bytes, blank-padded
    std::uint32_t size = 0; // payload bytes
    QString sha256;         // lower-case hex, of the item's data file as an import writes it
    QString file;           // the kept file (absolute, native separators); empty when not kept
};

struct HistoryEntry {
    qint64 id = 0;
    QDateTime time; // UTC, whole seconds
    Operation operation = Operation::Send;
    QString slot; // short form: "song:0"
    std::uint16_t kind = 0;
    std::optional<ItemRecord> before; // none: the slot was empty
    std::optional<ItemRecord> after;  // none: the slot is empty afterwards
    QString inputDevice;
    QString outputDevice;
    bool undone = false;
    // Made without keeping a copy of the item before (its name and size only): cannot be undone.
    bool uncopied = false;
    // One change of many slots (a restore, the undo of one): the entries of a group are undone
    // together. 0: a change of its own. groupSize: how many entries the group has.
    qint64 group = 0;
    int groupSize = 0;
};

class History {
public:
    // folder: where history.sqlite and the kept files live; empty: defaultFolder(). Nothing is
    // opened before the first use, so a history that cannot be opened fails the change that
    // needs it, not the program's start.
    explicit History(const QString& folder = QString());
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // KBX_HISTORY_DIR when set; under the test runner (KBX_TEST=1) a temporary folder of the
    // process; else "history" in kbxman's application-data folder (organisation Tovanel,
    // application KbxMan, whichever program asks).
    static QString defaultFolder();
    QString folder() const { return m_folder; }
    QString databasePath() const;

    // The record of an item (name, size, hash); nothing is written.
    static ItemRecord describe(const ZxDataFile& item);
    // Writes the item's file unless a whole file of that content is there already, and returns
    // its record. Throws std::runtime_error (in the user's language) when it cannot be written.
    ItemRecord keep(const ZxDataFile& item);
    // Reads a kept item back. Throws std::runtime_error when the file is missing or no longer
    // holds what its name says.
    std::unique_ptr<ZxDataFile> load(const ItemRecord& record) const;

    // A change about to be made. Its row is written at once, marked pending, so that an item
    // whose change is cut short, by a crash even, is still found and can be put back; finish()
    // or discard() settles it. undoes: the entry an undo reverts, marked undone by finish().
    // Returns the new entry's id. Every write throws std::runtime_error when the database
    // cannot be written.
    qint64 begin(const HistoryEntry& entry, qint64 undoes = 0);
    enum class Outcome {
        Done,        // the change was made
        Differs,     // made, but the slot read back differs from what was sent: an undo that
                     // comes out so does not count, the entry it reverts stays undoable
        SlotEmptied, // it failed, and the slot is left empty: its item lives on here only
    };
    void finish(qint64 id, Outcome outcome = Outcome::Done);
    // The change did not happen, or has been put right: the row goes. Its file stays; another
    // row may name the same content.
    void discard(qint64 id);
    void markUndone(qint64 id);
    // A new group for the entries of one change of many slots; its id goes into each entry.
    qint64 beginGroup(Operation operation);
    // The entries of a group, newest first.
    std::vector<HistoryEntry> groupEntries(qint64 group) const;

    std::vector<HistoryEntry> entries() const; // newest first
    std::optional<HistoryEntry> entry(qint64 id) const;
    // The newest entry that is neither undone nor an undo itself; with skipping, past entries
    // made without a copy and the ids given (damaged ones the caller has met).
    std::optional<HistoryEntry> newestUndoable(bool skipUncopied = false,
                                               const std::vector<qint64>& skip = {}) const;

private:
    class Database;
    Database& database() const;

    QString m_folder;
    mutable std::unique_ptr<Database> m_database;
};

} // namespace kbxops

#pragma once
// The whole keyboard in a folder: every present item as a data file, and manifest.json that
// names each file's slot by its short form ("tone:3", "reg:2:1", "song:0"), never by its listed
// name, so that a restore finds the slot on a keyboard whose items are named differently. Songs
// and rhythms that were empty are listed too, so that a restore empties them again.

#include "keyboard.h"
#include "msgstr.h"
#include "slotref.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <vector>

namespace kbxops {

inline constexpr const char* kManifestName = "manifest.json";

struct BackupEntry {
    QString slot; // short form
    ImportedFile file;
};

struct BackupResult {
    QString directory; // absolute, native separators
    QString manifest;  // path of manifest.json
    std::vector<BackupEntry> files;
    QStringList empty; // short forms of the empty song and rhythm slots
    // False when the backup was cancelled: the files written so far stay, and the manifest says
    // "complete": false and names in "notDone" the slots whose items were not backed up.
    bool complete = true;
    QStringList notDone;
};

// Lists the keyboard and imports every present item into dir (created if need be), then writes
// the manifest (atomically). An older manifest in dir is removed first: it would name files that
// this backup replaces. itemDone is called after each file. Cancelled during the list, it throws
// ZxCancelledException and nothing is written; cancelled later, it stops between items, writes
// the manifest of what it holds and returns with complete false. An item that fails (a time-out,
// the keyboard's device gone) stops it the same way: the manifest is written, then the failure
// is thrown.
BackupResult backupKeyboard(Keyboard& keyboard, const QString& dir,
                            const std::function<void(const BackupEntry&)>& itemDone = {});

// One item of a restore that did not come back.
struct RestoreFailure {
    QString file; // empty for a slot the backup leaves empty
    QString slot;
    ErrorReport error;
};

struct RestoreResult {
    QString directory;
    std::vector<std::pair<QString, QString>> restored; // file, slot
    QStringList cleared;                               // slots emptied before the sends
    std::vector<RestoreFailure> failed;
    // Cancelled: nothing of the item under way reached the keyboard, and notDone names it and
    // every item (file, slot) and slot to be emptied (no file) that was not reached.
    bool cancelled = false;
    // The keyboard's device went away: the item under way failed (in failed, as does every slot
    // emptied for an item that did not come, with the history entry that keeps its old item),
    // and notDone names what was not reached, as for a cancel.
    bool deviceLost = false;
    std::vector<std::pair<QString, QString>> notDone;
    // The backup's manifest says it is incomplete: the slots it lacks were left as they are.
    bool backupComplete = true;
};

struct RestoreCallbacks {
    std::function<void(const QString& file, const QString& slot)> restored;
    std::function<void(const RestoreFailure&)> failed;
};

// Sends every file of the backup in dir back into the slot its manifest names. The manifest and
// every file are checked and read before the keyboard is touched; then the keyboard is listed,
// the songs and rhythms the backup fills or leaves empty are deleted (song memory is shared: what
// the keyboard holds now must not crowd out what comes back), and the items are sent in the
// drive's order. Each delete and send is a change of operation restore: with the keyboard's
// history every item it replaces is kept, and with verification of restores each item is read
// back. An item that fails is reported and the others go on; a cancel stops between items
// (cancelled in the result; during the list before anything changed, ZxCancelledException).
// Throws std::runtime_error for a folder without a readable manifest or a manifest of another
// model; messages names the failures' texts.
RestoreResult restoreBackup(Keyboard& keyboard, const QString& dir, const MsgStr& messages,
                            const RestoreCallbacks& callbacks = {});

} // namespace kbxops

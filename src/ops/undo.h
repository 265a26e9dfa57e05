#pragma once
// Undo and the history's commands, for the window's Edit menu and kbxtool alike: revert the newest
// change, send a kept item back into its slot, export a kept item as a data file.

#include "history.h"
#include "keyboard.h"

#include <QString>
#include <optional>

namespace kbxops {

// The slot as a person names it: "Song 1", "Tone 3", "Registration 2 of Bank 1".
QString slotTitle(const QString& shortFormText);
// The change an entry records: "send of Minuet to Song 1", "delete of Waltz from Song 0".
QString changeText(const HistoryEntry& entry);
// The window's menu item for it: "Undo send of Minuet to Song 1".
QString undoText(const HistoryEntry& entry);

// What undo would revert now: the newest entry neither undone nor an undo itself.
std::optional<HistoryEntry> undoTarget(History& history);

// Reverts the newest change not undone yet: sends the item before back into its slot, or deletes
// what was sent into an empty song or rhythm slot. The undo is a change of its own (operation
// undo, recorded when the keyboard keeps a history, verified when it verifies restores) and marks
// the entry undone; later undos skip it, so undoing twice reverts the last two changes. Lists the
// keyboard first unless its drive is listed. Returns the entry it reverted, as it is now. Throws
// std::runtime_error (in the user's language) when there is nothing to undo.
HistoryEntry undoLast(Keyboard& keyboard, History& history);

// Sends the item before of entry id back into its slot, recorded as a restore. Throws
// std::runtime_error (in the user's language) for an unknown id or an entry without an item.
HistoryEntry restoreEntry(Keyboard& keyboard, History& history, qint64 id);

// Writes the item before of entry id into dir as a data file named as an import names it
// (replacing a file of that name atomically). Returns the file's path (absolute, native).
QString exportEntry(History& history, qint64 id, const QString& dir);

} // namespace kbxops

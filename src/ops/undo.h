#pragma once
// Undo and the history's commands, for the window's Edit menu and kbxtool alike: revert the newest
// change, send a kept item back into its slot, export a kept item as a data file.

#include "history.h"
#include "keyboard.h"

#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace kbxops {

// The slot as a person names it: "Song 1", "Tone 3", "Registration 2 of Bank 1".
QString slotTitle(const QString& shortFormText);
// The change an entry records: "send of Minuet to Song 1", "delete of Waltz from Song 0".
QString changeText(const HistoryEntry& entry);
// The window's menu item for it: "Undo send of Minuet to Song 1".
QString undoText(const HistoryEntry& entry);

// What undo would revert now: the newest entry neither undone nor an undo itself (goPast: the
// newest with a copy, what "Undo older change" reverts).
std::optional<HistoryEntry> undoTarget(History& history, bool goPast = false);

// Reverts the newest change not undone yet: sends the item before back into its slot, or deletes
// what was sent into an empty song or rhythm slot. The undo is a change of its own (operation
// undo, recorded when the keyboard keeps a history, verified when it verifies restores) and marks
// the entry undone; later undos skip it, so undoing twice reverts the last two changes. Lists the
// keyboard afresh first: the slot must still hold what the change left (name and size), else
// nothing is done and the error names what is there. A change made without a copy, or whose
// kept copy is damaged, is named and stops the undo; goPast (the window's "Undo older change",
// kbxtool undo --skip-uncopied) goes past both to the newest change that can be undone. Returns
// the entry it reverted, as it is now. Throws std::runtime_error (in the user's language) when
// there is nothing to undo or it cannot be undone.
//
// A change of many slots (a restore) is undone as one: each of its slots through the same checks,
// emptied slots first so that song memory has room; a slot that changed since, or cannot be
// reverted, is skipped and named in report, and the others are reverted. When none can be, it
// throws as for one slot. The undo's own entries form a group of their own.
struct UndoReport {
    std::vector<HistoryEntry> reverted;
    std::vector<std::pair<HistoryEntry, QString>> skipped; // with the reason
};
HistoryEntry undoLast(Keyboard& keyboard, History& history, bool goPast = false,
                      UndoReport* report = nullptr);

// Sends the item before of entry id back into its slot, recorded as a restore. Throws
// std::runtime_error (in the user's language) for an unknown id or an entry without an item.
HistoryEntry restoreEntry(Keyboard& keyboard, History& history, qint64 id);

// Writes the item before of entry id into dir as a data file named as an import names it. A file
// of that name holding other bytes goes to the trash first (trashed: where; empty when nothing
// went), as an import does. Returns the file's path (absolute, native).
QString exportEntry(History& history, qint64 id, const QString& dir, QString* trashed = nullptr);

} // namespace kbxops

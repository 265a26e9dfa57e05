#pragma once
// Two sets of the keyboard's contents side by side, slot by slot: two backups, or a backup and the
// keyboard as it is listed now. By name and size, and by content where both sides are files.

#include "keyboard.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kbxops {

// One side's item in a slot.
struct SideItem {
    std::string name; // keyboard-side bytes
    std::uint32_t size = 0;
    QString file;                    // the backup's file; empty for the keyboard
    std::vector<std::uint8_t> bytes; // the file's payload; empty for the keyboard
};

// What one side holds: an item per slot short form that holds one.
struct Side {
    QString label;                                   // a folder, or "keyboard"
    std::vector<std::pair<QString, SideItem>> items; // in the drive's order
};

// The items of a backup folder (its files, read and checked). Files that cannot be read are
// left out and named in skipped, with the reason.
Side sideOfBackup(const QString& dir, QStringList* skipped = nullptr);
// The keyboard as listed now (the list is read).
Side sideOfKeyboard(Keyboard& keyboard);

struct SlotComparison {
    enum State { Equal, Different, OnlyA, OnlyB } state = Equal;
    QString slot;
    std::optional<SideItem> a;
    std::optional<SideItem> b;
};

// Every slot that either side fills, in the drive's order: equal when name, size and (both
// files) bytes agree, different otherwise, or present on one side only.
std::vector<SlotComparison> compareSides(const Side& a, const Side& b);

// "equal", "different", "only-a", "only-b".
QString stateWord(SlotComparison::State state);

} // namespace kbxops

#pragma once
// What a restore would change, before it changes anything: one row per slot whose content would
// change, and how many slots stay as they are. Names and sizes are all a list can tell, so a slot
// whose name and size already match the backup counts as unchanged unless the caller wants
// such slots sent anyway.

#include "keyboard.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kbxops {

struct PlannedItem {
    std::string name; // keyboard-side bytes
    std::uint32_t size = 0;
    QString file; // the backup's file; empty for what the keyboard holds now
};

struct PlannedChange {
    QString slot;                      // short form
    std::optional<PlannedItem> now;    // none: the slot is empty now
    std::optional<PlannedItem> backup; // none: the restore empties the slot
};

struct RestorePlan {
    std::vector<PlannedChange> changes; // in the drive's order
    int unchanged = 0;                  // the backup holds what the slot holds (or both are empty)
    int absent = 0;                     // slots the backup says nothing about: left as they are
    QStringList skipped; // entries of the backup that cannot be restored, with the reason
    bool backupComplete = true;
};

// Reads the backup in dir and lists the keyboard; sends nothing.
RestorePlan planRestore(Keyboard& keyboard, const QString& dir, bool sendUnchanged = false);

} // namespace kbxops

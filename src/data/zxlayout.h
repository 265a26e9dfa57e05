#pragma once
// The ZR-7316's 42 slots in the drive's order, as one static table: the drive builds its tree
// from it, and whatever needs only the slots (compare, the history's slot lists, kbxtool's
// checks) reads it without building a drive.

#include <cstdint>
#include <span>

struct ZxFolderLayout {
    std::uint16_t kind;
    const char* name; // "Tone:", "Song Rhythm:"
    std::int32_t capacity;
    std::int32_t freeSpace; // before the first list
};

struct ZxSlotLayout {
    std::uint16_t kind;
    int number;
    int bank;              // registrations only
    int folder;            // index into folderTable()
    const char* subfolder; // "Bank2", "Song"; nullptr for a slot directly in its folder
    const char* prefix;    // the name of an empty slot is the prefix and the number + 1
};

namespace ZxLayout {

inline constexpr int kSlotCount = 42;

std::span<const ZxFolderLayout> folderTable();
std::span<const ZxSlotLayout> slotTable();

} // namespace ZxLayout

#include "zxlayout.h"

#include "zxkinds.h"

#include <array>

namespace {

constexpr std::array<ZxFolderLayout, 4> kFolders{{
    {ZxKind::Tone, "Tone:", 600, 0},
    {ZxKind::Dsp, "DSP:", 360, 0},
    {ZxKind::Registration, "Registration:", 2816, 0},
    {ZxKind::Song, "Song Rhythm:", 0x5400, 0x5400},
}};

constexpr const char* kBanks[] = {"Bank0", "Bank1", "Bank2", "Bank3"};

constexpr std::array<ZxSlotLayout, ZxLayout::kSlotCount> makeSlots() {
    std::array<ZxSlotLayout, ZxLayout::kSlotCount> slots{};
    std::size_t i = 0;
    for (int n = 0; n < 10; ++n)
        slots[i++] = {ZxKind::Tone, n, 0, 0, nullptr, "User "};
    for (int n = 0; n < 10; ++n)
        slots[i++] = {ZxKind::Dsp, n, 0, 1, nullptr, "User "};
    for (int bank = 0; bank < 4; ++bank)
        for (int n = 0; n < 4; ++n)
            slots[i++] = {ZxKind::Registration, n, bank, 2, kBanks[bank], "User "};
    for (int n = 0; n < 2; ++n)
        slots[i++] = {ZxKind::Song, n, 0, 3, "Song", "Song "};
    for (int n = 0; n < 4; ++n)
        slots[i++] = {ZxKind::Rhythm, n, 0, 3, "Rhythm", "User "};
    return slots;
}

constexpr std::array<ZxSlotLayout, ZxLayout::kSlotCount> kSlots = makeSlots();

} // namespace

namespace ZxLayout {

std::span<const ZxFolderLayout> folderTable() {
    return kFolders;
}

std::span<const ZxSlotLayout> slotTable() {
    return kSlots;
}

} // namespace ZxLayout

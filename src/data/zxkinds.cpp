#include "zxkinds.h"

#include <array>

namespace {

// The images of the keyboard list, in the order of its image strip.
constexpr int kImageTone = 6;
constexpr int kImageDsp = 7;
constexpr int kImageRegistration = 8;
constexpr int kImageSong = 9;
constexpr int kImageRhythm = 10;

constexpr std::array<ZxKindInfo, 5> kKinds{{
    {ZxKind::Tone, "tone", "tone", "Tone", "Tone", "Tone", "TON_", 36, 384, 1, 0, kImageTone, false,
     "トーン"},
    {ZxKind::Dsp, "dsp", "dsp", "DSP", "DSP", "DSP", "DSP_", 0, 100, 1, 0, kImageDsp, false, "DSP"},
    {ZxKind::Song, "song", "song", "Song", "Song", "Song", "SNG_", 4, 0, 1, 0, kImageSong, true,
     "ソング"},
    {ZxKind::Rhythm, "rhythm", "rhythm", "Rhythm", "Rhythm", "Rhythm", "RHY_", 2, 100, 1, 0,
     kImageRhythm, true, "リズム"},
    {ZxKind::Registration, "registration", "reg", "Registration", "Registraion", "Regstration",
     "REG_", -1, 16, 4, 1, kImageRegistration, false, "レジストレーション"},
}};

} // namespace

namespace ZxKind {

std::span<const ZxKindInfo> table() {
    return kKinds;
}

const ZxKindInfo* info(std::uint16_t kind) {
    for (const ZxKindInfo& row : kKinds)
        if (row.code == kind)
            return &row;
    return nullptr;
}

bool isDataKind(std::uint16_t kind) {
    return info(kind) != nullptr;
}

bool isDeletable(std::uint16_t kind) {
    const ZxKindInfo* row = info(kind);
    return row && row->deletable;
}

int nameOffset(std::uint16_t kind) {
    const ZxKindInfo* row = info(kind);
    return row ? row->nameOffset : -1;
}

std::int32_t dataNumber(std::uint16_t kind, std::int32_t bank, std::int32_t number) {
    const ZxKindInfo* row = info(kind);
    if (!row)
        return 0;
    return row->dataNumberBase + row->numberStep * number + row->bankStep * bank;
}

} // namespace ZxKind

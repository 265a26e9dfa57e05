#pragma once
// The kinds of data item: one row per kind with everything the program says or computes about it,
// so that no other place keeps its own list. Texts are byte for byte the ones the user has always
// seen, misspellings of the described screens included.

#include <cstdint>
#include <span>

namespace ZxKind {
inline constexpr std::uint16_t Tone = 2;
inline constexpr std::uint16_t Dsp = 9;
inline constexpr std::uint16_t Song = 10;
inline constexpr std::uint16_t Rhythm = 11;
inline constexpr std::uint16_t Registration = 12;
inline constexpr std::uint16_t DriveRoot = 13;
inline constexpr std::uint16_t Undetermined = 0xFFFF;
} // namespace ZxKind

struct ZxKindInfo {
    std::uint16_t code;
    const char* word;         // JSON and kbxtool's lists: "tone", "registration"
    const char* shortWord;    // kbxtool's slot short form: "tone:3", "reg:2:1"
    const char* title;        // kbxtool's human output: "Tone", "DSP"
    const char* listType;     // the keyboard list's type column ("Registraion")
    const char* propertyType; // the property dialog's type ("Regstration")
    const char* filePrefix;   // an imported file's name begins with it: "TON_"
    // Byte offset of the 8-character name in the payload; -1 when the name is not in the payload
    // (a registration keeps it in header bytes 24-31, pairs swapped).
    int nameOffset;
    // The number that addresses a slot in a transfer:
    // dataNumberBase + numberStep * number + bankStep * bank.
    std::int32_t dataNumberBase;
    std::int32_t numberStep;
    std::int32_t bankStep;
    int listImage;      // index of the keyboard list's image of a present slot
    bool deletable;     // songs and rhythms can be deleted; other slots always hold an item
    const char* wordJa; // the kind in Japanese texts (UTF-8): "ソング"
};

namespace ZxKind {

// Tone, DSP, song, rhythm, registration.
std::span<const ZxKindInfo> table();
// The row of a data kind; nullptr for any other code.
const ZxKindInfo* info(std::uint16_t kind);
bool isDataKind(std::uint16_t kind);
// Whether a slot of the kind can be emptied (songs and user rhythms).
bool isDeletable(std::uint16_t kind);
// Byte offset of the 8-character name in the payload, or -1 (registration: header bytes 24-31;
// other codes: no name field).
int nameOffset(std::uint16_t kind);
// The number that addresses slot (bank, number) of the kind in a transfer; 0 for other codes.
std::int32_t dataNumber(std::uint16_t kind, std::int32_t bank, std::int32_t number);

} // namespace ZxKind

#pragma once
// Naming the keyboard's slots on the command line: the path the window forms from the last list
// ("Tone:\User 3", "Registration:\Bank2\User 1") or a short form that does not depend on names
// (tone:N, dsp:N, reg:BANK:N, song:N, rhythm:N).

#include "zxdata.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace kbxops {

// A slot by kind, number and (registrations only) bank.
struct SlotAddress {
    std::uint16_t kind = 0;
    int number = 0;
    int bank = 0;
    bool operator==(const SlotAddress&) const = default;
};

struct ShortFormParse {
    enum Status { NotShortForm, Valid, Invalid } status = NotShortForm;
    SlotAddress address;
};

// "tone:3", "REG:2:1": case-insensitive. Text that starts like a short form ("tone:", "reg:", ...)
// without a separator of a path after it but does not continue as one is Invalid; anything else
// is NotShortForm (a path, perhaps: "Tone:\User 3"). The
// ranges are not checked here: the drive's layout says which slots exist.
ShortFormParse parseShortForm(const QString& text);

QString shortForm(const SlotAddress& address);
SlotAddress addressOf(const ZxData& slot);

// A folder of the drive with its path ("Tone:", "Registration:\Bank0").
struct FolderEntry {
    ZxDataDrive* node = nullptr;
    std::string path;
};

// A slot with the path of its folder and its own path, from the names the tree holds now.
struct SlotEntry {
    ZxData* node = nullptr;
    std::string folderPath;
    std::string path;
};

// Every folder and every slot below the root, in the drive's order (depth first).
std::vector<FolderEntry> foldersOf(const ZxDataDrive& root);
std::vector<SlotEntry> slotsOf(const ZxDataDrive& root);

// The slot a command-line text names: a short form by its address; a path byte for byte, else
// the one path equal to it ignoring case, else the one equal to it ignoring case and the blanks
// at the end of both, with "/" accepted for "\" when the text holds no backslash. nullptr when no
// slot (or more than one in the pass that matched) matches.
const SlotEntry* findSlot(const std::vector<SlotEntry>& slotList, const QString& text);
const SlotEntry* findSlot(const std::vector<SlotEntry>& slotList, const SlotAddress& address);

} // namespace kbxops

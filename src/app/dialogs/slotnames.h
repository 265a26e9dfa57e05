#pragma once
// The names the window shows for the keyboard's slots and items, in one place: a slot by its
// kind and its number counted from 1 ("Song 1", "Tone 10", "Registration Bank2-1"), an item by
// its name without the padding blanks, or "(no name)" when the name is all blanks. The described
// names of the list ("Song 0", "User 3") are the items' own and stay as they are.

#include "ops/slotref.h"

#include <QString>
#include <string>

class ZxData;

namespace kbxapp {

// A slot's number within its folder, counted from 1.
int slotNumber(const ZxData& slot);
QString slotTitle(const kbxops::SlotAddress& address);
// The same from a short form ("song:0"); other text is returned as it is.
QString slotTitle(const QString& shortForm);
QString slotTitle(const ZxData& slot);

// Whether a keyboard-side name holds nothing but blanks (or nothing at all).
bool isBlankName(const std::string& bytes);
// An item's name as shown: trimmed, or "(no name)".
QString itemName(const std::string& bytes);
// "Minuet" (Song 1): the item with its slot, for questions and the status line.
QString itemInSlot(const ZxData& slot);

} // namespace kbxapp

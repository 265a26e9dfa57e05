#pragma once
// The one place where the window's selection in the keyboard list becomes a slot: its address,
// by which the use cases are to name it, and its node in the listed drive, which the use cases
// of today still take.

#include "data/zxdata.h"
#include "ops/slotref.h"
#include "protocol/zxexception.h"

#include <optional>

class KbdPane;

namespace kbxapp {

struct SlotChoice {
    kbxops::SlotAddress address;
    ZxData* node = nullptr;
};

// The slot selected in the keyboard list. Throws OperateException none when nothing is selected,
// notSlot when the selection is a folder entry.
SlotChoice selectedSlot(const KbdPane& pane, OperateException::Code none,
                        OperateException::Code notSlot);

// The item at a row of the keyboard list, as a drop onto that row names it; nullopt where the
// row holds none.
std::optional<SlotChoice> slotAtRow(const KbdPane& pane, int row);

} // namespace kbxapp

#include "app/slotselection.h"

#include "app/kbdpane.h"

namespace kbxapp {

SlotChoice selectedSlot(const KbdPane& pane, OperateException::Code none,
                        OperateException::Code notSlot) {
    ZxData* node = pane.SelectedSlot(none, notSlot);
    return {kbxops::addressOf(*node), node};
}

std::optional<SlotChoice> slotAtRow(const KbdPane& pane, int row) {
    ZxData* node = row >= 0 ? pane.KbdItemData(row) : nullptr;
    if (!node)
        return std::nullopt;
    return SlotChoice{kbxops::addressOf(*node), node};
}

} // namespace kbxapp

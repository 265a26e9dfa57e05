#include "historysend.h"

#include "msgstr.h"
#include "slotref.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <stdexcept>

namespace kbxops {

HistoryEntry restoreEntryTo(Keyboard& keyboard, History& history, qint64 id, const QString& slot) {
    const std::optional<HistoryEntry> entry = history.entry(id);
    if (!entry || !entry->before)
        throw std::runtime_error(localText("History entry %1 keeps no item to send",
                                           "履歴の項目 %1 には送信できるデータがありません")
                                     .arg(id)
                                     .toStdString());
    const ShortFormParse parsed = parseShortForm(slot);
    if (parsed.status != ShortFormParse::Valid || parsed.address.kind != entry->kind)
        throw std::runtime_error(
            localText("\"%1\" is not a slot for this item: it goes into a slot of its own kind",
                      "「%1」にはこのデータを送れません。同じ種類のスロットを選んでください")
                .arg(slot)
                .toStdString());
    // The item is read before the keyboard is asked anything.
    const std::unique_ptr<ZxDataFile> item = history.load(*entry->before);
    ZxData* target = keyboard.listedSlot(parsed.address);
    if (!target)
        throw std::runtime_error(
            localText("No slot \"%1\" on the keyboard", "キーボードにスロット「%1」はありません")
                .arg(slot)
                .toStdString());
    keyboard.send(*item, *target, Change{Operation::Restore});
    return *entry;
}

} // namespace kbxops

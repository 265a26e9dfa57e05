#include "applyplan.h"

#include "cancel.h"
#include "datafile.h"
#include "slotref.h"
#include "zxdata.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <memory>
#include <stdexcept>

namespace kbxops {

namespace {

bool isDeletable(std::uint16_t kind) {
    return kind == ZxKind::Song || kind == ZxKind::Rhythm;
}

} // namespace

RestoreResult applyRestorePlan(Keyboard& keyboard, const RestorePlan& plan, const MsgStr& messages,
                               const RestoreCallbacks& callbacks) {
    RestoreResult result;
    result.backupComplete = plan.backupComplete;
    const auto fail = [&](const QString& file, const QString& slot) {
        RestoreFailure failure{file, slot, describeException(messages, std::current_exception())};
        result.failed.push_back(failure);
        if (callbacks.failed)
            callbacks.failed(failure);
    };

    struct Item {
        QString slot;
        SlotAddress address;
        QString file;                     // empty: the slot is to be emptied
        std::unique_ptr<ZxDataFile> data; // the backup's item
    };
    std::vector<Item> items;
    for (const PlannedChange& change : plan.changes) {
        const ShortFormParse parsed = parseShortForm(change.slot);
        if (parsed.status != ShortFormParse::Valid)
            continue;
        Item item{change.slot, parsed.address, {}, nullptr};
        if (change.backup) {
            item.file = change.backup->file;
            try {
                item.data = readDataFile(item.file);
            } catch (...) {
                fail(item.file, item.slot);
                continue;
            }
        }
        items.push_back(std::move(item));
    }

    keyboard.list();
    ZxKbdDrv& drive = keyboard.drive();
    const auto nodeOf = [&drive](const SlotAddress& address) -> ZxData* {
        const std::vector<SlotEntry> slotList = slotsOf(drive.root());
        const SlotEntry* entry = findSlot(slotList, address);
        return entry ? entry->node : nullptr;
    };

    // Room first: what the plan replaces or empties in song memory goes before anything comes.
    for (const Item& item : items) {
        ZxData* node = nodeOf(item.address);
        if (!node || !isDeletable(node->kind()) || !node->isPresent())
            continue;
        try {
            keyboard.remove(*node);
            result.cleared.append(item.slot);
        } catch (const ZxCancelledException&) {
            result.cancelled = true;
            break;
        } catch (...) {
            fail(item.file, item.slot);
        }
    }

    int count = 0;
    for (const Item& item : items)
        count += item.data ? 1 : 0;
    int done = 0;
    std::size_t reached = 0;
    for (; reached < items.size() && !result.cancelled; ++reached) {
        const Item& item = items[reached];
        if (!item.data)
            continue;
        ++done;
        try {
            ZxData* node = nodeOf(item.address);
            if (!node)
                throw std::runtime_error("no such slot");
            keyboard.send(*item.data, *node, done, count);
        } catch (const ZxCancelledException&) {
            result.cancelled = true;
            break;
        } catch (...) {
            fail(item.file, item.slot);
            continue;
        }
        result.restored.emplace_back(item.file, item.slot);
        if (callbacks.restored)
            callbacks.restored(item.file, item.slot);
    }
    if (result.cancelled) {
        for (std::size_t i = reached; i < items.size(); ++i) {
            if (items[i].data) {
                result.notDone.emplace_back(items[i].file, items[i].slot);
            } else if (ZxData* node = nodeOf(items[i].address); node && node->isPresent()) {
                result.notDone.emplace_back(QString(), items[i].slot);
            }
        }
        // Slots to be emptied that come before the cut but were not reached by the deletes.
        for (std::size_t i = 0; i < reached && i < items.size(); ++i)
            if (!items[i].data)
                if (ZxData* node = nodeOf(items[i].address); node && node->isPresent())
                    result.notDone.emplace_back(QString(), items[i].slot);
    }
    return result;
}

} // namespace kbxops

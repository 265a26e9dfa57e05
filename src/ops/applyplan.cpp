#include "applyplan.h"

#include "cancel.h"
#include "datafile.h"
#include "zxdata.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <optional>
#include <stdexcept>

namespace kbxops {

namespace {

bool isNotPutBack(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const NotPutBackException&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

void carryOutRestore(Keyboard& keyboard, std::vector<RestoreItem>& items, const MsgStr& messages,
                     const RestoreCallbacks& callbacks, RestoreResult& result) {
    const auto fail = [&](const RestoreItem& item, std::exception_ptr error) {
        RestoreFailure failure{item.file, item.slot, describeException(messages, error)};
        result.failed.push_back(failure);
        if (callbacks.failed)
            callbacks.failed(failure);
    };

    keyboard.list();
    ZxKbdDrv& drive = keyboard.drive();
    const auto nodeOf = [&drive](const SlotAddress& address) -> ZxData* {
        const std::vector<SlotEntry> slotList = slotsOf(drive.root());
        const SlotEntry* entry = findSlot(slotList, address);
        return entry ? entry->node : nullptr;
    };
    const int count = static_cast<int>(items.size());
    // One change of many slots: undone in one step, shown as one row.
    History* history = keyboard.safety().history;
    const qint64 group = history && !items.empty() ? history->beginGroup(Operation::Restore) : 0;
    const auto changeOf = [count, group](std::size_t i) {
        return Change{Operation::Restore, 0, static_cast<int>(i) + 1, count, group};
    };

    // Room first: what the restore replaces or empties in song memory goes before anything comes.
    std::vector<std::optional<PendingChange>> vacancies(items.size());
    std::vector<bool> failed(items.size(), false);
    for (std::size_t i = 0; i < items.size(); ++i)
        failed[i] = items[i].failed;
    const auto stopped = [&result] { return result.cancelled || result.deviceLost; };
    for (std::size_t i = 0; i < items.size() && !stopped(); ++i) {
        const RestoreItem& item = items[i];
        ZxData* node = nodeOf(item.address);
        if (failed[i] || !node || !ZxKind::isDeletable(node->kind()) || !node->isPresent())
            continue;
        if (item.data && item.data->kind() != node->kind())
            continue; // its send says why; the slot keeps what it holds
        try {
            if (item.data)
                vacancies[i] = keyboard.vacate(*node, *item.data, changeOf(i));
            else
                keyboard.remove(*node, changeOf(i));
            result.cleared.append(item.slot);
        } catch (const ZxCancelledException&) {
            result.cancelled = true;
        } catch (...) {
            fail(item, std::current_exception());
            failed[i] = true;
            result.deviceLost = isDeviceLost(std::current_exception());
        }
    }

    std::size_t reached = 0; // the items before it were sent or failed
    for (; reached < items.size() && !stopped(); ++reached) {
        RestoreItem& item = items[reached];
        if (!item.data || failed[reached])
            continue;
        try {
            ZxData* node = nodeOf(item.address);
            if (!node)
                throw std::runtime_error("no such slot");
            if (vacancies[reached]) {
                // The fill settles the vacancy whatever comes of it.
                PendingChange vacancy = std::move(*vacancies[reached]);
                vacancies[reached].reset();
                keyboard.fill(*item.data, *node, changeOf(reached), vacancy);
            } else {
                keyboard.send(*item.data, *node, changeOf(reached));
            }
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            if (isCancel(error)) {
                result.cancelled = true;
                // Not done, and reported so; a slot that lost its item on the way is a failure.
                if (isNotPutBack(error)) {
                    fail(item, error);
                    failed[reached] = true;
                }
                break;
            }
            fail(item, error);
            failed[reached] = true;
            if (isDeviceLost(error)) {
                // Nothing more can reach this keyboard, and nothing may go to another one.
                result.deviceLost = true;
                ++reached;
                break;
            }
            continue;
        }
        result.restored.emplace_back(item.file, item.slot);
        if (callbacks.restored)
            callbacks.restored(item.file, item.slot);
    }

    // Slots emptied for items that will not come now get their old items back.
    const std::exception_ptr why =
        result.cancelled
            ? std::make_exception_ptr(ZxCancelledException(ZxCancelledException::Cancelled))
            : std::make_exception_ptr(std::runtime_error(
                  messages.text("Its item was not sent.", "データは送信されませんでした。")
                      .toStdString()));
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!vacancies[i])
            continue;
        try {
            ZxData* node = nodeOf(items[i].address);
            if (!node)
                throw std::runtime_error("no such slot");
            keyboard.abandon(*node, changeOf(i), *vacancies[i], why);
        } catch (...) {
            fail(items[i], std::current_exception());
        }
        vacancies[i].reset();
    }

    if (stopped()) {
        for (std::size_t i = reached; i < items.size(); ++i)
            if (items[i].data && !failed[i])
                result.notDone.emplace_back(items[i].file, items[i].slot);
        // Slots to be emptied that the deletes did not reach.
        for (const RestoreItem& item : items)
            if (!item.data && !item.failed)
                if (ZxData* node = nodeOf(item.address); node && node->isPresent())
                    result.notDone.emplace_back(QString(), item.slot);
    }
}

RestoreResult applyRestorePlan(Keyboard& keyboard, const RestorePlan& plan, const MsgStr& messages,
                               const RestoreCallbacks& callbacks) {
    RestoreResult result;
    result.backupComplete = plan.backupComplete;
    std::vector<RestoreItem> items;
    for (const PlannedChange& change : plan.changes) {
        const ShortFormParse parsed = parseShortForm(change.slot);
        if (parsed.status != ShortFormParse::Valid)
            continue;
        RestoreItem item{change.slot, parsed.address, {}, nullptr, false};
        if (change.backup) {
            item.file = change.backup->file;
            try {
                item.data = readDataFile(item.file);
            } catch (...) {
                RestoreFailure failure{item.file, item.slot,
                                       describeException(messages, std::current_exception())};
                result.failed.push_back(failure);
                if (callbacks.failed)
                    callbacks.failed(failure);
                item.failed = true;
            }
        }
        items.push_back(std::move(item));
    }
    carryOutRestore(keyboard, items, messages, callbacks, result);
    return result;
}

} // namespace kbxops

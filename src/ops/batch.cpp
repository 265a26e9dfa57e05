#include "ops/batch.h"

#include "ops/cancel.h"
#include "ops/datafile.h"
#include "ops/undo.h"

#include "data/zxdata.h"
#include "data/zxkinds.h"
#include "drive/zxkbddrv.h"
#include "protocol/zxexception.h"

#include <QFileInfo>
#include <functional>
#include <memory>
#include <stdexcept>

namespace kbxops {

namespace {

QString titleOf(const SlotAddress& address) {
    return slotTitle(shortForm(address));
}

// The frame of every job: item i (from 0) is labelled label(i) and carried out by body(i), which
// returns whether it did something. Failures are the item's; a cancel or a lost device stops the
// job there.
void runItems(BatchResult& result, int count, const std::function<QString(int)>& label,
              const std::function<void(int)>& body) {
    result.count = count;
    for (int i = 0; i < count; ++i) {
        try {
            body(i);
            ++result.done;
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            if (isCancel(error)) {
                result.cancelled = true;
            } else {
                result.failed.push_back(
                    {label(i), QString::fromStdString(describeException(MsgStr(), error).message)});
                result.deviceLost = isDeviceLost(error);
            }
            if (result.cancelled || result.deviceLost) {
                for (int rest = result.cancelled ? i : i + 1; rest < count; ++rest)
                    result.notDone << label(rest);
                return;
            }
        }
    }
}

ZxData& nodeAt(Keyboard& keyboard, const SlotAddress& address) {
    ZxData* node = keyboard.listedSlot(address);
    if (!node)
        throw std::runtime_error(
            localText("The keyboard has no slot %1", "キーボードにスロット %1 はありません")
                .arg(shortForm(address))
                .toStdString());
    return *node;
}

} // namespace

QString batchSummary(const BatchResult& r) {
    QString line;
    switch (r.kind) {
    case BatchKind::Send:
        line = localText("%1 of %2 items sent", "%2 件中 %1 件を送信しました");
        break;
    case BatchKind::Import:
        line = localText("%1 of %2 items imported", "%2 件中 %1 件を受信しました");
        break;
    case BatchKind::Delete:
        line = localText("%1 of %2 items deleted", "%2 件中 %1 件を削除しました");
        break;
    }
    QStringList parts{line.arg(r.done).arg(r.count)};
    for (const BatchFailure& f : r.failed)
        parts << QStringLiteral("%1: %2").arg(f.item, f.reason);
    if (!r.notDone.isEmpty())
        parts << (r.cancelled ? localText("cancelled before %1", "中止のため未処理: %1")
                              : localText("not reached: %1", "未処理: %1"))
                     .arg(r.notDone.join(QStringLiteral(", ")));
    return parts.join(QStringLiteral("; "));
}

std::vector<std::optional<SlotAddress>> placeFiles(const std::vector<SlotEntry>& slots,
                                                   const std::vector<std::uint16_t>& kinds,
                                                   const std::optional<SlotAddress>& start) {
    std::vector<bool> taken(slots.size(), false);
    std::size_t first = 0; // the start's place in the drive's order
    for (std::size_t i = 0; start && i < slots.size(); ++i)
        if (addressOf(*slots[i].node) == *start)
            first = i;
    std::vector<std::optional<SlotAddress>> placed;
    for (std::uint16_t kind : kinds) {
        const bool fillsEmpty = ZxKind::isDeletable(kind);
        const bool startFits = start && start->kind == kind;
        std::optional<SlotAddress> found;
        // From the start on; songs and rhythms then wrap round to the first slot of their kind.
        const std::size_t tries =
            fillsEmpty ? slots.size() : (startFits ? slots.size() - first : 0);
        for (std::size_t n = 0; n < tries && !found; ++n) {
            const std::size_t i = (first + n) % slots.size();
            const ZxData& node = *slots[i].node;
            if (taken[i] || node.kind() != kind || (fillsEmpty && node.isPresent()))
                continue;
            taken[i] = true;
            found = addressOf(node);
        }
        placed.push_back(found);
    }
    return placed;
}

BatchResult sendFiles(Keyboard& keyboard, const QStringList& paths,
                      const std::optional<SlotAddress>& start) {
    BatchResult result;
    result.kind = BatchKind::Send;
    const int count = static_cast<int>(paths.size());
    // Every file read first: the keyboard is asked nothing for a file that is no data file.
    std::vector<std::unique_ptr<ZxDataFile>> items(paths.size());
    std::vector<QString> unread(paths.size());
    std::vector<std::uint16_t> kinds(paths.size(), ZxKind::Undetermined);
    for (int i = 0; i < count; ++i) {
        try {
            items[i] = readDataFile(paths[i]);
            kinds[i] = items[i]->kind();
        } catch (...) {
            unread[i] = QString::fromStdString(
                describeException(MsgStr(), std::current_exception()).message);
        }
    }
    if (!keyboard.drive().isListed())
        keyboard.list();
    const std::vector<std::optional<SlotAddress>> places =
        placeFiles(slotsOf(keyboard.drive().root()), kinds, start);
    runItems(
        result, count,
        [&](int i) { return places[i] ? titleOf(*places[i]) : QFileInfo(paths[i]).fileName(); },
        [&](int i) {
            if (!items[i])
                throw std::runtime_error(unread[i].toStdString());
            // Songs and rhythms go into empty slots; the other kinds from the selected slot on.
            if (!places[i])
                throw std::runtime_error(
                    (ZxKind::isDeletable(kinds[i])
                         ? localText("No free slot of its kind",
                                     "同じ種類の空きスロットがありません")
                         : localText("No slot of its kind from the selected slot on",
                                     "選択したスロット以降に同じ種類のスロットがありません"))
                        .toStdString());
            keyboard.send(*items[i], nodeAt(keyboard, *places[i]),
                          Change{Operation::Send, 0, i + 1, count});
            result.changed.push_back(*places[i]);
        });
    return result;
}

BatchResult importSlots(Keyboard& keyboard, const std::vector<SlotAddress>& slots,
                        const QString& folder) {
    BatchResult result;
    result.kind = BatchKind::Import;
    const int count = static_cast<int>(slots.size());
    TakenNames taken;
    runItems(
        result, count, [&](int i) { return titleOf(slots[i]); },
        [&](int i) {
            ZxData& node = nodeAt(keyboard, slots[i]);
            if (!node.isPresent())
                throw std::runtime_error(localText("empty: there is nothing to import",
                                                   "空です。受信するデータがありません")
                                             .toStdString());
            result.imported.push_back(keyboard.importSlot(node, folder, &taken, i + 1, count));
        });
    return result;
}

BatchResult removeSlots(Keyboard& keyboard, const std::vector<SlotAddress>& slots) {
    BatchResult result;
    result.kind = BatchKind::Delete;
    const int count = static_cast<int>(slots.size());
    runItems(
        result, count, [&](int i) { return titleOf(slots[i]); },
        [&](int i) {
            ZxData& node = nodeAt(keyboard, slots[i]);
            if (!ZxKind::isDeletable(node.kind()))
                throw KbxStreamException(KbxStreamException::KindMismatch);
            if (!node.isPresent())
                return; // nothing there: nothing changes
            keyboard.remove(node, Change{Operation::Delete, 0, i + 1, count});
            result.changed.push_back(slots[i]);
        });
    return result;
}

} // namespace kbxops

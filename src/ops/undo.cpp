#include "undo.h"

#include "datafile.h"
#include "kbxfile.h"
#include "kbxmidistream.h"
#include "kbxnames.h"
#include "msgstr.h"
#include "slotref.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <stdexcept>

namespace kbxops {

namespace {

QString itemTitle(const std::optional<ItemRecord>& item) {
    if (!item)
        return localText("(empty)", "(空)");
    const QString name = kbxnames::keyboardText(item->name).trimmed();
    return name.isEmpty() ? localText("(no name)", "(名前なし)") : name;
}

std::runtime_error noEntry(qint64 id) {
    return std::runtime_error(localText("The history has no entry %1", "履歴に項目 %1 はありません")
                                  .arg(id)
                                  .toStdString());
}

// The slot node an entry names, in the drive's tree as the last list left it.
ZxData& slotOf(Keyboard& keyboard, const HistoryEntry& entry) {
    const ShortFormParse parsed = parseShortForm(entry.slot);
    ZxData* slot =
        parsed.status == ShortFormParse::Valid ? keyboard.listedSlot(parsed.address) : nullptr;
    if (!slot)
        throw std::runtime_error(
            localText("History entry %1 names no slot of the keyboard: %2",
                      "履歴の項目 %1 はキーボードのスロットを指していません: %2")
                .arg(entry.id)
                .arg(entry.slot)
                .toStdString());
    return *slot;
}

} // namespace

QString slotTitle(const QString& text) {
    const ShortFormParse parsed = parseShortForm(text);
    if (parsed.status != ShortFormParse::Valid)
        return text;
    const SlotAddress& a = parsed.address;
    switch (a.kind) {
    case ZxKind::Tone:
        return localText("Tone %1", "トーン %1").arg(a.number);
    case ZxKind::Dsp:
        return localText("DSP %1", "DSP %1").arg(a.number);
    case ZxKind::Registration:
        return localText("Registration %1 of Bank %2", "バンク %2 のレジストレーション %1")
            .arg(a.number)
            .arg(a.bank);
    case ZxKind::Song:
        return localText("Song %1", "ソング %1").arg(a.number);
    case ZxKind::Rhythm:
        return localText("Rhythm %1", "リズム %1").arg(a.number);
    default:
        return text;
    }
}

QString changeText(const HistoryEntry& entry) {
    const QString slot = slotTitle(entry.slot);
    switch (entry.operation) {
    case Operation::Send:
        return localText("send of %1 to %2", "%2 への %1 の送信").arg(itemTitle(entry.after), slot);
    case Operation::Delete:
        return localText("delete of %1 from %2", "%2 からの %1 の削除")
            .arg(itemTitle(entry.before), slot);
    case Operation::Restore:
        if (entry.groupSize > 1)
            return localText("restore of %1 slots", "%1 スロットの復元").arg(entry.groupSize);
        if (!entry.after)
            return localText("restore that emptied %1", "%1 を空にした復元").arg(slot);
        return localText("restore of %1 to %2", "%2 への %1 の復元")
            .arg(itemTitle(entry.after), slot);
    case Operation::Undo:
        if (entry.groupSize > 1)
            return localText("undo in %1 slots", "%1 スロットの取り消し").arg(entry.groupSize);
        return localText("undo in %1", "%1 の取り消し").arg(slot);
    }
    return slot;
}

QString undoText(const HistoryEntry& entry) {
    return localText("Undo %1", "%1 を元に戻す").arg(changeText(entry));
}

std::optional<HistoryEntry> undoTarget(History& history, bool goPast) {
    return history.newestUndoable(goPast);
}

namespace {

bool isDeletable(std::uint16_t kind) {
    return kind == ZxKind::Song || kind == ZxKind::Rhythm;
}

// Whether the last change of the entry's slot was an undo of it that did not come out right
// (read back different): the slot then holds what that undo left, and undoing again is the cure.
bool retried(History& history, const HistoryEntry& target) {
    for (const HistoryEntry& e : history.entries()) {
        if (e.id <= target.id)
            return false;
        if (e.slot == target.slot)
            return e.operation == Operation::Undo && e.before && target.after &&
                   e.before->sha256 == target.after->sha256;
    }
    return false;
}

// Whether the slot holds what the change left there: a song or rhythm by the name and size the
// keyboard lists now, any other item (its list names no item) by the hash of a fresh read.
bool holdsWhatWasLeft(Keyboard& keyboard, ZxData& slot, const HistoryEntry& entry,
                      QString* holding) {
    if (isDeletable(slot.kind())) {
        *holding = slot.isPresent() ? QStringLiteral("%1 (%2 bytes)")
                                          .arg(kbxnames::keyboardText(slot.name()).trimmed())
                                          .arg(slot.size())
                                    : localText("nothing", "何もない状態");
        if (!entry.after)
            return !slot.isPresent();
        return slot.isPresent() && slot.name() == entry.after->name &&
               slot.size() == entry.after->size;
    }
    if (!entry.after || entry.after->sha256.isEmpty())
        return true;
    auto item = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
    KbxMidiStream stream(slot, keyboard.ports().input, keyboard.ports().output);
    stream.read(*item);
    const ItemRecord now = History::describe(*item);
    *holding = kbxnames::keyboardText(now.name).trimmed();
    return now.sha256 == entry.after->sha256;
}

// alone: the undo of this one slot, which therefore undid nothing.
QString changedSince(const HistoryEntry& target, const QString& holding, bool alone = true) {
    const QString text =
        alone ? localText("%1 now holds %2, not what the %3 left there; nothing has been undone.",
                          "%1 には現在 %2 が入っており、%3 の後の内容ではないため、何も元に戻して"
                          "いません。")
              : localText("%1 now holds %2, not what the %3 left there",
                          "%1 には現在 %2 が入っており、%3 の後の内容ではありません");
    return text.arg(slotTitle(target.slot), holding, changeText(target));
}

// Reverts one entry whose slot holds what it left; returns the undo's own entry (0: none).
qint64 revert(Keyboard& keyboard, History& history, const HistoryEntry& target,
              const std::unique_ptr<ZxDataFile>& item, ZxData& slot, const Change& change) {
    qint64 recorded = 0;
    if (item)
        recorded = keyboard.send(*item, slot, change);
    else if (isDeletable(slot.kind()) && slot.isPresent())
        recorded = keyboard.remove(slot, change);
    // Without a row of its own (no history kept, or nothing left to revert) the undo marks the
    // entry itself.
    if (!recorded)
        history.markUndone(target.id);
    return recorded;
}

HistoryEntry undoGroup(Keyboard& keyboard, History& history, const HistoryEntry& target,
                       bool goPast, UndoReport* report) {
    UndoReport local;
    UndoReport& out = report ? *report : local;
    std::vector<HistoryEntry> members;
    for (const HistoryEntry& e : history.groupEntries(target.group))
        if (!e.undone && e.operation != Operation::Undo)
            members.push_back(e);
    // What was empty before is emptied first: the songs that come back need its memory.
    std::stable_partition(members.begin(), members.end(),
                          [](const HistoryEntry& e) { return !e.before; });
    const auto skip = [&out](const HistoryEntry& e, const QString& why) {
        out.skipped.emplace_back(e, why);
    };
    if (!goPast)
        for (const HistoryEntry& e : members)
            if (e.uncopied)
                throw std::runtime_error(
                    localText("The latest change (%1) was made without keeping a copy and cannot "
                              "be undone.",
                              "最新の変更 (%1) はコピーを保存せずに行われたため、元に戻せません。")
                        .arg(changeText(target))
                        .toStdString());

    keyboard.list();
    History* recording = keyboard.safety().history;
    const qint64 undoGroup = recording ? recording->beginGroup(Operation::Undo) : 0;
    const int count = static_cast<int>(members.size());
    int index = 0;
    for (const HistoryEntry& e : members) {
        ++index;
        if (e.uncopied) {
            skip(e, localText("no copy was kept", "コピーが保存されていません"));
            continue;
        }
        try {
            std::unique_ptr<ZxDataFile> item;
            if (e.before)
                item = history.load(*e.before);
            ZxData& slot = slotOf(keyboard, e);
            QString holding;
            if (!retried(history, e) && !holdsWhatWasLeft(keyboard, slot, e, &holding)) {
                skip(e, changedSince(e, holding, false));
                continue;
            }
            revert(keyboard, history, e, item, slot,
                   Change{Operation::Undo, e.id, index, count, undoGroup});
            out.reverted.push_back(e);
        } catch (...) {
            // Stopped, or the keyboard gone: what is not reverted stays undoable.
            if (isCancel(std::current_exception()) || isDeviceLost(std::current_exception()))
                throw;
            skip(e, QString::fromStdString(
                        describeException(MsgStr(), std::current_exception()).message));
        }
    }
    if (out.reverted.empty() && !out.skipped.empty()) {
        QStringList lines;
        for (const auto& [e, why] : out.skipped)
            lines << QStringLiteral("%1: %2").arg(slotTitle(e.slot), why);
        throw std::runtime_error(localText("Nothing of the %1 could be undone:\n%2",
                                           "%1 は何も元に戻せませんでした:\n%2")
                                     .arg(changeText(target), lines.join(QLatin1Char('\n')))
                                     .toStdString());
    }
    return history.entry(target.id).value_or(target);
}

} // namespace

HistoryEntry undoLast(Keyboard& keyboard, History& history, bool goPast, UndoReport* report) {
    std::vector<qint64> damaged;
    for (;;) {
        const std::optional<HistoryEntry> target = history.newestUndoable(goPast, damaged);
        if (!target)
            throw std::runtime_error(
                localText("There is nothing to undo", "元に戻せる変更はありません").toStdString());
        if (target->group)
            return undoGroup(keyboard, history, *target, goPast, report);
        const QString change = changeText(*target);
        // Never an older change in its place: the newest one is named.
        if (target->uncopied)
            throw std::runtime_error(
                localText("The latest change (%1) was made without keeping a copy and cannot be "
                          "undone.",
                          "最新の変更 (%1) はコピーを保存せずに行われたため、元に戻せません。")
                    .arg(change)
                    .toStdString());
        std::unique_ptr<ZxDataFile> item;
        if (target->before) {
            try {
                item = history.load(*target->before);
            } catch (const std::exception& e) {
                if (goPast) {
                    damaged.push_back(target->id);
                    continue;
                }
                throw std::runtime_error(
                    localText("History entry %1 (%2) is damaged and cannot be undone: %3",
                              "履歴の項目 %1 (%2) は破損しているため元に戻せません: %3")
                        .arg(target->id)
                        .arg(change, QString::fromUtf8(e.what()))
                        .toStdString());
            }
        }
        // The slot as it is now: another change may have been made since.
        keyboard.list();
        ZxData& slot = slotOf(keyboard, *target);
        QString holding;
        if (!retried(history, *target) && !holdsWhatWasLeft(keyboard, slot, *target, &holding))
            throw std::runtime_error(changedSince(*target, holding).toStdString());
        revert(keyboard, history, *target, item, slot, Change{Operation::Undo, target->id});
        if (report)
            report->reverted.push_back(*target);
        return history.entry(target->id).value_or(*target);
    }
}

namespace {

// The entry, when it keeps the item that was in its slot.
HistoryEntry entryWithItem(History& history, qint64 id) {
    const std::optional<HistoryEntry> entry = history.entry(id);
    if (!entry)
        throw noEntry(id);
    if (!entry->before)
        throw std::runtime_error(
            localText("History entry %1 keeps no item: the slot was empty",
                      "履歴の項目 %1 にはデータがありません(スロットは空でした)")
                .arg(id)
                .toStdString());
    return *entry;
}

} // namespace

HistoryEntry restoreEntry(Keyboard& keyboard, History& history, qint64 id) {
    const HistoryEntry entry = entryWithItem(history, id);
    const std::unique_ptr<ZxDataFile> item = history.load(*entry.before);
    keyboard.send(*item, slotOf(keyboard, entry), Change{Operation::Restore});
    return entry;
}

QString exportEntry(History& history, qint64 id, const QString& dir, QString* trashed) {
    const HistoryEntry entry = entryWithItem(history, id);
    if (!QFileInfo(dir).isDir())
        throw std::runtime_error(localText("No such folder: \"%1\"", "フォルダー「%1」はありません")
                                     .arg(QDir::toNativeSeparators(dir))
                                     .toStdString());
    const std::unique_ptr<ZxDataFile> item = history.load(*entry.before);
    const QString path = QDir(dir).filePath(kbxnames::importFileName(item->kind(), item->name()));
    // The import's rule: a different file of that name goes to the trash first, never lost.
    const QString aside = moveAsideIfDifferent(path, kbxfile::serialize(*item));
    if (trashed)
        *trashed = aside;
    writeDataFile(path, *item);
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace kbxops

#include "undo.h"

#include "datafile.h"
#include "kbxnames.h"
#include "msgstr.h"
#include "slotref.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFileInfo>
#include <stdexcept>

namespace kbxops {

namespace {

QString itemTitle(const std::optional<ItemRecord>& item) {
    if (!item)
        return QStringLiteral("(empty)");
    const QString name = kbxnames::keyboardText(item->name).trimmed();
    return name.isEmpty() ? QStringLiteral("(no name)") : name;
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
        return QStringLiteral("Tone %1").arg(a.number);
    case ZxKind::Dsp:
        return QStringLiteral("DSP %1").arg(a.number);
    case ZxKind::Registration:
        return QStringLiteral("Registration %1 of Bank %2").arg(a.number).arg(a.bank);
    case ZxKind::Song:
        return QStringLiteral("Song %1").arg(a.number);
    case ZxKind::Rhythm:
        return QStringLiteral("Rhythm %1").arg(a.number);
    default:
        return text;
    }
}

QString changeText(const HistoryEntry& entry) {
    const QString slot = slotTitle(entry.slot);
    switch (entry.operation) {
    case Operation::Send:
        return QStringLiteral("send of %1 to %2").arg(itemTitle(entry.after), slot);
    case Operation::Delete:
        return QStringLiteral("delete of %1 from %2").arg(itemTitle(entry.before), slot);
    case Operation::Restore:
        if (!entry.after)
            return QStringLiteral("restore that emptied %1").arg(slot);
        return QStringLiteral("restore of %1 to %2").arg(itemTitle(entry.after), slot);
    case Operation::Undo:
        return QStringLiteral("undo in %1").arg(slot);
    }
    return slot;
}

QString undoText(const HistoryEntry& entry) {
    return QStringLiteral("Undo ") + changeText(entry);
}

std::optional<HistoryEntry> undoTarget(History& history) {
    return history.newestUndoable();
}

HistoryEntry undoLast(Keyboard& keyboard, History& history) {
    const std::optional<HistoryEntry> target = history.newestUndoable();
    if (!target)
        throw std::runtime_error(
            localText("There is nothing to undo", "元に戻せる変更はありません").toStdString());
    ZxData& slot = slotOf(keyboard, *target);
    const Change change{Operation::Undo, target->id};
    qint64 recorded = 0;
    if (target->before) {
        const std::unique_ptr<ZxDataFile> item = history.load(*target->before);
        recorded = keyboard.send(*item, slot, change);
    } else if ((slot.kind() == ZxKind::Song || slot.kind() == ZxKind::Rhythm) && slot.isPresent()) {
        recorded = keyboard.remove(slot, change);
    }
    // Without a row of its own (no history kept, or nothing left to revert) the undo marks the
    // entry itself.
    if (!recorded)
        history.markUndone(target->id);
    return history.entry(target->id).value_or(*target);
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

QString exportEntry(History& history, qint64 id, const QString& dir) {
    const HistoryEntry entry = entryWithItem(history, id);
    if (!QFileInfo(dir).isDir())
        throw std::runtime_error(localText("No such folder: \"%1\"", "フォルダー「%1」はありません")
                                     .arg(QDir::toNativeSeparators(dir))
                                     .toStdString());
    const std::unique_ptr<ZxDataFile> item = history.load(*entry.before);
    const QString path = QDir(dir).filePath(kbxnames::importFileName(item->kind(), item->name()));
    writeDataFile(path, *item);
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace kbxops

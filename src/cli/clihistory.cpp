// kbxtool's safety-net commands: undo, and the history with its export and restore.
#include "kbxtool.h"

#include "clitext.h"
#include "undo.h"

#include <QJsonArray>

namespace kbxcli {

namespace {

QJsonValue itemDocument(const std::optional<kbxops::ItemRecord>& item, bool withFile) {
    if (!item)
        return QJsonValue();
    QJsonObject document;
    document.insert(QStringLiteral("name"), keyboardText(item->name));
    document.insert(QStringLiteral("size"), static_cast<qint64>(item->size));
    document.insert(QStringLiteral("sha256"), item->sha256);
    if (withFile)
        document.insert(QStringLiteral("file"), item->file);
    return document;
}

QString itemText(const std::optional<kbxops::ItemRecord>& item) {
    return item ? quotedName(item->name) : QStringLiteral("(empty)");
}

} // namespace

QJsonObject KbxTool::entryDocument(const kbxops::HistoryEntry& entry) {
    QJsonObject devices;
    devices.insert(QStringLiteral("input"), entry.inputDevice);
    devices.insert(QStringLiteral("output"), entry.outputDevice);
    QJsonObject document;
    document.insert(QStringLiteral("id"), entry.id);
    document.insert(QStringLiteral("time"), entry.time.toString(Qt::ISODate));
    document.insert(QStringLiteral("operation"), kbxops::operationName(entry.operation));
    document.insert(QStringLiteral("slot"), entry.slot);
    document.insert(QStringLiteral("kind"), kindName(entry.kind));
    document.insert(QStringLiteral("before"), itemDocument(entry.before, true));
    document.insert(QStringLiteral("after"), itemDocument(entry.after, false));
    document.insert(QStringLiteral("devices"), devices);
    document.insert(QStringLiteral("undone"), entry.undone);
    // The change of many slots it belongs to (a restore, its undo); null: a change of its own.
    document.insert(QStringLiteral("group"),
                    entry.group ? QJsonValue(entry.group) : QJsonValue(QJsonValue::Null));
    return document;
}

// "  7  2026-12-08 10:15:00Z  send     song:0      "Minuet  " -> "Waltz   "  (undone)"
QString KbxTool::entryLine(const kbxops::HistoryEntry& entry) {
    return QStringLiteral("%1  %2  %3 %4 %5 -> %6%7\n")
        .arg(entry.id, 4)
        .arg(entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss'Z'")))
        .arg(kbxops::operationName(entry.operation), -8)
        .arg(entry.slot, -10)
        .arg(itemText(entry.before), itemText(entry.after))
        .arg(entry.undone ? QStringLiteral("  (undone)") : QString());
}

void KbxTool::undo() {
    kbxops::History& kept = history();
    // Nothing to undo is said before the keyboard is asked anything.
    const std::optional<kbxops::HistoryEntry> target =
        kbxops::undoTarget(kept, m_options.skipUncopied);
    if (!target)
        throw generalError(localText("There is nothing to undo", "元に戻せる変更はありません"));
    chooseDevices();
    readList();
    kbxops::Keyboard kbd = keyboard();
    kbxops::UndoReport report;
    const kbxops::HistoryEntry done = kbxops::undoLast(kbd, kept, m_options.skipUncopied, &report);
    // A restore is undone as one change; a slot changed since is skipped, and said so.
    m_failed = !report.skipped.empty();
    for (const auto& [entry, why] : report.skipped)
        printError(QStringLiteral("kbxtool: undo: %1: %2").arg(entry.slot, why));
    if (m_options.json)
        printJson(entryDocument(done));
    else
        print(localText("Undid the %1 (entry %2)\n", "%1 を元に戻しました (項目 %2)\n")
                  .arg(kbxops::changeText(done))
                  .arg(done.id));
}

void KbxTool::historyCommand() {
    kbxops::History& kept = history();
    const QString sub = m_options.args.value(0);
    if (sub.isEmpty()) {
        const std::vector<kbxops::HistoryEntry> entries = kept.entries();
        if (m_options.json) {
            QJsonArray array;
            for (const kbxops::HistoryEntry& entry : entries)
                array.append(entryDocument(entry));
            QJsonObject document;
            document.insert(QStringLiteral("entries"), array);
            printJson(document);
            return;
        }
        QString text;
        for (const kbxops::HistoryEntry& entry : entries)
            text += entryLine(entry);
        print(text.isEmpty() ? localText("The history is empty (%1)\n", "履歴は空です (%1)\n")
                                   .arg(kept.databasePath())
                             : text);
        return;
    }
    const qint64 id = m_options.args.value(1).toLongLong();
    if (sub == u"export") {
        QString trashed;
        const QString path = kbxops::exportEntry(kept, id, m_options.args.value(2), &trashed);
        if (m_options.json) {
            QJsonObject document;
            document.insert(QStringLiteral("path"), path);
            if (!trashed.isEmpty())
                document.insert(QStringLiteral("trashed"), trashed);
            printJson(document);
        } else {
            print(path + u'\n');
            if (!trashed.isEmpty())
                printError(localText("The earlier file was moved to the trash: %1",
                                     "以前のファイルはごみ箱に移しました: %1")
                               .arg(trashed));
        }
        return;
    }
    // restore: the entry is checked before the keyboard is asked anything.
    const std::optional<kbxops::HistoryEntry> entry = kept.entry(id);
    if (!entry)
        throw generalError(
            localText("The history has no entry %1", "履歴に項目 %1 はありません").arg(id));
    chooseDevices();
    readList();
    kbxops::Keyboard kbd = keyboard();
    const kbxops::HistoryEntry restored = kbxops::restoreEntry(kbd, kept, id);
    if (m_options.json)
        printJson(entryDocument(restored));
    else
        print(localText("Sent %1 back into %2 (entry %3)\n", "%1 を %2 に戻しました (項目 %3)\n")
                  .arg(itemText(restored.before), restored.slot)
                  .arg(restored.id));
}

} // namespace kbxcli

// kbxtool's commands over the whole keyboard (backup, restore) and the virtual keyboard on MIDI
// ports (emulate).
#include "kbxtool.h"

#include "backup.h"
#include "cancel.h"
#include "clitext.h"
#include "compare.h"
#include "emulate.h"
#include "restoreplan.h"
#include "virtualzr7316.h"

#include <QJsonArray>
#include <QJsonObject>

namespace kbxcli {

namespace {
constexpr const char* kDefaultPortName = "ZR-7316 Virtual";

// An item of a comparison or a restore plan as JSON: its name, size and, for a backup's, its
// file; null for none.
template <typename Item>
QJsonValue itemJson(const std::optional<Item>& item) {
    if (!item)
        return QJsonValue();
    QJsonObject document;
    document.insert(QStringLiteral("name"), keyboardText(item->name));
    document.insert(QStringLiteral("size"), static_cast<qint64>(item->size));
    if (!item->file.isEmpty())
        document.insert(QStringLiteral("file"), item->file);
    return document;
}

// The same as a line's text: the quoted name and the size, or `none`.
template <typename Item>
QString itemText(const std::optional<Item>& item, const QString& none) {
    return item ? QStringLiteral("%1 (%2)").arg(quotedName(item->name)).arg(item->size) : none;
}

} // namespace

void KbxTool::backup() {
    const QString dir = m_options.args.value(0);
    chooseDevices();
    kbxops::Keyboard kbd = keyboard();
    const kbxops::BackupResult result =
        kbxops::backupKeyboard(kbd, dir, [this](const kbxops::BackupEntry& entry) {
            if (!m_options.json)
                print(QStringLiteral("%1 %2\n").arg(entry.slot, -10).arg(entry.file.fileName));
        });

    if (m_options.json) {
        QJsonArray documents;
        for (const kbxops::BackupEntry& entry : result.files) {
            QJsonObject document;
            document.insert(QStringLiteral("file"), entry.file.fileName);
            document.insert(QStringLiteral("slot"), entry.slot);
            document.insert(QStringLiteral("path"), entry.file.path);
            document.insert(QStringLiteral("kind"), kindName(entry.file.kind));
            document.insert(QStringLiteral("size"), static_cast<qint64>(entry.file.size));
            document.insert(QStringLiteral("name"), keyboardText(entry.file.name));
            documents.append(document);
        }
        QJsonObject document;
        document.insert(QStringLiteral("directory"), result.directory);
        document.insert(QStringLiteral("manifest"), result.manifest);
        document.insert(QStringLiteral("files"), documents);
        document.insert(QStringLiteral("empty"), QJsonArray::fromStringList(result.empty));
        document.insert(QStringLiteral("complete"), result.complete);
        if (!result.complete) {
            document.insert(QStringLiteral("notDone"), QJsonArray::fromStringList(result.notDone));
            document.insert(QStringLiteral("error"), errorObject(cancelReport()));
        }
        printJson(document);
    } else {
        print(m_messages.text("%1 items backed up into %2\n", "%1 件を %2 にバックアップしました\n")
                  .arg(result.files.size())
                  .arg(result.directory));
        if (!result.complete) {
            print(m_messages.text("Not backed up: %1\n", "バックアップしていないスロット: %1\n")
                      .arg(result.notDone.join(u' ')));
            printError(QString::fromStdString(cancelReport().message));
        }
    }
    m_interrupted = !result.complete;
}

ErrorReport KbxTool::cancelReport() const {
    return describeException(
        m_messages, std::make_exception_ptr(ZxCancelledException(ZxCancelledException::Cancelled)));
}

void KbxTool::restore() {
    const QString dir = m_options.args.value(0);
    if (m_options.dryRun) {
        restorePlan();
        return;
    }
    kbxops::RestoreCallbacks callbacks;
    callbacks.restored = [this](const QString& file, const QString& slot) {
        if (!m_options.json)
            print(QStringLiteral("%1 %2\n").arg(slot, -10).arg(file));
    };
    callbacks.failed = [this](const kbxops::RestoreFailure& failure) {
        if (!m_options.json)
            printError(QStringLiteral("kbxtool: restore: %1 -> %2: %3")
                           .arg(failure.file.isEmpty() ? QStringLiteral("(empty)") : failure.file,
                                failure.slot, QString::fromStdString(failure.error.message)));
    };
    chooseDevices();
    kbxops::Keyboard kbd = keyboard();
    const kbxops::RestoreResult result = kbxops::restoreBackup(kbd, dir, m_messages, callbacks);

    m_failed = !result.failed.empty();
    m_interrupted = result.cancelled;
    if (!result.backupComplete && !m_options.json)
        printError(m_messages.text(
            "kbxtool: restore: the backup is incomplete; the slots it lacks were left as they are.",
            "kbxtool: restore: バックアップが不完全です。含まれないスロットはそのままです。"));
    if (m_options.json) {
        QJsonArray restored;
        for (const auto& [file, slot] : result.restored) {
            QJsonObject item;
            item.insert(QStringLiteral("file"), file);
            item.insert(QStringLiteral("slot"), slot);
            restored.append(item);
        }
        QJsonArray failed;
        for (const kbxops::RestoreFailure& f : result.failed) {
            QJsonObject failure;
            failure.insert(QStringLiteral("file"), f.file);
            failure.insert(QStringLiteral("slot"), f.slot);
            failure.insert(QStringLiteral("error"), errorObject(f.error));
            failed.append(failure);
        }
        QJsonArray notDone;
        for (const auto& [file, slot] : result.notDone) {
            QJsonObject item;
            item.insert(QStringLiteral("file"), file);
            item.insert(QStringLiteral("slot"), slot);
            notDone.append(item);
        }
        QJsonObject document;
        document.insert(QStringLiteral("directory"), result.directory);
        document.insert(QStringLiteral("restored"), restored);
        document.insert(QStringLiteral("cleared"), QJsonArray::fromStringList(result.cleared));
        document.insert(QStringLiteral("failed"), failed);
        document.insert(QStringLiteral("backupComplete"), result.backupComplete);
        document.insert(QStringLiteral("cancelled"), result.cancelled);
        if (result.cancelled) {
            document.insert(QStringLiteral("notDone"), notDone);
            document.insert(QStringLiteral("error"), errorObject(cancelReport()));
        } else if (result.deviceLost) {
            document.insert(QStringLiteral("notDone"), notDone);
            document.insert(QStringLiteral("error"), errorObject(result.failed.back().error));
        } else if (m_failed) {
            document.insert(QStringLiteral("error"), errorObject(result.failed.front().error));
        }
        printJson(document);
    } else {
        QStringList notDone;
        qsizetype filesNotDone = 0;
        for (const auto& [file, slot] : result.notDone) {
            notDone << slot;
            filesNotDone += file.isEmpty() ? 0 : 1;
        }
        print(
            m_messages
                .text("%1 of %2 items restored from %3\n", "%3 から %2 件中 %1 件を復元しました\n")
                .arg(result.restored.size())
                .arg(qsizetype(result.restored.size() + result.failed.size()) + filesNotDone)
                .arg(result.directory));
        if (result.cancelled || result.deviceLost)
            print(m_messages.text("Not restored: %1\n", "復元していないスロット: %1\n")
                      .arg(notDone.join(u' ')));
        if (result.cancelled)
            printError(QString::fromStdString(cancelReport().message));
    }
}

void KbxTool::emulate() {
    const QString name = m_options.hasName ? m_options.name : QString::fromLatin1(kDefaultPortName);
    const QString state = m_options.hasState               ? m_options.state
                          : !m_options.stateFile.isEmpty() ? m_options.stateFile
                                                           : VirtualZr7316::defaultStateFile();
    VirtualZr7316 keyboard;
    keyboard.setStateFile(state);
    {
        InterruptWatcher interrupts;
        VirtualPortServer server(keyboard, name);
        const std::vector<VirtualPortServer::Published> ports = server.publish();
        if (m_options.json) {
            QJsonArray array;
            for (const auto& p : ports) {
                QJsonObject port;
                port.insert(QStringLiteral("api"), p.api);
                port.insert(QStringLiteral("input"), p.input);
                port.insert(QStringLiteral("output"), p.output);
                array.append(port);
            }
            QJsonObject document;
            document.insert(QStringLiteral("name"), name);
            document.insert(QStringLiteral("stateFile"), absoluteNative(state));
            document.insert(QStringLiteral("ports"), array);
            printJson(document);
        } else {
            QString text = QStringLiteral("The virtual ZR-7316 answers on these MIDI ports:\n");
            for (const auto& p : ports)
                text += QStringLiteral("  %1 input:  %2\n  %1 output: %3\n")
                            .arg(p.api, -5)
                            .arg(p.input, p.output);
            text += QStringLiteral("State file: %1\n").arg(absoluteNative(state));
            print(text);
            for (const QString& why : server.skipped())
                printError(QStringLiteral("kbxtool: emulate: not on %1").arg(why));
            printError(QStringLiteral("kbxtool: emulate: serving until interrupted (Ctrl+C)"));
        }
        interrupts.wait();
    }
    // Nothing to save: every change was committed to the state file as it happened, and
    // writing this memory now could undo what another program has stored since.
}

void KbxTool::diff() {
    QStringList skipped;
    const auto side = [&](const QString& text) {
        if (text == u"keyboard") {
            chooseDevices();
            kbxops::Keyboard kbd = keyboard();
            return kbxops::sideOfKeyboard(kbd);
        }
        return kbxops::sideOfBackup(text, &skipped);
    };
    const kbxops::Side a = side(m_options.args.value(0));
    const kbxops::Side b = side(m_options.args.value(1));
    const std::vector<kbxops::SlotComparison> slotList = kbxops::compareSides(a, b);
    for (const QString& why : skipped)
        printError(QStringLiteral("kbxtool: diff: %1").arg(why));

    if (m_options.json) {
        QJsonArray array;
        for (const kbxops::SlotComparison& c : slotList) {
            QJsonObject slot;
            slot.insert(QStringLiteral("slot"), c.slot);
            slot.insert(QStringLiteral("state"), kbxops::stateWord(c.state));
            slot.insert(QStringLiteral("a"), itemJson(c.a));
            slot.insert(QStringLiteral("b"), itemJson(c.b));
            array.append(slot);
        }
        QJsonObject document;
        document.insert(QStringLiteral("slots"), array);
        printJson(document);
        return;
    }
    QString text = QStringLiteral("A: %1\nB: %2\n").arg(a.label, b.label);
    int same = 0;
    for (const kbxops::SlotComparison& c : slotList) {
        if (c.state == kbxops::SlotComparison::Equal) {
            ++same;
            continue;
        }
        text += QStringLiteral("  %1 %2 %3 | %4\n")
                    .arg(c.slot, -10)
                    .arg(kbxops::stateWord(c.state), -9)
                    .arg(itemText(c.a, QStringLiteral("-")), itemText(c.b, QStringLiteral("-")));
    }
    text += QStringLiteral("%1 slots equal, %2 differ\n").arg(same).arg(slotList.size() - same);
    print(text);
}

void KbxTool::restorePlan() {
    chooseDevices();
    kbxops::Keyboard kbd = keyboard();
    const kbxops::RestorePlan plan = kbxops::planRestore(kbd, m_options.args.value(0));
    for (const QString& why : plan.skipped)
        printError(QStringLiteral("kbxtool: restore: %1").arg(why));
    if (m_options.json) {
        QJsonArray changes;
        for (const kbxops::PlannedChange& c : plan.changes) {
            QJsonObject change;
            change.insert(QStringLiteral("slot"), c.slot);
            change.insert(QStringLiteral("now"), itemJson(c.now));
            change.insert(QStringLiteral("backup"), itemJson(c.backup));
            changes.append(change);
        }
        QJsonObject document;
        document.insert(QStringLiteral("changes"), changes);
        document.insert(QStringLiteral("unchanged"), plan.unchanged);
        document.insert(QStringLiteral("absent"), plan.absent);
        printJson(document);
        return;
    }
    QString text;
    for (const kbxops::PlannedChange& c : plan.changes)
        text += QStringLiteral("  %1 %2 -> %3\n")
                    .arg(c.slot, -10)
                    .arg(itemText(c.now, QStringLiteral("empty")),
                         itemText(c.backup, QStringLiteral("empty")));
    text += QStringLiteral("%1 slots would change, %2 stay as they are; nothing was sent\n")
                .arg(plan.changes.size())
                .arg(plan.unchanged + plan.absent);
    print(text);
}

} // namespace kbxcli

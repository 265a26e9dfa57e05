// kbxtool's output: the JSON documents and the text a person reads, and the commands that only
// show what there is (devices, list).
#include "kbxtool.h"

#include "clitext.h"
#include "mididevices.h"
#include "zxkbddrv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstdio>
#include <stdexcept>

namespace kbxcli {

// ---- documents ----------------------------------------------------------------------------

QJsonObject KbxTool::slotDocument(const kbxops::SlotState& state) const {
    const SlotAddress& at = state.address;
    QJsonObject slot;
    slot.insert(QStringLiteral("path"), keyboardText(state.path));
    slot.insert(QStringLiteral("kind"), kindName(at.kind));
    slot.insert(QStringLiteral("number"), at.number);
    slot.insert(QStringLiteral("bank"),
                at.kind == ZxKind::Registration ? QJsonValue(at.bank) : QJsonValue());
    slot.insert(QStringLiteral("present"), state.present);
    slot.insert(QStringLiteral("size"), static_cast<qint64>(state.size));
    slot.insert(QStringLiteral("name"), keyboardText(state.name));
    return slot;
}

QJsonObject KbxTool::fileDocument(const QString& path, const ZxDataFile& item) {
    QJsonObject file;
    file.insert(QStringLiteral("path"), path);
    file.insert(QStringLiteral("kind"), kindName(item.kind()));
    file.insert(QStringLiteral("size"), static_cast<qint64>(item.size()));
    file.insert(QStringLiteral("name"), keyboardText(item.name()));
    return file;
}

void KbxTool::printFile(const QString& path, const ZxDataFile& item) {
    if (m_options.json) {
        printJson(fileDocument(path, item));
        return;
    }
    print(QStringLiteral("File: %1\nKind: %2\nSize: %3 bytes\nName: %4\n")
              .arg(path, kindTitle(item.kind()))
              .arg(item.size())
              .arg(quotedName(item.name())));
}

void KbxTool::print(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void KbxTool::printJson(const QJsonObject& document) {
    print(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
}

void KbxTool::printError(const QString& text) {
    std::fputs((text + u'\n').toUtf8().constData(), stderr);
    std::fflush(stderr);
}

void KbxTool::devices() {
    try {
        chooseDevices(false);
    } catch (const std::runtime_error&) {
        // A chosen device that is gone is what the list is looked at for: list without a mark.
        m_input = m_output = -1;
    }
    auto& registry = kbxmidi::DeviceRegistry::instance();
    const std::vector<std::string> inputs = registry.inputNames();
    const std::vector<std::string> outputs = registry.outputNames();
    if (m_options.json) {
        const auto array = [](const std::vector<std::string>& names) {
            QJsonArray list;
            for (std::size_t i = 0; i < names.size(); ++i) {
                QJsonObject device;
                device.insert(QStringLiteral("number"), static_cast<int>(i));
                device.insert(QStringLiteral("name"), QString::fromStdString(names[i]));
                list.append(device);
            }
            return list;
        };
        QJsonObject document;
        document.insert(QStringLiteral("inputs"), array(inputs));
        document.insert(QStringLiteral("outputs"), array(outputs));
        printJson(document);
        return;
    }
    const auto listing = [](const std::vector<std::string>& names, int chosen) {
        QString text;
        for (std::size_t i = 0; i < names.size(); ++i)
            text += QStringLiteral("%1 %2  %3\n")
                        .arg(QChar(static_cast<int>(i) == chosen ? u'*' : u' '))
                        .arg(i, 2)
                        .arg(QString::fromStdString(names[i]));
        return names.empty() ? QStringLiteral("   (none)\n") : text;
    };
    print(QStringLiteral("MIDI input devices:\n") + listing(inputs, m_input) +
          QStringLiteral("MIDI output devices:\n") + listing(outputs, m_output) +
          QStringLiteral("(* the devices kbxtool uses with these options)\n"));
}

void KbxTool::list() {
    chooseDevices();
    readList();
    ZxDataDrive& root = drive().root();
    const std::vector<FolderEntry> folders = foldersOf(root);
    const std::vector<SlotEntry> slotList = slotsOf(root);

    if (m_options.json) {
        QJsonArray folderArray;
        for (const FolderEntry& f : folders) {
            QJsonObject folder;
            folder.insert(QStringLiteral("path"), keyboardText(f.path));
            folder.insert(QStringLiteral("kind"), kindName(f.node->kind()));
            folder.insert(QStringLiteral("capacity"), f.node->capacity());
            folder.insert(QStringLiteral("freeSpace"), f.node->freeSpace());
            folder.insert(QStringLiteral("usedSpace"), f.node->usedSpace());
            folder.insert(QStringLiteral("present"), f.node->isPresent());
            folder.insert(QStringLiteral("size"), static_cast<qint64>(f.node->size()));
            folderArray.append(folder);
        }
        QJsonArray slotArray;
        for (const SlotEntry& s : slotList)
            slotArray.append(slotDocument(kbxops::stateOf(s)));
        QJsonObject document;
        document.insert(QStringLiteral("model"), keyboardText(root.name()));
        document.insert(QStringLiteral("folders"), folderArray);
        document.insert(QStringLiteral("slots"), slotArray);
        printJson(document);
        return;
    }

    QString text = QStringLiteral("Model: %1\n").arg(printable(keyboardText(root.name())));
    for (const FolderEntry& f : folders) {
        const bool topLevel = (f.node->attributes() & ZxAttr::Drive) != 0;
        text += (topLevel ? QStringLiteral("\n") : QString()) + printable(keyboardText(f.path));
        if (topLevel)
            text += QStringLiteral("  (capacity %1 bytes, used %2, free %3)")
                        .arg(f.node->capacity())
                        .arg(f.node->usedSpace())
                        .arg(f.node->freeSpace());
        text += u'\n';
        for (const SlotEntry& s : slotList) {
            if (s.folderPath != f.path)
                continue;
            const ZxData& node = *s.node;
            text +=
                QStringLiteral("  %1 %2 %3  %4\n")
                    .arg(shortForm(addressOf(node)), -10)
                    .arg(printable(keyboardText(s.path)), -30)
                    .arg(node.isPresent() ? QString::number(node.size()) : QStringLiteral("-"), 6)
                    .arg(node.isPresent() ? quotedName(node.name()) : QStringLiteral("(empty)"));
        }
    }
    print(text);
}

} // namespace kbxcli

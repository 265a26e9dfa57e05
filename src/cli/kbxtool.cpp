#include "kbxtool.h"

#include "backup.h"
#include "datafile.h"
#include "keyboard.h"

#include "clitext.h"
#include "deviceselect.h"
#include "emulate.h"
#include "mididevices.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#ifndef KBX_VERSION
#define KBX_VERSION "unknown"
#endif

namespace kbxcli {

namespace {

constexpr const char* kDefaultPortName = "ZR-7316 Virtual";

// Control characters would move a terminal's cursor; a person sees "_" instead.
QString printable(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    return text;
}

QString quotedName(const std::string& name) {
    return u'"' + printable(keyboardText(name)) + u'"';
}

QString absoluteNative(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

bool isDeletable(std::uint16_t kind) {
    return kind == ZxKind::Song || kind == ZxKind::Rhythm;
}

std::runtime_error generalError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

QJsonObject errorObject(const ErrorReport& report) {
    QJsonObject error;
    error.insert(QStringLiteral("class"), QString::fromStdString(report.className));
    error.insert(QStringLiteral("code"), report.code ? QJsonValue(*report.code) : QJsonValue());
    error.insert(QStringLiteral("message"), QString::fromStdString(report.message));
    return error;
}

} // namespace

KbxTool::KbxTool(Options options)
    : m_options(std::move(options))
    , m_bar(!m_options.json && ProgressBar::stderrIsTerminal())
    , m_progress(m_bar, m_messages) {}

KbxTool::~KbxTool() = default;

int KbxTool::run() {
    if (m_options.help) {
        print(helpText());
        return ExitOk;
    }
    if (m_options.version) {
        print(QStringLiteral("kbxtool %1\n").arg(QLatin1String(KBX_VERSION)));
        return ExitOk;
    }
    try {
        const QString& command = m_options.command;
        if (command == u"devices")
            devices();
        else if (command == u"list")
            list();
        else if (command == u"import")
            importCommand();
        else if (command == u"send")
            send();
        else if (command == u"delete")
            remove();
        else if (command == u"info")
            info();
        else if (command == u"rename")
            rename();
        else if (command == u"backup")
            backup();
        else if (command == u"restore")
            restore();
        else if (command == u"emulate")
            emulate();
        else
            throw UsageError{QStringLiteral("unknown command %1").arg(command)};
        return m_failed ? ExitFailed : ExitOk;
    } catch (const UsageError& error) {
        m_bar.finish();
        printError(QStringLiteral("kbxtool: ") + error.message);
        printError(usageLine());
        return ExitUsage;
    } catch (...) {
        m_bar.finish();
        const ErrorReport report = describeException(m_messages, std::current_exception());
        if (m_options.json) {
            QJsonObject document;
            document.insert(QStringLiteral("error"), errorObject(report));
            printJson(document);
        } else {
            printError(report.message.empty() ? QStringLiteral("Unknown error")
                                              : QString::fromStdString(report.message));
        }
        return ExitFailed;
    }
}

// ---- devices and the keyboard ----------------------------------------------------------------

ZxKbdDrv& KbxTool::drive() {
    return ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
}

kbxops::Keyboard KbxTool::keyboard() {
    return kbxops::Keyboard(drive(), kbxops::Devices{m_input, m_output}, &m_progress);
}

void KbxTool::chooseDevices() {
    auto& registry = kbxmidi::DeviceRegistry::instance();
    VirtualZr7316& keyboard = registry.virtualKeyboard();
    if (m_options.useVirtual) {
        registry.setSystemDevicesEnabled(false);
        keyboard.setStateFile(m_options.stateFile.isEmpty() ? VirtualZr7316::defaultStateFile()
                                                            : m_options.stateFile);
        m_input = registry.virtualInputNumber();
        m_output = registry.virtualOutputNumber();
        return;
    }
    // The built-in keyboard is one of the devices; it remembers what it holds, as in kbxman.
    if (keyboard.stateFile().isEmpty())
        keyboard.setStateFile(VirtualZr7316::defaultStateFile());

    const auto pick = [](const QString& text, const std::vector<std::string>& names,
                         const char* option, const char* side) {
        const DeviceMatch match = matchDevice(text, names);
        if (match.number < 0)
            throw UsageError{QStringLiteral("%1: %2\nMIDI %3 devices:\n%4")
                                 .arg(QLatin1String(option), match.error, QLatin1String(side),
                                      deviceListing(names).chopped(1))};
        return match.number;
    };
    // kbxman's choice, read with kbxman's checks; only what the options leave open.
    const kbxops::Devices stored =
        m_options.hasIn && m_options.hasOut ? kbxops::Devices{} : kbxops::storedDevices();
    m_input =
        m_options.hasIn ? pick(m_options.in, registry.inputNames(), "--in", "input") : stored.input;
    m_output = m_options.hasOut ? pick(m_options.out, registry.outputNames(), "--out", "output")
                                : stored.output;
}

void KbxTool::readList() {
    keyboard().list();
}

void KbxTool::checkSlotText(const QString& text) {
    const ShortFormParse parsed = parseShortForm(text);
    if (parsed.status == ShortFormParse::Invalid)
        throw UsageError{QStringLiteral("\"%1\" is no slot; short forms are tone:N, dsp:N, "
                                        "reg:BANK:N, song:N and rhythm:N")
                             .arg(text)};
    if (parsed.status == ShortFormParse::Valid &&
        !findSlot(slotsOf(drive().root()), parsed.address))
        throw UsageError{QStringLiteral("the ZR-7316 has no slot %1 (tone:0-9, dsp:0-9, "
                                        "reg:0-3:0-3, song:0-1, rhythm:0-3)")
                             .arg(text)};
}

const SlotEntry& KbxTool::resolveSlot(const std::vector<SlotEntry>& slotList, const QString& text) {
    if (const SlotEntry* entry = findSlot(slotList, text))
        return *entry;
    throw UsageError{QStringLiteral("the keyboard's list has no slot \"%1\" (name slots as "
                                    "`kbxtool list` shows them, or by tone:N, dsp:N, reg:BANK:N, "
                                    "song:N, rhythm:N)")
                         .arg(text)};
}

// ---- documents ----------------------------------------------------------------------------

QJsonObject KbxTool::slotDocument(const SlotEntry& entry) const {
    const ZxData& node = *entry.node;
    QJsonObject slot;
    slot.insert(QStringLiteral("path"), keyboardText(entry.path));
    slot.insert(QStringLiteral("kind"), kindName(node.kind()));
    slot.insert(QStringLiteral("number"), node.number());
    slot.insert(QStringLiteral("bank"),
                node.kind() == ZxKind::Registration ? QJsonValue(node.bank()) : QJsonValue());
    slot.insert(QStringLiteral("present"), node.isPresent());
    slot.insert(QStringLiteral("size"), static_cast<qint64>(node.size()));
    slot.insert(QStringLiteral("name"), keyboardText(node.name()));
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

// ---- commands -------------------------------------------------------------------------------

void KbxTool::devices() {
    chooseDevices();
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
            slotArray.append(slotDocument(s));
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

void KbxTool::importCommand() {
    const QString slotText = m_options.args.value(0);
    const QString dir = m_options.args.size() > 1 ? m_options.args[1] : QStringLiteral(".");
    checkSlotText(slotText);
    if (!QFileInfo(dir).isDir())
        throw generalError(QStringLiteral("No such folder: \"%1\"").arg(dir));
    chooseDevices();
    readList();
    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    const SlotEntry& entry = resolveSlot(slotList, slotText);
    const kbxops::ImportedFile file = keyboard().importSlot(*entry.node, dir);
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("path"), file.path);
        document.insert(QStringLiteral("kind"), kindName(file.kind));
        document.insert(QStringLiteral("size"), static_cast<qint64>(file.size));
        document.insert(QStringLiteral("name"), keyboardText(file.name));
        printJson(document);
    } else {
        print(file.path + u'\n');
    }
}

void KbxTool::send() {
    const QString path = m_options.args.value(0);
    const QString slotText = m_options.args.value(1);
    checkSlotText(slotText);
    // The file first: one that is no data file is refused before the keyboard is asked anything.
    const std::unique_ptr<ZxDataFile> item = kbxops::readDataFile(path);
    chooseDevices();
    readList();
    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    const SlotEntry& entry = resolveSlot(slotList, slotText);
    const SlotAddress address = addressOf(*entry.node);
    keyboard().send(*item, *entry.node);

    const std::vector<SlotEntry> after = slotsOf(drive().root());
    const SlotEntry& written = *findSlot(after, address);
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("file"), absoluteNative(path));
        document.insert(QStringLiteral("slot"), slotDocument(written));
        printJson(document);
    } else {
        print(QStringLiteral("Sent %1 into %2 (%3), named %4\n")
                  .arg(absoluteNative(path), printable(keyboardText(written.path)),
                       shortForm(address), quotedName(written.node->name())));
    }
}

void KbxTool::remove() {
    const QString slotText = m_options.args.value(0);
    checkSlotText(slotText);
    const ShortFormParse parsed = parseShortForm(slotText);
    const auto refuse = [](const QString& slot, std::uint16_t kind) {
        return UsageError{QStringLiteral("only songs and user rhythms can be deleted; %1 is a %2 "
                                         "slot")
                              .arg(slot, kindTitle(kind).toLower())};
    };
    if (parsed.status == ShortFormParse::Valid && !isDeletable(parsed.address.kind))
        throw refuse(slotText, parsed.address.kind);
    chooseDevices();
    readList();
    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    const SlotEntry& entry = resolveSlot(slotList, slotText);
    if (!isDeletable(entry.node->kind()))
        throw refuse(keyboardText(entry.path), entry.node->kind());
    const SlotAddress address = addressOf(*entry.node);
    const QString oldPath = keyboardText(entry.path);
    keyboard().remove(*entry.node);

    const std::vector<SlotEntry> after = slotsOf(drive().root());
    const SlotEntry& emptied = *findSlot(after, address);
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("slot"), slotDocument(emptied));
        printJson(document);
    } else {
        print(QStringLiteral("Deleted %1 (%2)\n").arg(printable(oldPath), shortForm(address)));
    }
}

void KbxTool::info() {
    const QString path = m_options.args.value(0);
    printFile(absoluteNative(path), *kbxops::readDataFile(path));
}

void KbxTool::rename() {
    const QString path = m_options.args.value(0);
    const QString typed = m_options.args.value(1);
    const std::string name = kbxops::storableName(typed);
    if (name.empty())
        throw UsageError{QStringLiteral("rename: the new name is empty")};
    if (name.size() > kNameLength)
        throw UsageError{
            QStringLiteral("rename: a name has at most %1 characters").arg(kNameLength)};

    const std::unique_ptr<ZxDataFile> item = kbxops::readDataFile(path);
    if (kbxops::renameDataFile(path, *item, typed) == kbxops::RenameResult::NoName)
        throw generalError(QStringLiteral("\"%1\" holds an item of %2; it has no name to change")
                               .arg(QDir::toNativeSeparators(path), kindTitle(item->kind())));
    printFile(absoluteNative(path), *item);
}

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
        printJson(document);
    } else {
        print(QStringLiteral("%1 items backed up into %2\n")
                  .arg(result.files.size())
                  .arg(result.directory));
    }
}

void KbxTool::restore() {
    const QString dir = m_options.args.value(0);
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
        QJsonObject document;
        document.insert(QStringLiteral("directory"), result.directory);
        document.insert(QStringLiteral("restored"), restored);
        document.insert(QStringLiteral("cleared"), QJsonArray::fromStringList(result.cleared));
        document.insert(QStringLiteral("failed"), failed);
        if (m_failed)
            document.insert(QStringLiteral("error"), errorObject(result.failed.front().error));
        printJson(document);
    } else {
        print(QStringLiteral("%1 of %2 items restored from %3\n")
                  .arg(result.restored.size())
                  .arg(result.restored.size() + result.failed.size())
                  .arg(result.directory));
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
    keyboard.save();
}

int runCommandLine(const QStringList& arguments) {
    const ParsedArguments parsed = parseArguments(arguments);
    if (!parsed.error.isEmpty()) {
        std::fputs(
            QStringLiteral("kbxtool: %1\n%2\n").arg(parsed.error, usageLine()).toUtf8().constData(),
            stderr);
        return ExitUsage;
    }
    KbxTool tool(parsed.options);
    return tool.run();
}

} // namespace kbxcli

#include "kbxtool.h"

#include "clitext.h"
#include "deviceselect.h"
#include "emulate.h"
#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "mididevices.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSettings>
#include <algorithm>
#include <cstdio>
#include <map>
#include <stdexcept>

#ifndef KBX_VERSION
#define KBX_VERSION "unknown"
#endif

namespace kbxcli {

namespace {

constexpr const char* kManifestName = "manifest.json";
constexpr const char* kDefaultPortName = "ZR-7316 Virtual";
// Status texts of the message table.
constexpr int kStatusList = 0;
constexpr int kStatusSend = 1;
constexpr int kStatusImport = 2;

DriveProgress& driveProgress() {
    static DriveProgress progress; // attached to the process-wide drive, which has no detach
    return progress;
}

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

ErrorReport generalReport(const QString& text) {
    return ErrorReport{"general", std::nullopt, text.toStdString()};
}

// A manifest entry must name a file in the backup's own folder, nothing above or beside it.
bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(u':') && !name.contains(QChar(0));
}

} // namespace

KbxTool::KbxTool(Options options)
    : m_options(std::move(options))
    , m_bar(!m_options.json && ProgressBar::stderrIsTerminal()) {}

KbxTool::~KbxTool() {
    driveProgress().setBar(nullptr);
}

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
    ZxKbdDrv& drive = ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
    drive.attach(&driveProgress());
    driveProgress().setBar(&m_bar);
    return drive;
}

int KbxTool::settingsDevice(const char* key) const {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QLatin1String(kOrganisation), QLatin1String(kApplication));
    bool ok = false;
    const int number = settings.value(QLatin1String(key)).toInt(&ok);
    return ok ? number : 0;
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
    m_input = m_options.hasIn ? pick(m_options.in, registry.inputNames(), "--in", "input")
                              : settingsDevice("MIDI/InputDevice");
    m_output = m_options.hasOut ? pick(m_options.out, registry.outputNames(), "--out", "output")
                                : settingsDevice("MIDI/OutputDevice");
}

void KbxTool::readList() {
    ZxKbdDrv& d = drive();
    m_bar.start(QString::fromStdString(m_messages.GetStatusMsg(kStatusList)), d.progressTotal());
    d.readList(m_input, m_output);
    m_bar.finish();
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

std::unique_ptr<KbxMidiStream> KbxTool::openSlot(const SlotEntry& entry) {
    // By the node, not by its path: names repeat within a folder (blank tones, a song named like
    // the empty slot beside it), and a short form must reach its own slot.
    return std::make_unique<KbxMidiStream>(*entry.node, m_input, m_output);
}

KbxTool::Imported KbxTool::importSlot(const SlotEntry& entry, const QString& dir,
                                      QSet<QString>* taken, const QString& label) {
    ZxDataFile item(ZxKind::Undetermined);
    StreamProgress progress(m_bar);
    auto stream = openSlot(entry);
    stream->attach(&progress);
    item.setSize(stream->size());
    m_bar.start(label, item.size());
    stream->read(item);
    m_bar.finish();
    stream.reset();

    QString fileName = importFileName(item.kind(), item.name());
    if (taken) {
        // Two items of one kind may carry the same name; neither may overwrite the other.
        const QString base = fileName.chopped(4);
        for (int n = 2; taken->contains(fileName.toLower()); ++n)
            fileName = base + QStringLiteral(" (%1).kbx").arg(n);
        taken->insert(fileName.toLower());
    }
    const QString path = QDir(dir).filePath(fileName);
    {
        KbxFileStream file(path, KbxFileStream::Create);
        file.write(item);
    }
    return Imported{absoluteNative(path), fileName, item.kind(), item.size(), item.name()};
}

void KbxTool::sendItem(ZxDataFile& item, const SlotEntry& entry, const QString& label) {
    StreamProgress progress(m_bar);
    auto stream = openSlot(entry);
    stream->attach(&progress);
    m_bar.start(label, item.size());
    stream->write(item);
    m_bar.finish();
}

void KbxTool::readFile(const QString& path, ZxDataFile& item) {
    KbxFileStream file(path, KbxFileStream::Read);
    item.setSize(file.size());
    file.read(item);
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
    const Imported file = importSlot(
        entry, dir, nullptr, QString::fromStdString(m_messages.GetStatusMsg(kStatusImport)));
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
    ZxDataFile item(ZxKind::Undetermined);
    readFile(path, item);
    chooseDevices();
    readList();
    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    const SlotEntry& entry = resolveSlot(slotList, slotText);
    const SlotAddress address = addressOf(*entry.node);
    sendItem(item, entry, QString::fromStdString(m_messages.GetStatusMsg(kStatusSend)));

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
    drive().deleteItem(*entry.node);

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
    ZxDataFile item(ZxKind::Undetermined);
    readFile(path, item);
    printFile(absoluteNative(path), item);
}

void KbxTool::rename() {
    const QString path = m_options.args.value(0);
    const std::string name = itemName(m_options.args.value(1));
    if (name.empty())
        throw UsageError{QStringLiteral("rename: the new name is empty")};
    if (name.size() > kNameLength)
        throw UsageError{
            QStringLiteral("rename: a name has at most %1 characters").arg(kNameLength)};

    ZxDataFile item(ZxKind::Undetermined);
    readFile(path, item);
    if (!ZxKind::isDataKind(item.kind()))
        throw generalError(QStringLiteral("\"%1\" holds an item of %2; it has no name to change")
                               .arg(QDir::toNativeSeparators(path), kindTitle(item.kind())));
    item.setItemName(name);
    // The name must have reached the data, or the file would be rewritten unchanged.
    item.refreshName();
    std::string padded = name;
    padded.resize(kNameLength, ' ');
    if (item.name() != padded)
        throw generalError(QStringLiteral("\"%1\" is too short to hold a name")
                               .arg(QDir::toNativeSeparators(path)));
    {
        KbxFileStream file(path, KbxFileStream::Create);
        file.write(item);
    }
    printFile(absoluteNative(path), item);
}

void KbxTool::backup() {
    const QString dir = m_options.args.value(0);
    if (!QDir().mkpath(dir))
        throw generalError(
            QStringLiteral("Cannot create folder \"%1\"").arg(QDir::toNativeSeparators(dir)));
    chooseDevices();
    readList();

    // An older manifest would name files that this backup is about to replace.
    const QString manifestPath = QDir(dir).filePath(QLatin1String(kManifestName));
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath))
        throw generalError(
            QStringLiteral("Cannot replace \"%1\"").arg(QDir::toNativeSeparators(manifestPath)));

    const std::vector<SlotEntry> slotList = slotsOf(drive().root());
    std::vector<const SlotEntry*> present;
    QJsonArray empty;
    for (const SlotEntry& s : slotList) {
        if (s.node->isPresent())
            present.push_back(&s);
        else if (isDeletable(s.node->kind()))
            empty.append(shortForm(addressOf(*s.node)));
    }

    QSet<QString> taken;
    QJsonObject files;
    QJsonArray documents;
    const QString status = QString::fromStdString(m_messages.GetStatusMsg(kStatusImport));
    for (std::size_t i = 0; i < present.size(); ++i) {
        const SlotEntry& s = *present[i];
        const QString slot = shortForm(addressOf(*s.node));
        const Imported file = importSlot(
            s, dir, &taken, QStringLiteral("%1 %2/%3").arg(status).arg(i + 1).arg(present.size()));
        files.insert(file.fileName, slot);
        QJsonObject document;
        document.insert(QStringLiteral("file"), file.fileName);
        document.insert(QStringLiteral("slot"), slot);
        document.insert(QStringLiteral("path"), file.path);
        document.insert(QStringLiteral("kind"), kindName(file.kind));
        document.insert(QStringLiteral("size"), static_cast<qint64>(file.size));
        document.insert(QStringLiteral("name"), keyboardText(file.name));
        documents.append(document);
        if (!m_options.json)
            print(QStringLiteral("%1 %2\n").arg(slot, -10).arg(file.fileName));
    }

    QJsonObject manifest;
    manifest.insert(QStringLiteral("model"), keyboardText(drive().root().name()));
    manifest.insert(QStringLiteral("files"), files);
    manifest.insert(QStringLiteral("empty"), empty);
    QSaveFile out(manifestPath);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(manifest).toJson(QJsonDocument::Indented)) < 0 || !out.commit())
        throw generalError(QStringLiteral("Cannot write \"%1\": %2")
                               .arg(QDir::toNativeSeparators(manifestPath), out.errorString()));

    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("directory"), absoluteNative(dir));
        document.insert(QStringLiteral("manifest"), absoluteNative(manifestPath));
        document.insert(QStringLiteral("files"), documents);
        document.insert(QStringLiteral("empty"), empty);
        printJson(document);
    } else {
        print(QStringLiteral("%1 items backed up into %2\n")
                  .arg(present.size())
                  .arg(absoluteNative(dir)));
    }
}

void KbxTool::restore() {
    const QString dir = m_options.args.value(0);
    const QString manifestPath = QDir(dir).filePath(QLatin1String(kManifestName));
    QFile manifestFile(manifestPath);
    if (!manifestFile.open(QIODevice::ReadOnly))
        throw generalError(
            QStringLiteral("Cannot open file \"%1\": %2")
                .arg(QDir::toNativeSeparators(manifestPath), manifestFile.errorString()));
    QJsonParseError parseError{};
    const QJsonDocument manifestDocument =
        QJsonDocument::fromJson(manifestFile.readAll(), &parseError);
    const QJsonObject manifest = manifestDocument.object();
    if (parseError.error != QJsonParseError::NoError || !manifestDocument.isObject() ||
        !manifest.value(QStringLiteral("files")).isObject())
        throw generalError(QStringLiteral("\"%1\" is not a backup manifest")
                               .arg(QDir::toNativeSeparators(manifestPath)));
    const QString model = manifest.value(QStringLiteral("model")).toString();
    const QString ownModel = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    if (manifest.contains(QStringLiteral("model")) && model != ownModel)
        throw generalError(QStringLiteral("The backup in \"%1\" is of the model %2, not %3")
                               .arg(QDir::toNativeSeparators(dir), model, ownModel));

    QJsonArray restored;
    QJsonArray cleared;
    QJsonArray failed;
    QJsonObject firstError;
    const auto fail = [&](const QString& file, const QString& slot, const ErrorReport& report) {
        QJsonObject failure;
        failure.insert(QStringLiteral("file"), file);
        failure.insert(QStringLiteral("slot"), slot);
        failure.insert(QStringLiteral("error"), errorObject(report));
        failed.append(failure);
        if (firstError.isEmpty())
            firstError = errorObject(report);
        if (!m_options.json)
            printError(QStringLiteral("kbxtool: restore: %1 -> %2: %3")
                           .arg(file.isEmpty() ? QStringLiteral("(empty)") : file, slot,
                                QString::fromStdString(report.message)));
    };
    const auto current = [this] { return describeException(m_messages, std::current_exception()); };

    // What the manifest asks for, checked against the layout before the keyboard is touched.
    const std::vector<SlotEntry> layout = slotsOf(drive().root());
    const auto layoutIndex = [&layout](const SlotAddress& address) {
        for (std::size_t i = 0; i < layout.size(); ++i)
            if (addressOf(*layout[i].node) == address)
                return static_cast<int>(i);
        return -1;
    };
    struct Entry {
        QString file;
        QString slot;
        SlotAddress address;
        int order = 0;
        std::unique_ptr<ZxDataFile> item;
    };
    std::vector<Entry> entries;
    std::map<int, QString> claimed; // layout index -> file
    const QJsonObject files = manifest.value(QStringLiteral("files")).toObject();
    for (auto it = files.begin(); it != files.end(); ++it) {
        Entry e;
        e.file = it.key();
        e.slot = it.value().toString();
        const ShortFormParse parsed = parseShortForm(e.slot);
        e.order = parsed.status == ShortFormParse::Valid ? layoutIndex(parsed.address) : -1;
        if (!isPlainFileName(e.file)) {
            fail(e.file, e.slot, generalReport(QStringLiteral("not a file of the backup folder")));
            continue;
        }
        if (e.order < 0) {
            fail(e.file, e.slot, generalReport(QStringLiteral("no slot of the ZR-7316")));
            continue;
        }
        if (claimed.count(e.order)) {
            fail(e.file, e.slot,
                 generalReport(
                     QStringLiteral("the slot is named for %1 as well").arg(claimed[e.order])));
            continue;
        }
        claimed[e.order] = e.file;
        e.address = parsed.address;
        e.item = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
        try {
            readFile(QDir(dir).filePath(e.file), *e.item);
        } catch (...) {
            fail(e.file, e.slot, current());
            continue;
        }
        entries.push_back(std::move(e));
    }
    std::vector<SlotAddress> toEmpty;
    for (const QJsonValue& value : manifest.value(QStringLiteral("empty")).toArray()) {
        const QString slot = value.toString();
        const ShortFormParse parsed = parseShortForm(slot);
        if (parsed.status != ShortFormParse::Valid || !isDeletable(parsed.address.kind) ||
            layoutIndex(parsed.address) < 0) {
            fail(QString(), slot, generalReport(QStringLiteral("not a song or rhythm slot")));
            continue;
        }
        if (claimed.count(layoutIndex(parsed.address)))
            continue; // a file fills it
        toEmpty.push_back(parsed.address);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.order < b.order; });

    chooseDevices();
    readList();

    // Song memory is shared: the songs and rhythms that the backup fills or leaves empty are
    // deleted first, so that what the keyboard holds now does not crowd out what comes back.
    std::vector<SlotAddress> clear = toEmpty;
    for (const Entry& e : entries)
        if (isDeletable(e.address.kind) && e.item->kind() == e.address.kind)
            clear.push_back(e.address);
    for (const SlotEntry& s : slotsOf(drive().root())) {
        const SlotAddress address = addressOf(*s.node);
        if (std::find(clear.begin(), clear.end(), address) == clear.end() || !s.node->isPresent())
            continue;
        try {
            drive().deleteItem(*s.node);
            cleared.append(shortForm(address));
        } catch (...) {
            const int index = layoutIndex(address);
            fail(claimed.count(index) ? claimed[index] : QString(), shortForm(address), current());
        }
    }

    const QString status = QString::fromStdString(m_messages.GetStatusMsg(kStatusSend));
    int done = 0;
    for (Entry& e : entries) {
        ++done;
        try {
            const std::vector<SlotEntry> slotList = slotsOf(drive().root());
            sendItem(*e.item, *findSlot(slotList, e.address),
                     QStringLiteral("%1 %2/%3").arg(status).arg(done).arg(entries.size()));
        } catch (...) {
            m_bar.finish();
            fail(e.file, e.slot, current());
            continue;
        }
        QJsonObject item;
        item.insert(QStringLiteral("file"), e.file);
        item.insert(QStringLiteral("slot"), e.slot);
        restored.append(item);
        if (!m_options.json)
            print(QStringLiteral("%1 %2\n").arg(e.slot, -10).arg(e.file));
    }

    m_failed = !failed.isEmpty();
    if (m_options.json) {
        QJsonObject document;
        document.insert(QStringLiteral("directory"), absoluteNative(dir));
        document.insert(QStringLiteral("restored"), restored);
        document.insert(QStringLiteral("cleared"), cleared);
        document.insert(QStringLiteral("failed"), failed);
        if (m_failed)
            document.insert(QStringLiteral("error"), firstError);
        printJson(document);
    } else {
        print(QStringLiteral("%1 of %2 items restored from %3\n")
                  .arg(restored.size())
                  .arg(restored.size() + failed.size())
                  .arg(absoluteNative(dir)));
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

#include "backup.h"

#include "applyplan.h"
#include "cancel.h"
#include "datafile.h"
#include "kbxnames.h"
#include "manifest.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <algorithm>
#include <map>
#include <stdexcept>

namespace kbxops {

namespace {

std::runtime_error generalError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

QString absoluteNative(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

bool isDeletable(std::uint16_t kind) {
    return kind == ZxKind::Song || kind == ZxKind::Rhythm;
}

ErrorReport generalReport(const QString& text) {
    return ErrorReport{"general", std::nullopt, text.toStdString()};
}

// The SHA-256 of a file's bytes in lower-case hex; empty when it cannot be read.
QString fileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace

BackupResult backupKeyboard(Keyboard& keyboard, const QString& dir,
                            const std::function<void(const BackupEntry&)>& itemDone) {
    if (!QDir().mkpath(dir))
        throw generalError(
            QStringLiteral("Cannot create folder \"%1\"").arg(QDir::toNativeSeparators(dir)));
    keyboard.list();

    const QString manifestPath = QDir(dir).filePath(QLatin1String(kManifestName));
    if (QFileInfo::exists(manifestPath) && !QFile::remove(manifestPath))
        throw generalError(
            QStringLiteral("Cannot replace \"%1\"").arg(QDir::toNativeSeparators(manifestPath)));

    BackupResult result;
    const std::vector<SlotEntry> slotList = slotsOf(keyboard.drive().root());
    std::vector<ZxData*> present;
    for (const SlotEntry& s : slotList) {
        if (s.node->isPresent())
            present.push_back(s.node);
        else if (isDeletable(s.node->kind()))
            result.empty.append(shortForm(addressOf(*s.node)));
    }

    TakenNames taken;
    QJsonObject files;
    QJsonObject sums;
    const int count = static_cast<int>(present.size());
    for (int i = 0; i < count; ++i) {
        ZxData& slot = *present[static_cast<std::size_t>(i)];
        BackupEntry entry;
        entry.slot = shortForm(addressOf(slot));
        try {
            entry.file = keyboard.importSlot(slot, dir, &taken, i + 1, count);
        } catch (const ZxCancelledException&) {
            // The files written so far are whole; the manifest says what they lack.
            result.complete = false;
            for (int j = i; j < count; ++j)
                result.notDone.append(shortForm(addressOf(*present[static_cast<std::size_t>(j)])));
            break;
        }
        files.insert(entry.file.fileName, entry.slot);
        sums.insert(entry.file.fileName, fileSha256(entry.file.path));
        result.files.push_back(entry);
        if (itemDone)
            itemDone(entry);
    }

    QJsonObject manifest;
    manifest.insert(QStringLiteral("model"),
                    kbxnames::keyboardText(keyboard.drive().root().name()));
    manifest.insert(QStringLiteral("files"), files);
    manifest.insert(QStringLiteral("empty"), QJsonArray::fromStringList(result.empty));
    // What a reader may check the files against, and what made them; older manifests lack these.
    manifest.insert(QStringLiteral("sha256"), sums);
    manifest.insert(QStringLiteral("created"),
                    QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    manifest.insert(QStringLiteral("program"), QStringLiteral("kbxman " KBX_VERSION));
    manifest.insert(QStringLiteral("complete"), result.complete);
    if (!result.complete)
        manifest.insert(QStringLiteral("notDone"), QJsonArray::fromStringList(result.notDone));
    QSaveFile out(manifestPath);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(manifest).toJson(QJsonDocument::Indented)) < 0 || !out.commit())
        throw generalError(QStringLiteral("Cannot write \"%1\": %2")
                               .arg(QDir::toNativeSeparators(manifestPath), out.errorString()));
    result.directory = absoluteNative(dir);
    result.manifest = absoluteNative(manifestPath);
    return result;
}

RestoreResult restoreBackup(Keyboard& keyboard, const QString& dir, const MsgStr& messages,
                            const RestoreCallbacks& callbacks) {
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

    RestoreResult result;
    result.directory = absoluteNative(dir);
    result.backupComplete = manifest.value(QStringLiteral("complete")).toBool(true);
    const auto fail = [&](const QString& file, const QString& slot, const ErrorReport& report) {
        RestoreFailure failure{file, slot, report};
        result.failed.push_back(failure);
        if (callbacks.failed)
            callbacks.failed(failure);
    };
    const auto current = [&messages] {
        return describeException(messages, std::current_exception());
    };

    // What the manifest asks for, checked against the layout before the keyboard is touched.
    ZxKbdDrv& drive = keyboard.drive();
    const std::vector<SlotEntry> layout = slotsOf(drive.root());
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
        try {
            e.item = readDataFile(QDir(dir).filePath(e.file));
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
        if (claimed.count(layoutIndex(parsed.address)) ||
            std::find(toEmpty.begin(), toEmpty.end(), parsed.address) != toEmpty.end())
            continue; // a file fills it, or it is named twice
        toEmpty.push_back(parsed.address);
    }
    // One path with the window's restore from here on; the items in the drive's order.
    std::vector<RestoreItem> items;
    for (Entry& e : entries)
        items.push_back(RestoreItem{e.slot, e.address, e.file, std::move(e.item), false});
    for (const SlotAddress& address : toEmpty)
        items.push_back(RestoreItem{shortForm(address), address, QString(), nullptr, false});
    std::stable_sort(items.begin(), items.end(),
                     [&layoutIndex](const RestoreItem& a, const RestoreItem& b) {
                         return layoutIndex(a.address) < layoutIndex(b.address);
                     });
    carryOutRestore(keyboard, items, messages, callbacks, result);
    return result;
}

} // namespace kbxops

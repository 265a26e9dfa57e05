#include "backup.h"

#include "applyplan.h"
#include "cancel.h"
#include "datafile.h"
#include "kbxnames.h"
#include "manifest.h"
#include "msgstr.h"
#include "wholefile.h"
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
            localText("Cannot create folder \"%1\"", "フォルダー「%1」を作成できません")
                .arg(QDir::toNativeSeparators(dir)));
    keyboard.list();

    // An older backup in the folder stays whole until the new manifest replaces its own: the new
    // files take names its manifest does not use, and its files go only after the swap.
    const QString manifestPath = QDir(dir).filePath(QLatin1String(kManifestName));
    TakenNames taken;
    QStringList olderFiles;
    if (QFileInfo::exists(manifestPath)) {
        try {
            for (const auto& [file, slot] : readManifest(dir).files) {
                taken.claim(file);
                olderFiles.append(file);
            }
        } catch (const std::exception&) {
            // Not a manifest of ours: nothing restorable to keep; it is replaced like any file.
        }
    }

    BackupResult result;
    const std::vector<SlotEntry> slotList = slotsOf(keyboard.drive().root());
    std::vector<ZxData*> present;
    for (const SlotEntry& s : slotList) {
        if (s.node->isPresent())
            present.push_back(s.node);
        else if (ZxKind::isDeletable(s.node->kind()))
            result.empty.append(shortForm(addressOf(*s.node)));
    }

    std::exception_ptr failure;
    QJsonObject files;
    QJsonObject sums;
    const int count = static_cast<int>(present.size());
    for (int i = 0; i < count; ++i) {
        ZxData& slot = *present[static_cast<std::size_t>(i)];
        BackupEntry entry;
        entry.slot = shortForm(addressOf(slot));
        try {
            entry.file = keyboard.importSlot(slot, dir, &taken, i + 1, count);
        } catch (...) {
            // Cancelled, or failed (a time-out, the keyboard gone: nothing goes on with another
            // device): the files written so far are whole, and the manifest says what they
            // lack. A failure is reported once the manifest is written.
            if (!isCancel(std::current_exception()))
                failure = std::current_exception();
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
    kbxio::Reason why;
    if (!kbxio::writeWhole(manifestPath, QJsonDocument(manifest).toJson(QJsonDocument::Indented),
                           &why))
        throw kbxio::fileError("Cannot write file", "ファイルに書き込めません", manifestPath, why);
    // The older backup's files that the new one does not name go to the trash (kept there).
    for (const QString& file : olderFiles)
        if (!files.contains(file))
            QFile::moveToTrash(QDir(dir).filePath(file));
    if (failure)
        std::rethrow_exception(failure);
    result.directory = absoluteNative(dir);
    result.manifest = absoluteNative(manifestPath);
    return result;
}

RestoreResult restoreBackup(Keyboard& keyboard, const QString& dir, const MsgStr& messages,
                            const RestoreCallbacks& callbacks) {
    const Manifest manifest = readManifest(dir);

    RestoreResult result;
    result.directory = absoluteNative(dir);
    result.backupComplete = manifest.complete;
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
    for (const auto& [file, slot] : manifest.files) {
        Entry e;
        e.file = file;
        e.slot = slot;
        const ShortFormParse parsed = parseShortForm(e.slot);
        e.order = parsed.status == ShortFormParse::Valid ? layoutIndex(parsed.address) : -1;
        if (!isBackupFile(dir, e.file)) {
            fail(e.file, e.slot, generalReport(manifestFaultText(ManifestFault::NotInFolder)));
            continue;
        }
        if (e.order < 0) {
            fail(e.file, e.slot, generalReport(manifestFaultText(ManifestFault::NoSuchSlot)));
            continue;
        }
        if (claimed.count(e.order)) {
            fail(e.file, e.slot,
                 generalReport(manifestFaultText(ManifestFault::SlotTwice, claimed[e.order])));
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
        // A newer backup names each file's SHA-256: a file changed since is not the item the
        // backup took, and the window's preview leaves it out as well.
        const auto sum = manifest.sha256.find(e.file);
        if (sum != manifest.sha256.end() && fileSha256(QDir(dir).filePath(e.file)) != sum->second) {
            fail(e.file, e.slot, generalReport(manifestFaultText(ManifestFault::Sha256Mismatch)));
            continue;
        }
        entries.push_back(std::move(e));
    }
    std::vector<SlotAddress> toEmpty;
    for (const QString& slot : manifest.empty) {
        const ShortFormParse parsed = parseShortForm(slot);
        if (parsed.status != ShortFormParse::Valid || !ZxKind::isDeletable(parsed.address.kind) ||
            layoutIndex(parsed.address) < 0) {
            fail(QString(), slot, generalReport(manifestFaultText(ManifestFault::NotSongOrRhythm)));
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

#include "manifest.h"

#include "msgstr.h"
#include "wholefile.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <stdexcept>

namespace kbxops {

namespace {

// Larger than any manifest of 42 slots by far; a bigger file is no manifest of ours.
constexpr qint64 kLargestManifest = 1 << 20;

std::runtime_error generalError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

} // namespace

bool isPlainFileName(const QString& name) {
    return !name.isEmpty() && name != u"." && name != u".." && !name.contains(u'/') &&
           !name.contains(u'\\') && !name.contains(u':') && !name.contains(QChar(0));
}

bool isBackupFile(const QString& directory, const QString& name) {
    if (!isPlainFileName(name))
        return false;
    const QFileInfo info(QDir(directory).filePath(name));
    if (!info.isSymLink())
        return true;
    // A link is followed only to a file inside the folder.
    const QString target = info.canonicalFilePath();
    const QString folder = QFileInfo(directory).canonicalFilePath();
    return !target.isEmpty() && !folder.isEmpty() && target.startsWith(folder + u'/');
}

Manifest readManifest(const QString& dirOrManifest) {
    Manifest manifest;
    const QFileInfo given(dirOrManifest);
    manifest.directory = given.isFile() && given.fileName() == QStringLiteral("manifest.json")
                             ? given.absolutePath()
                             : dirOrManifest;
    manifest.path = QDir(manifest.directory).filePath(QStringLiteral("manifest.json"));
    kbxio::Reason why;
    const std::optional<QByteArray> json = kbxio::readWhole(manifest.path, kLargestManifest, &why);
    if (!json)
        throw kbxio::fileError("Cannot open file", "ファイルを開けません", manifest.path, why);
    Manifest parsed = parseManifest(*json, manifest.directory);
    parsed.path = manifest.path;
    return parsed;
}

Manifest parseManifest(const QByteArray& json, const QString& directory) {
    Manifest manifest;
    manifest.directory = directory;
    manifest.path = QDir(directory).filePath(QStringLiteral("manifest.json"));
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject object = document.object();
    if (json.size() > kLargestManifest || parseError.error != QJsonParseError::NoError ||
        !document.isObject() || !object.value(QStringLiteral("files")).isObject())
        throw generalError(localText("\"%1\" is not a backup manifest",
                                     "「%1」はバックアップのマニフェストではありません")
                               .arg(QDir::toNativeSeparators(manifest.path)));
    manifest.model = object.value(QStringLiteral("model")).toString();
    const QString ownModel = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    if (object.contains(QStringLiteral("model")) && manifest.model != ownModel)
        throw generalError(
            localText("The backup in \"%1\" is of the model %2, not %3",
                      "「%1」のバックアップは %3 ではなく %2 のものです")
                .arg(QDir::toNativeSeparators(manifest.directory), manifest.model, ownModel));
    const QJsonObject files = object.value(QStringLiteral("files")).toObject();
    for (auto it = files.begin(); it != files.end(); ++it)
        manifest.files.emplace_back(it.key(), it.value().toString());
    for (const QJsonValue& value : object.value(QStringLiteral("empty")).toArray())
        manifest.empty.append(value.toString());
    const QJsonObject sums = object.value(QStringLiteral("sha256")).toObject();
    for (auto it = sums.begin(); it != sums.end(); ++it)
        manifest.sha256[it.key()] = it.value().toString().toLower();
    manifest.created = object.value(QStringLiteral("created")).toString();
    manifest.program = object.value(QStringLiteral("program")).toString();
    manifest.complete = object.value(QStringLiteral("complete")).toBool(true);
    for (const QJsonValue& value : object.value(QStringLiteral("notDone")).toArray())
        manifest.notDone.append(value.toString());
    return manifest;
}

QString manifestFaultText(ManifestFault fault, const QString& other) {
    switch (fault) {
    case ManifestFault::NotInFolder:
        return localText("not a file of the backup folder",
                         "バックアップのフォルダーにあるファイルではありません");
    case ManifestFault::NoSuchSlot:
        return localText("no slot of the ZR-7316", "ZR-7316 にないスロットです");
    case ManifestFault::SlotTwice:
        return localText("the slot is named for %1 as well",
                         "このスロットは %1 にも指定されています")
            .arg(other);
    case ManifestFault::Sha256Mismatch:
        return localText("the file does not match its SHA-256 in the manifest",
                         "ファイルがマニフェストの SHA-256 と一致しません");
    case ManifestFault::NotSongOrRhythm:
        return localText("not a song or rhythm slot", "曲またはリズムのスロットではありません");
    case ManifestFault::NotDataFile:
        return localText("not a data file", "データファイルではありません");
    }
    return {};
}

} // namespace kbxops

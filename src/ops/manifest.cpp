#include "manifest.h"

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

Manifest readManifest(const QString& dirOrManifest) {
    Manifest manifest;
    const QFileInfo given(dirOrManifest);
    manifest.directory = given.isFile() && given.fileName() == QStringLiteral("manifest.json")
                             ? given.absolutePath()
                             : dirOrManifest;
    manifest.path = QDir(manifest.directory).filePath(QStringLiteral("manifest.json"));
    QFile file(manifest.path);
    if (!file.open(QIODevice::ReadOnly))
        throw generalError(QStringLiteral("Cannot open file \"%1\": %2")
                               .arg(QDir::toNativeSeparators(manifest.path), file.errorString()));
    if (file.size() > kLargestManifest)
        throw generalError(QStringLiteral("\"%1\" is not a backup manifest")
                               .arg(QDir::toNativeSeparators(manifest.path)));
    Manifest parsed = parseManifest(file.readAll(), manifest.directory);
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
        throw generalError(QStringLiteral("\"%1\" is not a backup manifest")
                               .arg(QDir::toNativeSeparators(manifest.path)));
    manifest.model = object.value(QStringLiteral("model")).toString();
    const QString ownModel = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    if (object.contains(QStringLiteral("model")) && manifest.model != ownModel)
        throw generalError(
            QStringLiteral("The backup in \"%1\" is of the model %2, not %3")
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

} // namespace kbxops

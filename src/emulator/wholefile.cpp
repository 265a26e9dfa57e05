#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kbxio {

namespace {

Reason systemReason(const QFileDevice& file) {
    // Qt reports a full disk (ENOSPC) as a resource error.
    if (file.error() == QFileDevice::ResourceError)
        return {QStringLiteral("the disk is full"), QString::fromUtf8("ディスクがいっぱいです")};
    return {file.errorString(), file.errorString()};
}

} // namespace

FileError::FileError(const QString& english, const QString& japanese)
    : std::runtime_error(english.toStdString())
    , m_english(english)
    , m_japanese(japanese) {}

FileError fileError(const char* english, const char* japanese, const QString& path,
                    const Reason& why) {
    const QString native = QDir::toNativeSeparators(path);
    return FileError(
        QStringLiteral("%1 \"%2\": %3").arg(QLatin1String(english), native, why.english),
        QString::fromUtf8(japanese) + QString::fromUtf8("「%1」: %2").arg(native, why.japanese));
}

bool writeWhole(const QString& path, const QByteArray& data, Reason* why) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = systemReason(file);
        return false;
    }
    if (file.write(data) != data.size() || !file.flush()) {
        *why = systemReason(file);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *why = systemReason(file);
        return false;
    }
    const qint64 written = QFileInfo(path).size();
    if (written != data.size()) {
        *why = {QStringLiteral("the file holds %1 of %2 bytes after writing")
                    .arg(written)
                    .arg(data.size()),
                QString::fromUtf8("書き込み後のファイルは %2 バイト中 %1 バイトです")
                    .arg(written)
                    .arg(data.size())};
        return false;
    }
    return true;
}

std::optional<QByteArray> readWhole(const QString& path, qint64 maxBytes, Reason* why) {
    const QFileInfo info(path);
    const Reason tooLarge{QStringLiteral("larger than %1 bytes").arg(maxBytes),
                          QString::fromUtf8("%1 バイトを超えています").arg(maxBytes)};
    if (!info.exists()) {
        *why = {QStringLiteral("no such file"), QString::fromUtf8("ファイルがありません")};
        return std::nullopt;
    }
    // A FIFO, a device or a socket: opening or reading it may block or never end.
    if (!info.isFile()) {
        *why = {QStringLiteral("not a regular file"),
                QString::fromUtf8("通常のファイルではありません")};
        return std::nullopt;
    }
    if (info.size() > maxBytes) {
        *why = tooLarge;
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = systemReason(file);
        return std::nullopt;
    }
    // Bounded even when the file grows after the check.
    QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *why = systemReason(file);
        return std::nullopt;
    }
    if (bytes.size() > maxBytes) {
        *why = tooLarge;
        return std::nullopt;
    }
    return bytes;
}

} // namespace kbxio

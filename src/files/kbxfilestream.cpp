#include "kbxfilestream.h"

#include "kbxfile.h"
#include "wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

const char* const kJapanese[][2] = {{"Cannot open file", "ファイルを開けません"},
                                    {"Cannot read file", "ファイルを読み込めません"},
                                    {"Cannot write file", "ファイルに書き込めません"},
                                    {"Cannot create file", "ファイルを作成できません"}};

kbxio::FileError describe(const char* what, const QString& path, const QString& reason) {
    const char* japanese = what;
    for (const auto& pair : kJapanese)
        if (std::string(pair[0]) == what)
            japanese = pair[1];
    return kbxio::fileError(what, japanese, path, {reason, reason});
}

} // namespace

KbxFileStream::KbxFileStream(const QString& path, int mode)
    : m_path(path)
    , m_mode(mode) {
    switch (mode) {
    case Read:
    case ReadWrite: {
        // Before anything is opened: a named pipe or a device would block or never end.
        const QFileInfo info(path);
        if (info.exists() && !info.isFile())
            throw kbxio::fileError("Cannot open file", "ファイルを開けません", path,
                                   {QStringLiteral("not a regular file"),
                                    QString::fromUtf8("通常のファイルではありません")});
        if (info.size() > static_cast<qint64>(kbxfile::kLargestFile))
            throw KbxStreamException(KbxStreamException::NotKbxFile);
        // ExistingOnly: opening for reading and writing must not leave a new empty file behind.
        auto file = std::make_unique<QFile>(path);
        const QIODevice::OpenMode openMode =
            mode == Read ? QIODevice::ReadOnly : QIODevice::ReadWrite | QIODevice::ExistingOnly;
        if (!file->open(openMode))
            throw describe("Cannot open file", path, file->errorString());
        m_file = std::move(file);
        checkDataFile();
        break;
    }
    case Create:
        // Written whole by write(): the old file, if any, is replaced only by the complete item.
        if (!QFileInfo(QFileInfo(path).absolutePath()).isDir())
            throw describe("Cannot create file", path, QStringLiteral("No such file or directory"));
        break;
    default:
        throw std::invalid_argument("KbxFileStream: unknown open mode " + std::to_string(mode));
    }
}

KbxFileStream::~KbxFileStream() = default;

void KbxFileStream::checkDataFile() {
    const QByteArray head = m_file->read(static_cast<qint64>(kHeaderSize));
    if (m_file->error() != QFileDevice::NoError)
        throw describe("Cannot read file", m_path, m_file->errorString());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
    const auto length = static_cast<std::uint64_t>(std::max<qint64>(m_file->size(), 0));
    if (!kbxfile::isDataFile(bytes, static_cast<std::size_t>(head.size()), length)) {
        m_file.reset();
        throw KbxStreamException(KbxStreamException::NotKbxFile);
    }
    if (!m_file->seek(0))
        throw describe("Cannot read file", m_path, m_file->errorString());
}

void KbxFileStream::read(ZxDataFile& item) {
    if (m_mode == Create)
        throw describe("Cannot read file", m_path, QStringLiteral("opened for writing only"));
    if (!m_file->seek(0))
        throw describe("Cannot read file", m_path, m_file->errorString());
    // Bounded: the file may have grown since it was opened.
    const QByteArray all = m_file->read(static_cast<qint64>(kbxfile::kLargestFile) + 1);
    if (all.size() > static_cast<qsizetype>(kbxfile::kLargestFile))
        throw KbxStreamException(KbxStreamException::NotKbxFile);
    if (m_file->error() != QFileDevice::NoError)
        throw describe("Cannot read file", m_path, m_file->errorString());
    // The file may have changed since it was opened: parse checks it again as a whole.
    kbxfile::parse(std::vector<std::uint8_t>(all.begin(), all.end()), item);
}

void KbxFileStream::write(ZxDataFile& item) {
    if (m_mode == Read)
        throw describe("Cannot write file", m_path, QStringLiteral("opened for reading only"));
    const std::vector<std::uint8_t> bytes = kbxfile::serialize(item);
    const auto length = static_cast<qint64>(bytes.size());
    const auto* data = reinterpret_cast<const char*>(bytes.data());

    if (m_mode == Create) {
        kbxio::Reason why;
        if (!kbxio::writeWhole(m_path, QByteArray(data, static_cast<qsizetype>(length)), &why))
            throw kbxio::fileError("Cannot write file", "ファイルに書き込めません", m_path, why);
        m_written = static_cast<std::uint64_t>(length);
        return;
    }

    // Reading and writing in place: the file holds exactly the item afterwards.
    auto* file = static_cast<QFile*>(m_file.get());
    if (!file->seek(0) || file->write(data, length) != length || !file->resize(length) ||
        !file->flush())
        throw describe("Cannot write file", m_path, file->errorString());
}

std::uint32_t KbxFileStream::position() {
    const std::uint64_t pos = m_file && m_file->isOpen()
                                  ? static_cast<std::uint64_t>(std::max<qint64>(m_file->pos(), 0))
                                  : m_written;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pos, 0xFFFFFFFFu));
}

std::uint32_t KbxFileStream::size() {
    // A committed save file is closed; its length is then the replaced file's.
    const qint64 length = m_file && m_file->isOpen() ? m_file->size() : QFileInfo(m_path).size();
    if (length <= static_cast<qint64>(kHeaderSize))
        return 0;
    return static_cast<std::uint32_t>(
        std::min<qint64>(length - static_cast<qint64>(kHeaderSize), 0xFFFFFFFF));
}

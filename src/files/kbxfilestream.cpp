#include "kbxfilestream.h"

#include "kbxfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

std::string describe(const char* what, const QString& path, const QString& reason) {
    return std::string(what) + " \"" + QDir::toNativeSeparators(path).toStdString() +
           "\": " + reason.toStdString();
}

} // namespace

KbxFileStream::KbxFileStream(const QString& path, int mode)
    : m_path(path)
    , m_mode(mode) {
    switch (mode) {
    case Read:
    case ReadWrite: {
        // ExistingOnly: opening for reading and writing must not leave a new empty file behind.
        auto file = std::make_unique<QFile>(path);
        const QIODevice::OpenMode openMode =
            mode == Read ? QIODevice::ReadOnly : QIODevice::ReadWrite | QIODevice::ExistingOnly;
        if (!file->open(openMode))
            throw std::runtime_error(describe("Cannot open file", path, file->errorString()));
        m_file = std::move(file);
        checkDataFile();
        break;
    }
    case Create: {
        // The new content goes to a temporary file beside the old one and replaces it only when
        // the whole item has been written, so a failure never leaves a truncated file.
        auto file = std::make_unique<QSaveFile>(path);
        if (!file->open(QIODevice::WriteOnly))
            throw std::runtime_error(describe("Cannot create file", path, file->errorString()));
        m_file = std::move(file);
        break;
    }
    default:
        throw std::invalid_argument("KbxFileStream: unknown open mode " + std::to_string(mode));
    }
}

KbxFileStream::~KbxFileStream() = default; // an uncommitted QSaveFile discards its temporary file

void KbxFileStream::checkDataFile() {
    const QByteArray head = m_file->read(static_cast<qint64>(kHeaderSize));
    if (m_file->error() != QFileDevice::NoError)
        throw std::runtime_error(describe("Cannot read file", m_path, m_file->errorString()));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
    const auto length = static_cast<std::uint64_t>(std::max<qint64>(m_file->size(), 0));
    if (!kbxfile::isDataFile(bytes, static_cast<std::size_t>(head.size()), length)) {
        m_file.reset();
        throw KbxStreamException(KbxStreamException::NotKbxFile);
    }
    if (!m_file->seek(0))
        throw std::runtime_error(describe("Cannot read file", m_path, m_file->errorString()));
}

void KbxFileStream::read(ZxDataFile& item) {
    if (m_mode == Create)
        throw std::runtime_error(describe("Cannot read file", m_path, "opened for writing only"));
    if (!m_file->seek(0))
        throw std::runtime_error(describe("Cannot read file", m_path, m_file->errorString()));
    const QByteArray all = m_file->readAll();
    if (m_file->error() != QFileDevice::NoError)
        throw std::runtime_error(describe("Cannot read file", m_path, m_file->errorString()));
    // The file may have changed since it was opened: parse checks it again as a whole.
    kbxfile::parse(std::vector<std::uint8_t>(all.begin(), all.end()), item);
}

void KbxFileStream::write(ZxDataFile& item) {
    if (m_mode == Read)
        throw std::runtime_error(describe("Cannot write file", m_path, "opened for reading only"));
    const std::vector<std::uint8_t> bytes = kbxfile::serialize(item);
    const auto length = static_cast<qint64>(bytes.size());
    const auto* data = reinterpret_cast<const char*>(bytes.data());

    if (m_mode == Create) {
        auto* file = static_cast<QSaveFile*>(m_file.get());
        // A second write on the same stream replaces the file again.
        if (!file->isOpen() && !file->open(QIODevice::WriteOnly))
            throw std::runtime_error(describe("Cannot create file", m_path, file->errorString()));
        // Flushed before the commit: Qt's commit still renames when only its own final flush
        // fails (a full disk), which would put a truncated file in place of the old one.
        if (file->write(data, length) != length || !file->flush() || !file->commit()) {
            const QString reason = file->errorString();
            file->cancelWriting();
            throw std::runtime_error(describe("Cannot write file", m_path, reason));
        }
        m_written = static_cast<std::uint64_t>(length);
        return;
    }

    // Reading and writing in place: the file holds exactly the item afterwards.
    auto* file = static_cast<QFile*>(m_file.get());
    if (!file->seek(0) || file->write(data, length) != length || !file->resize(length) ||
        !file->flush())
        throw std::runtime_error(describe("Cannot write file", m_path, file->errorString()));
}

std::uint32_t KbxFileStream::position() {
    const std::uint64_t pos = m_file->isOpen()
                                  ? static_cast<std::uint64_t>(std::max<qint64>(m_file->pos(), 0))
                                  : m_written;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(pos, 0xFFFFFFFFu));
}

std::uint32_t KbxFileStream::size() {
    // A committed save file is closed; its length is then the replaced file's.
    const qint64 length = m_file->isOpen() ? m_file->size() : QFileInfo(m_path).size();
    if (length <= static_cast<qint64>(kHeaderSize))
        return 0;
    return static_cast<std::uint32_t>(
        std::min<qint64>(length - static_cast<qint64>(kHeaderSize), 0xFFFFFFFF));
}

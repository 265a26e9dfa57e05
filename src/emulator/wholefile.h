#pragma once
// Whole files in and out, for every writer and reader of outside files in the program (data
// files, kept copies, the state file, manifests, exports). It sits in the lowest layer that
// writes a file, so that every layer above reaches it. QtCore only.

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>

namespace kbxio {

// Why a file could not be read or written, in both languages: the layers here are below the
// message table, which chooses.
struct Reason {
    QString english;
    QString japanese;
};

// A file error in both languages. what() is the English text; the message table shows the one of
// the user's language.
class FileError : public std::runtime_error {
public:
    FileError(const QString& english, const QString& japanese);
    const QString& text(bool japanese) const { return japanese ? m_japanese : m_english; }

private:
    QString m_english;
    QString m_japanese;
};

// "<what> "<path>": <reason>" in both languages, e.g. ("Cannot open file", "ファイルを開けません").
FileError fileError(const char* english, const char* japanese, const QString& path,
                    const Reason& why);

// Writes data to path through a temporary file beside it (the folder must exist). The flush is
// checked before the commit (QSaveFile::commit renames even when its last flush failed, which
// gives a 0-byte file on a full disk) and the size is read back after it. On failure the file at
// path is as it was, and why says so ("the disk is full", or the system's reason).
bool writeWhole(const QString& path, const QByteArray& data, Reason* why);

// Reads the whole file at path when it is a regular file (a link to one is followed) of at most
// maxBytes bytes. Nothing else is opened, so a named pipe or a device never blocks or fills
// memory. Nothing, with why, when it is missing, not a regular file, too large or unreadable.
std::optional<QByteArray> readWhole(const QString& path, qint64 maxBytes, Reason* why);

} // namespace kbxio

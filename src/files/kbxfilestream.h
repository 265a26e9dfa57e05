#pragma once
// A data item kept in a file on disk.

#include "kbxstream.h"

#include <QString>
#include <memory>

class QFileDevice;

class KbxFileStream : public KbxStream {
public:
    // Open modes, as the window passes them.
    static constexpr int Read = 0;
    static constexpr int ReadWrite = 2;
    static constexpr int Create = 0xFFFF;

    // Opens the file. Read and ReadWrite take a regular file only, and check the signature and
    // the size (KbxStreamException 0 if it is not a data file). Create writes atomically: the old
    // file, if any, is replaced only when write() has succeeded. A file that cannot be opened
    // throws std::runtime_error naming the file and the system's reason.
    KbxFileStream(const QString& path, int mode);
    ~KbxFileStream() override;

    void read(ZxDataFile& item) override;
    void write(ZxDataFile& item) override;
    std::uint32_t position() override; // bytes from the start of the file, header included
    std::uint32_t size() override;     // file length minus 64

private:
    void checkDataFile();

    QString m_path;
    int m_mode;
    std::unique_ptr<QFileDevice> m_file; // Read and ReadWrite; none for Create
    std::uint64_t m_written = 0;         // bytes committed by the last write in Create mode
};

#include "ops/portlock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kbxops {

namespace {

QByteArray holderText() {
    return QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
           QCoreApplication::applicationName().toUtf8() + '\n';
}

} // namespace

PortLock::PortLock(QString path)
    : m_path(std::move(path)) {}

PortLock::~PortLock() {
    unlock();
}

PortLock::Result PortLock::tryLock(int waitMs) {
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (lockOnce())
            return Result::Locked;
        if (!m_error.isEmpty())
            return Result::Failed;
        if (deadline.hasExpired()) {
            readHolder();
            return Result::Busy;
        }
        QThread::msleep(20);
    }
}

void PortLock::readHolder() {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    m_holderPid = lines.value(0).toLongLong();
    m_holderName = QString::fromUtf8(lines.value(1));
}

#ifdef _WIN32

bool PortLock::lockOnce() {
    if (!m_handle) {
        HANDLE h = CreateFileW(reinterpret_cast<const wchar_t*>(m_path.utf16()),
                               GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            m_error = QStringLiteral("cannot open %1").arg(QDir::toNativeSeparators(m_path));
            return false;
        }
        m_handle = h;
    }
    // A byte far past the holder's text, so that readers of the text are never refused.
    OVERLAPPED at{};
    at.Offset = 0;
    at.OffsetHigh = 1;
    if (!LockFileEx(m_handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return false;
    const QByteArray text = holderText();
    DWORD written = 0;
    SetFilePointer(m_handle, 0, nullptr, FILE_BEGIN);
    WriteFile(m_handle, text.constData(), static_cast<DWORD>(text.size()), &written, nullptr);
    SetEndOfFile(m_handle);
    return true;
}

void PortLock::unlock() {
    if (!m_handle)
        return;
    OVERLAPPED at{};
    at.OffsetHigh = 1;
    UnlockFileEx(m_handle, 0, 1, 0, &at);
    CloseHandle(m_handle);
    m_handle = nullptr;
}

#else

bool PortLock::lockOnce() {
    if (m_fd < 0) {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    const QByteArray text = holderText();
    if (::ftruncate(m_fd, 0) == 0) [[maybe_unused]]
        const auto written = ::pwrite(m_fd, text.constData(), text.size(), 0);
    return true;
}

void PortLock::unlock() {
    if (m_fd < 0)
        return;
    // The file stays: removing it would let a waiter lock a file that a third program then
    // replaces with a new one.
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

#endif

} // namespace kbxops

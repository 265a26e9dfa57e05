#pragma once
// A lock one process holds on a keyboard for the length of an action. The system's own file
// lock (flock, LockFileEx): it goes with the process, however the process ends, so a program
// killed in the middle never leaves a keyboard locked. The file names the holder for the message
// another program shows.

#include <QString>
#include <cstdint>

namespace kbxops {

class PortLock {
public:
    explicit PortLock(QString path);
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    enum class Result { Locked, Busy, Failed };
    // Tries until waitMs have passed. Failed: the file cannot be made (errorString says why).
    Result tryLock(int waitMs);
    void unlock();

    // The holder's program name and process id as it wrote them (Busy only).
    QString holderName() const { return m_holderName; }
    qint64 holderPid() const { return m_holderPid; }
    QString errorString() const { return m_error; }

private:
    bool lockOnce();
    void readHolder();

    QString m_path;
    QString m_holderName;
    qint64 m_holderPid = 0;
    QString m_error;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

} // namespace kbxops

#include "testutil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace kbxtest {

std::vector<std::uint8_t> hex(const std::string& text) {
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c)))
            continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            throw std::invalid_argument("hex: bad digit in " + text);
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0)
        throw std::invalid_argument("hex: odd number of digits in " + text);
    return out;
}

std::string toHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}

bool onWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

void spin(int ms) {
    QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

} // namespace kbxtest

namespace kbxtest {

#ifndef _WIN32
SmallDisk::SmallDisk(int kib) {
    char name[] = "/tmp/kbx-disk-XXXXXX";
    if (!mkdtemp(name))
        return;
    m_path = name;
    const std::string command =
        "mount -t tmpfs -o size=" + std::to_string(kib) + "k tmpfs " + m_path + " 2>/dev/null";
    m_mounted = getuid() == 0 && std::system(command.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (m_mounted)
        if (std::system(("umount -l " + m_path).c_str()) != 0)
            m_mounted = false; // left for the system to clean up
    if (!m_path.empty())
        rmdir(m_path.c_str());
}

void SmallDisk::fill() {
    FILE* f = std::fopen((m_path + "/filler").c_str(), "wb");
    if (!f)
        return;
    static const char block[512] = {};
    while (std::fwrite(block, 1, sizeof block, f) == sizeof block && std::fflush(f) == 0) {
    }
    while (std::fwrite(block, 1, 1, f) == 1 && std::fflush(f) == 0) {
    }
    std::fclose(f);
}

#else
SmallDisk::SmallDisk(int) {}
SmallDisk::~SmallDisk() = default;
void SmallDisk::fill() {}
#endif

} // namespace kbxtest

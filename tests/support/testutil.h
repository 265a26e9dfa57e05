#pragma once
// Helpers shared by the tests: literal byte strings and waiting on the event loop.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kbxtest {

// "F0 44 11 01" -> {0xF0, 0x44, 0x11, 0x01}; blanks are ignored.
std::vector<std::uint8_t> hex(const std::string& text);

// The bytes as upper-case hex pairs separated by blanks, for readable failure messages.
std::string toHex(const std::vector<std::uint8_t>& bytes);

// Runs the Qt event loop until the condition holds or the time is up; returns the condition.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 2000);

// Runs the Qt event loop for the given time.
void spin(int ms);

// True when this Windows program runs under Wine: a test of what Wine only stubs skips there,
// saying why, and still runs on Windows itself.
bool onWine();

} // namespace kbxtest

namespace kbxtest {

// A small tmpfs mounted on a temporary folder, for a disk that fills up (root only: mounted()
// is false elsewhere, and the test says it was skipped). Unmounted by the destructor.
class SmallDisk {
public:
    explicit SmallDisk(int kib);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return m_mounted; }
    const std::string& path() const { return m_path; }
    // Takes every byte that is left.
    void fill();

private:
    std::string m_path;
    bool m_mounted = false;
};

} // namespace kbxtest

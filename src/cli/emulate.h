#pragma once
// kbxtool emulate: the virtual keyboard published on real MIDI ports until interrupted.

#include "virtualportserver.h"

#include <functional>
#include <memory>

namespace kbxcli {

using kbxmidi::VirtualPortServer;

// Catches SIGINT and SIGTERM (Ctrl+C and Ctrl+Break on Windows) from its construction until its
// destruction, so that an interruption while the ports open is not lost. One at a time. An
// interruption runs onInterrupt on the GUI thread once the event loop runs (inside a keyboard
// exchange's wait, or wait() below); without one, it ends wait().
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt = {});
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // Runs the Qt event loop until an interruption arrives.
    void wait();

    // From the start of main: a SIGINT or SIGTERM before a watcher exists, or after the last
    // one has gone, is noted instead of ending the process unseen (exit 143); the signals are
    // unblocked, so that one held back by the parent arrives. A watcher hands a noted one to its
    // action at once.
    static void catchEarly();
    // Whether one was noted before any watcher existed (the command has not begun).
    static bool caughtEarly();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace kbxcli

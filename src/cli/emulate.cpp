#include "emulate.h"

#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kbxcli {

namespace {
// The watcher's action; called on the GUI thread only.
std::function<void()> g_onInterrupt;
// Set by a signal before any watcher existed.
volatile std::sig_atomic_t g_early = 0;

void interrupted() {
    if (g_onInterrupt)
        g_onInterrupt();
    else
        QCoreApplication::quit();
}
} // namespace

#ifdef _WIN32

namespace {
// Runs on a thread of its own: the action is posted to the GUI thread.
BOOL WINAPI onConsoleEvent(DWORD) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), &interrupted, Qt::QueuedConnection);
    return TRUE;
}
} // namespace

struct InterruptWatcher::Impl {};

namespace {
BOOL WINAPI onEarlyConsoleEvent(DWORD) {
    g_early = 1;
    return TRUE;
}
} // namespace

void InterruptWatcher::catchEarly() {
    SetConsoleCtrlHandler(&onEarlyConsoleEvent, TRUE);
}

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt) {
    g_onInterrupt = std::move(onInterrupt);
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

InterruptWatcher::~InterruptWatcher() {
    SetConsoleCtrlHandler(&onConsoleEvent, FALSE);
    g_onInterrupt = {};
}

#else

namespace {
int g_signalPipe[2] = {-1, -1};

void onEarlySignal(int) {
    g_early = 1;
}

// Only what is safe in a signal handler: one write to the pipe that the event loop watches.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
} // namespace

struct InterruptWatcher::Impl {
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
};

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_impl(std::make_unique<Impl>()) {
    g_onInterrupt = std::move(onInterrupt);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        throw std::runtime_error("Cannot watch for signals: socketpair failed");
    m_impl->notifier = std::make_unique<QSocketNotifier>(g_signalPipe[1], QSocketNotifier::Read);
    QObject::connect(m_impl->notifier.get(), &QSocketNotifier::activated, m_impl->notifier.get(),
                     [](QSocketDescriptor) {
                         char byte = 0;
                         [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
                         interrupted();
                     });
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_impl->oldInt);
    sigaction(SIGTERM, &action, &m_impl->oldTerm);
}

void InterruptWatcher::catchEarly() {
    struct sigaction action {};
    action.sa_handler = &onEarlySignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &both, nullptr);
}

InterruptWatcher::~InterruptWatcher() {
    sigaction(SIGINT, &m_impl->oldInt, nullptr);
    sigaction(SIGTERM, &m_impl->oldTerm, nullptr);
    m_impl->notifier.reset();
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
    g_onInterrupt = {};
}

#endif

bool InterruptWatcher::caughtEarly() {
    return g_early != 0;
}

void InterruptWatcher::wait() {
    // A signal that came before the loop runs is still in the pipe (or the queue) and ends it
    // at once.
    QCoreApplication::exec();
}

} // namespace kbxcli

// Under Wine, Qt's event loop is not woken when one of its timers expires (Qt's multimedia and
// window timers both; seen with Wine 8.0 and Qt 6.4): a wait for a reply, or its time-out,
// would last until some other event came. Posted events do wake it, so while the program runs
// on Wine a thread wakes the main thread's event loop every two milliseconds. On Windows itself
// nothing is started. Compiled into every Windows program of the build (cmake/windows.cmake).
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>
#include <windows.h>

namespace {

std::atomic<bool> g_stop{false};
std::thread g_waker;

bool onWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void stopWaker() {
    g_stop = true;
    if (g_waker.joinable())
        g_waker.join();
}

void startWaker() {
    if (!onWine() || g_waker.joinable())
        return;
    QAbstractEventDispatcher* dispatcher =
        QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    if (!dispatcher)
        return;
    g_stop = false;
    g_waker = std::thread([dispatcher] {
        while (!g_stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            dispatcher->wakeUp();
        }
    });
    // Before the dispatcher goes with the application object.
    qAddPostRoutine(&stopWaker);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startWaker)

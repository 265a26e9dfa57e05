// Under Wine, Qt's event loop is not woken when one of its timers expires (Qt's multimedia and
// window timers both; seen with Wine 8.0 and Qt 6.4): a wait for a reply, or its time-out,
// would last until some other event came. Posted events do wake it, so while the program runs
// on Wine a periodic multimedia timer wakes the main thread's event loop every two
// milliseconds. Being periodic, it also keeps Wine's multimedia timer thread alive: Wine ends
// that thread whenever its last timer goes and starts a new one for the next, so every request
// (whose 200 ms time-out is such a timer) paid a thread start, milliseconds each and far more on
// a busy machine. On Windows itself nothing is started. Compiled into every Windows program of
// the build (cmake/windows-package.cmake).
#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

namespace {

UINT g_waker = 0;

bool onWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

void CALLBACK wake(UINT, UINT, DWORD_PTR dispatcher, DWORD_PTR, DWORD_PTR) {
    reinterpret_cast<QAbstractEventDispatcher*>(dispatcher)->wakeUp();
}

void stopWaker() {
    if (g_waker) {
        timeKillEvent(g_waker); // synchronous: no call of wake() runs after this
        g_waker = 0;
    }
}

void startWaker() {
    if (!onWine() || g_waker)
        return;
    QAbstractEventDispatcher* dispatcher =
        QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    if (!dispatcher)
        return;
    g_waker = timeSetEvent(2, 1, &wake, reinterpret_cast<DWORD_PTR>(dispatcher),
                           TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    // Before the dispatcher goes with the application object.
    qAddPostRoutine(&stopWaker);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startWaker)

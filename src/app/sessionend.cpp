#include "app/sessionend.h"

#include "app/devicechoicecontroller.h"
#include "app/mainform.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QSessionManager>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kbxapp {

namespace {
SessionEnd* g_current = nullptr;
} // namespace

#ifdef Q_OS_WIN

namespace {
// Runs on a thread of its own: the request is queued to the GUI thread.
BOOL WINAPI onConsoleEvent(DWORD) {
    if (g_current)
        QMetaObject::invokeMethod(g_current, &SessionEnd::request, Qt::QueuedConnection);
    return TRUE;
}
} // namespace

struct SessionEnd::Watcher {
    Watcher() { SetConsoleCtrlHandler(&onConsoleEvent, TRUE); }
    ~Watcher() { SetConsoleCtrlHandler(&onConsoleEvent, FALSE); }
};

#else

namespace {
int g_signalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: one write to the pipe that the event loop watches.
void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
} // namespace

struct SessionEnd::Watcher {
    std::unique_ptr<QSocketNotifier> notifier;
    struct sigaction oldTerm {};
    struct sigaction oldHup {};
    bool installed = false;

    Watcher() {
        // Without the pipe a signal ends the process at once, as it always could.
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
            return;
        notifier = std::make_unique<QSocketNotifier>(g_signalPipe[1], QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                         [](QSocketDescriptor) {
                             char byte = 0;
                             [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
                             if (g_current)
                                 g_current->request();
                         });
        struct sigaction action {};
        action.sa_handler = &onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, &oldTerm);
        sigaction(SIGHUP, &action, &oldHup);
        installed = true;
    }
    ~Watcher() {
        if (!installed)
            return;
        sigaction(SIGTERM, &oldTerm, nullptr);
        sigaction(SIGHUP, &oldHup, nullptr);
        notifier.reset();
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
};

#endif

SessionEnd::SessionEnd(Quit quit)
    : m_quit(quit ? std::move(quit) : Quit([](int code) { QCoreApplication::exit(code); })) {
    g_current = this;
    m_watcher = std::make_unique<Watcher>();
    // The session manager's end (X11's "die") arrives as a quit event from the system.
    qApp->installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
            // Not yet the end (a logout may still be cancelled): the keyboard is left whole and
            // the settings are stored while there is time.
            if (m_window)
                m_window->CancelActionExecute();
            saveSettings();
        });
        // Windows ends the process right after announcing its end.
        connect(gui, &QCoreApplication::aboutToQuit, this, &SessionEnd::saveSettings);
    }
}

SessionEnd::~SessionEnd() {
    if (m_window)
        m_window->removeEventFilter(this);
    qApp->removeEventFilter(this);
    m_watcher.reset();
    if (m_previousReporter)
        ErrorReporter::setInstance(m_previousReporter);
    g_current = nullptr;
}

void SessionEnd::watch(TPcLinkForm& window) {
    m_window = &window;
    m_watched = &window;
    window.installEventFilter(this);
}

void SessionEnd::request() {
    if (m_requested)
        return;
    m_requested = true;
    m_previousReporter = &ErrorReporter::instance();
    ErrorReporter::setInstance(&m_toStderr);
    if (!m_window) {
        m_quit(0);
        return;
    }
    m_exitCode = m_window->isBusy() ? 130 : 0;
    // Closing the window while an action runs cancels it and closes once it has stopped; the
    // window's hiding then quits (eventFilter).
    m_window->close();
}

bool SessionEnd::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit && event->spontaneous()) {
        request();
        return true;
    }
    // Compared as a plain object: the window's last events come while it is being destroyed,
    // when it is no longer a TPcLinkForm to look at.
    if (m_requested && watched == m_watched && event->type() == QEvent::Hide &&
        !event->spontaneous()) {
        // Queued: the close may come from inside the end of the action.
        QTimer::singleShot(0, this, [this] { m_quit(m_exitCode); });
    }
    return QObject::eventFilter(watched, event);
}

void SessionEnd::saveSettings() {
    if (!m_window)
        return;
    try {
        m_window->deviceChoice().save();
    } catch (const std::exception&) {
        // Reported when the window closes and saves again.
    }
}

void SessionEnd::ToStderr::showError(QWidget* parent, const QString& text) {
    showDetailedError(parent, text, QString());
}

void SessionEnd::ToStderr::showDetailedError(QWidget*, const QString& text,
                                             const QString& informative) {
    std::fprintf(stderr, "kbxman: %s\n", qUtf8Printable(text));
    if (!informative.isEmpty())
        std::fprintf(stderr, "kbxman: %s\n", qUtf8Printable(informative));
}

} // namespace kbxapp

#pragma once
// The window ends like a cancel when the system or the desktop ends the program: SIGTERM and
// SIGHUP (a console's Ctrl+C, close, logoff and shutdown on Windows) and the session manager's
// quit. The running keyboard action stops at its next message boundary and leaves the keyboard
// whole, or its history entry says what was not put back; then the window closes and the program
// quits: exit code 0 when nothing ran, 130 when an action was stopped. Nobody is left to read an
// error box by then, so the errors from there on go to the standard error.
//
// The desktop's request to save before a logout cancels the running action and stores the
// settings; the end itself follows as a quit or a signal.

#include "app/errorreporter.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class TPcLinkForm;

namespace kbxapp {

class SessionEnd : public QObject {
    Q_OBJECT
public:
    using Quit = std::function<void(int exitCode)>;
    // From its construction until its destruction; one at a time. quit ends the event loops
    // (QCoreApplication::exit unless a test watches it).
    explicit SessionEnd(Quit quit = {});
    ~SessionEnd() override;
    SessionEnd(const SessionEnd&) = delete;
    SessionEnd& operator=(const SessionEnd&) = delete;

    // The window to end; before it exists an end request only quits the event loops (a
    // first-start dialog inside the window's creation).
    void watch(TPcLinkForm& window);

    bool isRequested() const { return m_requested; }
    int exitCode() const { return m_exitCode; }

    // Ends the program as a signal does; asked again, nothing more happens.
    void request();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void saveSettings();

    class ToStderr : public ErrorReporter {
    public:
        void showError(QWidget* parent, const QString& text) override;
        void showDetailedError(QWidget* parent, const QString& text,
                               const QString& informative) override;
    };

    struct Watcher;
    std::unique_ptr<Watcher> m_watcher;
    Quit m_quit;
    QPointer<TPcLinkForm> m_window;
    const QObject* m_watched = nullptr; // the window, only ever compared
    ErrorReporter* m_previousReporter = nullptr;
    ToStderr m_toStderr;
    bool m_requested = false;
    int m_exitCode = 0;
};

} // namespace kbxapp

// kbxman: one instance per user, the application's names, the main window.
#include "appicons.h"
#include "errorreporter.h"
#include "helpdialogs.h"
#include "localpane.h"
#include "mainform.h"
#include "mididevices.h"
#include "platform.h"
#include "sessionend.h"
#include "settings.h"
#include "translations.h"
#include "virtualzr7316.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <exception>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// The file the file manager opens with us (kbxman FILE), as an absolute path: the running
// instance that may show it has another working folder. Empty when none is named.
QString fileArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (!arg.startsWith(QLatin1Char('-')))
            return QFileInfo(arg).absoluteFilePath();
    }
    return {};
}

// Shows the file in the window's local pane and says so (the start's test reads the line).
void showFile(TPcLinkForm& form, const QString& path) {
    if (form.ShowLocalFile(path))
        qInfo("kbxman: showing %s", qUtf8Printable(form.localPane().SelectedPath()));
}

} // namespace

int main(int argc, char** argv) {
    // --version and --help answer on the terminal, before the window or another instance.
    if (const std::optional<int> answered = kbxapp::answerCommandLine(argc, argv))
        return *answered;
    const QString file = fileArgument(argc, argv);
    // A second start ends here, before it touches the display.
    QLockFile instanceLock(kbxapp::singleInstanceLockPath());
    instanceLock.setStaleLockTime(0); // only a lock of a dead process is stale
    if (!instanceLock.tryLock(0)) {
        // The user wants the program: the running one comes forward, and shows the file.
#ifdef Q_OS_WIN
        // Windows lets only the foreground process hand the foreground on: this start is the
        // one the user just made, so it allows the running instance to take it.
        qint64 holder = 0;
        if (instanceLock.getLockInfo(&holder, nullptr, nullptr))
            AllowSetForegroundWindow(static_cast<DWORD>(holder));
#endif
        QLocalSocket first;
        first.connectToServer(kbxapp::singleInstanceServerName());
        if (first.waitForConnected(500)) {
            first.write(file.isEmpty() ? QByteArray("raise\n") : "open " + file.toUtf8() + "\n");
            first.waitForBytesWritten(500);
            first.disconnectFromServer();
        }
        return 1;
    }

    QApplication app(argc, argv);
    // The application title is the main window's caption (its form sets it); a display name
    // would be appended to every dialog's caption as well.
    kbxapp::initApplication();
    QApplication::setWindowIcon(kbxapp::appIcon());
    // Ties the window to its menu entry: the app id on Wayland (on X11 the entry's StartupWMClass
    // names the window class, KbxMan).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tovanel.KbxMan"));
    // The window's texts in the language chosen in the preferences (English unless chosen).
    kbxapp::setInterfaceLanguage(KbxSettings().loadLanguage());

    try {
        // What is sent to the virtual keyboard is still there on the next run; tests keep it in
        // memory only.
        if (qEnvironmentVariableIsEmpty("KBX_TEST")) {
            kbxmidi::DeviceRegistry::instance().virtualKeyboard().setStateFile(
                VirtualZr7316::defaultStateFile());
        }
        // Listening before the window exists: at a first start the preference dialog opens
        // from inside the window's creation and has to come forward as well. A socket of a dead
        // instance stays behind on some systems; this instance holds the lock.
        QLocalServer::removeServer(kbxapp::singleInstanceServerName());
        QLocalServer server;
        TPcLinkForm* window = nullptr;
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, &window] {
            while (QLocalSocket* second = server.nextPendingConnection()) {
                // A line "open PATH" names a file to show; it may arrive with the close.
                const auto read = [second, &window] {
                    while (second->canReadLine()) {
                        const QByteArray line = second->readLine().trimmed();
                        if (window && line.startsWith("open "))
                            showFile(*window, QString::fromUtf8(line.mid(5)));
                    }
                };
                QObject::connect(second, &QLocalSocket::readyRead, second, read);
                QObject::connect(second, &QLocalSocket::disconnected, second, [second, read] {
                    read();
                    second->deleteLater();
                });
                QWidget* front = QApplication::activeModalWidget();
                if (!front)
                    front = window;
                if (!front)
                    continue;
                front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
                front->show();
                front->raise();
                front->activateWindow();
                qInfo("kbxman: brought forward by a second start");
            }
        });
        server.listen(kbxapp::singleInstanceServerName());

        // A signal or the session's end cancels the running action, then quits.
        kbxapp::SessionEnd sessionEnd;
        TPcLinkForm form;
        window = &form;
        sessionEnd.watch(form);
        if (sessionEnd.isRequested())
            return sessionEnd.exitCode(); // during a dialog inside the window's creation
        form.show();
        if (!file.isEmpty())
            showFile(form, file);
        return app.exec();
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(nullptr, QString::fromStdString(error.what()));
    } catch (...) {
        ErrorReporter::instance().showError(nullptr, QString());
    }
    return 0;
}

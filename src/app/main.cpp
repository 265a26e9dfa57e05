// kbxman: one instance per user, the application's names, the main window.
#include "appicons.h"
#include "errorreporter.h"
#include "mainform.h"
#include "mididevices.h"
#include "platform.h"
#include "virtualzr7316.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <exception>

int main(int argc, char** argv) {
    // A second start ends here, before it touches the display.
    QLockFile instanceLock(kbxapp::singleInstanceLockPath());
    instanceLock.setStaleLockTime(0); // only a lock of a dead process is stale
    if (!instanceLock.tryLock(0)) {
        // The user wants the program: the running one comes forward.
        QLocalSocket first;
        first.connectToServer(kbxapp::singleInstanceServerName());
        if (first.waitForConnected(500)) {
            first.write("raise\n");
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
        QWidget* window = nullptr;
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, &window] {
            while (QLocalSocket* second = server.nextPendingConnection()) {
                QObject::connect(second, &QLocalSocket::disconnected, second,
                                 &QObject::deleteLater);
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

        TPcLinkForm form;
        window = &form;
        form.show();
        return app.exec();
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(nullptr, QString::fromStdString(error.what()));
    } catch (...) {
        ErrorReporter::instance().showError(nullptr, QString());
    }
    return 0;
}

// kbxman: one instance per user, the application title, the main window.
#include "appicons.h"
#include "mainform.h"
#include "mididevices.h"
#include "platform.h"
#include "virtualzr7316.h"

#include <QApplication>
#include <QLockFile>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv) {
    // A second start ends here, before it touches the display.
    QLockFile instanceLock(kbxapp::singleInstanceLockPath());
    instanceLock.setStaleLockTime(0); // only a lock of a dead process is stale
    if (!instanceLock.tryLock(0))
        return 1;

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tovanel"));
    QApplication::setApplicationName(QStringLiteral("KbxMan"));
    QApplication::setApplicationDisplayName(
        QStringLiteral("ZR-7316 MUSIC DATA MANAGEMENT SOFTWARE"));
    QApplication::setWindowIcon(kbxapp::appIcon());

    try {
        // What is sent to the virtual keyboard is still there on the next run; tests keep it in
        // memory only.
        if (qEnvironmentVariableIsEmpty("KBX_TEST")) {
            kbxmidi::DeviceRegistry::instance().virtualKeyboard().setStateFile(
                VirtualZr7316::defaultStateFile());
        }
        TPcLinkForm form;
        form.show();
        return app.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QString(), QString::fromStdString(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QString(), QString());
    }
    return 0;
}

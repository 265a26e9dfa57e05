// kbxman: one instance per user, the application's names, the main window.
#include "appicons.h"
#include "errorreporter.h"
#include "mainform.h"
#include "mididevices.h"
#include "platform.h"
#include "virtualzr7316.h"

#include <QApplication>
#include <QLockFile>
#include <exception>

int main(int argc, char** argv) {
    // A second start ends here, before it touches the display.
    QLockFile instanceLock(kbxapp::singleInstanceLockPath());
    instanceLock.setStaleLockTime(0); // only a lock of a dead process is stale
    if (!instanceLock.tryLock(0))
        return 1;

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
        TPcLinkForm form;
        form.show();
        return app.exec();
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(nullptr, QString::fromStdString(error.what()));
    } catch (...) {
        ErrorReporter::instance().showError(nullptr, QString());
    }
    return 0;
}

// kbxtool: the engine of kbxman on the command line.
#include "emulate.h"
#include "kbxtool.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    // A signal during the start or after the work is done is not a crash (exit 143).
    kbxcli::InterruptWatcher::catchEarly();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kbxtool"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return kbxcli::runCommandLine(arguments);
}

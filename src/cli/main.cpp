// kbxtool: the engine of kbxman on the command line.
#include "kbxtool.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kbxtool"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return kbxcli::runCommandLine(arguments);
}

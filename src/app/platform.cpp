#include "platform.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kbxapp {

QString explorerCommand() {
#if defined(Q_OS_WIN)
    return QStringLiteral("explorer");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("open");
#else
    return QStringLiteral("xdg-open");
#endif
}

bool isRemovableDrive(const QString& root) {
#ifdef Q_OS_WIN
    const std::wstring path = QDir::toNativeSeparators(root).toStdWString();
    return GetDriveTypeW(path.c_str()) == DRIVE_REMOVABLE;
#else
    Q_UNUSED(root);
    return false;
#endif
}

QString singleInstanceLockPath() {
#ifdef Q_OS_WIN
    // The temporary folder is per user on Windows.
    return QDir::tempPath() + QStringLiteral("/KbxMan.lock");
#else
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        return QDir::tempPath() + QStringLiteral("/KbxMan-%1.lock").arg(getuid());
    return dir + QStringLiteral("/KbxMan.lock");
#endif
}

namespace {
ProcessLauncher* g_launcher = nullptr;
} // namespace

bool ProcessLauncher::startDetached(const QString& program, const QStringList& arguments,
                                    QString* error) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}

ProcessLauncher& ProcessLauncher::instance() {
    static ProcessLauncher real;
    return g_launcher ? *g_launcher : real;
}

void ProcessLauncher::setInstance(ProcessLauncher* launcher) {
    g_launcher = launcher;
}

} // namespace kbxapp

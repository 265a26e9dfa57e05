#pragma once
// The few host services that differ per system: the file explorer, removable drives, where the
// single-instance lock lives, the registry value QSettings cannot reach, and starting a process
// (a seam tests replace).

#include <QString>
#include <QStringList>

namespace kbxapp {

// First word of the command that opens a folder in the system's file explorer.
QString explorerCommand();

// Whether a drive root ("A:\") is a removable medium, which the trees never probe unasked.
bool isRemovableDrive(const QString& root);

// The lock file that keeps one instance per user on the desktop.
QString singleInstanceLockPath();
// The local socket through which a second start asks the running instance to come forward.
QString singleInstanceServerName();

// Names the program for its settings and data folders. No application display name: Qt would
// append it to every dialog's caption. On Windows it also routes the directory setting to the
// registry value "Default", which QSettings takes for the key's unnamed value.
void initApplication();

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts the program detached with the three standard handles on the null device. On
    // failure returns false with the system's text in error.
    virtual bool startDetached(const QString& program, const QStringList& arguments,
                               QString* error);

    static ProcessLauncher& instance();
    // Not owned; nullptr brings the real launcher back.
    static void setInstance(ProcessLauncher* launcher);
};

} // namespace kbxapp

#include "platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include "settings.h"

#include <string>
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

QString singleInstanceServerName() {
#ifdef Q_OS_WIN
    // A pipe name, one per user (the lock's folder already is).
    return QStringLiteral("KbxMan-") + qEnvironmentVariable("USERNAME");
#else
    // Beside the lock, so that whoever may take the lock also reaches the socket.
    QString path = singleInstanceLockPath();
    path.chop(5); // ".lock"
    return path + QStringLiteral(".socket");
#endif
}

#ifdef Q_OS_WIN
namespace {

// HKEY_CURRENT_USER\Software\Tovanel\KbxMan\Directory, value "Default" (a named value, not the
// key's unnamed one).
constexpr wchar_t kDirectoryKey[] = L"Software\\Tovanel\\KbxMan\\Directory";
constexpr wchar_t kDefaultValue[] = L"Default";

QString systemText(LSTATUS status) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(status), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    QString text = length ? QString::fromWCharArray(buffer, static_cast<int>(length)).trimmed()
                          : QStringLiteral("error %1").arg(status);
    LocalFree(buffer);
    return text;
}

// Missing key or value: an invalid QVariant. A text value (REG_SZ, REG_EXPAND_SZ): the text.
// Any other type: a QVariant that is not text, which the settings reject as such.
KbxSettings::ValueRead readDirectoryValue() {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, kDirectoryKey, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return {};
    if (status != ERROR_SUCCESS)
        return {QVariant(), systemText(status)};
    DWORD type = 0;
    DWORD bytes = 0;
    status = RegQueryValueExW(key, kDefaultValue, nullptr, &type, nullptr, &bytes);
    KbxSettings::ValueRead result;
    if (status == ERROR_FILE_NOT_FOUND) {
        // no value: the empty text, as for a missing key
    } else if (status != ERROR_SUCCESS) {
        result.error = systemText(status);
    } else if (type != REG_SZ && type != REG_EXPAND_SZ) {
        result.value = QVariant(static_cast<qulonglong>(type));
    } else {
        // One more character than asked for: a stored text need not end with its zero.
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key, kDefaultValue, nullptr, &type,
                                  reinterpret_cast<BYTE*>(text.data()), &size);
        if (status != ERROR_SUCCESS) {
            result.error = systemText(status);
        } else {
            text.resize(size / sizeof(wchar_t));
            while (!text.empty() && text.back() == L'\0')
                text.pop_back();
            result.value = QString::fromStdWString(text);
        }
    }
    RegCloseKey(key);
    return result;
}

// Creates the key if it vanished while the program ran. Returns the system's text on failure.
QString writeDirectoryValue(const QString& dir) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, kDirectoryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return systemText(status);
    const std::wstring text = dir.toStdWString();
    status =
        RegSetValueExW(key, kDefaultValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? QString() : systemText(status);
}

const KbxSettings::DirectoryValueAccess kRegistryDirectory{&readDirectoryValue,
                                                           &writeDirectoryValue};

} // namespace
#endif

void initApplication() {
    QCoreApplication::setOrganizationName(QStringLiteral("Tovanel"));
    QCoreApplication::setApplicationName(QStringLiteral("KbxMan"));
#ifdef Q_OS_WIN
    KbxSettings::setUserDirectoryAccess(&kRegistryDirectory);
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

#pragma once
// The settings that outlive a run: the MIDI input and output device numbers with the devices'
// names, and the default local directory. They live in the user's native settings store (on
// Windows the registry key HKEY_CURRENT_USER\Software\Tovanel\KbxMan with the subkeys MIDI and
// Directory); every call opens the store afresh, so nothing is cached between the read at start
// and the write at the end.

#include <QSettings>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>

class KbxSettings {
public:
    enum class LoadResult {
        Loaded,
        // The store holds nothing for the program yet: the caller opens the preference dialog
        // before anything else and then calls save(), which creates the groups.
        FirstStart,
    };

    // The store KbxSettings() uses: the user's own (native format, organisation "Tovanel",
    // application "KbxMan"), unless setDefaultStore() has redirected it or the environment
    // variable KBX_SETTINGS names a text (INI) file to use instead. Under the test runner
    // (KBX_TEST=1) an unredirected store is a file in a temporary folder of the process, so no
    // test can reach the user's real settings.
    KbxSettings();
    // A store of the given format in the given file (tests; an IniFormat file for a portable
    // setup).
    KbxSettings(QSettings::Format format, const QString& fileName);

    // Everything the store holds. Device numbers move when devices come and go, so the names
    // (MIDI\InputDeviceName, MIDI\OutputDeviceName) are kept beside them; settings written
    // before names were kept have none (empty texts), and their numbers count as they always did.
    struct Values {
        std::int32_t inputDevice = 0;
        std::int32_t outputDevice = 0;
        QString inputDeviceName;
        QString outputDeviceName;
        QString defaultDir;
    };

    // Reads the values in the order input device, output device, directory. Each is assigned as
    // soon as it has been read, so after a failure the values before it are the stored ones and
    // the rest are unchanged.
    // FirstStart: in = out = 0, dir = the current directory.
    // Throws std::runtime_error when the "MIDI" group or one of its device values is missing or
    // not an integer, when "Default" is not text, or when the store cannot be read. A missing
    // "Default" (or "Directory" group) gives the empty text without an error.
    LoadResult load(std::int32_t& in, std::int32_t& out, QString& dir) const;
    // The same, with the names read after the numbers; a missing name is the empty text, one
    // that is not text an error (the numbers are then assigned, the names and directory not).
    LoadResult load(Values& values) const;

    // Writes all three values. Groups and values that vanished while the program ran are created
    // again, so the settings of the run are never lost to a missing key. Throws
    // std::runtime_error when the store cannot be written.
    // The names are removed: numbers written without them must not be taken for the devices of
    // names stored earlier.
    void save(std::int32_t in, std::int32_t out, const QString& dir) const;
    // Writes everything; an empty name is removed rather than stored.
    void save(const Values& values) const;
    // Writes the MIDI group alone (numbers and names) and leaves the directory as it is stored:
    // for a device chosen or found outside the window.
    void saveDevices(const Values& values) const;

    // The safety net's preferences, in a group of our own ("Safety"): keep a copy of every item a
    // change replaces (history and undo), and read an item back after sending it, for a single
    // send and for restore and undo apart: a restore or an undo puts back what must be right, a
    // single send is often tried again at once, so the two have different defaults.
    struct Safety {
        bool keepHistory = true;
        bool verifySend = false;
        bool verifyRestore = true; // restore (of a backup or from the history) and undo
        // Ask before a delete or a send that replaces a song or rhythm. Only while the history
        // keeps copies may the user switch the question off ("Don't ask again").
        bool askBeforeChange = true;
        bool operator==(const Safety&) const = default;
    };
    // Missing values, and values that are not a yes or no, give the defaults: a damaged store must
    // never switch the safety net off.
    Safety loadSafety() const;
    // Throws std::runtime_error when the store cannot be written.
    void saveSafety(const Safety& safety) const;

    // The main window's own values, in a group of their own ("Window") beside the described
    // ones: its geometry and state, the dividers between the panes and within each, each list's
    // view style, and the preference to list the keyboard right after the window is shown.
    struct WindowValues {
        QByteArray geometry; // QWidget::saveGeometry
        QByteArray state;    // QMainWindow::saveState
        QByteArray panelDivider;
        QByteArray localDivider;
        QByteArray kbdDivider;
        int localViewStyle = -1; // -1: none stored
        int kbdViewStyle = -1;
        bool listAtStart = true;
        QString localFolder; // the folder the local pane showed last; empty: none stored
        bool operator==(const WindowValues&) const = default;
    };
    // Missing or malformed values give the defaults: a layout never stops the window.
    WindowValues loadWindow() const;
    // Throws std::runtime_error when the store cannot be written.
    void saveWindow(const WindowValues& values) const;

    // The language of the window's texts ("Window/Language"): "ja" or "en". Nothing stored, or
    // anything else, is English, the default.
    QString loadLanguage() const;
    // Written at once, as the choice takes effect at the next start. Throws std::runtime_error
    // when the store cannot be written.
    void saveLanguage(const QString& language) const;

    // Redirects KbxSettings() to a store of the given format in the given file for the rest of
    // the process (tests of the main window); an empty file name brings the default back.
    static void setDefaultStore(QSettings::Format format, const QString& fileName);

    // Where the values live, for messages.
    QString location() const;

    // Access to the directory value of the user's own store where QSettings cannot reach it (on
    // Windows QSettings takes a value named "Default" for the key's unnamed value). The platform
    // installs it at start; redirected stores and the test runner's never use it.
    struct ValueRead {
        QVariant value; // invalid: the value or its key is missing
        QString error;  // not empty: the store could not be read
    };
    struct DirectoryValueAccess {
        ValueRead (*read)();
        QString (*write)(const QString& dir); // returns the failure's text, empty when written
    };
    // Not owned; nullptr goes back to QSettings.
    static void setUserDirectoryAccess(const DirectoryValueAccess* access);

private:
    std::unique_ptr<QSettings> open() const;
    LoadResult load(std::int32_t& in, std::int32_t& out, QString* inName, QString* outName,
                    QString& dir) const;

    bool m_userStore = true; // native store of organisation and application
    QSettings::Format m_format = QSettings::NativeFormat;
    QString m_fileName;
};

#pragma once
// Shared pieces of the main window's widget tests: an error-box recorder, a driver for modal
// dialogs, and a fixture that builds a window on a temporary local folder and a temporary
// settings store, against the virtual keyboard kept in memory.
#include "app/confirm.h"
#include "app/devicechoicecontroller.h"
#include "app/errorreporter.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "common/settings.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace kbxtest {

// True under Wine, whose shell file operation (Qt's trash on Windows) is a stub.
inline bool underWine() {
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// The desktop's trash of a home of the test's own, for as long as it lives.
class PrivateTrashHome {
public:
    PrivateTrashHome()
        : m_savedHome(qgetenv("HOME"))
        , m_savedData(qgetenv("XDG_DATA_HOME")) {
        QDir(m_home.path()).mkpath(QStringLiteral("data"));
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toUtf8());
    }
    ~PrivateTrashHome() {
        qputenv("HOME", m_savedHome);
        qputenv("XDG_DATA_HOME", m_savedData);
    }
    PrivateTrashHome(const PrivateTrashHome&) = delete;
    PrivateTrashHome& operator=(const PrivateTrashHome&) = delete;
    QString path() const { return m_home.path(); }
    QString filePath(const QString& name) const { return m_home.filePath(name); }

private:
    QTemporaryDir m_home;
    QByteArray m_savedHome;
    QByteArray m_savedData;
};

using Bytes = std::vector<std::uint8_t>;

// An item of `size` bytes with an 8-character name field at `offset`.
inline Bytes namedItem(std::size_t size, std::size_t offset, const std::string& name) {
    Bytes bytes(size, 0x11);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

inline constexpr std::size_t kRhythmNameOffset = 2;
inline constexpr std::size_t kToneNameOffset = 36;

class ErrorRecorder : public ErrorReporter {
public:
    void showError(QWidget*, const QString& text) override {
        texts << text;
        informative << QString();
    }
    void showDetailedError(QWidget*, const QString& text, const QString& line) override {
        texts << text;
        informative << line;
    }
    void clear() {
        texts.clear();
        informative.clear();
    }
    QStringList texts;
    QStringList informative; // one per text, empty where the box had no informative line
};

// Answers the questions before a change: yes, unless a test has queued other answers.
class ConfirmRecorder : public Confirmer {
public:
    Answer ask(QWidget*, const Question& question) override {
        asked << question;
        return answers.isEmpty() ? Answer{true, false} : answers.takeFirst();
    }
    void clear() {
        asked.clear();
        answers.clear();
    }
    QList<Question> asked;
    QList<Answer> answers;
};

// Hands each modal dialog, as it appears, to the next expected act. A dialog nobody expected is
// recorded and rejected, so that a test fails instead of hanging.
class ModalDriver : public QObject {
public:
    using Act = std::function<void(QDialog*)>;

    ModalDriver() {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
        m_timer.start();
    }
    void expect(Act act) { m_acts << std::move(act); }
    // Class names of the dialogs shown, in order.
    QStringList seen;
    qsizetype unused() const { return m_acts.size(); }

private:
    void poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == m_current)
            return;
        m_current = dialog;
        seen << QString::fromLatin1(dialog->metaObject()->className());
        if (m_acts.isEmpty()) {
            dialog->reject();
            return;
        }
        m_acts.takeFirst()(dialog);
        // An act that stopped early (a failed check) must not leave the test waiting.
        if (m_current && m_current->isVisible())
            m_current->reject();
    }

    QTimer m_timer;
    QList<Act> m_acts;
    QPointer<QDialog> m_current;
};

template <class T>
T* child(QObject* parent, const char* name) {
    T* control = parent->findChild<T*>(QString::fromLatin1(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

// A window per test on a fresh local folder; the store and the virtual keyboard are reset.
class MainFormFixture {
protected:
    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<TPcLinkForm> m_form;
    ErrorRecorder m_errors;
    ConfirmRecorder m_confirms;
    VirtualZr7316* m_keyboard = nullptr;

    QString storeFile() const { return m_config.filePath("KbxMan.ini"); }
    QString localDir() const {
        return QDir::toNativeSeparators(m_local->path()) + QDir::separator();
    }
    // The window lists the keyboard at start only where a test asks for it.
    void writeSettings(const QString& defaultDir) {
        KbxSettings().save(0, 0, defaultDir);
        KbxSettings::WindowValues window;
        window.listAtStart = false;
        KbxSettings().saveWindow(window);
    }

    void setUpCase() {
        KbxSettings::setDefaultStore(QSettings::IniFormat, storeFile());
        ErrorReporter::setInstance(&m_errors);
        Confirmer::setInstance(&m_confirms);
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
    }

    void setUp() {
        m_errors.clear();
        m_confirms.clear();
        QFile::remove(storeFile());
        KbxSettings::setDefaultStore(QSettings::IniFormat, storeFile());
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->clearLog();
        ZxKbdDrv::destroyInstance();
        m_local = std::make_unique<QTemporaryDir>();
        writeSettings(localDir());
    }

    void tearDown() {
        m_form.reset();
        ZxKbdDrv::destroyInstance();
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
        m_local.reset();
    }

    TPcLinkForm& createForm() {
        m_form = std::make_unique<TPcLinkForm>();
        m_form->show();
        m_form->activateWindow();
        if (!QTest::qWaitForWindowActive(m_form.get()))
            qWarning("main window did not become active");
        return *m_form;
    }

    template <class T>
    T* find(const char* name) {
        return child<T>(m_form.get(), name);
    }
    QTreeWidget* localDirView() { return find<QTreeWidget>("LocalDirView"); }
    QTreeWidget* kbdDirView() { return find<QTreeWidget>("KbdDirView"); }
    FileListView* localFileView() { return find<FileListView>("LocalFileView"); }
    FileListView* kbdFileView() { return find<FileListView>("KbdFileView"); }

    bool writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(m_local->filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }

    QTreeWidgetItem* findNode(QTreeWidget* tree, const QString& path) {
        QList<QTreeWidgetItem*> pending;
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            pending << tree->topLevelItem(i);
        while (!pending.isEmpty()) {
            QTreeWidgetItem* node = pending.takeFirst();
            if (m_form->GetNodePath(node) == path)
                return node;
            for (int i = 0; i < node->childCount(); ++i)
                pending << node->child(i);
        }
        return nullptr;
    }

    bool selectKbdFolder(const QString& path) {
        QTreeWidgetItem* node = findNode(kbdDirView(), path);
        if (node)
            kbdDirView()->setCurrentItem(node);
        return node != nullptr;
    }

    static int rowOf(FileListView* list, const QString& text) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->itemText(row) == text)
                return row;
        }
        return -1;
    }

    bool readList() {
        m_form->ConnectActionExecute();
        return m_errors.texts.isEmpty() && m_form->kbdDrv().isListed();
    }

    // Imports keyboard slot `row` of the tone folder into the local folder.
    bool importTone(int row) {
        if (!selectKbdFolder("Tone:\\"))
            return false;
        kbdFileView()->setSelectedRow(row);
        m_form->ReceiveActionExecute();
        return m_errors.texts.isEmpty();
    }
};

} // namespace kbxtest

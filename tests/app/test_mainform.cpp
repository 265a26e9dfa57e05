// The main window against the virtual ZR-7316, through the real ports and the Qt event loop:
// the keyboard actions and their error boxes (recorded, never shown), the status line and the
// enabled controls, import and send, the busy state, the panes and their paths.
#include "app/confirm.h"
#include "app/devicechoicecontroller.h"
#include "app/errorreporter.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "app/progressobservers.h"
#include "common/platform.h"
#include "common/settings.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"
#include "emulator/virtualzr7316.h"
#include "midi/mididevices.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An item of `size` bytes with an 8-character name field at `offset`.
Bytes namedItem(std::size_t size, std::size_t offset, const std::string& name) {
    Bytes bytes(size, 0x11);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

constexpr std::size_t kRhythmNameOffset = 2;
constexpr std::size_t kToneNameOffset = 36;

// Every question before a change is answered yes: these cases are about the actions.
class YesConfirmer : public Confirmer {
public:
    Answer ask(QWidget*, const Question&) override { return {true, false}; }
};

class ErrorRecorder : public ErrorReporter {
public:
    void showError(QWidget* parent, const QString& text) override {
        texts << text;
        auto* form = qobject_cast<TPcLinkForm*>(parent);
        statusAtError << (form ? form->statusText() : QString());
    }
    void clear() {
        texts.clear();
        statusAtError.clear();
    }
    QStringList texts;
    QStringList statusAtError;
};

class LaunchRecorder : public kbxapp::ProcessLauncher {
public:
    bool startDetached(const QString& program, const QStringList& arguments,
                       QString* error) override {
        this->program = program;
        this->arguments = arguments;
        if (!fail)
            return true;
        *error = QStringLiteral("No such file or directory");
        return false;
    }
    QString program;
    QStringList arguments;
    bool fail = false;
};

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;
    std::unique_ptr<QTemporaryDir> m_local;
    std::unique_ptr<TPcLinkForm> m_form;
    ErrorRecorder m_errors;
    YesConfirmer m_yes;
    VirtualZr7316* m_keyboard = nullptr;

    QString localDir() const {
        return QDir::toNativeSeparators(m_local->path()) + QDir::separator();
    }

    // Settings exist before the window: no first-start preference dialog.
    // The window lists the keyboard at start only where a test asks for it.
    void writeSettings(const QString& defaultDir) {
        KbxSettings().save(0, 0, defaultDir);
        KbxSettings::WindowValues window;
        window.listAtStart = false;
        KbxSettings().saveWindow(window);
    }

    TPcLinkForm& createForm() {
        m_form = std::make_unique<TPcLinkForm>();
        m_form->show();
        m_form->activateWindow();
        if (!QTest::qWaitForWindowActive(m_form.get()))
            qWarning("main window did not become active");
        return *m_form;
    }

    // Controls are found by their names in the form description.
    template <class T>
    T* find(const char* name) {
        T* control = m_form->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    QTreeWidget* localDirView() { return find<QTreeWidget>("LocalDirView"); }
    QTreeWidget* kbdDirView() { return find<QTreeWidget>("KbdDirView"); }
    FileListView* localFileView() { return find<FileListView>("LocalFileView"); }
    FileListView* kbdFileView() { return find<FileListView>("KbdFileView"); }

    void writeFile(const QString& name, qint64 bytes) {
        QFile file(m_local->filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(bytes, 'x')), bytes);
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

    void selectKbdFolder(const QString& path) {
        QTreeWidgetItem* node = findNode(kbdDirView(), path);
        QVERIFY2(node, qPrintable(path));
        kbdDirView()->setCurrentItem(node);
    }

    int rowOf(FileListView* list, const QString& text) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->itemText(row) == text)
                return row;
        }
        return -1;
    }

    void selectLocalFile(const QString& text) {
        m_form->LocalUpdateActionExecute();
        const int row = rowOf(localFileView(), text);
        QVERIFY2(row >= 0, qPrintable(text));
        localFileView()->setSelectedRow(row);
    }

    void readList() {
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_form->kbdDrv().isListed());
    }

    // After every keyboard action the status line is empty and the bar back at 0.
    void expectIdle() {
        QCOMPARE(m_form->statusText(), QString());
        QCOMPARE(m_form->findChild<QProgressBar*>("ProgressBar")->value(), 0);
        QVERIFY(!m_form->isBusy());
    }

    // Once the progress bar shows `bytes` moved, `how` runs from the event loop, as the user's
    // input would arrive while the action waits for the keyboard.
    void cancelOnceTheBarReaches(int bytes, std::function<void()> how) {
        auto asked = std::make_shared<bool>(false);
        connect(find<QProgressBar>("ProgressBar"), &QProgressBar::valueChanged, m_form.get(),
                [this, bytes, how, asked](int value) {
                    if (value < bytes || *asked)
                        return;
                    *asked = true;
                    QTimer::singleShot(0, m_form.get(), how);
                });
    }

    void expectOneError(const QString& text, const QString& status) {
        QCOMPARE(m_errors.texts, QStringList{text});
        QCOMPARE(m_errors.statusAtError, QStringList{status});
        expectIdle();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_config.isValid());
        // Never the user's own settings.
        KbxSettings::setDefaultStore(QSettings::IniFormat, m_config.filePath("KbxMan.ini"));
        ErrorReporter::setInstance(&m_errors);
        Confirmer::setInstance(&m_yes);
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        QCOMPARE(registry.virtualInputNumber(), 0);
        QCOMPARE(registry.virtualOutputNumber(), 0);
        m_keyboard = &registry.virtualKeyboard();
    }

    void init() {
        m_errors.clear();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->clearLog();
        ZxKbdDrv::destroyInstance();
        m_local = std::make_unique<QTemporaryDir>();
        QVERIFY(m_local->isValid());
        writeSettings(localDir());
    }

    void cleanup() {
        m_form.reset();
        ZxKbdDrv::destroyInstance();
        kbxapp::ProcessLauncher::setInstance(nullptr);
        m_local.reset();
    }

    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    // ---- Start ----

    void startsWithTheSkeletonAndDisabledTransfers() {
        createForm();
        QCOMPARE(m_form->windowTitle(), QString("ZR-7316 MUSIC DATA MANAGEMENT SOFTWARE"));
        QCOMPARE(m_form->modelName(), QString("ZR-7316"));
        for (const char* name : {"SendBtn", "ReceiveBtn", "DeleteBtn"})
            QVERIFY2(!m_form->findChild<QToolButton*>(name)->isEnabled(), name);
        for (QAction* item : {find<QAction>("LocalSendMenuItem"), find<QAction>("KbdReceiveItem"),
                              find<QAction>("KbdDeleteItem"), find<QAction>("KbdPropertyItem")})
            QVERIFY(!item->isEnabled());
        QVERIFY(find<QToolButton>("LocalIconBtn")->isChecked());
        QVERIFY(find<QToolButton>("KbdIconBtn")->isChecked());
        QCOMPARE(kbdDirView()->currentItem()->text(0), QString("Tone:\\"));
        QCOMPARE(kbdFileView()->count(), 10);
        QCOMPARE(m_form->GetNodePath(localDirView()->currentItem()), localDir());
        QVERIFY(!m_form->kbdDrv().isListed());
        // Toolbar commands answer to their underlined letters.
        QCOMPARE(find<QAction>("ConnectAction")->shortcut(), QKeySequence("Alt+L"));
        QCOMPARE(find<QAction>("ReceiveAction")->shortcut(), QKeySequence("Alt+I"));
    }

    // ---- Selection checks: each OperateException text ----

    void sendWithoutLocalFileNamesTheSource() {
        createForm();
        m_form->SendActionExecute();
        expectOneError("Not select a source data", "Sending a data...");
    }

    void sendWithoutKeyboardItemNamesTheDestination() {
        writeFile("a.kbx", 100);
        createForm();
        selectLocalFile("a.kbx");
        m_form->SendActionExecute();
        expectOneError("Not select a distination data", "Sending a data...");
    }

    void importWithoutKeyboardItemNamesTheSource() {
        createForm();
        m_form->ReceiveActionExecute();
        expectOneError("Not select a source data", "Receiving a data...");
    }

    void importWithoutLocalFolderNamesTheDestination() {
        writeSettings(QString()); // no default directory: nothing selected in the local tree
        createForm();
        QVERIFY(!localDirView()->currentItem());
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        expectOneError("Not select a distination data", "Receiving a data...");
        QVERIFY(m_keyboard->received().empty());
    }

    void deleteWithoutItemAsksForOne() {
        createForm();
        m_form->DeleteActionExecute();
        expectOneError("Not select a data", "Deleting a data...");
    }

    void deleteBeforeListAsksForTheList() {
        createForm();
        selectKbdFolder("Song Rhythm:\\Song\\");
        kbdFileView()->setSelectedRow(0);
        m_form->DeleteActionExecute();
        expectOneError("Get list first!!", "Deleting a data...");
        QVERIFY(m_keyboard->received().empty());
    }

    void sendOntoAFolderEntryIsRefused() {
        writeFile("a.kbx", 100);
        createForm();
        readList();
        selectLocalFile("a.kbx");
        selectKbdFolder("Song Rhythm:\\");
        QCOMPARE(kbdFileView()->itemText(0), QString("Song"));
        kbdFileView()->setSelectedRow(0);
        m_keyboard->clearLog();
        m_form->SendActionExecute();
        expectOneError("Not acceptable", "Sending a data...");
        QVERIFY(m_keyboard->received().empty());
    }

    // ---- List ----

    void listEnablesSendImportAndPropertiesForWhatIsSelected() {
        writeFile("a.kbx", 1);
        createForm();
        readList();
        expectIdle();
        QCOMPARE(m_form->findChild<QProgressBar*>("ProgressBar")->maximum(), 143);
        // Nothing selected below: nothing to send to, import or show.
        for (const char* name : {"SendBtn", "ReceiveBtn"})
            QVERIFY2(!m_form->findChild<QToolButton*>(name)->isEnabled(), name);
        selectLocalFile("a.kbx");
        kbdFileView()->setSelectedRow(0);
        for (const char* name : {"SendBtn", "ReceiveBtn"})
            QVERIFY2(m_form->findChild<QToolButton*>(name)->isEnabled(), name);
        for (QAction* item : {find<QAction>("LocalSendMenuItem"), find<QAction>("KbdReceiveItem"),
                              find<QAction>("KbdPropertyItem")})
            QVERIFY(item->isEnabled());
        // Delete belongs to songs and rhythms only.
        QCOMPARE(kbdDirView()->currentItem()->text(0), QString("Tone:\\"));
        QVERIFY(!find<QToolButton>("DeleteBtn")->isEnabled());
        // The list shows what the keyboard holds.
        QCOMPARE(kbdFileView()->subItemText(0, 1), QString("Tone"));
        QCOMPARE(kbdFileView()->subItemText(0, 2), QString("60"));
    }

    void deleteIsEnabledOnlyUnderSongAndRhythmAfterAList() {
        createForm();
        selectKbdFolder("Song Rhythm:\\Song\\");
        QVERIFY(!find<QToolButton>("DeleteBtn")->isEnabled());
        readList();
        // With a present item selected (row 0 of each folder).
        const std::pair<const char*, bool> folders[] = {
            {"Song Rhythm:\\Song\\", true},    {"Tone:\\", false},
            {"Song Rhythm:\\Rhythm\\", true},  {"Song Rhythm:\\", false},
            {"Registration:\\Bank0\\", false}, {"\\", false}};
        for (const auto& [path, enabled] : folders) {
            selectKbdFolder(path);
            if (kbdFileView()->count() > 0) {
                // Nothing selected, or an empty slot: nothing to delete.
                QVERIFY2(!find<QToolButton>("DeleteBtn")->isEnabled(), path);
                kbdFileView()->setSelectedRow(0);
            }
            QVERIFY2(find<QToolButton>("DeleteBtn")->isEnabled() == enabled, path);
            QVERIFY2(find<QAction>("KbdDeleteItem")->isEnabled() == enabled, path);
        }
        // The root names no folder of the drive: an empty list.
        QCOMPARE(kbdFileView()->count(), 0);
    }

    void failedListLeavesControlsAndClearsStatus() {
        createForm();
        VirtualZr7316::Faults faults;
        faults.keyboardType = 1;
        m_keyboard->setFaults(faults);
        m_form->ConnectActionExecute();
        expectOneError("Unknown keyboard type", "Get list...");
        QVERIFY(!find<QToolButton>("SendBtn")->isEnabled());
        QVERIFY(!find<QToolButton>("ReceiveBtn")->isEnabled());
        QVERIFY(!find<QToolButton>("DeleteBtn")->isEnabled());
        QVERIFY(!find<QAction>("KbdPropertyItem")->isEnabled());
        QVERIFY(!m_form->kbdDrv().isListed());
    }

    void listTimeOutIsReportedOnce() {
        createForm();
        VirtualZr7316::Faults faults;
        faults.silentFrom = 0;
        m_keyboard->setFaults(faults);
        m_form->ConnectActionExecute();
        expectOneError("MIDI Timeout", "Get list...");
        // The ports were released: the next list works.
        m_keyboard->setFaults({});
        m_errors.clear();
        readList();
    }

    void keyboardListShowsFoldersSlotsAndEmptyPlaces() {
        m_keyboard->setItemBytes(ZxKind::Rhythm, 1, 0, {});
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\");
        FileListView* list = kbdFileView();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->subItemText(0, 1), QString("Folder"));
        QCOMPARE(list->subItemText(0, 2), QString());
        selectKbdFolder("Song Rhythm:\\Rhythm\\");
        QCOMPARE(list->itemText(1), QString("User 1"));
        QCOMPARE(list->subItemText(1, 1), QString()); // an empty place: no type, no size
        QCOMPARE(list->subItemText(1, 2), QString());
        selectKbdFolder("Registration:\\Bank2\\");
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->subItemText(0, 1), QString("Registraion"));
        QCOMPARE(list->subItemText(0, 2), QString("176"));
    }

    // ---- Import ----

    void importNamesTheFileByKindAndNameAndSelectsIt() {
        m_keyboard->setItemBytes(ZxKind::Rhythm, 2, 0, namedItem(124, kRhythmNameOffset, "ABC"));
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Rhythm\\");
        kbdFileView()->setSelectedRow(2);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        expectIdle();

        const QString name = "RHY_ABC     .kbx";
        QFile file(m_local->filePath(name));
        QVERIFY(file.exists());
        QCOMPARE(file.size(), qint64(64 + 124));
        FileListView* list = localFileView();
        QVERIFY(list->selectedRow() >= 0);
        QCOMPARE(list->itemText(list->selectedRow()), name);
        QVERIFY(list->currentView()->hasFocus());

        // Importing it again replaces the file.
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), QStringList{name});
    }

    void importedNameNeverLeavesTheFolder() {
        m_keyboard->setItemBytes(ZxKind::Rhythm, 0, 0,
                                 namedItem(64, kRhythmNameOffset, "A/B:C\\.."));
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Rhythm\\");
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{"RHY_A_B_C_...kbx"});
    }

    void importFailureIsReportedAndResetsStatus() {
        m_keyboard->setItemBytes(ZxKind::Rhythm, 0, 0, namedItem(64, kRhythmNameOffset, "ABC"));
        // A folder in the way of the file: the file layer cannot write it.
        QVERIFY(QDir(m_local->path()).mkpath("RHY_ABC     .kbx"));
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Rhythm\\");
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_errors.texts.first().contains("RHY_ABC"));
        QCOMPARE(m_errors.statusAtError, QStringList{"Receiving a data..."});
        expectIdle();
        QVERIFY(QFileInfo(m_local->filePath("RHY_ABC     .kbx")).isDir());
    }

    void importRefusedByTheKeyboardIsReported() {
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Rhythm\\");
        kbdFileView()->setSelectedRow(0);
        VirtualZr7316::Faults faults;
        faults.handshakeAtBlock = 0;
        faults.handshakeStatus = 2;
        m_keyboard->setFaults(faults);
        m_form->ReceiveActionExecute();
        expectOneError("rejected by keyboard", "Receiving a data...");
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), QStringList());
    }

    // ---- Send ----

    void sendingAForeignFileSaysNoKbxFile() {
        writeFile("notes.txt", 300);
        createForm();
        readList();
        selectLocalFile("notes.txt");
        selectKbdFolder("Tone:\\");
        kbdFileView()->setSelectedRow(3);
        m_keyboard->clearLog();
        const Bytes before = m_keyboard->itemBytes(ZxKind::Tone, 3);
        m_form->SendActionExecute();
        expectOneError("No KBX file", "Sending a data...");
        QVERIFY(m_keyboard->received().empty());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Tone, 3), before);
    }

    void sendRelistsAndSelectsTheWrittenSlot() {
        m_keyboard->setItemBytes(ZxKind::Tone, 0, 0, namedItem(60, kToneNameOffset, "Bright"));
        createForm();
        readList();
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());

        selectLocalFile("TON_Bright  .kbx");
        selectKbdFolder("Tone:\\");
        kbdFileView()->setSelectedRow(3);
        localFileView()->setFocus();
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        expectIdle();

        QCOMPARE(m_keyboard->itemBytes(ZxKind::Tone, 3), m_keyboard->itemBytes(ZxKind::Tone, 0));
        FileListView* list = kbdFileView();
        QCOMPARE(list->selectedRow(), 3);
        QCOMPARE(list->itemText(3), QString("Bright  "));
        QVERIFY(list->currentView()->hasFocus());
    }

    void sendAcrossKindsSaysDataTypeIsDifferent() {
        createForm();
        readList();
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute(); // a tone file
        QCOMPARE(m_errors.texts, QStringList());
        const QString tone = QDir(m_local->path()).entryList(QDir::Files).value(0);
        selectLocalFile(tone);
        selectKbdFolder("DSP:\\");
        kbdFileView()->setSelectedRow(0);
        m_form->SendActionExecute();
        expectOneError("Data type is different", "Sending a data...");
    }

    // ---- Delete ----

    void deleteEmptiesTheSongSlot() {
        m_keyboard->setItemBytes(ZxKind::Song, 1, 0, namedItem(300, 4, "Tune"));
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Song\\");
        QCOMPARE(kbdFileView()->subItemText(1, 1), QString("Song"));
        kbdFileView()->setSelectedRow(1);
        m_form->DeleteActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        expectIdle();
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1).empty());
        QCOMPARE(kbdFileView()->itemText(1), QString("Song 1"));
        QCOMPARE(kbdFileView()->subItemText(1, 1), QString());
    }

    // ---- Busy state ----

    void busyWindowRefusesSecondAction() {
        createForm();
        bool ranInside = false;
        bool busyInside = false;
        QString statusInside;
        QTimer::singleShot(0, m_form.get(), [&] {
            ranInside = true;
            busyInside = m_form->isBusy();
            statusInside = m_form->statusText();
            m_form->ConnectActionExecute();
            m_form->DeleteActionExecute();
            m_form->DisconnectActionExecute();
        });
        m_form->ConnectActionExecute();
        QVERIFY(ranInside);
        QVERIFY(busyInside);
        QCOMPARE(statusInside, QString("Get list..."));
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_form->kbdDrv().isListed());
        // One list only: a single keyboard-type request went out.
        int typeRequests = 0;
        for (const Bytes& m : m_keyboard->received())
            typeRequests += m.size() > 6 && m[5] == 0x10 && m[6] == 0x00 ? 1 : 0;
        QCOMPARE(typeRequests, 1);
    }

    // ---- Cancel ----

    void escStopsAnImportMidwayAndNoFileIsWritten() {
        createForm();
        readList();
        auto* cancel = find<QToolButton>("CancelBtn");
        QVERIFY(cancel->isHidden());
        QVERIFY(!find<QAction>("CancelAction")->isEnabled());
        selectKbdFolder("Song Rhythm:\\Song\\");
        kbdFileView()->setSelectedRow(0); // 600 bytes, five blocks
        bool offered = false;
        cancelOnceTheBarReaches(256, [&] {
            offered = cancel->isVisible() && cancel->isEnabled();
            QTest::keyClick(m_form.get(), Qt::Key_Escape);
        });
        m_form->ReceiveActionExecute();
        QVERIFY(offered);
        // The user's own stop is told in the status bar, not in an error box.
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_form->statusItem(), QString("Cancelled."));
        expectIdle();
        QVERIFY(cancel->isHidden());
        QVERIFY(!find<QAction>("CancelAction")->isEnabled());
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), QStringList());

        // Nothing is left over: the next import runs whole.
        m_errors.clear();
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), QStringList{"SNG_Minuet  .kbx"});
    }

    void cancelButtonStopsASendBeforeItsEnd() {
        createForm();
        readList();
        selectKbdFolder("Song Rhythm:\\Song\\");
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        selectLocalFile("SNG_Minuet  .kbx");
        selectKbdFolder("Song Rhythm:\\Song\\");
        kbdFileView()->setSelectedRow(1); // empty
        m_keyboard->clearLog();
        auto* cancel = find<QToolButton>("CancelBtn");
        cancelOnceTheBarReaches(128, [&] { cancel->click(); });
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_form->statusItem(), QString("Cancelled."));
        expectIdle();
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1).empty());
        // The transfer into song 1 was never ended with handshake 0.
        const Bytes end = {0xF0, 0x44, 0x11, 0x01, 0x7F, 0x7A, 0x00, 0x00, 0x01, 0x00, 0x00, 0xF7};
        QCOMPARE(std::count(m_keyboard->received().begin(), m_keyboard->received().end(), end), 0);

        m_errors.clear();
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1), m_keyboard->itemBytes(ZxKind::Song, 0));
    }

    void closingWhileBusyCancelsTheActionAndThenCloses() {
        createForm();
        QTimer::singleShot(0, m_form.get(), [&] {
            m_form->close();
            QVERIFY(m_form->isVisible());
        });
        m_form->ConnectActionExecute();
        // The list stopped; the user who closed the window gets no box about it.
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(!m_form->kbdDrv().isListed());
        QVERIFY(!m_form->isVisible());
    }

    void progressBarReachesTheListTotal() {
        QProgressBar bar;
        bar.setRange(0, 143);
        bar.setValue(0);
        PBarKbdDrvObserver observer(&bar);
        ZxKbdDrv drive(ZxKbdDrv::kKnownModel);
        drive.attach(&observer);
        drive.readList(0, 0);
        QCOMPARE(bar.value(), 143);
    }

    void listAfterTheWindowIsGoneIsSafe() {
        createForm();
        m_form.reset();
        // The drive keeps the window's progress observer; it must still be alive.
        ZxKbdDrv::instance(ZxKbdDrv::kKnownModel).readList(0, 0);
        QVERIFY(ZxKbdDrv::instance(ZxKbdDrv::kKnownModel).isListed());
    }

    void streamProgressFollowsTheBytesMoved() {
        class Stream : public KbxStream {
        public:
            void read(ZxDataFile&) override {}
            void write(ZxDataFile&) override {}
            std::uint32_t position() override { return 300; }
            std::uint32_t size() override { return 500; }
        } stream;
        auto bar = std::make_unique<QProgressBar>();
        bar->setRange(0, 500);
        PBarKbxObserver observer(bar.get());
        observer.update(stream);
        QCOMPARE(bar->value(), 300);
        bar.reset();
        observer.update(stream); // the bar is gone: nothing happens
    }

    void disconnectForgetsTheListButKeepsTheControls() {
        createForm();
        readList();
        m_form->DisconnectActionExecute();
        QVERIFY(!m_form->kbdDrv().isListed());
        QCOMPARE(kbdDirView()->currentItem()->text(0), QString("Tone:\\"));
        QCOMPARE(kbdFileView()->subItemText(0, 1), QString()); // nothing read: empty places
        // Send stays offered for a file and a slot; there is nothing to import from a place.
        writeFile("a.kbx", 1);
        selectLocalFile("a.kbx");
        kbdFileView()->setSelectedRow(0);
        QVERIFY(find<QToolButton>("SendBtn")->isEnabled());
        QVERIFY(!find<QToolButton>("ReceiveBtn")->isEnabled());
    }

    // ---- Panes ----

    void activationRereadsTheLocalListAndKeepsTheSelection() {
        writeFile("a.kbx", 10);
        createForm();
        selectLocalFile("a.kbx");
        writeFile("b.kbx", 10); // made outside the program
        m_form->FormActivate();
        FileListView* list = localFileView();
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(list->selectedRow()), QString("a.kbx"));
    }

    void nodePathsFollowTheTrees() {
        QVERIFY(QDir(m_local->path()).mkpath("Music/Live"));
        createForm();
        QTreeWidgetItem* root = kbdDirView()->topLevelItem(0);
        QCOMPARE(m_form->GetNodePath(root), QString("\\"));
        QCOMPARE(m_form->GetNodePath(root->child(0)), QString("Tone:\\"));
        QTreeWidgetItem* registration = root->child(2);
        QCOMPARE(registration->text(0), QString("Registration:\\"));
        QCOMPARE(m_form->GetNodePath(registration->child(0)), QString("Registration:\\Bank0\\"));
        QCOMPARE(m_form->kbdPane().GetKbdNodePath(registration->child(0)),
                 std::string("Registration:\\Bank0\\"));

        QTreeWidgetItem* drive = localDirView()->topLevelItem(0);
        QCOMPARE(m_form->GetNodePath(drive),
                 QDir::toNativeSeparators(QDir::drives().first().absoluteFilePath()));
        QTreeWidgetItem* local = localDirView()->currentItem();
        QCOMPARE(m_form->GetNodePath(local), localDir());
        QCOMPARE(local->child(0)->text(0), QString("Music"));
        QCOMPARE(m_form->GetNodePath(local->child(0)), localDir() + "Music" + QDir::separator());
    }

    void localListShowsSizeTextsAndLeavesHiddenEntriesOut() {
        writeFile("zero.bin", 0);
        writeFile("b.bin", 1023);
        writeFile("c.bin", 2048);
        writeFile("d.kbx", 5000);
        writeFile(".hidden", 10);
        QVERIFY(QDir(m_local->path()).mkpath("Folder"));
        QVERIFY(QDir(m_local->path()).mkpath(".secret"));
        createForm();
        FileListView* list = localFileView();
        QCOMPARE(list->count(), 5);
        QStringList names;
        for (int row = 0; row < list->count(); ++row)
            names << list->itemText(row);
        QCOMPARE(names, (QStringList{"b.bin", "c.bin", "d.kbx", "Folder", "zero.bin"}));
        // Sizes in bytes, as the keyboard list gives them; when each was last changed.
        QCOMPARE(list->subItemText(rowOf(list, "zero.bin"), 2), QString("0"));
        QCOMPARE(list->subItemText(rowOf(list, "b.bin"), 2), QString("1,023"));
        QCOMPARE(list->subItemText(rowOf(list, "d.kbx"), 2), QString("5,000"));
        QVERIFY(!list->subItemText(rowOf(list, "c.bin"), 3).isEmpty());
        QCOMPARE(list->subItemText(rowOf(list, "Folder"), 2), QString());
        QCOMPARE(list->subItemText(rowOf(list, "d.kbx"), 1), QString("KBX File"));
        QTreeWidgetItem* node = localDirView()->currentItem();
        QCOMPARE(node->childCount(), 1);
        QCOMPARE(node->child(0)->text(0), QString("Folder"));
    }

    void defaultDirectorySelectsTheExactFolder() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        QVERIFY(QDir(m_local->path()).mkpath("Database"));
        writeFile("Database/inside.kbx", 100);
        writeSettings(localDir() + "Database" + QDir::separator());
        createForm();
        QCOMPARE(m_form->GetNodePath(localDirView()->currentItem()),
                 localDir() + "Database" + QDir::separator());
        QCOMPARE(localFileView()->count(), 1);
        QCOMPARE(localFileView()->itemText(0), QString("inside.kbx"));
    }

    void vanishedDefaultDirectorySelectsItsDeepestAncestor() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        writeSettings(localDir() + "Data" + QDir::separator() + "gone" + QDir::separator());
        createForm();
        QCOMPARE(m_form->GetNodePath(localDirView()->currentItem()),
                 localDir() + "Data" + QDir::separator());
    }

    void doubleClickOpensFolders() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        writeFile("Data/x.kbx", 10);
        createForm();
        m_form->localPane().LocalFileViewDblClick(rowOf(localFileView(), "Data"));
        QCOMPARE(localDirView()->currentItem()->text(0), QString("Data"));
        QCOMPARE(localFileView()->itemText(0), QString("x.kbx"));
        m_form->localPane().LocalFileViewDblClick(0); // a file: nothing happens
        QCOMPARE(localDirView()->currentItem()->text(0), QString("Data"));

        selectKbdFolder("Song Rhythm:\\");
        m_form->kbdPane().KbdFileViewDblClick(1);
        QCOMPARE(m_form->GetNodePath(kbdDirView()->currentItem()),
                 QString("Song Rhythm:\\Rhythm\\"));
        QCOMPARE(kbdFileView()->count(), 4);
        m_form->kbdPane().KbdFileViewDblClick(0); // a slot: nothing happens
        QCOMPARE(kbdDirView()->currentItem()->text(0), QString("Rhythm"));
    }

    void viewButtonsSwitchTheStyleAndKeepTheSelection() {
        createForm();
        kbdFileView()->setSelectedRow(4);
        find<QToolButton>("KbdReportBtn")->click();
        QCOMPARE(kbdFileView()->viewStyle(), int(FileListView::Report));
        QVERIFY(!find<QToolButton>("KbdIconBtn")->isChecked());
        QCOMPARE(kbdFileView()->selectedRow(), 4);
        find<QToolButton>("KbdListBtn")->click();
        QCOMPARE(kbdFileView()->viewStyle(), int(FileListView::List));
        QCOMPARE(localFileView()->viewStyle(), int(FileListView::LargeIcon));
    }

    void startUpExplorerOpensTheSelectedFolder() {
        LaunchRecorder launcher;
        kbxapp::ProcessLauncher::setInstance(&launcher);
        createForm();
        m_form->ShellOpenExecute();
        QCOMPARE(launcher.program, kbxapp::explorerCommand());
#ifdef Q_OS_WIN
        QCOMPARE(launcher.program, QStringLiteral("explorer")); // with a path of backslashes
#endif
        QCOMPARE(launcher.arguments, QStringList{localDir()});
        QCOMPARE(m_errors.texts, QStringList());
        launcher.fail = true;
        m_form->ShellOpenExecute();
        QCOMPARE(m_errors.texts, QStringList{"No such file or directory"});
    }

    void settingsAreSavedWhenTheWindowCloses() {
        createForm();
        m_form->deviceChoice().setMidiInDevice(2);
        m_form->deviceChoice().setMidiOutDevice(3);
        m_form->deviceChoice().setDefaultDir("/somewhere/");
        m_form.reset();
        std::int32_t in = 0;
        std::int32_t out = 0;
        QString dir;
        QVERIFY(KbxSettings().load(in, out, dir) == KbxSettings::LoadResult::Loaded);
        QCOMPARE(in, 2);
        QCOMPARE(out, 3);
        QCOMPARE(dir, QString("/somewhere/"));
    }
};

QTEST_MAIN(MainFormTest)
#include "test_mainform.moc"

#pragma once
// TPcLinkForm: the main window and the controller of everything the user does. Above, the
// computer's drives, folders and files (LocalPane); below, the keyboard as a drive (KbdPane).
// The window owns the actions, the menus, the status line and the dialogs. Every keyboard action
// runs synchronously on the GUI thread: while it waits for the keyboard the window keeps
// painting and dispatching input, so the window holds a busy state that refuses a second
// keyboard action. While busy, the Cancel button beside the progress bar and Esc stop the action
// at its next message boundary; closing the window cancels the action and closes once it has
// stopped.

#include "errordetails.h"
#include "kbdpane.h"
#include "localpane.h"
#include "msgstr.h"
#include "ops/history.h"
#include "ops/keyboard.h"
#include "progressobservers.h"
#include "settings.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class FileListView;
class MemoryGauge;
class QAction;
class MidiMonitor;
class QActionGroup;
class QKeySequence;
class QLabel;
class QMimeData;
class QMenu;
class QPixmap;
class QProgressBar;
class QToolButton;
class THistoryForm;
class QTreeWidgetItem;
class ZxCancellation;
class ZxKbdDrv;

namespace Ui {
class TPcLinkForm;
}

class TPcLinkForm : public QMainWindow {
    friend class HistoryDropFilter; // its drops wait for a running drag as the lists' do
    Q_OBJECT
public:
    explicit TPcLinkForm(QWidget* parent = nullptr);
    ~TPcLinkForm() override;

    // Settings and the objects the window works with.
    std::int32_t MidiInDevice = 0;
    std::int32_t MidiOutDevice = 0;
    // The devices' names, by which they are found again when their numbers move (empty where
    // the settings predate names).
    QString MidiInDeviceName;
    QString MidiOutDeviceName;
    ZxKbdDrv* KbdDrv = nullptr; // the process-wide drive, not owned
    QString ModelName;
    QString DefaultDir;
    QString ExplorerCommand;
    std::unique_ptr<MsgStr> Messages;
    std::unique_ptr<PBarKbdDrvObserver> KbdDrvProgress;
    // Keep a copy of what a change replaces; read sends back (Safety in the settings store).
    KbxSettings::Safety Safety;
    // Lists the keyboard right after the window is shown when the chosen devices are there.
    bool ListAtStart = true;

    // The Edit menu: shown once commands have been put into it.
    QMenu* editMenu() const { return EditMenu; }

    // True while a keyboard action runs (and waits for the keyboard).
    bool isBusy() const { return m_busy; }
    // The text of the status line.
    QString statusText() const;
    // The item the running keyboard action works on, as the status line names it.
    QString statusItem() const;

    // Settings store: MIDI/InputDevice, MIDI/OutputDevice, their names, Directory/Default, and
    // the group Safety.
    void LoadSettings();
    void SaveSettings();
    // The devices for the next keyboard action, resolved by name: a device whose number has
    // moved is found at its new number (kept for the rest of the run and stored at the end);
    // one that is not connected is an error naming it.
    kbxops::Devices KbdDevices();

    // The history of replaced items that the keyboard actions keep and undo reverts.
    kbxops::History& history() const { return *m_history; }
    // Names the newest change not undone in the Edit menu's Undo item, or disables it when there
    // is none or a keyboard action runs.
    void UpdateUndoAction();

    // The two panes; they exist once the window has been created.
    LocalPane& localPane() const { return *m_local; }
    KbdPane& kbdPane() const { return *m_kbd; }
    // View > MIDI Monitor: closed until the user opens it.
    MidiMonitor& midiMonitor() const { return *m_monitor; }
    // The folder of a node of either tree, with its separator at the end.
    QString GetNodePath(QTreeWidgetItem* node) const;

    // Drag and drop between the two lists. A drag carries only the name of the list it comes
    // from, under a type of its own; the drop runs Send or Import on the lists' selections,
    // exactly as the toolbar commands do.
    static constexpr const char* kListDragType = "application/x-kbxman-list-item";
    // A drag begins once the pointer has moved this far from where the button went down.
    static constexpr int kDragStartDistance = 5;
    // Runs one drag and returns after its drop: QDrag::exec unless a test has set another.
    using DragRunner = std::function<void(QWidget* source, std::unique_ptr<QMimeData> data,
                                          const QPixmap& picture)>;
    void setDragRunner(DragRunner runner);

    // Points are in the list's own coordinates. The mouse-down handlers arm a drag and say
    // whether they did; the drag-over handlers say whether a drop from the named list is taken.
    bool LocalFileViewMouseDown(Qt::MouseButton button, const QPoint& pos);
    bool LocalFileViewDragOver(const QString& source) const;
    void LocalFileViewDragDrop(const QString& source, const QPoint& pos);
    bool KbdFileViewMouseDown(Qt::MouseButton button, const QPoint& pos);
    bool KbdFileViewDragOver(const QString& source) const;
    void KbdFileViewDragDrop(const QString& source, const QPoint& pos);
    // A drop on a folder of a tree does what a drop on that folder in its list does: a local
    // folder takes the import, a keyboard folder is no place for data. Empty space of a tree
    // takes nothing.
    bool LocalDirViewDragOver(const QString& source, QTreeWidgetItem* node) const;
    void LocalDirViewDragDrop(const QString& source, QTreeWidgetItem* node);
    bool KbdDirViewDragOver(const QString& source, QTreeWidgetItem* node) const;
    void KbdDirViewDragDrop(const QString& source, QTreeWidgetItem* node);
    // The item of a list or tree that a drag over it is marked on: where the drop would go.
    int dropHighlightRow(const FileListView* list) const;
    QTreeWidgetItem* dropHighlightNode() const { return m_treeHighlight; }

public Q_SLOTS:
    void ConnectActionExecute();
    void DisconnectActionExecute();
    void SendActionExecute();
    void ReceiveActionExecute();
    void DeleteActionExecute();
    void PropOpenExecute();
    void ExitActionExecute();
    void KbdUpdateActionExecute();
    void LocalUpdateActionExecute();
    void PrefOpenExecute();
    void KbdDrvPropOpenExecute();
    void ShellOpenExecute();
    void UndoActionExecute();
    void FormActivate();
    // Asks the running keyboard action to stop (the Cancel button, Esc, closing the window).
    void CancelActionExecute();
    // Properties of what has the focus: a list's item, else the keyboard folder.
    void PropertiesActionExecute();
    // The list of the keyboard at start (preference ListAtStart): a failure goes to the status
    // line, not into an error box, as nobody has asked for it yet.
    void ListAtStartExecute();
    // The whole keyboard: back up into a new dated folder, restore a backup after a preview.
    void BackupKeyboardExecute();
    void RestoreKeyboardExecute();
    // Edit > History...: the history window, opened (or brought to the front) beside the window.
    void HistoryOpenExecute();

public:
    // The same without the folder dialogs. BackupKeyboardTo makes a folder named by the date
    // and time under parent and returns it (empty when the backup failed); RestoreKeyboardFrom
    // takes a backup folder or its manifest.json and returns whether a restore ran.
    QString BackupKeyboardTo(const QString& parent);
    bool RestoreKeyboardFrom(const QString& path);
    // The song memory gauge under the keyboard list; follows every keyboard action and the
    // file chosen for sending.
    MemoryGauge& memoryGauge() const { return *m_gauge; }
    void UpdateMemoryGauge();
    // What the history window asks for (historywindow.cpp). SendHistoryEntry sends entry id's
    // kept item into slot (a short form; empty: its own slot) as a keyboard action;
    // SaveHistoryEntry writes it as a data file into dir (empty: the local folder shown) and
    // selects it there.
    void SendHistoryEntry(qint64 id, const QString& slot);
    void SaveHistoryEntry(qint64 id, const QString& dir);
    // The history window once opened, else nullptr.
    THistoryForm* historyForm() const { return m_historyForm; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void SetupActions();
    void SetupPopupMenus();
    void SetupStatusStrip();
    void SetupWholeKeyboard(); // backupdialogs.cpp
    void SetupHistoryWindow(); // historywindow.cpp
    THistoryForm& HistoryWindow();
    // Follows the history into its window: busy state, Undo, and the entries once idle.
    void UpdateHistoryWindow();
    void ShowKbdListed();
    // Menus beyond File, the keys of the commands and lists, a focus that shows (mainmenus.cpp).
    void SetupMenus();
    void SetupFocusFrames();
    QAction* menuItemFor(QAction* action, const char* name, const QKeySequence& key);

    // The busy frame's additions (mainbusy.cpp): while a keyboard action runs, every command
    // it would refuse is greyed, the bar shows its text, and the status line names the item.
    void SetupBusyGate();
    void BeginBusy();
    void EndBusy();
    // Names the item of the running action in the status line; empty: none.
    void ShowActionItem(const QString& item);
    // The failure of the running action: the error box with its informative line, or at start
    // the status line.
    void ReportFailure(std::exception_ptr error);

    // The window's own settings (windowlayout.cpp), in a group of their own beside the described
    // ones: geometry and state, dividers and view styles, restored within the screen; and the
    // preference ListAtStart. Neither reading nor writing them ever stops the window.
    void LoadWindowSettings();
    void SaveWindowSettings();
    void ClampToScreen();
    void SetupMonitor();

    // The frame shared by the four keyboard actions: status text k, progress from 0, one error
    // box per failure, status and progress cleared afterwards. Refused while busy.
    void RunKbdAction(int status, const std::function<void()>& body);
    void SendSelectedFile();
    void ReceiveSelectedData();
    void DeleteSelectedData();
    void UndoLastChange();
    void ReadKbdList();
    // The keyboard on the chosen devices, with the safety net as the preferences ask.
    kbxops::Keyboard Keyboard(kbxops::Progress* progress);

    void SetStatusText(const QString& text);
    void ReportError(const QString& text, const QString& informative = QString());

    // Drag and drop on the lists' viewports.
    void SetupDragAndDrop();
    FileListView* ListOfViewport(QObject* object) const;
    bool ListViewportEvent(FileListView* list, QWidget* viewport, QEvent* event);
    QTreeWidget* TreeOfViewport(QObject* object) const;
    bool TreeViewportEvent(QTreeWidget* tree, QEvent* event);
    // Marks the row (or the node) that a drop would go to, and takes the mark off the rest.
    void SetDropHighlight(FileListView* list, int row, QTreeWidgetItem* node);
    void StartListDrag(FileListView* list, int row);
    // A drop that arrives while our own drag runs waits until the drag has ended, so that the
    // transfer does not run inside the toolkit's drag loop.
    void RunDrop(std::function<void()> drop);
    // The list that has the input focus, or none.
    FileListView* FocusedList() const;

    std::unique_ptr<Ui::TPcLinkForm> m_ui;
    QMenu* EditMenu = nullptr;
    QMenu* KeyboardMenu = nullptr;
    QAction* PropertiesAction = nullptr;
    QAction* ConnectMenuItem = nullptr;
    QAction* DeleteMenuItem = nullptr;
    QAction* BackupAction = nullptr;
    QAction* RestoreAction = nullptr;
    QAction* HistoryAction = nullptr;
    THistoryForm* m_historyForm = nullptr; // a child of the window, made on first use
    // Commands refused while a keyboard action runs: disabled together, each back to its own
    // state afterwards.
    QActionGroup* m_busyGate = nullptr;
    QMenu* LocalPopupMenu = nullptr;
    QMenu* KbdPopupMenu = nullptr;
    QMenu* KbdDirPopup = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_statusItem = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QAction* CancelAction = nullptr;
    QToolButton* CancelBtn = nullptr;
    MemoryGauge* m_gauge = nullptr;
    ZxCancellation* m_cancellation = nullptr; // the running action's, while busy
    MidiMonitor* m_monitor = nullptr;
    // Destroyed before the widgets they fill, and before the messages they read.
    std::unique_ptr<LocalPane> m_local;
    std::unique_ptr<KbdPane> m_kbd;
    std::unique_ptr<kbxops::History> m_history;
    bool m_busy = false;
    // What the running action works on, for the error box's informative line.
    kbxapp::FailureContext m_failureContext;
    // The status line after the action (empty as described, unless there is news to keep).
    QString m_doneStatus;
    bool m_failureToStatus = false;
    bool m_closePending = false;
    bool m_shown = false;
    struct DragArm {
        FileListView* list = nullptr;
        QPoint pressPos; // list coordinates
        int row = -1;
        QString text;
    };
    DragArm m_dragArm;
    DragRunner m_dragRunner;
    bool m_dragRunning = false;
    QTreeWidgetItem* m_treeHighlight = nullptr;
    std::function<void()> m_pendingDrop;
};

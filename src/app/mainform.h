#pragma once
// TPcLinkForm: the main window. Above, the computer's drives, folders and files (LocalPane);
// below, the keyboard as a drive (KbdPane). The window owns the actions, the menus and the
// dialogs; its command handlers hand the work to one controller per feature:
//   - KbdActionController: the keyboard actions (list, import, send, delete, undo) and their busy
//     frame, with the status line, the bar and Cancel;
//   - DeviceChoiceController: the preferences, the devices an action is bound to, list at start;
//   - BackupController: the whole keyboard (back up, restore with its preview, the memory gauge);
//   - HistoryController: the glue between the window and the history window;
//   - DragDropController: drag and drop between the lists and trees;
//   - BatchController: several items sent, imported or deleted in one job.
// Every keyboard action runs synchronously on the GUI thread: while it waits for the keyboard the
// window keeps painting and dispatching input, so a busy state refuses a second keyboard action.
// Closing the window cancels the action and closes once it has stopped.

#include "common/msgstr.h"
#include "common/settings.h"
#include "ops/history.h"
#include "ops/keyboard.h"

#include <QMainWindow>
#include <QPoint>
#include <QString>
#include <functional>
#include <memory>

class FileListView;
class KbdPane;
class LocalPane;
class MemoryGauge;
class MidiMonitor;
class PBarKbdDrvObserver;
class QAction;
class QKeySequence;
class QMenu;
class QMimeData;
class QPixmap;
class QTreeWidgetItem;
class THistoryForm;
class ZxKbdDrv;

namespace Ui {
class TPcLinkForm;
}

namespace kbxapp {
class BackupController;
class BatchController;
class DeviceChoiceController;
class DragDropController;
class HistoryController;
class KbdActionController;
} // namespace kbxapp

class TPcLinkForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TPcLinkForm(QWidget* parent = nullptr);
    ~TPcLinkForm() override;

    // The process-wide drive (not owned), the model it is for, and the message table of the run.
    ZxKbdDrv& kbdDrv() const { return *m_kbdDrv; }
    const QString& modelName() const { return m_modelName; }
    MsgStr& messages() const { return *m_messages; }
    // The settings: devices, default folder, safety net, list at start.
    kbxapp::DeviceChoiceController& deviceChoice() const { return *m_devices; }
    // The ports of the running keyboard action: on its first call the devices are resolved by
    // name (a device whose number has moved is found at its new number, which is stored at
    // once; one that is not connected is an error naming it), bound and locked until the
    // action ends, so that all of it talks to one keyboard.
    kbxops::Ports KbdPorts();

    // The Edit menu: shown once commands have been put into it.
    QMenu* editMenu() const { return m_editMenu; }

    // True while a keyboard action runs (and waits for the keyboard).
    bool isBusy() const;
    // The text of the status line.
    QString statusText() const;
    // The item the running keyboard action works on, as the status line names it.
    QString statusItem() const;

    // After the first successful list: the transfers are offered from now on, each enabled as
    // far as the selection allows (UpdateCommandStates).
    void OfferTransfers();
    // Send, Import, Delete and the keyboard item's Properties follow the selections: each is
    // enabled only where it has something to act on.
    void UpdateCommandStates();

    // The history of replaced items that the keyboard actions keep and undo reverts.
    kbxops::History& history() const { return *m_history; }
    // Names the newest change not undone in the Edit menu's Undo item, or disables it when there
    // is none or a keyboard action runs; the history window follows.
    void UpdateUndoAction();

    // The two panes; they exist once the window has been created.
    LocalPane& localPane() const { return *m_local; }
    KbdPane& kbdPane() const { return *m_kbd; }
    // View > MIDI Monitor: closed until the user opens it.
    MidiMonitor& midiMonitor() const { return *m_monitor; }
    // The folder of a node of either tree, with its separator at the end.
    QString GetNodePath(QTreeWidgetItem* node) const;

    // Drag and drop between the two lists (DragDropController). A drag carries only the name of
    // the list it comes from, under a type of its own; the drop runs Send or Import on the
    // lists' selections, exactly as the toolbar commands do.
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
    QTreeWidgetItem* dropHighlightNode() const;
    // Runs a drop now, or once the drag that is running (ours or the history window's) has
    // ended, so that the transfer does not run inside the toolkit's drag loop.
    void RunDrop(std::function<void()> drop);
    // The drop that waited for a drag, once the drag has ended.
    void RunPendingDrop();

    // A close asked for while an action or a drag ran: whether one waits, and closing once
    // neither runs any more.
    bool isClosePending() const { return m_closePending; }
    void CloseIfPending();

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
    // The local list's file commands (localfilecommands.cpp): rename the selected entry, move
    // it to the trash after asking, make a folder in the shown folder.
    void LocalRenameExecute();
    void LocalTrashExecute();
    void LocalNewFolderExecute();

public:
    // The same without the folder dialogs. BackupKeyboardTo makes a folder named by the date
    // and time under parent and returns it (empty when the backup failed); RestoreKeyboardFrom
    // takes a backup folder or its manifest.json and returns whether a restore ran.
    QString BackupKeyboardTo(const QString& parent);
    bool RestoreKeyboardFrom(const QString& path);
    // The song memory gauge under the keyboard list; follows every keyboard action and the
    // file chosen for sending.
    MemoryGauge& memoryGauge() const;
    void UpdateMemoryGauge();
    // What the history window asks for. SendHistoryEntry sends entry id's kept item into slot
    // (a short form; empty: its own slot) as a keyboard action; SaveHistoryEntry writes it as a
    // data file into dir (empty: the local folder shown) and selects it there.
    void SendHistoryEntry(qint64 id, const QString& slot);
    void SaveHistoryEntry(qint64 id, const QString& dir);
    // The history window once opened, else nullptr.
    THistoryForm* historyForm() const;

    // The folder a file dialog opens in: the one the local pane shows, else the default folder.
    QString ShownFolder() const;
    // Shows a file (or a folder) in the local pane, selected and focused, as when it is named on
    // the command line; false when it is not there.
    bool ShowLocalFile(const QString& path);

    // One error box over the window; with an informative line below the text when there is one.
    void ReportError(const QString& text, const QString& informative = QString());

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    void SetupActions();
    void SetupPopupMenus();
    void SetupMonitor();
    // Menus beyond File, the keys of the commands and lists, a focus that shows (mainmenus.cpp).
    void SetupMenus();
    void SetupFocusFrames();
    void SetupLocalFileCommands();
    QAction* menuItemFor(QAction* action, const char* name, const QKeySequence& key);
    // The list that has the input focus, or none (maindialogs.cpp).
    FileListView* FocusedList() const;

    // The window's own settings (windowlayout.cpp), in a group of their own beside the described
    // ones: geometry and state, dividers and view styles, restored within the screen; and the
    // preference ListAtStart. Neither reading nor writing them ever stops the window.
    void LoadWindowSettings();
    void SaveWindowSettings();
    void ClampToScreen();

    std::unique_ptr<Ui::TPcLinkForm> m_ui;
    QString m_explorerCommand;
    QString m_modelName;
    ZxKbdDrv* m_kbdDrv = nullptr;
    std::unique_ptr<MsgStr> m_messages;
    std::unique_ptr<PBarKbdDrvObserver> m_kbdDrvProgress;
    QMenu* m_editMenu = nullptr;
    QMenu* m_keyboardMenu = nullptr;
    QMenu* m_localPopupMenu = nullptr;
    QMenu* m_kbdPopupMenu = nullptr;
    QMenu* m_kbdDirPopup = nullptr;
    QAction* m_propertiesAction = nullptr;
    QAction* m_connectMenuItem = nullptr;
    QAction* m_deleteMenuItem = nullptr;
    QAction* m_backupAction = nullptr;
    QAction* m_restoreAction = nullptr;
    MidiMonitor* m_monitor = nullptr;
    bool m_closePending = false;
    bool m_transfersOffered = false;
    bool m_deletableFolder = false;
    bool m_shown = false;
    // Destroyed before the widgets they fill, and before the messages they read.
    std::unique_ptr<LocalPane> m_local;
    std::unique_ptr<KbdPane> m_kbd;
    std::unique_ptr<kbxops::History> m_history;
    // The controllers; destroyed before the widgets they watch.
    std::unique_ptr<kbxapp::DeviceChoiceController> m_devices;
    std::unique_ptr<kbxapp::KbdActionController> m_actions;
    std::unique_ptr<kbxapp::BackupController> m_backup;
    std::unique_ptr<kbxapp::HistoryController> m_historyGlue;
    std::unique_ptr<kbxapp::DragDropController> m_dragDrop;
    std::unique_ptr<kbxapp::BatchController> m_batch;
};

#include "app/mainform.h"
#include "ui_mainform.h"

#include "app/appicons.h"
#include "app/backupcontroller.h"
#include "app/batchcontroller.h"
#include "app/devicechoicecontroller.h"
#include "app/dragdropcontroller.h"
#include "app/errorreporter.h"
#include "app/historycontroller.h"
#include "app/kbdactioncontroller.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/midimonitor.h"
#include "app/progressobservers.h"
#include "common/platform.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <utility>
#include <vector>

TPcLinkForm::TPcLinkForm(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TPcLinkForm>())
    , m_explorerCommand(kbxapp::explorerCommand()) {
    m_ui->setupUi(this);
    setWindowIcon(kbxapp::appIcon());
    m_devices = std::make_unique<kbxapp::DeviceChoiceController>();
    m_actions = std::make_unique<kbxapp::KbdActionController>(*this, *m_ui);
    SetupActions();
    SetupPopupMenus();
    SetupMonitor();
    SetupMenus();
    // Everything that talks to the keyboard, lists the MIDI devices or shows nodes an action may
    // replace. Exit, Retrieve, Start Up Explorer and the view styles stay usable.
    const Ui::TPcLinkForm& ui = *m_ui;
    m_actions->setBusyGate(
        {ui.ConnectAction, ui.DisconnectAction, ui.SendAction, ui.ReceiveAction, ui.DeleteAction,
         ui.PropOpen, ui.PrefOpen, ui.KbdDrvPropOpen, ui.PropertyMenuItem, ui.LocalSendMenuItem,
         ui.Property1, ui.KbdReceiveItem, ui.KbdDeleteItem, ui.KbdPropertyItem, ui.KbdDrvPropItem,
         m_propertiesAction, m_backupAction, m_restoreAction});
    m_dragDrop = std::make_unique<kbxapp::DragDropController>(*this, *m_ui);
    m_batch = std::make_unique<kbxapp::BatchController>(*this, *m_ui, *m_actions);
    FormCreate();
    SetupFocusFrames();
    SetupLocalFileCommands();
    // The whole keyboard: the Keyboard menu holds the two actions, greyed until now; they also
    // go at the end of the keyboard's pop-up menu.
    m_backup = std::make_unique<kbxapp::BackupController>(*this, *m_ui, *m_actions);
    m_backupAction->setEnabled(true);
    m_restoreAction->setEnabled(true);
    connect(m_backupAction, &QAction::triggered, this, &TPcLinkForm::BackupKeyboardExecute);
    connect(m_restoreAction, &QAction::triggered, this, &TPcLinkForm::RestoreKeyboardExecute);
    m_kbdPopupMenu->addSeparator();
    m_kbdPopupMenu->addAction(m_backupAction);
    m_kbdPopupMenu->addAction(m_restoreAction);
    m_historyGlue = std::make_unique<kbxapp::HistoryController>(*this, *m_ui, *m_actions);
}

TPcLinkForm::~TPcLinkForm() {
    FormDestroy();
    // The drive outlives the window and has no detach: its progress observer stays alive, with
    // no bar to move, so that a list after this window is gone never calls into freed memory.
    static std::vector<std::unique_ptr<PBarKbdDrvObserver>> retired;
    retired.push_back(std::move(m_kbdDrvProgress));
}

void TPcLinkForm::SetupMonitor() {
    m_monitor = new MidiMonitor(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_monitor);
    m_monitor->hide();
    QMenu* view = m_ui->MainMenu->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("ViewMenu"));
    QAction* toggle = m_monitor->toggleViewAction();
    toggle->setObjectName(QStringLiteral("MidiMonitorAction"));
    view->addAction(toggle);
}

void TPcLinkForm::SetupActions() {
    Ui::TPcLinkForm& ui = *m_ui;
    ui.ConnectAction->setIcon(kbxapp::toolbarIcon(6));
    ui.KbdUpdateAction->setIcon(kbxapp::toolbarIcon(6));
    ui.SendAction->setIcon(kbxapp::toolbarIcon(5));
    ui.LocalSendMenuItem->setIcon(kbxapp::toolbarIcon(5));
    ui.ReceiveAction->setIcon(kbxapp::toolbarIcon(7));
    ui.KbdReceiveItem->setIcon(kbxapp::toolbarIcon(7));
    ui.DeleteAction->setIcon(kbxapp::toolbarIcon(8));
    ui.KbdDeleteItem->setIcon(kbxapp::toolbarIcon(8));
    ui.LocalUpdateAction->setIcon(kbxapp::toolbarIcon(4));

    // The toolbar commands answer to Alt and their underlined letter, as their menu items do.
    for (QAction* action :
         {ui.ConnectAction, ui.SendAction, ui.ReceiveAction, ui.DeleteAction, ui.LocalUpdateAction})
        action->setShortcut(QKeySequence::mnemonic(action->text()));

    ui.LocalUpdateBtn->setDefaultAction(ui.LocalUpdateAction);
    ui.SendBtn->setDefaultAction(ui.SendAction);
    ui.KbdUpdateBtn->setDefaultAction(ui.ConnectAction);
    ui.ReceiveBtn->setDefaultAction(ui.ReceiveAction);
    ui.DeleteBtn->setDefaultAction(ui.DeleteAction);

    connect(ui.ConnectAction, &QAction::triggered, this, &TPcLinkForm::ConnectActionExecute);
    connect(ui.DisconnectAction, &QAction::triggered, this, &TPcLinkForm::DisconnectActionExecute);
    connect(ui.SendAction, &QAction::triggered, this, &TPcLinkForm::SendActionExecute);
    connect(ui.ReceiveAction, &QAction::triggered, this, &TPcLinkForm::ReceiveActionExecute);
    connect(ui.DeleteAction, &QAction::triggered, this, &TPcLinkForm::DeleteActionExecute);
    connect(ui.PropOpen, &QAction::triggered, this, &TPcLinkForm::PropOpenExecute);
    connect(ui.ExitAction, &QAction::triggered, this, &TPcLinkForm::ExitActionExecute);
    connect(ui.KbdUpdateAction, &QAction::triggered, this, &TPcLinkForm::KbdUpdateActionExecute);
    connect(ui.LocalUpdateAction, &QAction::triggered, this,
            &TPcLinkForm::LocalUpdateActionExecute);
    connect(ui.PrefOpen, &QAction::triggered, this, &TPcLinkForm::PrefOpenExecute);
    connect(ui.KbdDrvPropOpen, &QAction::triggered, this, &TPcLinkForm::KbdDrvPropOpenExecute);
    connect(ui.ShellOpen, &QAction::triggered, this, &TPcLinkForm::ShellOpenExecute);
    connect(ui.UndoAction, &QAction::triggered, this, &TPcLinkForm::UndoActionExecute);

    // Menu items run their action; they have enabled states of their own.
    const std::pair<QAction*, QAction*> items[] = {
        {ui.PropertyMenuItem, ui.PrefOpen},    {ui.Exit1, ui.ExitAction},
        {ui.LocalSendMenuItem, ui.SendAction}, {ui.Property1, ui.PropOpen},
        {ui.OpenExplorer, ui.ShellOpen},       {ui.KbdReceiveItem, ui.ReceiveAction},
        {ui.KbdDeleteItem, ui.DeleteAction},   {ui.KbdPropertyItem, ui.PropOpen},
        {ui.KbdDrvPropItem, ui.KbdDrvPropOpen}};
    for (const auto& [item, action] : items)
        connect(item, &QAction::triggered, action, &QAction::trigger);

    ui.LocalToolBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    ui.KbdToolBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TPcLinkForm::SetupPopupMenus() {
    Ui::TPcLinkForm& ui = *m_ui;
    m_localPopupMenu = new QMenu(this);
    m_localPopupMenu->setObjectName(QStringLiteral("LocalPopupMenu"));
    m_localPopupMenu->addAction(ui.LocalSendMenuItem);
    m_localPopupMenu->addSeparator();
    m_localPopupMenu->addAction(ui.Property1);
    m_localPopupMenu->addSeparator();
    m_localPopupMenu->addAction(ui.OpenExplorer);

    m_kbdPopupMenu = new QMenu(this);
    m_kbdPopupMenu->setObjectName(QStringLiteral("KbdPopupMenu"));
    m_kbdPopupMenu->addAction(ui.KbdReceiveItem);
    m_kbdPopupMenu->addAction(ui.KbdDeleteItem);
    m_kbdPopupMenu->addSeparator();
    m_kbdPopupMenu->addAction(ui.KbdPropertyItem);

    m_kbdDirPopup = new QMenu(this);
    m_kbdDirPopup->setObjectName(QStringLiteral("KbdDirPopup"));
    m_kbdDirPopup->addAction(ui.KbdDrvPropItem);

    connect(ui.LocalFileView, &FileListView::contextMenuRequested, m_localPopupMenu,
            [this](const QPoint& pos) { m_localPopupMenu->popup(pos); });
    connect(ui.KbdFileView, &FileListView::contextMenuRequested, m_kbdPopupMenu,
            [this](const QPoint& pos) { m_kbdPopupMenu->popup(pos); });
    ui.KbdDirView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.KbdDirView, &QWidget::customContextMenuRequested, m_kbdDirPopup,
            [this](const QPoint& pos) {
                // The right button selects the node it hits, as the property command acts on
                // the selected node.
                if (QTreeWidgetItem* node = m_ui->KbdDirView->itemAt(pos))
                    m_ui->KbdDirView->setCurrentItem(node);
                m_kbdDirPopup->popup(m_ui->KbdDirView->viewport()->mapToGlobal(pos));
            });
}

void TPcLinkForm::FormCreate() {
    Ui::TPcLinkForm& ui = *m_ui;
    m_local = std::make_unique<LocalPane>(
        ui.LocalDirView, ui.LocalFileView,
        std::array{ui.LocalIconBtn, ui.LocalSmallIconBtn, ui.LocalListBtn, ui.LocalReportBtn},
        nullptr);

    // Opened on first use: a history that cannot be opened fails the change that needs it.
    m_history = std::make_unique<kbxops::History>();
    m_modelName = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    m_kbdDrv = &ZxKbdDrv::instance(m_modelName.toStdString());
    m_kbdDrvProgress = std::make_unique<PBarKbdDrvObserver>(m_actions->progressBar());
    m_kbdDrv->attach(m_kbdDrvProgress.get());

    // Before the described values: a first start's preference dialog shows it.
    m_devices->setListAtStart(KbxSettings().loadWindow().listAtStart);
    try {
        m_devices->load([this] { PrefOpenExecute(); });
    } catch (...) {
        PrefOpenExecute();
    }

    m_messages = std::make_unique<MsgStr>();
    m_kbd = std::make_unique<KbdPane>(
        ui.KbdDirView, ui.KbdFileView,
        std::array{ui.KbdIconBtn, ui.KbdSmallIconBtn, ui.KbdListBtn, ui.KbdReportBtn}, *m_kbdDrv,
        m_modelName, *m_messages, nullptr);
    // Slots are deleted from the song and rhythm folders only, once the drive is listed.
    connect(m_kbd.get(), &KbdPane::deletableChanged, this, [this](bool deletable) {
        m_deletableFolder = deletable;
        UpdateCommandStates();
        // A folder listed anew has no selection yet: the gauge drops the slot it measured for.
        UpdateMemoryGauge();
    });

    for (FileListView* list : {ui.LocalFileView, ui.KbdFileView}) {
        connect(list, &FileListView::selectionChanged, this, &TPcLinkForm::UpdateCommandStates);
        connect(list, &FileListView::currentRowChanged, this, &TPcLinkForm::UpdateCommandStates);
    }
    // The folder shown when the window last closed, while it is there; else the default one.
    const QString lastFolder = KbxSettings().loadWindow().localFolder;
    m_local->SetupLocalDirView(!lastFolder.isEmpty() && QFileInfo(lastFolder).isDir()
                                   ? lastFolder
                                   : m_devices->defaultDir());
    m_local->SelectViewStyle(FileListView::LargeIcon);
    m_kbd->SetupKbdDirView();
    m_kbd->SelectViewStyle(FileListView::LargeIcon);
    UpdateUndoAction();

    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    FormActivate();
            });

    QList<int> panes = {233, std::max(height() - 233, 100)};
    m_ui->PanelSplitter->setSizes(panes);
    m_ui->PanelSplitter->setStretchFactor(1, 1);
    m_ui->LocalSplitter->setSizes({177, std::max(width() - 177, 100)});
    m_ui->LocalSplitter->setStretchFactor(1, 1);
    m_ui->KbdSplitter->setSizes({177, std::max(width() - 177, 100)});
    m_ui->KbdSplitter->setStretchFactor(1, 1);
    LoadWindowSettings();
}

void TPcLinkForm::FormDestroy() {
    SaveWindowSettings();
    try {
        m_devices->save();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

void TPcLinkForm::OfferTransfers() {
    m_transfersOffered = true;
    UpdateCommandStates();
}

void TPcLinkForm::UpdateCommandStates() {
    Ui::TPcLinkForm& ui = *m_ui;
    if (!m_kbd || !m_local)
        return;
    const int kbdRow = ui.KbdFileView->selectedRow();
    const ZxData* entry = m_kbd->KbdItemData(kbdRow);
    const bool slot = entry && !(entry->attributes() & ZxAttr::Directory);
    const int localRow = ui.LocalFileView->selectedRow();
    const bool localFile = localRow >= 0 && !m_local->IsFolderItem(localRow);
    const bool send = m_transfersOffered && slot && localFile;
    const bool import = m_transfersOffered && slot && entry->isPresent();
    const bool remove = m_deletableFolder && slot && entry->isPresent();
    ui.SendAction->setEnabled(send);
    ui.LocalSendMenuItem->setEnabled(send);
    ui.ReceiveAction->setEnabled(import);
    ui.KbdReceiveItem->setEnabled(import);
    ui.DeleteAction->setEnabled(remove);
    ui.KbdDeleteItem->setEnabled(remove);
    ui.KbdPropertyItem->setEnabled(m_transfersOffered && slot);
}

kbxops::Ports TPcLinkForm::KbdPorts() {
    return m_devices->ports(isBusy());
}

QString TPcLinkForm::GetNodePath(QTreeWidgetItem* node) const {
    if (node && node->treeWidget() == m_ui->KbdDirView)
        return m_kbd->GetNodePath(node);
    return m_local->GetNodePath(node);
}

// ---- Status line, errors, busy state ----

bool TPcLinkForm::isBusy() const {
    return m_actions->isBusy();
}

QString TPcLinkForm::statusText() const {
    return m_actions->statusText();
}

QString TPcLinkForm::statusItem() const {
    return m_actions->statusItem();
}

void TPcLinkForm::ReportError(const QString& text, const QString& informative) {
    if (informative.isEmpty())
        ErrorReporter::instance().showError(this, text);
    else
        ErrorReporter::instance().showDetailedError(this, text, informative);
}

void TPcLinkForm::closeEvent(QCloseEvent* event) {
    if (isBusy() || m_dragDrop->isDragging()) {
        // The action or drag on the stack still uses the window; close when it has ended. The
        // user wants to leave: the action stops at its next message boundary.
        m_closePending = true;
        CancelActionExecute();
        event->ignore();
        if (isBusy())
            m_actions->setStatusText(m_messages->text(
                "Stopping the keyboard action; the window closes when it has ended.",
                "キーボードとの通信を止めています。終わるとウィンドウを閉じます。"));
        return;
    }
    QMainWindow::closeEvent(event);
}

void TPcLinkForm::CloseIfPending() {
    if (!m_closePending || isBusy() || m_dragDrop->isDragging())
        return;
    m_closePending = false;
    close();
}

void TPcLinkForm::CancelActionExecute() {
    m_actions->cancel();
}

void TPcLinkForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    ClampToScreen();
    // The default folder was selected before the tree had its size; bring it into view.
    m_local->ScrollToCurrent();
    // Once the window has been painted: the list takes a moment, and the user sees it happen.
    if (m_devices->listAtStart())
        QTimer::singleShot(0, this, &TPcLinkForm::ListAtStartExecute);
}

// ---- Keyboard actions ----

void TPcLinkForm::ConnectActionExecute() {
    m_actions->list();
}

// Several items selected: one job over all of them (BatchController); one: the described action.
void TPcLinkForm::SendActionExecute() {
    if (!isBusy() && m_batch->sendSelection())
        return;
    m_actions->run(kbxapp::KbdActionController::StatusSend,
                   [this] { m_actions->sendSelectedFile(); });
}

void TPcLinkForm::ReceiveActionExecute() {
    if (!isBusy() && m_batch->importSelection())
        return;
    m_actions->run(kbxapp::KbdActionController::StatusImport,
                   [this] { m_actions->importSelectedSlot(); });
}

void TPcLinkForm::DeleteActionExecute() {
    if (!isBusy() && m_batch->deleteSelection())
        return;
    m_actions->run(kbxapp::KbdActionController::StatusDelete,
                   [this] { m_actions->deleteSelectedSlot(); });
}

void TPcLinkForm::UndoActionExecute() {
    m_actions->undo();
}

void TPcLinkForm::UpdateUndoAction() {
    m_actions->updateUndoAction();
    if (m_historyGlue)
        m_historyGlue->update();
}

void TPcLinkForm::ListAtStartExecute() {
    if (isBusy() || !m_devices->listAtStart() || !isVisible())
        return;
    // Only when the chosen devices are there: a machine without its keyboard starts quietly.
    if (!m_devices->chosenDevicesPresent())
        return;
    m_actions->listAtStart();
}

void TPcLinkForm::DisconnectActionExecute() {
    // A reset replaces every node the running action holds.
    if (isBusy())
        return;
    m_kbdDrv->reset();
    m_kbd->SetupKbdDirView();
}

void TPcLinkForm::KbdUpdateActionExecute() {
    m_kbd->ListKbdFiles(m_ui->KbdDirView->currentItem());
}

void TPcLinkForm::PrefOpenExecute() {
    // The preference dialog lists the MIDI devices, which a running transfer holds.
    if (isBusy())
        return;
    m_devices->editPreferences(this);
}

// ---- The whole keyboard ----

void TPcLinkForm::BackupKeyboardExecute() {
    m_backup->backupAsked();
}

void TPcLinkForm::RestoreKeyboardExecute() {
    m_backup->restoreAsked();
}

QString TPcLinkForm::BackupKeyboardTo(const QString& parent) {
    return m_backup->backupTo(parent);
}

bool TPcLinkForm::RestoreKeyboardFrom(const QString& path) {
    return m_backup->restoreFrom(path);
}

MemoryGauge& TPcLinkForm::memoryGauge() const {
    return m_backup->gauge();
}

void TPcLinkForm::UpdateMemoryGauge() {
    if (m_backup && m_kbdDrv)
        m_backup->updateGauge();
}

// ---- History ----

void TPcLinkForm::HistoryOpenExecute() {
    m_historyGlue->open();
}

void TPcLinkForm::SendHistoryEntry(qint64 id, const QString& slot) {
    m_historyGlue->sendEntry(id, slot);
}

void TPcLinkForm::SaveHistoryEntry(qint64 id, const QString& dir) {
    m_historyGlue->saveEntry(id, dir);
}

THistoryForm* TPcLinkForm::historyForm() const {
    return m_historyGlue ? m_historyGlue->historyForm() : nullptr;
}

// ---- Drag and drop ----

void TPcLinkForm::setDragRunner(DragRunner runner) {
    m_dragDrop->setDragRunner(std::move(runner));
}

void TPcLinkForm::RunDrop(std::function<void()> drop) {
    m_dragDrop->runDrop(std::move(drop));
}

void TPcLinkForm::RunPendingDrop() {
    m_dragDrop->runPendingDrop();
}

int TPcLinkForm::dropHighlightRow(const FileListView* list) const {
    return list ? list->dropHighlight() : -1;
}

QTreeWidgetItem* TPcLinkForm::dropHighlightNode() const {
    return m_dragDrop->dropHighlightNode();
}

bool TPcLinkForm::LocalFileViewMouseDown(Qt::MouseButton button, const QPoint& pos) {
    return m_dragDrop->localFileMouseDown(button, pos);
}

bool TPcLinkForm::LocalFileViewDragOver(const QString& source) const {
    return m_dragDrop->localFileDragOver(source);
}

void TPcLinkForm::LocalFileViewDragDrop(const QString& source, const QPoint& pos) {
    m_dragDrop->localFileDrop(source, pos);
}

bool TPcLinkForm::KbdFileViewMouseDown(Qt::MouseButton button, const QPoint& pos) {
    return m_dragDrop->kbdFileMouseDown(button, pos);
}

bool TPcLinkForm::KbdFileViewDragOver(const QString& source) const {
    return m_dragDrop->kbdFileDragOver(source);
}

void TPcLinkForm::KbdFileViewDragDrop(const QString& source, const QPoint& pos) {
    m_dragDrop->kbdFileDrop(source, pos);
}

bool TPcLinkForm::LocalDirViewDragOver(const QString& source, QTreeWidgetItem* node) const {
    return m_dragDrop->localDirDragOver(source, node);
}

void TPcLinkForm::LocalDirViewDragDrop(const QString& source, QTreeWidgetItem* node) {
    m_dragDrop->localDirDrop(source, node);
}

bool TPcLinkForm::KbdDirViewDragOver(const QString& source, QTreeWidgetItem* node) const {
    return m_dragDrop->kbdDirDragOver(source, node);
}

void TPcLinkForm::KbdDirViewDragDrop(const QString& source, QTreeWidgetItem* node) {
    m_dragDrop->kbdDirDrop(source, node);
}

// ---- Local actions ----

void TPcLinkForm::LocalUpdateActionExecute() {
    m_local->RefreshLocalFiles();
}

void TPcLinkForm::ShellOpenExecute() {
    QTreeWidgetItem* node = m_ui->LocalDirView->currentItem();
    if (!node)
        return;
    QString error;
    if (!kbxapp::ProcessLauncher::instance().startDetached(m_explorerCommand, {GetNodePath(node)},
                                                           &error))
        ReportError(error);
}

void TPcLinkForm::ExitActionExecute() {
    close();
}

void TPcLinkForm::FormActivate() {
    if (m_ui->LocalDirView->currentItem())
        LocalUpdateActionExecute();
    UpdateUndoAction();
}

#include "mainform.h"
#include "ui_mainform.h"

#include "appicons.h"
#include "errorreporter.h"
#include "midimonitor.h"
#include "ops/cancel.h"
#include "ops/connection.h"
#include "ops/keyboard.h"
#include "ops/undo.h"
#include "platform.h"
#include "settings.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

enum StatusIndex { StatusList = 0, StatusSend = 1, StatusImport = 2, StatusDelete = 3 };

} // namespace

TPcLinkForm::TPcLinkForm(QWidget* parent)
    : QMainWindow(parent)
    , ExplorerCommand(kbxapp::explorerCommand())
    , m_ui(std::make_unique<Ui::TPcLinkForm>()) {
    m_ui->setupUi(this);
    setWindowIcon(kbxapp::appIcon());
    SetupStatusStrip();
    SetupActions();
    SetupPopupMenus();
    SetupMonitor();
    SetupMenus();
    SetupBusyGate();
    SetupDragAndDrop();
    FormCreate();
    SetupFocusFrames();
    SetupWholeKeyboard();
    SetupHistoryWindow();
}

TPcLinkForm::~TPcLinkForm() {
    FormDestroy();
    // The drive outlives the window and has no detach: its progress observer stays alive, with
    // no bar to move, so that a list after this window is gone never calls into freed memory.
    static std::vector<std::unique_ptr<PBarKbdDrvObserver>> retired;
    retired.push_back(std::move(KbdDrvProgress));
}

void TPcLinkForm::SetupStatusStrip() {
    m_statusLabel = new QLabel(m_ui->StatusBar);
    m_statusLabel->setObjectName(QStringLiteral("StatusText"));
    m_statusLabel->setFixedWidth(265);
    m_statusLabel->setFrameShape(QFrame::StyledPanel);
    m_statusLabel->setFrameShadow(QFrame::Sunken);
    ProgressBar = new QProgressBar(m_ui->StatusBar);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    m_ui->StatusBar->addWidget(m_statusLabel, 0);
    // The item a keyboard action works on, beside its status text.
    m_statusItem = new QLabel(m_ui->StatusBar);
    m_statusItem->setObjectName(QStringLiteral("StatusItem"));
    m_statusItem->setVisible(false);
    m_ui->StatusBar->addWidget(m_statusItem, 0);
    m_ui->StatusBar->addWidget(ProgressBar, 1);

    // Esc reaches the action from anywhere in the window; both are offered only while busy.
    CancelAction = new QAction(QStringLiteral("Cancel"), this);
    CancelAction->setObjectName(QStringLiteral("CancelAction"));
    CancelAction->setShortcut(QKeySequence(Qt::Key_Escape));
    CancelAction->setShortcutContext(Qt::WindowShortcut);
    CancelAction->setEnabled(false);
    addAction(CancelAction);
    connect(CancelAction, &QAction::triggered, this, &TPcLinkForm::CancelActionExecute);
    CancelBtn = new QToolButton(m_ui->StatusBar);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setDefaultAction(CancelAction);
    CancelBtn->setToolButtonStyle(Qt::ToolButtonTextOnly);
    CancelBtn->setVisible(false);
    m_ui->StatusBar->addWidget(CancelBtn, 0);
}

void TPcLinkForm::SetupMonitor() {
    m_monitor = new MidiMonitor(this);
    addDockWidget(Qt::BottomDockWidgetArea, m_monitor);
    m_monitor->hide();
    QMenu* view = m_ui->MainMenu->addMenu(QStringLiteral("&View"));
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
    LocalPopupMenu = new QMenu(this);
    LocalPopupMenu->setObjectName(QStringLiteral("LocalPopupMenu"));
    LocalPopupMenu->addAction(ui.LocalSendMenuItem);
    LocalPopupMenu->addSeparator();
    LocalPopupMenu->addAction(ui.Property1);
    LocalPopupMenu->addSeparator();
    LocalPopupMenu->addAction(ui.OpenExplorer);

    KbdPopupMenu = new QMenu(this);
    KbdPopupMenu->setObjectName(QStringLiteral("KbdPopupMenu"));
    KbdPopupMenu->addAction(ui.KbdReceiveItem);
    KbdPopupMenu->addAction(ui.KbdDeleteItem);
    KbdPopupMenu->addSeparator();
    KbdPopupMenu->addAction(ui.KbdPropertyItem);

    KbdDirPopup = new QMenu(this);
    KbdDirPopup->setObjectName(QStringLiteral("KbdDirPopup"));
    KbdDirPopup->addAction(ui.KbdDrvPropItem);

    connect(ui.LocalFileView, &FileListView::contextMenuRequested, LocalPopupMenu,
            [this](const QPoint& pos) { LocalPopupMenu->popup(pos); });
    connect(ui.KbdFileView, &FileListView::contextMenuRequested, KbdPopupMenu,
            [this](const QPoint& pos) { KbdPopupMenu->popup(pos); });
    ui.KbdDirView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui.KbdDirView, &QWidget::customContextMenuRequested, KbdDirPopup,
            [this](const QPoint& pos) {
                // The right button selects the node it hits, as the property command acts on
                // the selected node.
                if (QTreeWidgetItem* node = m_ui->KbdDirView->itemAt(pos))
                    m_ui->KbdDirView->setCurrentItem(node);
                KbdDirPopup->popup(m_ui->KbdDirView->viewport()->mapToGlobal(pos));
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
    ModelName = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    KbdDrv = &ZxKbdDrv::instance(ModelName.toStdString());
    KbdDrvProgress = std::make_unique<PBarKbdDrvObserver>(ProgressBar);
    KbdDrv->attach(KbdDrvProgress.get());

    // Before the described values: a first start's preference dialog shows it.
    ListAtStart = KbxSettings().loadWindow().listAtStart;
    try {
        LoadSettings();
    } catch (...) {
        PrefOpenExecute();
    }

    Messages = std::make_unique<MsgStr>();
    m_kbd = std::make_unique<KbdPane>(
        ui.KbdDirView, ui.KbdFileView,
        std::array{ui.KbdIconBtn, ui.KbdSmallIconBtn, ui.KbdListBtn, ui.KbdReportBtn}, *KbdDrv,
        ModelName, *Messages, nullptr);
    // Slots are deleted from the song and rhythm folders only, once the drive is listed.
    connect(m_kbd.get(), &KbdPane::deletableChanged, this, [this](bool deletable) {
        m_ui->DeleteAction->setEnabled(deletable);
        m_ui->KbdDeleteItem->setEnabled(deletable);
    });

    m_local->SetupLocalDirView(DefaultDir);
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
        SaveSettings();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

// ---- Settings ----

void TPcLinkForm::LoadSettings() {
    const KbxSettings settings;
    // Never fails: a damaged value gives its default, which keeps the safety net on.
    Safety = settings.loadSafety();
    KbxSettings::Values values{MidiInDevice, MidiOutDevice, MidiInDeviceName, MidiOutDeviceName,
                               DefaultDir};
    // The fields keep what was read before a value that fails, as each value is read in turn.
    const auto take = [this, &values] {
        MidiInDevice = values.inputDevice;
        MidiOutDevice = values.outputDevice;
        MidiInDeviceName = values.inputDeviceName;
        MidiOutDeviceName = values.outputDeviceName;
        DefaultDir = values.defaultDir;
    };
    KbxSettings::LoadResult result;
    try {
        result = settings.load(values);
    } catch (...) {
        take();
        throw;
    }
    take();
    if (result == KbxSettings::LoadResult::FirstStart) {
        // First start for this user: the devices are chosen before anything else.
        PrefOpenExecute();
        try {
            SaveSettings();
        } catch (const std::exception&) {
            // A store that cannot be written is reported once, when the window closes and
            // saves again; failing here would only open the preference dialog a second time.
        }
    }
}

void TPcLinkForm::SaveSettings() {
    const KbxSettings settings;
    settings.save(KbxSettings::Values{MidiInDevice, MidiOutDevice, MidiInDeviceName,
                                      MidiOutDeviceName, DefaultDir});
    settings.saveSafety(Safety);
}

kbxops::Devices TPcLinkForm::KbdDevices() {
    const kbxops::Resolution resolved = kbxops::resolveDevices(
        kbxops::DeviceChoice{{MidiInDevice, MidiOutDevice}, MidiInDeviceName, MidiOutDeviceName});
    MidiInDevice = resolved.choice.devices.input;
    MidiOutDevice = resolved.choice.devices.output;
    return resolved.choice.devices;
}

QString TPcLinkForm::GetNodePath(QTreeWidgetItem* node) const {
    if (node && node->treeWidget() == m_ui->KbdDirView)
        return m_kbd->GetNodePath(node);
    return m_local->GetNodePath(node);
}

// ---- Status line, errors, busy state ----

QString TPcLinkForm::statusText() const {
    return m_statusLabel->text();
}

void TPcLinkForm::SetStatusText(const QString& text) {
    m_statusLabel->setText(text);
    m_statusLabel->repaint();
}

void TPcLinkForm::ReportError(const QString& text, const QString& informative) {
    if (informative.isEmpty())
        ErrorReporter::instance().showError(this, text);
    else
        ErrorReporter::instance().showDetailedError(this, text, informative);
}

void TPcLinkForm::closeEvent(QCloseEvent* event) {
    if (m_busy || m_dragRunning) {
        // The action or drag on the stack still uses the window; close when it has ended. The
        // user wants to leave: the action stops at its next message boundary.
        m_closePending = true;
        CancelActionExecute();
        event->ignore();
        if (m_busy)
            SetStatusText(
                Messages->text("Stopping the keyboard action; the window closes when it has ended.",
                               "キーボードとの通信を止めています。終わるとウィンドウを閉じます。"));
        return;
    }
    QMainWindow::closeEvent(event);
}

void TPcLinkForm::CancelActionExecute() {
    if (!m_cancellation)
        return;
    m_cancellation->cancel();
    // Asked once; the action reports its end in the error box.
    CancelAction->setEnabled(false);
}

bool TPcLinkForm::eventFilter(QObject* watched, QEvent* event) {
    if (FileListView* list = ListOfViewport(watched))
        return ListViewportEvent(list, static_cast<QWidget*>(watched), event);
    if (QTreeWidget* tree = TreeOfViewport(watched))
        return TreeViewportEvent(tree, event);
    return QMainWindow::eventFilter(watched, event);
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
    if (ListAtStart)
        QTimer::singleShot(0, this, &TPcLinkForm::ListAtStartExecute);
}

void TPcLinkForm::RunKbdAction(int status, const std::function<void()>& body) {
    if (m_busy)
        return;
    m_busy = true;
    m_failureContext = {};
    m_doneStatus.clear();
    BeginBusy();
    UpdateUndoAction();
    ProgressBar->setValue(0);
    SetStatusText(QString::fromStdString(Messages->GetStatusMsg(status)));

    kbxops::Cancellation cancellation;
    m_cancellation = &cancellation;
    CancelAction->setEnabled(true);
    CancelBtn->setVisible(true);
    std::exception_ptr failure;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        const kbxops::CancelScope scope(cancellation);
        body();
    } catch (const ZxCancelledException&) {
        // Never shown as done; but a window that is closing has been told enough.
        if (!m_closePending)
            failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    QApplication::restoreOverrideCursor();
    m_cancellation = nullptr;
    CancelAction->setEnabled(false);
    CancelBtn->setVisible(false);
    EndBusy();
    if (failure)
        ReportFailure(failure);

    SetStatusText(std::exchange(m_doneStatus, QString()));
    ShowActionItem(QString());
    ProgressBar->setValue(0);
    UpdateMemoryGauge();
    m_busy = false;
    UpdateUndoAction();
    if (m_closePending) {
        m_closePending = false;
        close();
    }
}

// ---- Keyboard actions ----

void TPcLinkForm::ConnectActionExecute() {
    RunKbdAction(StatusList, [this] { ReadKbdList(); });
}

kbxops::Keyboard TPcLinkForm::Keyboard(kbxops::Progress* progress) {
    return kbxops::Keyboard(*KbdDrv, KbdDevices(), progress,
                            kbxops::safetyFromPreferences(Safety, m_history.get()));
}

void TPcLinkForm::ReadKbdList() {
    PBarProgress progress(ProgressBar);
    Keyboard(&progress).list();
    m_kbd->SetupKbdDirViewKeepingPlace();
    m_ui->SendAction->setEnabled(true);
    m_ui->LocalSendMenuItem->setEnabled(true);
    m_ui->ReceiveAction->setEnabled(true);
    m_ui->KbdReceiveItem->setEnabled(true);
    m_ui->KbdPropertyItem->setEnabled(true);
}

void TPcLinkForm::SendActionExecute() {
    RunKbdAction(StatusSend, [this] { SendSelectedFile(); });
}

void TPcLinkForm::SendSelectedFile() {
    QTreeWidgetItem* localNode = m_ui->LocalDirView->currentItem();
    const int localRow = m_ui->LocalFileView->selectedRow();
    if (!localNode || localRow < 0)
        throw OperateException(OperateException::NoSendSource);
    ZxData* slot =
        m_kbd->SelectedSlot(OperateException::NoSendTarget, OperateException::NotAcceptable);
    QTreeWidgetItem* kbdNode = m_ui->KbdDirView->currentItem();
    const QString fileName = m_ui->LocalFileView->itemText(localRow);
    m_failureContext.sourceFile = GetNodePath(localNode) + fileName;
    m_failureContext.slot = slot;
    ShowActionItem(fileName);

    PBarProgress progress(ProgressBar);
    // By the node, not by its path: names repeat within a folder (blank tones).
    const std::unique_ptr<ZxDataFile> item =
        Keyboard(&progress).sendFile(m_failureContext.sourceFile, *slot);

    // The user may have moved in the keyboard tree while the data travelled.
    QTreeWidgetItem* now = m_ui->KbdDirView->currentItem();
    m_kbd->ListKbdFiles(now);
    if (now == kbdNode) {
        m_ui->KbdFileView->setSelectedRow(item->number());
        m_ui->KbdFileView->setFocus();
    }
}

void TPcLinkForm::ReceiveActionExecute() {
    RunKbdAction(StatusImport, [this] { ReceiveSelectedData(); });
}

void TPcLinkForm::ReceiveSelectedData() {
    ZxData* slot =
        m_kbd->SelectedSlot(OperateException::NoImportSource, OperateException::NoImportSource);
    QTreeWidgetItem* localNode = m_ui->LocalDirView->currentItem();
    if (!localNode)
        throw OperateException(OperateException::NoImportTarget);
    // Local tree items can be replaced during the transfer; keep the folder by its path.
    const QString folder = GetNodePath(localNode);
    m_failureContext.slot = slot;
    ShowActionItem(m_kbd->SelectedItemText());

    PBarProgress progress(ProgressBar);
    const kbxops::ImportedFile imported = Keyboard(&progress).importSlot(*slot, folder);
    const QString& fileName = imported.fileName;
    if (!imported.trashed.isEmpty())
        m_doneStatus =
            Messages
                ->text("The earlier %1 was moved to the trash.", "以前の %1 はごみ箱に移しました。")
                .arg(fileName);

    QTreeWidgetItem* now = m_ui->LocalDirView->currentItem();
    if (!now || GetNodePath(now) != folder)
        return; // the user has opened another folder meanwhile
    m_local->ListLocalFiles(now);
    m_local->SelectItem(fileName);
    m_ui->LocalFileView->setFocus();
}

void TPcLinkForm::DeleteActionExecute() {
    RunKbdAction(StatusDelete, [this] { DeleteSelectedData(); });
}

void TPcLinkForm::DeleteSelectedData() {
    ZxData* slot =
        m_kbd->SelectedSlot(OperateException::NoDeleteTarget, OperateException::NoDeleteTarget);
    if (!KbdDrv->isListed())
        throw OperateException(OperateException::ListFirst);
    m_failureContext.slot = slot;
    ShowActionItem(m_kbd->SelectedItemText());
    PBarProgress progress(ProgressBar);
    Keyboard(&progress).remove(*slot);
    m_kbd->RelistKeepingSelection();
}

void TPcLinkForm::UpdateUndoAction() {
    std::optional<kbxops::HistoryEntry> target;
    if (!m_busy) {
        try {
            target = kbxops::undoTarget(*m_history);
        } catch (...) {
            // A history that cannot be read has nothing to undo; the next change says why.
        }
    }
    m_ui->UndoAction->setEnabled(target.has_value());
    m_ui->UndoAction->setText(target ? QStringLiteral("&") + kbxops::undoText(*target)
                                     : QStringLiteral("&Undo"));
    UpdateHistoryWindow();
}

void TPcLinkForm::UndoActionExecute() {
    if (m_busy)
        return;
    std::optional<kbxops::HistoryEntry> target;
    try {
        target = kbxops::undoTarget(*m_history);
    } catch (...) {
        ReportError(
            QString::fromStdString(describeException(*Messages, std::current_exception()).message));
    }
    if (!target) {
        UpdateUndoAction();
        return;
    }
    RunKbdAction(target->before ? StatusSend : StatusDelete, [this] { UndoLastChange(); });
}

void TPcLinkForm::UndoLastChange() {
    // The slot is found in the listed drive, and what it holds now is kept before it goes.
    if (!KbdDrv->isListed())
        ReadKbdList();
    PBarProgress progress(ProgressBar);
    kbxops::Keyboard keyboard = Keyboard(&progress);
    kbxops::undoLast(keyboard, *m_history);
    m_kbd->RelistKeepingSelection();
}

void TPcLinkForm::DisconnectActionExecute() {
    // A reset replaces every node the running action holds.
    if (m_busy)
        return;
    KbdDrv->reset();
    m_kbd->SetupKbdDirView();
}

void TPcLinkForm::KbdUpdateActionExecute() {
    m_kbd->ListKbdFiles(m_ui->KbdDirView->currentItem());
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
    if (!kbxapp::ProcessLauncher::instance().startDetached(ExplorerCommand, {GetNodePath(node)},
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

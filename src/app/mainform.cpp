#include "mainform.h"
#include "ui_mainform.h"

#include "appicons.h"
#include "errorreporter.h"
#include "kbddrvpropform.h"
#include "kbxnames.h"
#include "ops/datafile.h"
#include "ops/keyboard.h"
#include "platform.h"
#include "preferform.h"
#include "propform.h"
#include "settings.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeDatabase>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTreeWidget>
#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

// A local list item carries the data file read for its properties.
Q_DECLARE_METATYPE(std::shared_ptr<ZxDataFile>)

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
    SetupDragAndDrop();
    FormCreate();
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
    m_ui->StatusBar->addWidget(ProgressBar, 1);
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

    // Menu items run their action; they have enabled states of their own.
    const std::pair<QAction*, QAction*> items[] = {
        {ui.PropertyMenuItem, ui.PrefOpen},    {ui.Exit1, ui.ExitAction},
        {ui.LocalSendMenuItem, ui.SendAction}, {ui.Property1, ui.PropOpen},
        {ui.OpenExplorer, ui.ShellOpen},       {ui.KbdReceiveItem, ui.ReceiveAction},
        {ui.KbdDeleteItem, ui.DeleteAction},   {ui.KbdPropertyItem, ui.PropOpen},
        {ui.KbdDrvPropItem, ui.KbdDrvPropOpen}};
    for (const auto& [item, action] : items)
        connect(item, &QAction::triggered, action, &QAction::trigger);

    // The four view buttons of each list, tags 0 to 3.
    const std::pair<QToolButton*, int> localButtons[] = {{ui.LocalIconBtn, 0},
                                                         {ui.LocalSmallIconBtn, 1},
                                                         {ui.LocalListBtn, 2},
                                                         {ui.LocalReportBtn, 3}};
    const std::pair<QToolButton*, int> kbdButtons[] = {
        {ui.KbdIconBtn, 0}, {ui.KbdSmallIconBtn, 1}, {ui.KbdListBtn, 2}, {ui.KbdReportBtn, 3}};
    auto* localGroup = new QButtonGroup(this);
    localGroup->setObjectName(QStringLiteral("LocalViewBtns"));
    for (const auto& [button, tag] : localButtons) {
        button->setIcon(kbxapp::toolbarIcon(tag));
        localGroup->addButton(button, tag);
    }
    auto* kbdGroup = new QButtonGroup(this);
    kbdGroup->setObjectName(QStringLiteral("KbdViewBtns"));
    for (const auto& [button, tag] : kbdButtons) {
        button->setIcon(kbxapp::toolbarIcon(tag));
        kbdGroup->addButton(button, tag);
    }
    connect(localGroup, &QButtonGroup::idClicked, this, &TPcLinkForm::LocalFileViewBtnsClick);
    connect(kbdGroup, &QButtonGroup::idClicked, this, &TPcLinkForm::KbdFileViewBtnsClick);

    ui.LocalToolBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    ui.KbdToolBar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    ui.LocalFileView->setColumns({tr("Name"), tr("Type"), tr("Size")}, {200, 100, 100}, {2});
    ui.KbdFileView->setColumns({tr("Name"), tr("Type"), tr("Size(byte)")}, {193, 100, 100}, {2});
    ui.KbdDirView->setIconSize(QSize(16, 16));
    // "Expand all" would read every folder of the disk below the node, one level at a time.
    ui.LocalDirView->installEventFilter(this);
    // Deep folders scroll sideways instead of being cut off.
    for (QTreeWidget* tree : {ui.LocalDirView, ui.KbdDirView}) {
        tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree->header()->setStretchLastSection(false);
    }

    connect(ui.LocalDirView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { LocalDirViewChange(current); });
    connect(ui.LocalDirView, &QTreeWidget::itemExpanded, this, &TPcLinkForm::LocalDirViewExpanding);
    connect(ui.LocalDirView, &QTreeWidget::itemCollapsed, this,
            &TPcLinkForm::LocalDirViewCollapsed);
    connect(ui.LocalFileView, &FileListView::currentRowChanged, this,
            &TPcLinkForm::LocalFileViewChange);
    connect(ui.LocalFileView, &FileListView::itemDoubleClicked, this,
            &TPcLinkForm::LocalFileViewDblClick);
    connect(ui.KbdDirView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { KbdDirViewChange(current); });
    connect(ui.KbdDirView, &QTreeWidget::itemExpanded, this, &TPcLinkForm::KbdDirViewExpanding);
    connect(ui.KbdFileView, &FileListView::itemDoubleClicked, this,
            &TPcLinkForm::KbdFileViewDblClick);
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
    // The shell's icons come from the provider; the lists pick the size per view style.
    m_iconProvider = std::make_unique<QFileIconProvider>();
    m_mimeDatabase = std::make_unique<QMimeDatabase>();
    m_ui->LocalDirView->setIconSize(QSize(16, 16));

    ModelName = QString::fromLatin1(ZxKbdDrv::kKnownModel);
    KbdDrv = &ZxKbdDrv::instance(ModelName.toStdString());
    KbdDrvProgress = std::make_unique<PBarKbdDrvObserver>(ProgressBar);
    KbdDrv->attach(KbdDrvProgress.get());

    try {
        LoadSettings();
    } catch (...) {
        PrefOpenExecute();
    }

    Messages = std::make_unique<MsgStr>();

    SetupLocalDirView();
    m_ui->LocalIconBtn->setChecked(true);
    LocalFileViewBtnsClick(FileListView::LargeIcon);
    SetupKbdDirView();
    m_ui->KbdIconBtn->setChecked(true);
    KbdFileViewBtnsClick(FileListView::LargeIcon);

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
}

void TPcLinkForm::FormDestroy() {
    try {
        SaveSettings();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

// ---- Settings ----

void TPcLinkForm::LoadSettings() {
    const KbxSettings settings;
    if (settings.load(MidiInDevice, MidiOutDevice, DefaultDir) ==
        KbxSettings::LoadResult::FirstStart) {
        // First start for this user: the devices are chosen before anything else.
        PrefOpenExecute();
        try {
            settings.save(MidiInDevice, MidiOutDevice, DefaultDir);
        } catch (const std::exception&) {
            // A store that cannot be written is reported once, when the window closes and
            // saves again; failing here would only open the preference dialog a second time.
        }
    }
}

void TPcLinkForm::SaveSettings() {
    KbxSettings().save(MidiInDevice, MidiOutDevice, DefaultDir);
}

// ---- Status line, errors, busy state ----

QString TPcLinkForm::statusText() const {
    return m_statusLabel->text();
}

void TPcLinkForm::SetStatusText(const QString& text) {
    m_statusLabel->setText(text);
    m_statusLabel->repaint();
}

void TPcLinkForm::ReportError(const QString& text) {
    ErrorReporter::instance().showError(this, text);
}

void TPcLinkForm::closeEvent(QCloseEvent* event) {
    if (m_busy || m_dragRunning) {
        // The action or drag on the stack still uses the window; close when it has ended.
        m_closePending = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool TPcLinkForm::eventFilter(QObject* watched, QEvent* event) {
    if (FileListView* list = ListOfViewport(watched))
        return ListViewportEvent(list, static_cast<QWidget*>(watched), event);
    if (watched == m_ui->LocalDirView && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Asterisk)
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TPcLinkForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // The default folder was selected before the tree had its size; bring it into view.
    if (QTreeWidgetItem* node = m_ui->LocalDirView->currentItem()) {
        m_ui->LocalDirView->scrollToItem(node, QAbstractItemView::PositionAtCenter);
        m_ui->LocalDirView->horizontalScrollBar()->setValue(0);
    }
}

void TPcLinkForm::RunKbdAction(int status, const std::function<void()>& body) {
    if (m_busy)
        return;
    m_busy = true;
    ProgressBar->setValue(0);
    SetStatusText(QString::fromStdString(Messages->GetStatusMsg(status)));

    std::optional<QString> failure;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        body();
    } catch (...) {
        failure =
            QString::fromStdString(describeException(*Messages, std::current_exception()).message);
    }
    QApplication::restoreOverrideCursor();
    if (failure)
        ReportError(*failure);

    SetStatusText(QString());
    ProgressBar->setValue(0);
    m_busy = false;
    if (m_closePending) {
        m_closePending = false;
        close();
    }
}

// ---- Keyboard actions ----

void TPcLinkForm::ConnectActionExecute() {
    RunKbdAction(StatusList, [this] { ReadKbdList(); });
}

void TPcLinkForm::ReadKbdList() {
    PBarProgress progress(ProgressBar);
    kbxops::Keyboard(*KbdDrv, {MidiInDevice, MidiOutDevice}, &progress).list();
    SetupKbdDirView();
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
    QTreeWidgetItem* kbdNode = m_ui->KbdDirView->currentItem();
    const int kbdRow = m_ui->KbdFileView->selectedRow();
    if (!kbdNode || kbdRow < 0)
        throw OperateException(OperateException::NoSendTarget);
    ZxData* slot = KbdItemData(kbdRow);
    // A folder entry is no place for data: its path would find the folder node as a "slot".
    if (!slot || (slot->attributes() & ZxAttr::Directory))
        throw OperateException(OperateException::NotAcceptable);

    PBarProgress progress(ProgressBar);
    // By the node, not by its path: names repeat within a folder (blank tones).
    const std::unique_ptr<ZxDataFile> item =
        kbxops::Keyboard(*KbdDrv, {MidiInDevice, MidiOutDevice}, &progress)
            .sendFile(GetNodePath(localNode) + m_ui->LocalFileView->itemText(localRow), *slot);

    // The user may have moved in the keyboard tree while the data travelled.
    QTreeWidgetItem* now = m_ui->KbdDirView->currentItem();
    ListKbdFiles(now);
    if (now == kbdNode) {
        m_ui->KbdFileView->setSelectedRow(item->number());
        m_ui->KbdFileView->setFocus();
    }
}

void TPcLinkForm::ReceiveActionExecute() {
    RunKbdAction(StatusImport, [this] { ReceiveSelectedData(); });
}

void TPcLinkForm::ReceiveSelectedData() {
    QTreeWidgetItem* kbdNode = m_ui->KbdDirView->currentItem();
    const int kbdRow = m_ui->KbdFileView->selectedRow();
    if (!kbdNode || kbdRow < 0)
        throw OperateException(OperateException::NoImportSource);
    ZxData* slot = KbdItemData(kbdRow);
    if (!slot || (slot->attributes() & ZxAttr::Directory))
        throw OperateException(OperateException::NoImportSource);
    QTreeWidgetItem* localNode = m_ui->LocalDirView->currentItem();
    if (!localNode)
        throw OperateException(OperateException::NoImportTarget);
    // Local tree items can be replaced during the transfer; keep the folder by its path.
    const QString folder = GetNodePath(localNode);

    PBarProgress progress(ProgressBar);
    const QString fileName = kbxops::Keyboard(*KbdDrv, {MidiInDevice, MidiOutDevice}, &progress)
                                 .importSlot(*slot, folder)
                                 .fileName;

    QTreeWidgetItem* now = m_ui->LocalDirView->currentItem();
    if (!now || GetNodePath(now) != folder)
        return; // the user has opened another folder meanwhile
    ListLocalFiles(now);
    FileListView* list = m_ui->LocalFileView;
    for (int row = 0; row < list->count(); ++row) {
        if (list->itemText(row) == fileName) {
            list->setSelectedRow(row);
            break;
        }
    }
    list->setFocus();
}

void TPcLinkForm::DeleteActionExecute() {
    RunKbdAction(StatusDelete, [this] { DeleteSelectedData(); });
}

void TPcLinkForm::DeleteSelectedData() {
    QTreeWidgetItem* kbdNode = m_ui->KbdDirView->currentItem();
    const int kbdRow = m_ui->KbdFileView->selectedRow();
    if (!kbdNode || kbdRow < 0)
        throw OperateException(OperateException::NoDeleteTarget);
    ZxData* slot = KbdItemData(kbdRow);
    // Deleting a folder entry would address the song or rhythm numbered like the folder.
    if (!slot || (slot->attributes() & ZxAttr::Directory))
        throw OperateException(OperateException::NoDeleteTarget);
    if (!KbdDrv->isListed())
        throw OperateException(OperateException::ListFirst);
    kbxops::Keyboard(*KbdDrv, {MidiInDevice, MidiOutDevice}).remove(*slot);
    ListKbdFiles(m_ui->KbdDirView->currentItem());
}

void TPcLinkForm::DisconnectActionExecute() {
    // A reset replaces every node the running action holds.
    if (m_busy)
        return;
    KbdDrv->reset();
    SetupKbdDirView();
}

void TPcLinkForm::KbdUpdateActionExecute() {
    ListKbdFiles(m_ui->KbdDirView->currentItem());
}

// ---- Local actions ----

void TPcLinkForm::LocalUpdateActionExecute() {
    FileListView* list = m_ui->LocalFileView;
    const int selected = list->selectedRow();
    const QString selectedText = selected >= 0 ? list->itemText(selected) : QString();
    ListLocalFiles(m_ui->LocalDirView->currentItem());
    // Keep the user's selection across the refresh (it runs on every activation).
    if (!selectedText.isEmpty()) {
        for (int row = 0; row < list->count(); ++row) {
            if (list->itemText(row) == selectedText) {
                list->setSelectedRow(row);
                break;
            }
        }
    }
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
}

// ---- Dialogs ----

void TPcLinkForm::PrefOpenExecute() {
    // The preference dialog lists the MIDI devices, which a running transfer holds.
    if (m_busy)
        return;
    TPrefForm form(this);
    form.SetInDevice(MidiInDevice);
    form.SetOutDevice(MidiOutDevice);
    form.SetDefDir(DefaultDir);
    if (form.exec() != QDialog::Accepted)
        return;
    // In effect for the next keyboard action; stored when the window closes.
    MidiInDevice = form.GetInDevice();
    MidiOutDevice = form.GetOutDevice();
    DefaultDir = form.GetDefDir();
}

FileListView* TPcLinkForm::FocusedList() const {
    // The window's own focus child: it stays on the list while a pop-up menu is open, and
    // while the window waits to be activated again after a dialog.
    for (QWidget* widget = focusWidget(); widget; widget = widget->parentWidget()) {
        if (widget == m_ui->LocalFileView || widget == m_ui->KbdFileView)
            return static_cast<FileListView*>(widget);
    }
    return nullptr;
}

void TPcLinkForm::PropOpenExecute() {
    // A keyboard action may replace the slots and relist either list while it waits.
    if (m_busy)
        return;
    FileListView* list = FocusedList();
    const int row = list ? list->selectedRow() : -1;
    if (row < 0)
        return;
    const bool local = list == m_ui->LocalFileView;
    QTreeWidgetItem* node = (local ? m_ui->LocalDirView : m_ui->KbdDirView)->currentItem();
    if (!node)
        return;
    const QString text = list->itemText(row);
    const QString folder = GetNodePath(node);
    const QString path = folder + text;

    // A data file is read once per listing: the item stays with the list item. Held shared, so
    // that a relisting while the dialog is open (activation) cannot free it under the dialog.
    std::shared_ptr<ZxDataFile> file;
    const ZxData* data = nullptr;
    if (local) {
        file = list->itemData(row).value<std::shared_ptr<ZxDataFile>>();
        if (!file && text.endsWith(QStringLiteral(".kbx"), Qt::CaseSensitive) &&
            !QFileInfo(path).isDir()) {
            try {
                file = kbxops::readDataFile(path);
            } catch (...) {
                ReportError(QString::fromStdString(
                    describeException(*Messages, std::current_exception()).message));
                return;
            }
            list->setItemData(row, QVariant::fromValue(file));
        }
        data = file.get();
    } else {
        data = KbdItemData(row);
    }

    TZxDataPropertyForm form(this);
    form.SetIcon(list->itemIcon(row));
    form.SetFileName(text);
    form.SetLocation(folder);
    form.SetNameEditable(local);
    if (data) {
        form.SetDataKind(data->kind());
        form.SetDataSize(data->size());
        form.SetDataName(kbxnames::keyboardText(data->name()));
    }
    if (!form.Execute() || !local || !file)
        return;
    try {
        // Written atomically: a failure leaves the file, and the item, with the old name.
        kbxops::renameDataFile(path, *file, form.GetDataName());
    } catch (...) {
        ReportError(
            QString::fromStdString(describeException(*Messages, std::current_exception()).message));
    }
}

void TPcLinkForm::KbdDrvPropOpenExecute() {
    if (m_busy)
        return;
    QTreeWidgetItem* node = m_ui->KbdDirView->currentItem();
    // The root carries no folder.
    const auto* folder = dynamic_cast<const ZxDataDrive*>(KbdNodeData(node));
    if (!folder)
        return;
    TKbdDrivePropertyForm form(this);
    form.SetIcon(node->icon(0));
    form.SetDriveName(kbxnames::keyboardText(folder->name()));
    form.SetUsedSpace(folder->usedSpace());
    form.SetFreeSpace(folder->freeSpace());
    form.SetCapacity(folder->capacity());
    form.exec();
}

// Drag and drop between the two lists of the main window: a local file dropped on a keyboard
// slot is sent there, a keyboard slot dropped on the local list is imported. The handlers only
// adjust the selections and run Send or Import, so a drop reports like the toolbar command.
// While a drag is over a list or tree, the item the drop would go to is marked; where a drop is
// refused the toolkit shows its forbidden pointer.
#include "mainform.h"
#include "ui_mainform.h"

#include "errorreporter.h"
#include "filelistview.h"
#include "historyform.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QAbstractItemView>
#include <QDrag>
#include <QDropEvent>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdlib>
#include <utility>

namespace {

const QString kLocalListName = QStringLiteral("LocalFileView");
const QString kKbdListName = QStringLiteral("KbdFileView");

void runQtDrag(QWidget* source, std::unique_ptr<QMimeData> data, const QPixmap& picture) {
    auto* drag = new QDrag(source); // the toolkit deletes it when the drag has ended
    drag->setMimeData(data.release());
    if (!picture.isNull()) {
        drag->setPixmap(picture);
        drag->setHotSpot(QPoint(picture.width() / 2, picture.height() / 2));
    }
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

// The name of the list a drag comes from, or the empty text for anyone else's drag.
QString dragSource(const QMimeData* data) {
    const QString type = QString::fromLatin1(TPcLinkForm::kListDragType);
    return data && data->hasFormat(type) ? QString::fromUtf8(data->data(type)) : QString();
}

} // namespace

void TPcLinkForm::SetupDragAndDrop() {
    m_dragRunner = runQtDrag;
    for (FileListView* list : {m_ui->LocalFileView, m_ui->KbdFileView}) {
        list->setViewportDrops(true);
        for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list->iconView()),
                                        static_cast<QAbstractItemView*>(list->detailsView())}) {
            view->setDragEnabled(false); // the window's own drag, not the view's
            view->viewport()->installEventFilter(this);
        }
    }
    for (QTreeWidget* tree : {m_ui->LocalDirView, m_ui->KbdDirView}) {
        tree->setDragEnabled(false);
        tree->viewport()->setAcceptDrops(true);
        tree->viewport()->installEventFilter(this);
    }
}

QTreeWidget* TPcLinkForm::TreeOfViewport(QObject* object) const {
    for (QTreeWidget* tree : {m_ui->LocalDirView, m_ui->KbdDirView}) {
        if (object == tree->viewport())
            return tree;
    }
    return nullptr;
}

int TPcLinkForm::dropHighlightRow(const FileListView* list) const {
    return list ? list->dropHighlight() : -1;
}

void TPcLinkForm::SetDropHighlight(FileListView* list, int row, QTreeWidgetItem* node) {
    for (FileListView* each : {m_ui->LocalFileView, m_ui->KbdFileView})
        each->setDropHighlight(each == list ? row : -1);
    if (m_treeHighlight == node)
        return;
    if (m_treeHighlight)
        m_treeHighlight->setData(0, Qt::BackgroundRole, QVariant());
    m_treeHighlight = node;
    if (node) {
        QColor colour = node->treeWidget()->palette().color(QPalette::Highlight);
        colour.setAlpha(110);
        node->setBackground(0, colour);
    }
}

bool TPcLinkForm::TreeViewportEvent(QTreeWidget* tree, QEvent* event) {
    const bool local = tree == m_ui->LocalDirView;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const QString source = dragSource(drag->mimeData());
        QTreeWidgetItem* node = tree->itemAt(drag->position().toPoint());
        if (local ? LocalDirViewDragOver(source, node) : KbdDirViewDragOver(source, node)) {
            // A keyboard folder takes the drop only to say that it is no place for data.
            SetDropHighlight(nullptr, -1, local ? node : nullptr);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            SetDropHighlight(nullptr, -1, nullptr);
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        SetDropHighlight(nullptr, -1, nullptr);
        return true;
    case QEvent::Drop: {
        SetDropHighlight(nullptr, -1, nullptr);
        auto* drop = static_cast<QDropEvent*>(event);
        const QString source = dragSource(drop->mimeData());
        QTreeWidgetItem* node = tree->itemAt(drop->position().toPoint());
        if (!(local ? LocalDirViewDragOver(source, node) : KbdDirViewDragOver(source, node))) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The node may be gone when the drop runs; it is found again by its path.
        const QString path = GetNodePath(node);
        RunDrop([this, tree, source, path] {
            QTreeWidgetItem* again = nullptr;
            for (QTreeWidgetItemIterator it(tree); *it && !again; ++it) {
                if (GetNodePath(*it) == path)
                    again = *it;
            }
            if (tree == m_ui->LocalDirView)
                LocalDirViewDragDrop(source, again);
            else
                KbdDirViewDragDrop(source, again);
        });
        return true;
    }
    default:
        return false;
    }
}

void TPcLinkForm::setDragRunner(DragRunner runner) {
    m_dragRunner = runner ? std::move(runner) : DragRunner(runQtDrag);
}

FileListView* TPcLinkForm::ListOfViewport(QObject* object) const {
    for (FileListView* list : {m_ui->LocalFileView, m_ui->KbdFileView}) {
        if (object == list->iconView()->viewport() || object == list->detailsView()->viewport())
            return list;
    }
    return nullptr;
}

bool TPcLinkForm::ListViewportEvent(FileListView* list, QWidget* viewport, QEvent* event) {
    const bool local = list == m_ui->LocalFileView;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = viewport->mapTo(list, mouse->position().toPoint());
        if (local)
            LocalFileViewMouseDown(mouse->button(), pos);
        else
            KbdFileViewMouseDown(mouse->button(), pos);
        return false; // the view selects the item pressed, which is the one dragged
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_dragArm.list != list || !(mouse->buttons() & Qt::LeftButton))
            return false;
        const QPoint moved =
            viewport->mapTo(list, mouse->position().toPoint()) - m_dragArm.pressPos;
        if (std::max(std::abs(moved.x()), std::abs(moved.y())) >= kDragStartDistance) {
            const DragArm arm = std::exchange(m_dragArm, {});
            // The list may have been filled anew since the button went down.
            if (arm.row < list->count() && list->itemText(arm.row) == arm.text)
                StartListDrag(list, arm.row);
        }
        return true; // the selection stays on the item pressed
    }
    case QEvent::MouseButtonRelease:
        m_dragArm = {};
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const QString source = dragSource(drag->mimeData());
        if (local ? LocalFileViewDragOver(source) : KbdFileViewDragOver(source)) {
            // Marked: a local folder that takes the import, a keyboard slot that takes the file.
            // A drop elsewhere is still taken, as described (into the selected folder, or to be
            // told that it found no slot).
            const int row = list->rowAt(viewport->mapTo(list, drag->position().toPoint()));
            bool target = false;
            if (local) {
                target = m_local->IsFolderItem(row);
            } else {
                const ZxData* entry = m_kbd->KbdItemData(row);
                target = entry && !(entry->attributes() & ZxAttr::Directory);
            }
            SetDropHighlight(list, target ? row : -1, nullptr);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            SetDropHighlight(nullptr, -1, nullptr);
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        SetDropHighlight(nullptr, -1, nullptr);
        return true;
    case QEvent::Drop: {
        SetDropHighlight(nullptr, -1, nullptr);
        auto* drop = static_cast<QDropEvent*>(event);
        const QString source = dragSource(drop->mimeData());
        if (!(local ? LocalFileViewDragOver(source) : KbdFileViewDragOver(source))) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        const QPoint pos = viewport->mapTo(list, drop->position().toPoint());
        if (local)
            RunDrop([this, source, pos] { LocalFileViewDragDrop(source, pos); });
        else
            RunDrop([this, source, pos] { KbdFileViewDragDrop(source, pos); });
        return true;
    }
    default:
        return false;
    }
}

void TPcLinkForm::StartListDrag(FileListView* list, int row) {
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(kListDragType), list->objectName().toUtf8());
    const QPixmap picture = list->itemIcon(row).pixmap(32, 32);
    m_dragRunning = true;
    m_dragRunner(list->currentView()->viewport(), std::move(data), picture);
    m_dragRunning = false;
    if (auto drop = std::exchange(m_pendingDrop, {}))
        drop();
    if (m_closePending && !m_busy) {
        m_closePending = false;
        close();
    }
}

void TPcLinkForm::RunDrop(std::function<void()> drop) {
    // An entry dragged out of the history window has a drag loop of its own, as ours has.
    if (m_dragRunning || (m_historyForm && m_historyForm->isDragging()))
        m_pendingDrop = std::move(drop);
    else
        drop();
}

// ---- Local list ----

bool TPcLinkForm::LocalFileViewMouseDown(Qt::MouseButton button, const QPoint& pos) {
    m_dragArm = {};
    // While a keyboard action runs every drop is refused; a drag would lead nowhere.
    if (button != Qt::LeftButton || m_busy)
        return false;
    FileListView* list = m_ui->LocalFileView;
    const int row = list->rowAt(pos);
    if (row < 0)
        return false;
    m_dragArm = {list, pos, row, list->itemText(row)};
    return true;
}

bool TPcLinkForm::LocalFileViewDragOver(const QString& source) const {
    return source == kKbdListName && !m_busy;
}

void TPcLinkForm::LocalFileViewDragDrop(const QString& source, const QPoint& pos) {
    if (!LocalFileViewDragOver(source))
        return;
    try {
        // Dropped on a folder: open it as a double click does, and import into it.
        m_local->OpenLocalFolder(m_ui->LocalFileView->rowAt(pos));
        ReceiveActionExecute();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

// ---- Keyboard list ----

bool TPcLinkForm::KbdFileViewMouseDown(Qt::MouseButton button, const QPoint& pos) {
    m_dragArm = {};
    if (button != Qt::LeftButton || m_busy || !KbdDrv->isListed())
        return false;
    FileListView* list = m_ui->KbdFileView;
    const int row = list->rowAt(pos);
    const ZxData* entry = m_kbd->KbdItemData(row);
    // Slots only, present or empty; a subfolder holds nothing to import.
    if (!entry || (entry->attributes() & ZxAttr::Directory))
        return false;
    m_dragArm = {list, pos, row, list->itemText(row)};
    return true;
}

bool TPcLinkForm::KbdFileViewDragOver(const QString& source) const {
    return source == kLocalListName && KbdDrv->isListed() && !m_busy;
}

void TPcLinkForm::KbdFileViewDragDrop(const QString& source, const QPoint& pos) {
    if (!KbdFileViewDragOver(source))
        return;
    try {
        const int row = m_ui->KbdFileView->rowAt(pos);
        if (row < 0)
            throw OperateException(OperateException::NoSendTarget);
        const ZxData* entry = m_kbd->KbdItemData(row);
        if (!entry || (entry->attributes() & ZxAttr::Directory))
            throw OperateException(OperateException::NotAcceptable);
        m_ui->KbdFileView->setSelectedRow(row);
        SendActionExecute();
    } catch (...) {
        ReportError(
            QString::fromStdString(describeException(*Messages, std::current_exception()).message));
    }
}

// ---- Trees ----

bool TPcLinkForm::LocalDirViewDragOver(const QString& source, QTreeWidgetItem* node) const {
    return node && LocalFileViewDragOver(source);
}

void TPcLinkForm::LocalDirViewDragDrop(const QString& source, QTreeWidgetItem* node) {
    if (!LocalDirViewDragOver(source, node))
        return;
    try {
        // The folder is opened as if chosen in the tree, and the slot is imported into it.
        m_ui->LocalDirView->setCurrentItem(node);
        ReceiveActionExecute();
    } catch (const std::exception& error) {
        ReportError(QString::fromStdString(error.what()));
    }
}

bool TPcLinkForm::KbdDirViewDragOver(const QString& source, QTreeWidgetItem* node) const {
    return node && KbdFileViewDragOver(source);
}

void TPcLinkForm::KbdDirViewDragDrop(const QString& source, QTreeWidgetItem* node) {
    if (!KbdDirViewDragOver(source, node))
        return;
    // As on a folder entry of the keyboard list: data goes into slots only.
    ReportError(QString::fromStdString(Messages->GetOperateMsg(OperateException::NotAcceptable)));
}

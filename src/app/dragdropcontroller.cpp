#include "app/dragdropcontroller.h"
#include "ui_mainform.h"

#include "app/dialogs/historyform.h"
#include "app/filelistview.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "common/msgstr.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"

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

namespace kbxapp {

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

DragDropController::DragDropController(TPcLinkForm& form, Ui::TPcLinkForm& ui)
    : QObject(&form)
    , m_form(form)
    , m_ui(ui)
    , m_dragRunner(runQtDrag) {
    for (FileListView* list : {ui.LocalFileView, ui.KbdFileView}) {
        list->setViewportDrops(true);
        for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list->iconView()),
                                        static_cast<QAbstractItemView*>(list->detailsView())}) {
            view->setDragEnabled(false); // the window's own drag, not the view's
            view->viewport()->installEventFilter(this);
        }
    }
    for (QTreeWidget* tree : {ui.LocalDirView, ui.KbdDirView}) {
        tree->setDragEnabled(false);
        tree->viewport()->setAcceptDrops(true);
        tree->viewport()->installEventFilter(this);
    }
}

bool DragDropController::eventFilter(QObject* watched, QEvent* event) {
    if (FileListView* list = listOfViewport(watched))
        return listViewportEvent(list, static_cast<QWidget*>(watched), event);
    if (QTreeWidget* tree = treeOfViewport(watched))
        return treeViewportEvent(tree, event);
    return QObject::eventFilter(watched, event);
}

QTreeWidget* DragDropController::treeOfViewport(QObject* object) const {
    for (QTreeWidget* tree : {m_ui.LocalDirView, m_ui.KbdDirView}) {
        if (object == tree->viewport())
            return tree;
    }
    return nullptr;
}

void DragDropController::setDropHighlight(FileListView* list, int row, QTreeWidgetItem* node) {
    for (FileListView* each : {m_ui.LocalFileView, m_ui.KbdFileView})
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

bool DragDropController::treeViewportEvent(QTreeWidget* tree, QEvent* event) {
    const bool local = tree == m_ui.LocalDirView;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const QString source = dragSource(drag->mimeData());
        QTreeWidgetItem* node = tree->itemAt(drag->position().toPoint());
        if (local ? localDirDragOver(source, node) : kbdDirDragOver(source, node)) {
            // A keyboard folder takes the drop only to say that it is no place for data.
            setDropHighlight(nullptr, -1, local ? node : nullptr);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            setDropHighlight(nullptr, -1, nullptr);
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        setDropHighlight(nullptr, -1, nullptr);
        return true;
    case QEvent::Drop: {
        setDropHighlight(nullptr, -1, nullptr);
        auto* drop = static_cast<QDropEvent*>(event);
        const QString source = dragSource(drop->mimeData());
        QTreeWidgetItem* node = tree->itemAt(drop->position().toPoint());
        if (!(local ? localDirDragOver(source, node) : kbdDirDragOver(source, node))) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The node may be gone when the drop runs; it is found again by its path.
        const QString path = m_form.GetNodePath(node);
        runDrop([this, tree, source, path] {
            QTreeWidgetItem* again = nullptr;
            for (QTreeWidgetItemIterator it(tree); *it && !again; ++it) {
                if (m_form.GetNodePath(*it) == path)
                    again = *it;
            }
            if (tree == m_ui.LocalDirView)
                m_form.LocalDirViewDragDrop(source, again);
            else
                m_form.KbdDirViewDragDrop(source, again);
        });
        return true;
    }
    default:
        return false;
    }
}

void DragDropController::setDragRunner(TPcLinkForm::DragRunner runner) {
    m_dragRunner = runner ? std::move(runner) : TPcLinkForm::DragRunner(runQtDrag);
}

FileListView* DragDropController::listOfViewport(QObject* object) const {
    for (FileListView* list : {m_ui.LocalFileView, m_ui.KbdFileView}) {
        if (object == list->iconView()->viewport() || object == list->detailsView()->viewport())
            return list;
    }
    return nullptr;
}

bool DragDropController::listViewportEvent(FileListView* list, QWidget* viewport, QEvent* event) {
    const bool local = list == m_ui.LocalFileView;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = viewport->mapTo(list, mouse->position().toPoint());
        if (local)
            m_form.LocalFileViewMouseDown(mouse->button(), pos);
        else
            m_form.KbdFileViewMouseDown(mouse->button(), pos);
        return false; // the view selects the item pressed, which is the one dragged
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_dragArm.list != list || !(mouse->buttons() & Qt::LeftButton))
            return false;
        const QPoint moved =
            viewport->mapTo(list, mouse->position().toPoint()) - m_dragArm.pressPos;
        if (std::max(std::abs(moved.x()), std::abs(moved.y())) >= TPcLinkForm::kDragStartDistance) {
            const DragArm arm = std::exchange(m_dragArm, {});
            // The list may have been filled anew since the button went down.
            if (arm.row < list->count() && list->itemText(arm.row) == arm.text)
                startListDrag(list, arm.row);
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
        if (local ? m_form.LocalFileViewDragOver(source) : m_form.KbdFileViewDragOver(source)) {
            // Marked: a local folder that takes the import, a keyboard slot that takes the file.
            // A drop elsewhere is still taken, as described (into the selected folder, or to be
            // told that it found no slot).
            const int row = list->rowAt(viewport->mapTo(list, drag->position().toPoint()));
            bool target = false;
            if (local) {
                target = m_form.localPane().IsFolderItem(row);
            } else {
                const ZxData* entry = m_form.kbdPane().KbdItemData(row);
                target = entry && !(entry->attributes() & ZxAttr::Directory);
            }
            setDropHighlight(list, target ? row : -1, nullptr);
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            setDropHighlight(nullptr, -1, nullptr);
            drag->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        setDropHighlight(nullptr, -1, nullptr);
        return true;
    case QEvent::Drop: {
        setDropHighlight(nullptr, -1, nullptr);
        auto* drop = static_cast<QDropEvent*>(event);
        const QString source = dragSource(drop->mimeData());
        if (!(local ? m_form.LocalFileViewDragOver(source) : m_form.KbdFileViewDragOver(source))) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        const QPoint pos = viewport->mapTo(list, drop->position().toPoint());
        if (local)
            runDrop([this, source, pos] { m_form.LocalFileViewDragDrop(source, pos); });
        else
            runDrop([this, source, pos] { m_form.KbdFileViewDragDrop(source, pos); });
        return true;
    }
    default:
        return false;
    }
}

void DragDropController::startListDrag(FileListView* list, int row) {
    auto data = std::make_unique<QMimeData>();
    data->setData(QString::fromLatin1(TPcLinkForm::kListDragType), list->objectName().toUtf8());
    const QPixmap picture = list->itemIcon(row).pixmap(32, 32);
    m_dragRunning = true;
    m_dragRunner(list->currentView()->viewport(), std::move(data), picture);
    m_dragRunning = false;
    runPendingDrop();
    m_form.CloseIfPending();
}

void DragDropController::runDrop(std::function<void()> drop) {
    // An entry dragged out of the history window has a drag loop of its own, as ours has.
    const THistoryForm* history = m_form.historyForm();
    if (m_dragRunning || (history && history->isDragging()))
        m_pendingDrop = std::move(drop);
    else
        drop();
}

void DragDropController::runPendingDrop() {
    if (auto drop = std::exchange(m_pendingDrop, {}))
        drop();
}

// ---- Local list ----

bool DragDropController::localFileMouseDown(Qt::MouseButton button, const QPoint& pos) {
    m_dragArm = {};
    // While a keyboard action runs every drop is refused; a drag would lead nowhere.
    if (button != Qt::LeftButton || m_form.isBusy())
        return false;
    FileListView* list = m_ui.LocalFileView;
    const int row = list->rowAt(pos);
    if (row < 0)
        return false;
    m_dragArm = {list, pos, row, list->itemText(row)};
    return true;
}

bool DragDropController::localFileDragOver(const QString& source) const {
    return source == kKbdListName && !m_form.isBusy();
}

void DragDropController::localFileDrop(const QString& source, const QPoint& pos) {
    if (!localFileDragOver(source))
        return;
    try {
        // Dropped on a folder: open it as a double click does, and import into it.
        m_form.localPane().OpenLocalFolder(m_ui.LocalFileView->rowAt(pos));
        m_form.ReceiveActionExecute();
    } catch (const std::exception& error) {
        m_form.ReportError(QString::fromStdString(error.what()));
    }
}

// ---- Keyboard list ----

bool DragDropController::kbdFileMouseDown(Qt::MouseButton button, const QPoint& pos) {
    m_dragArm = {};
    if (button != Qt::LeftButton || m_form.isBusy() || !m_form.kbdDrv().isListed())
        return false;
    FileListView* list = m_ui.KbdFileView;
    const int row = list->rowAt(pos);
    const ZxData* entry = m_form.kbdPane().KbdItemData(row);
    // Slots only, present or empty; a subfolder holds nothing to import.
    if (!entry || (entry->attributes() & ZxAttr::Directory))
        return false;
    m_dragArm = {list, pos, row, list->itemText(row)};
    return true;
}

bool DragDropController::kbdFileDragOver(const QString& source) const {
    return source == kLocalListName && m_form.kbdDrv().isListed() && !m_form.isBusy();
}

void DragDropController::kbdFileDrop(const QString& source, const QPoint& pos) {
    if (!kbdFileDragOver(source))
        return;
    try {
        const int row = m_ui.KbdFileView->rowAt(pos);
        if (row < 0)
            throw OperateException(OperateException::NoSendTarget);
        const ZxData* entry = m_form.kbdPane().KbdItemData(row);
        if (!entry || (entry->attributes() & ZxAttr::Directory))
            throw OperateException(OperateException::NotAcceptable);
        m_ui.KbdFileView->setSelectedRow(row);
        m_form.SendActionExecute();
    } catch (...) {
        m_form.ReportError(QString::fromStdString(
            describeException(m_form.messages(), std::current_exception()).message));
    }
}

// ---- Trees ----

bool DragDropController::localDirDragOver(const QString& source, QTreeWidgetItem* node) const {
    return node && localFileDragOver(source);
}

void DragDropController::localDirDrop(const QString& source, QTreeWidgetItem* node) {
    if (!localDirDragOver(source, node))
        return;
    try {
        // The folder is opened as if chosen in the tree, and the slot is imported into it.
        m_ui.LocalDirView->setCurrentItem(node);
        m_form.ReceiveActionExecute();
    } catch (const std::exception& error) {
        m_form.ReportError(QString::fromStdString(error.what()));
    }
}

bool DragDropController::kbdDirDragOver(const QString& source, QTreeWidgetItem* node) const {
    return node && kbdFileDragOver(source);
}

void DragDropController::kbdDirDrop(const QString& source, QTreeWidgetItem* node) {
    if (!kbdDirDragOver(source, node))
        return;
    // As on a folder entry of the keyboard list: data goes into slots only.
    m_form.ReportError(
        QString::fromStdString(m_form.messages().GetOperateMsg(OperateException::NotAcceptable)));
}

} // namespace kbxapp

#pragma once
// Drag and drop between the two lists of the main window: a local file dropped on a keyboard
// slot is sent there, a keyboard slot dropped on the local list is imported. The handlers only
// adjust the selections and run Send or Import, so a drop reports like the toolbar command.
// While a drag is over a list or tree, the item the drop would go to is marked; where a drop is
// refused the toolkit shows its forbidden pointer. It watches the viewports of the lists and
// trees; the window's described handlers (LocalFileViewDragDrop, ...) come here.

#include "app/mainform.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <functional>

class FileListView;
class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class TPcLinkForm;
}

namespace kbxapp {

class DragDropController : public QObject {
public:
    DragDropController(TPcLinkForm& form, Ui::TPcLinkForm& ui);

    void setDragRunner(TPcLinkForm::DragRunner runner);
    bool isDragging() const { return m_dragRunning; }
    void runDrop(std::function<void()> drop);
    void runPendingDrop();

    bool localFileMouseDown(Qt::MouseButton button, const QPoint& pos);
    bool localFileDragOver(const QString& source) const;
    void localFileDrop(const QString& source, const QPoint& pos);
    bool kbdFileMouseDown(Qt::MouseButton button, const QPoint& pos);
    bool kbdFileDragOver(const QString& source) const;
    void kbdFileDrop(const QString& source, const QPoint& pos);
    bool localDirDragOver(const QString& source, QTreeWidgetItem* node) const;
    void localDirDrop(const QString& source, QTreeWidgetItem* node);
    bool kbdDirDragOver(const QString& source, QTreeWidgetItem* node) const;
    void kbdDirDrop(const QString& source, QTreeWidgetItem* node);
    QTreeWidgetItem* dropHighlightNode() const { return m_treeHighlight; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FileListView* listOfViewport(QObject* object) const;
    bool listViewportEvent(FileListView* list, QWidget* viewport, QEvent* event);
    QTreeWidget* treeOfViewport(QObject* object) const;
    bool treeViewportEvent(QTreeWidget* tree, QEvent* event);
    // Marks the row (or the node) that a drop would go to, and takes the mark off the rest.
    void setDropHighlight(FileListView* list, int row, QTreeWidgetItem* node);
    void startListDrag(FileListView* list, int row);

    TPcLinkForm& m_form;
    Ui::TPcLinkForm& m_ui;
    struct DragArm {
        FileListView* list = nullptr;
        QPoint pressPos; // list coordinates
        int row = -1;
        QString text;
    };
    DragArm m_dragArm;
    TPcLinkForm::DragRunner m_dragRunner;
    bool m_dragRunning = false;
    QTreeWidgetItem* m_treeHighlight = nullptr;
    std::function<void()> m_pendingDrop;
};

} // namespace kbxapp

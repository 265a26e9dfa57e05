#pragma once
// KbdPane: the lower pane of the main window, the keyboard as a drive: its folders in a tree
// and the chosen folder's slots and subfolders in a list with four view styles. It shows what
// the drive holds and never talks to the keyboard itself.

#include "protocol/zxexception.h"

#include <QObject>
#include <QString>
#include <array>
#include <string>

class FileListView;
class MsgStr;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class ZxData;
class ZxKbdDrv;

class KbdPane : public QObject {
    Q_OBJECT
public:
    // The widgets come from the window's form; the view buttons in the order of their tags.
    KbdPane(QTreeWidget* tree, FileListView* list, const std::array<QToolButton*, 4>& viewButtons,
            ZxKbdDrv& drive, const QString& modelName, const MsgStr& messages, QObject* parent);

    QTreeWidget* tree() const { return m_tree; }
    FileListView* list() const { return m_list; }

    // The keyboard path of a tree node as shown, and in the drive's single-byte text; both end
    // in a backslash.
    QString GetNodePath(QTreeWidgetItem* node) const;
    std::string GetKbdNodePath(QTreeWidgetItem* node) const;
    void SetupKbdDirView();
    void AddKbdSubDirs(QTreeWidgetItem* node);
    void ListKbdFiles(QTreeWidgetItem* node);

    // The data node of a tree node or list item (none for the tree's root).
    static ZxData* KbdNodeData(QTreeWidgetItem* node);
    ZxData* KbdItemData(int row) const;
    // The slot selected in the list. Throws `none` when nothing is selected and `notSlot` for
    // a subfolder.
    ZxData* SelectedSlot(OperateException::Code none, OperateException::Code notSlot) const;
    // Checks the view button of the style and shows the list in it.
    void SelectViewStyle(int tag);

Q_SIGNALS:
    // After every listing: whether the listed folder's slots can be deleted.
    void deletableChanged(bool deletable);

public Q_SLOTS:
    void KbdFileViewBtnsClick(int tag);
    void KbdDirViewChange(QTreeWidgetItem* node);
    void KbdDirViewExpanding(QTreeWidgetItem* node);
    void KbdFileViewDblClick(int row);

private:
    QTreeWidget* m_tree;
    FileListView* m_list;
    std::array<QToolButton*, 4> m_viewButtons;
    ZxKbdDrv& m_drive;
    QString m_modelName;
    const MsgStr& m_messages;
};

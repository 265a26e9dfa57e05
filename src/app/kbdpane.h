#pragma once
// KbdPane: the lower pane of the main window, the keyboard as a drive: its folders in a tree
// and the chosen folder's slots and subfolders in a list with four view styles. It shows what
// the drive holds and never talks to the keyboard itself.

#include "protocol/zxexception.h"

#include <QObject>
#include <QString>
#include <QStringList>
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

    // Where the user is in the pane: the expanded folders and the selected folder by their
    // paths, and the selected slot by its place in the list (a slot keeps its place, not its
    // name, when data goes in or out).
    struct Place {
        QStringList expanded;
        QString current;
        int row = -1;
    };
    Place CurrentPlace() const;
    // Goes back to a place, as far as its folders and slot still exist.
    void RestorePlace(const Place& place);
    // SetupKbdDirView, and back to the place the user was at (after a list).
    void SetupKbdDirViewKeepingPlace();
    // Fills the list of the selected folder again and selects the slot that was selected.
    void RelistKeepingSelection();
    // The selected list item's text without the name's padding blanks; empty for none.
    QString SelectedItemText() const;

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
    // Enter on a slot: its properties.
    void propertiesRequested();

public Q_SLOTS:
    void KbdFileViewBtnsClick(int tag);
    void KbdDirViewChange(QTreeWidgetItem* node);
    void KbdDirViewExpanding(QTreeWidgetItem* node);
    void KbdFileViewDblClick(int row);
    // Enter on a list item: a subfolder opens as by a double click, a slot shows its properties.
    void KbdFileViewReturnPressed(int row);

private:
    QTreeWidget* m_tree;
    FileListView* m_list;
    std::array<QToolButton*, 4> m_viewButtons;
    ZxKbdDrv& m_drive;
    QString m_modelName;
    const MsgStr& m_messages;
};

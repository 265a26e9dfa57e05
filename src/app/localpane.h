#pragma once
// LocalPane: the upper pane of the main window, the computer's drives and folders in a tree and
// the chosen folder's entries in a list with four view styles. It reads the disk only; the
// window runs the actions on what the pane has selected.

#include <QObject>
#include <QString>
#include <array>
#include <memory>

class FileListView;
class QFileIconProvider;
class QFileInfo;
class QMimeDatabase;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class ZxDataFile;

class LocalPane : public QObject {
    Q_OBJECT
public:
    // The widgets come from the window's form; the view buttons in the order of their tags.
    LocalPane(QTreeWidget* tree, FileListView* list, const std::array<QToolButton*, 4>& viewButtons,
              QObject* parent);
    ~LocalPane() override;

    QTreeWidget* tree() const { return m_tree; }
    FileListView* list() const { return m_list; }

    // The folder of a tree node, with a separator at its end.
    QString GetNodePath(QTreeWidgetItem* node) const;
    // Fills the tree with the drives and selects the default folder, or the deepest folder of
    // it that exists.
    void SetupLocalDirView(const QString& defaultDir);
    // Selects the folder in the tree, or the deepest folder of it that exists.
    void SelectLocalFolder(const QString& dir);
    // Shows a file's folder with the file selected (a folder: shows it); false when there is no
    // such entry to show.
    bool ShowFile(const QString& path);
    // The folder shown (with its separator), and the path of the selected item; empty for none.
    QString ShownFolder() const;
    QString SelectedPath() const;
    void AddLocalSubDirs(QTreeWidgetItem* node);
    bool HasSubDirs(const QString& path) const;
    QTreeWidgetItem* FindLocalNode(const QString& path, QTreeWidgetItem* node);
    void ListLocalFiles(QTreeWidgetItem* node);
    // Lists the selected folder again and keeps the selected item.
    void RefreshLocalFiles();
    // Selects the first list item with the text; false when there is none.
    bool SelectItem(const QString& text);
    // Opens the folder of a list item as a double click does; false for a file.
    bool OpenLocalFolder(int row);
    // Whether a list item is a folder on disk.
    bool IsFolderItem(int row) const;
    // The data file of a list item, read on the first call of a listing and kept with the item;
    // none for a folder or a name without ".kbx". Throws what reading throws.
    std::shared_ptr<ZxDataFile> ItemDataFile(int row);
    // The small file manager: each returns the failure's text for the user, empty when done,
    // and leaves the list read again with the item it made or renamed selected.
    QString RenameItem(int row, const QString& newName);
    QString TrashItem(int row); // into the desktop's trash, from where it can be taken back
    QString MakeFolder(const QString& name);
    // Shows the folder above the shown one, with the folder it came from selected.
    bool GoUp();

    // Checks the view button of the style and shows the list in it.
    void SelectViewStyle(int tag);
    // Brings the selected folder into view, once the tree has its size.
    void ScrollToCurrent();

    // The size text of a local file: its bytes, in groups of three digits.
    static QString LocalSizeText(qint64 bytes);

public Q_SLOTS:
    void LocalFileViewBtnsClick(int tag);
    void LocalDirViewChange(QTreeWidgetItem* node);
    void LocalDirViewExpanding(QTreeWidgetItem* node);
    void LocalFileViewChange(int row);
    void LocalFileViewDblClick(int row);
    // Enter on a list item: a folder opens, a file shows its properties.
    void LocalFileViewReturnPressed(int row);

Q_SIGNALS:
    void propertiesRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LocalDirViewCollapsed(QTreeWidgetItem* node);
    // Reads the shown folder's tree level and list again, then selects the named entry.
    void ReloadSelecting(const QString& name);
    bool SelectTreeChild(QTreeWidgetItem* node, const QString& text);
    QString LocalTypeName(const QFileInfo& info) const;

    QTreeWidget* m_tree;
    FileListView* m_list;
    std::array<QToolButton*, 4> m_viewButtons;
    std::unique_ptr<QFileIconProvider> m_iconProvider;
    std::unique_ptr<QMimeDatabase> m_mimeDatabase;
    int m_expandingDetached = 0; // > 0 while the tree's expansion handler is detached
};

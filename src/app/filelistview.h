#pragma once
// A file list with the four view styles of a desktop file manager: large icons, small icons,
// list and details with columns. One model is shown by an icon view (the first three styles) or
// a details view, which share their selection, so switching styles keeps what is selected.

#include <QIcon>
#include <QStackedWidget>
#include <QVariant>

class QAbstractItemView;
class QListView;
class QStandardItemModel;
class QTreeView;

class FileListView : public QStackedWidget {
    Q_OBJECT
public:
    enum ViewStyle { LargeIcon = 0, SmallIcon = 1, List = 2, Report = 3 };

    explicit FileListView(QWidget* parent = nullptr);
    ~FileListView() override;

    // Column titles and widths of the details view; the columns listed in rightAligned show
    // their texts right-aligned.
    void setColumns(const QStringList& titles, const QList<int>& widths,
                    const QList<int>& rightAligned);

    void setViewStyle(int style);
    int viewStyle() const { return m_style; }

    void clear();
    // Appends an item; subItems fill the columns after the first. Returns its row.
    int addItem(const QIcon& icon, const QString& text, const QStringList& subItems = {},
                const QVariant& data = {});
    int count() const;
    QString itemText(int row) const;
    QString subItemText(int row, int column) const;
    QIcon itemIcon(int row) const;
    QVariant itemData(int row) const;
    void setItemData(int row, const QVariant& data);

    // The selected item's row, or -1.
    int selectedRow() const;
    // Selects the row and makes it current; -1 clears the selection.
    void setSelectedRow(int row);
    // Every selected row (the lists take several), in the list's order; and a selection of them.
    QList<int> selectedRows() const;
    void setSelectedRows(const QList<int>& rows);
    // The row under a point given in this widget's coordinates, or -1.
    int rowAt(const QPoint& pos) const;

    // Lets the viewports of both views take drag-and-drop events, for a handler that filters
    // them; the views themselves neither start drags nor take drops.
    void setViewportDrops(bool accept);
    // Marks the item a drag would drop on, or none with -1; the selection is left alone.
    void setDropHighlight(int row);
    int dropHighlight() const { return m_dropHighlight; }

    QAbstractItemView* currentView() const;
    QListView* iconView() const { return m_icons; }
    QTreeView* detailsView() const { return m_details; }
    QStandardItemModel* model() const { return m_model; }

Q_SIGNALS:
    void itemDoubleClicked(int row);
    void currentRowChanged(int row);
    // The selection has changed: selectedRow() already tells the new one (currentRowChanged
    // comes before the selection follows a click).
    void selectionChanged();
    void contextMenuRequested(const QPoint& globalPos);
    // Enter or Return on the current item, without Alt or Ctrl (Alt+Enter is a command's key).
    void returnPressed(int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void nameViews(const QString& name);

    QStandardItemModel* m_model;
    QListView* m_icons;
    QTreeView* m_details;
    QList<int> m_rightAligned;
    int m_style = LargeIcon;
    bool m_viewportDrops = false;
    int m_dropHighlight = -1;
};

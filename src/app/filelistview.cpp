#include "filelistview.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>

namespace {

// Icon labels break between any two characters, not only at blanks: a name without blanks
// ("SNG_Minuet.kbx", a Japanese name) would otherwise be cut after its first letters on one line,
// and names that begin alike would look alike. Zero-width spaces give the line breaker its
// chances; the text itself is not changed.
class WrappingIconDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->features & QStyleOptionViewItem::WrapText) ||
            option->decorationPosition != QStyleOptionViewItem::Top)
            return;
        QString text;
        text.reserve(option->text.size() * 2);
        for (qsizetype i = 0; i < option->text.size(); ++i) {
            text += option->text[i];
            if (!option->text[i].isHighSurrogate() && i + 1 < option->text.size())
                text += QChar(0x200B);
        }
        option->text = text;
    }
};

constexpr int kDataRole = Qt::UserRole + 1;

// The large icons' cell: three lines of label under the icon before the last one is elided.
// Japanese glyphs come from a fallback font with taller lines than the list's own, so the sample
// holds both.
QSize largeIconGrid(const QListView* icons) {
    const QFontMetrics metrics(icons->font());
    const int width = std::max(88, metrics.horizontalAdvance(QLatin1Char('n')) * 14);
    const int label = metrics
                          .boundingRect(QRect(0, 0, width, 1000), Qt::AlignLeft,
                                        QStringLiteral("Ag\u3042\nAg\u3042\nAg\u3042"))
                          .height();
    return {width, icons->iconSize().height() + label + 12};
}

} // namespace

FileListView::FileListView(QWidget* parent)
    : QStackedWidget(parent)
    , m_model(new QStandardItemModel(this))
    , m_icons(new QListView(this))
    , m_details(new QTreeView(this)) {
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_icons), static_cast<QAbstractItemView*>(m_details)}) {
        view->setModel(m_model);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QAbstractItemView::doubleClicked, this,
                [this](const QModelIndex& index) { Q_EMIT itemDoubleClicked(index.row()); });
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            Q_EMIT contextMenuRequested(view->viewport()->mapToGlobal(pos));
        });
        view->installEventFilter(this);
    }
    // One selection for both views.
    m_details->setSelectionModel(m_icons->selectionModel());
    connect(m_icons->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                Q_EMIT currentRowChanged(current.isValid() ? current.row() : -1);
            });
    connect(m_icons->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FileListView::selectionChanged);
    m_icons->setItemDelegate(new WrappingIconDelegate(m_icons));

    m_details->setRootIsDecorated(false);
    m_details->setItemsExpandable(false);
    m_details->setUniformRowHeights(true);
    m_details->setAllColumnsShowFocus(true);
    m_details->setIconSize(QSize(16, 16));
    m_details->header()->setStretchLastSection(false);
    m_details->header()->setSectionsMovable(false);

    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setWrapping(true);
    m_icons->setWordWrap(true);
    m_icons->setTextElideMode(Qt::ElideRight);

    addWidget(m_icons);
    addWidget(m_details);
    connect(this, &QObject::objectNameChanged, this, &FileListView::nameViews);
    setViewStyle(LargeIcon);
}

FileListView::~FileListView() = default;

void FileListView::nameViews(const QString& name) {
    // The inner views carry the list's name, so code that asks the focused control for its name
    // finds the list it belongs to.
    m_icons->setObjectName(name + QStringLiteral("Icons"));
    m_details->setObjectName(name + QStringLiteral("Details"));
}

void FileListView::setColumns(const QStringList& titles, const QList<int>& widths,
                              const QList<int>& rightAligned) {
    m_model->setColumnCount(static_cast<int>(titles.size()));
    m_model->setHorizontalHeaderLabels(titles);
    m_rightAligned = rightAligned;
    for (int column : rightAligned)
        m_model->setHeaderData(
            column, Qt::Horizontal,
            QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter)),
            Qt::TextAlignmentRole);
    for (int i = 0; i < widths.size(); ++i)
        m_details->setColumnWidth(i, widths[i]);
}

void FileListView::setViewStyle(int style) {
    const bool hadFocus = currentWidget() && currentWidget()->hasFocus();
    m_style = style;
    switch (style) {
    case LargeIcon:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(largeIconGrid(m_icons));
        m_icons->setSpacing(0);
        break;
    case SmallIcon:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize(160, 20));
        m_icons->setSpacing(0);
        break;
    case List:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setFlow(QListView::TopToBottom);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize());
        m_icons->setSpacing(1);
        break;
    default:
        m_style = Report;
        break;
    }
    // The list modes above reset wrapping and movement; keep the desktop's arrangement.
    m_icons->setWrapping(true);
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    // A static icon view switches its viewport's drops off.
    m_icons->viewport()->setAcceptDrops(m_viewportDrops);

    QWidget* view = m_style == Report ? static_cast<QWidget*>(m_details) : m_icons;
    setCurrentWidget(view);
    setFocusProxy(view);
    if (hadFocus)
        view->setFocus();
    const QModelIndex current = m_icons->selectionModel()->currentIndex();
    if (current.isValid())
        static_cast<QAbstractItemView*>(view)->scrollTo(current);
}

bool FileListView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FontChange && watched == m_icons && m_style == LargeIcon)
        m_icons->setGridSize(largeIconGrid(m_icons));
    if (event->type() == QEvent::KeyPress && (watched == m_icons || watched == m_details)) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const int row = selectedRow();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            modifiers == Qt::NoModifier && row >= 0) {
            Q_EMIT returnPressed(row);
            return true;
        }
    }
    return QStackedWidget::eventFilter(watched, event);
}

void FileListView::setDropHighlight(int row) {
    if (row == m_dropHighlight)
        return;
    auto paint = [this](int r, const QVariant& brush) {
        if (r < 0 || r >= m_model->rowCount())
            return;
        for (int column = 0; column < m_model->columnCount(); ++column)
            m_model->setData(m_model->index(r, column), brush, Qt::BackgroundRole);
    };
    paint(m_dropHighlight, QVariant());
    m_dropHighlight = row >= 0 && row < count() ? row : -1;
    // The selection's colour, lighter, so that the target stands out beside the selection.
    QColor colour = palette().color(QPalette::Highlight);
    colour.setAlpha(110);
    paint(m_dropHighlight, QBrush(colour));
}

void FileListView::clear() {
    m_dropHighlight = -1;
    // The rows' data may point into a tree that is gone already: nobody is told of a current row
    // while they go, only of the empty list afterwards.
    {
        const QSignalBlocker quiet(m_icons->selectionModel());
        m_model->removeRows(0, m_model->rowCount());
    }
    Q_EMIT currentRowChanged(-1);
    Q_EMIT selectionChanged();
}

int FileListView::addItem(const QIcon& icon, const QString& text, const QStringList& subItems,
                          const QVariant& data) {
    QList<QStandardItem*> row;
    auto* first = new QStandardItem(icon, text);
    first->setData(data, kDataRole);
    first->setToolTip(text);
    row << first;
    for (int column = 1; column < m_model->columnCount(); ++column) {
        auto* cell =
            new QStandardItem(column - 1 < subItems.size() ? subItems[column - 1] : QString());
        if (m_rightAligned.contains(column))
            cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row << cell;
    }
    for (QStandardItem* cell : row)
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    m_model->appendRow(row);
    return m_model->rowCount() - 1;
}

int FileListView::count() const {
    return m_model->rowCount();
}

QString FileListView::itemText(int row) const {
    return m_model->index(row, 0).data().toString();
}

QString FileListView::subItemText(int row, int column) const {
    return m_model->index(row, column).data().toString();
}

QIcon FileListView::itemIcon(int row) const {
    return m_model->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
}

QVariant FileListView::itemData(int row) const {
    return m_model->index(row, 0).data(kDataRole);
}

void FileListView::setItemData(int row, const QVariant& data) {
    m_model->setData(m_model->index(row, 0), data, kDataRole);
}

int FileListView::selectedRow() const {
    // Of several, the current one: the item the user clicked last.
    const QItemSelectionModel* selection = m_icons->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row()))
        return current.row();
    const QList<int> rows = selectedRows();
    return rows.isEmpty() ? -1 : rows.first();
}

QList<int> FileListView::selectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : m_icons->selectionModel()->selectedIndexes())
        if (!rows.contains(index.row()))
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FileListView::setSelectedRows(const QList<int>& rows) {
    QItemSelectionModel* selection = m_icons->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        if (row >= 0 && row < count())
            selection->select(m_model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void FileListView::setSelectedRow(int row) {
    QItemSelectionModel* selection = m_icons->selectionModel();
    if (row < 0 || row >= count()) {
        selection->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    currentView()->scrollTo(index);
}

int FileListView::rowAt(const QPoint& pos) const {
    QAbstractItemView* view = currentView();
    const QPoint local = view->viewport()->mapFrom(this, pos);
    const QModelIndex index = view->indexAt(local);
    return index.isValid() ? index.row() : -1;
}

void FileListView::setViewportDrops(bool accept) {
    m_viewportDrops = accept;
    m_icons->viewport()->setAcceptDrops(accept);
    m_details->viewport()->setAcceptDrops(accept);
}

QAbstractItemView* FileListView::currentView() const {
    return m_style == Report ? static_cast<QAbstractItemView*>(m_details) : m_icons;
}

#include "historyform.h"

#include "data/zxlayout.h"

#include "kbxnames.h"
#include "ops/slotref.h"
#include "slotnames.h"
#include "zxdata.h"
#include "zxkbddrv.h"
#include "zxkinds.h"

#include <QComboBox>
#include <QDrag>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <map>

// A list that drags its selected entry's id, and tells its form while the drag runs.
class HistoryEntryList : public QTreeWidget {
public:
    explicit HistoryEntryList(THistoryForm* form)
        : m_form(form) {}

protected:
    void startDrag(Qt::DropActions actions) override {
        m_form->m_dragging = true;
        QTreeWidget::startDrag(actions);
        m_form->m_dragging = false;
        Q_EMIT m_form->dragFinished();
    }
    QStringList mimeTypes() const override {
        return {QString::fromLatin1(THistoryForm::kEntryDragType)};
    }
    QMimeData* mimeData(const QList<QTreeWidgetItem*>& items) const override {
        if (items.isEmpty())
            return nullptr;
        auto* data = new QMimeData;
        data->setData(QString::fromLatin1(THistoryForm::kEntryDragType),
                      QByteArray::number(items.first()->data(0, Qt::UserRole).toLongLong()));
        return data;
    }

private:
    THistoryForm* m_form;
};

namespace {

constexpr int kGroupRole = Qt::UserRole + 1;

// The window's words for kinds and operations, in the interface's language; the database and
// kbxtool's JSON keep their own English words.
QString kindTitle(std::uint16_t kind) {
    switch (kind) {
    case ZxKind::Tone:
        return THistoryForm::tr("Tone");
    case ZxKind::Dsp:
        return THistoryForm::tr("DSP");
    case ZxKind::Registration:
        return THistoryForm::tr("Registration");
    case ZxKind::Song:
        return THistoryForm::tr("Song");
    case ZxKind::Rhythm:
        return THistoryForm::tr("Rhythm");
    default:
        return QString::number(kind);
    }
}

QString operationTitle(kbxops::Operation operation) {
    switch (operation) {
    case kbxops::Operation::Send:
        return THistoryForm::tr("send");
    case kbxops::Operation::Delete:
        return THistoryForm::tr("delete");
    case kbxops::Operation::Restore:
        return THistoryForm::tr("restore");
    case kbxops::Operation::Undo:
        return THistoryForm::tr("undo");
    }
    return kbxops::operationName(operation);
}

QString undone(const QString& operation) {
    return THistoryForm::tr("%1 (undone)").arg(operation);
}

QString nameOf(const std::optional<kbxops::ItemRecord>& item) {
    return item ? kbxapp::itemName(item->name) : THistoryForm::tr("(empty)");
}

} // namespace

std::vector<TSendToSlotForm::Slot> slotsOfKind(std::uint16_t kind) {
    std::vector<TSendToSlotForm::Slot> offered;
    for (const ZxSlotLayout& s : ZxLayout::slotTable()) {
        if (s.kind != kind)
            continue;
        const kbxops::SlotAddress address{s.kind, s.number, s.bank};
        offered.push_back(
            {kbxops::shortForm(address), s.number + 1, kbxapp::slotTitle(address), {}, {}});
    }
    return offered;
}

THistoryForm::THistoryForm(kbxops::History& history, QWidget* parent)
    : QDialog(parent)
    , m_history(history) {
    setObjectName(QStringLiteral("HistoryForm"));
    setWindowTitle(tr("History"));
    auto* layout = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(tr("Kind:")));
    m_kind = new QComboBox;
    m_kind->setObjectName(QStringLiteral("KindFilter"));
    m_kind->addItem(tr("All"), 0);
    for (const ZxKindInfo& info : ZxKind::table())
        m_kind->addItem(kindTitle(info.code), info.code);
    filters->addWidget(m_kind);
    filters->addWidget(new QLabel(tr("Find:")));
    m_text = new QLineEdit;
    m_text->setObjectName(QStringLiteral("TextFilter"));
    m_text->setClearButtonEnabled(true);
    filters->addWidget(m_text, 1);
    layout->addLayout(filters);

    m_list = new HistoryEntryList(this);
    m_list->setObjectName(QStringLiteral("EntryList"));
    m_list->setRootIsDecorated(true);
    m_list->setHeaderLabels(
        {tr("Time"), tr("Operation"), tr("Slot"), tr("Kind"), tr("Before → After"), tr("Size")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    layout->addWidget(m_list, 1);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](const QString& text, const char* name) {
        auto* b = new QPushButton(text);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    m_sendBack = button(tr("Send Back to Keyboard"), "SendBackBtn");
    m_sendTo = button(tr("Send to Slot..."), "SendToBtn");
    m_save = button(tr("Save As File..."), "SaveBtn");
    buttons->addStretch(1);
    m_undo = button(tr("Undo"), "UndoBtn");
    auto* close = button(tr("Close"), "CloseBtn");
    layout->addLayout(buttons);

    connect(m_kind, &QComboBox::currentIndexChanged, this, [this] { ApplyFilter(); });
    connect(m_text, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
    connect(m_sendBack, &QPushButton::clicked, this, &THistoryForm::SendBackClick);
    connect(m_sendTo, &QPushButton::clicked, this, &THistoryForm::SendToSlotClick);
    connect(m_save, &QPushButton::clicked, this, &THistoryForm::SaveClick);
    connect(m_undo, &QPushButton::clicked, this, &THistoryForm::undoRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    resize(760, 420);
    Refresh();
}

void THistoryForm::Refresh() {
    const std::optional<kbxops::HistoryEntry> selected = SelectedEntry();
    try {
        m_entries = m_history.entries();
    } catch (const std::exception&) {
        m_entries.clear(); // no history yet: nothing to show
    }
    ApplyFilter();
    if (selected)
        SelectEntry(selected->id);
}

void THistoryForm::ApplyFilter() {
    const std::uint16_t kind = static_cast<std::uint16_t>(m_kind->currentData().toUInt());
    const QString text = m_text->text().trimmed();
    m_list->clear();
    std::map<qint64, QTreeWidgetItem*> groups;
    for (const kbxops::HistoryEntry& entry : m_entries) {
        if (kind && entry.kind != kind)
            continue;
        const QString names = nameOf(entry.before) + QStringLiteral(" → ") + nameOf(entry.after);
        const QStringList columns{
            entry.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            entry.undone ? undone(operationTitle(entry.operation))
                         : operationTitle(entry.operation),
            kbxapp::slotTitle(entry.slot),
            kindTitle(entry.kind),
            names,
            QString::number(entry.before  ? entry.before->size
                            : entry.after ? entry.after->size
                                          : 0)};
        if (!text.isEmpty() && !columns.join(QLatin1Char(' ')).contains(text, Qt::CaseInsensitive))
            continue;
        // A change of many slots is one row, its slots beneath it.
        QTreeWidgetItem* parent = nullptr;
        if (entry.group) {
            auto& groupRow = groups[entry.group];
            if (!groupRow) {
                groupRow = new QTreeWidgetItem(m_list);
                groupRow->setText(0, columns[0]);
                groupRow->setText(1, operationTitle(entry.operation));
                groupRow->setFlags(groupRow->flags() & ~Qt::ItemIsDragEnabled);
                groupRow->setData(0, Qt::UserRole, qint64(0));
                groupRow->setData(0, kGroupRole, entry.group);
            }
            parent = groupRow;
        }
        auto* row =
            parent ? new QTreeWidgetItem(parent, columns) : new QTreeWidgetItem(m_list, columns);
        row->setData(0, Qt::UserRole, entry.id);
        // Only an entry that kept an item can give it back.
        if (!entry.before)
            row->setFlags(row->flags() & ~Qt::ItemIsDragEnabled);
    }
    // Each group row says how many of its slots are shown, and whether all are undone.
    for (const auto& [group, row] : groups) {
        bool allUndone = true;
        for (const kbxops::HistoryEntry& entry : m_entries)
            if (entry.group == group)
                allUndone = allUndone && entry.undone;
        row->setText(2,
                     row->childCount() == 1 ? tr("1 slot") : tr("%1 slots").arg(row->childCount()));
        if (allUndone)
            row->setText(1, undone(row->text(1)));
    }
    UpdateButtons();
}

std::optional<kbxops::HistoryEntry> THistoryForm::SelectedEntry() const {
    const QList<QTreeWidgetItem*> rows = m_list->selectedItems();
    if (rows.isEmpty())
        return std::nullopt;
    const qint64 id = rows.first()->data(0, Qt::UserRole).toLongLong();
    for (const kbxops::HistoryEntry& entry : m_entries)
        if (entry.id == id)
            return entry;
    return std::nullopt;
}

bool THistoryForm::SelectEntry(qint64 id) {
    for (QTreeWidgetItemIterator it(m_list); *it; ++it) {
        QTreeWidgetItem* row = *it;
        if (row->data(0, Qt::UserRole).toLongLong() == id) {
            if (row->parent())
                row->parent()->setExpanded(true);
            m_list->setCurrentItem(row);
            row->setSelected(true);
            return true;
        }
    }
    return false;
}

void THistoryForm::UpdateButtons() {
    const std::optional<kbxops::HistoryEntry> entry = SelectedEntry();
    const bool kept = entry && entry->before;
    m_sendBack->setEnabled(kept && !m_busy);
    m_sendTo->setEnabled(kept && !m_busy);
    m_save->setEnabled(kept);
}

void THistoryForm::SetKeyboardBusy(bool busy) {
    m_busy = busy;
    UpdateButtons();
}

void THistoryForm::SetUndo(bool enabled, const QString& what) {
    m_undo->setEnabled(enabled);
    m_undo->setToolTip(what);
}

void THistoryForm::SendBackClick() {
    if (const auto entry = SelectedEntry(); entry && entry->before && !m_busy)
        Q_EMIT sendBackRequested(entry->id, QString());
}

void THistoryForm::SendToSlotClick() {
    const auto entry = SelectedEntry();
    if (!entry || !entry->before || m_busy)
        return;
    TSendToSlotForm picker(this);
    picker.setSlots(m_slotSource ? m_slotSource(entry->kind) : slotsOfKind(entry->kind),
                    entry->slot);
    if (picker.exec() != QDialog::Accepted)
        return;
    // The entry may have gone while the dialog was open (another program's history change).
    if (const QString slot = picker.chosenSlot(); !slot.isEmpty())
        Q_EMIT sendBackRequested(entry->id, slot);
}

void THistoryForm::SaveClick() {
    if (const auto entry = SelectedEntry(); entry && entry->before)
        Q_EMIT saveRequested(entry->id);
}

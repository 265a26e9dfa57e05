#include "restorepreviewform.h"

#include "msgstr.h"
#include "slotnames.h"

#include <QCheckBox>
#include <QColor>
#include <QDialogButtonBox>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

TRestorePreviewForm::Runner& runnerSlot() {
    static TRestorePreviewForm::Runner runner;
    return runner;
}

// The words in the lists follow the user's language, as the messages do.
QString itemText(const std::string& name, std::uint32_t size) {
    return localText("%1 (%2 bytes)", "%1 (%2 バイト)").arg(kbxapp::itemName(name)).arg(size);
}

QString emptyText() {
    return localText("empty", "空");
}

template <typename Item>
QString sideText(const std::optional<Item>& item) {
    return item ? itemText(item->name, item->size) : emptyText();
}

QString stateText(kbxops::SlotComparison::State state) {
    switch (state) {
    case kbxops::SlotComparison::Equal:
        return localText("equal", "同じ");
    case kbxops::SlotComparison::Different:
        return localText("different", "異なる");
    case kbxops::SlotComparison::OnlyA:
        return localText("only in the backup", "バックアップだけにあります");
    case kbxops::SlotComparison::OnlyB:
        return localText("only in the keyboard", "キーボードだけにあります");
    }
    return {};
}

// A row whose content changes: tinted, and what the restore puts there in bold.
void markChange(QTreeWidgetItem* row, int column) {
    QColor tint = row->treeWidget()->palette().color(QPalette::Highlight);
    tint.setAlpha(50);
    for (int c = 0; c < row->columnCount(); ++c)
        row->setBackground(c, tint);
    QFont font = row->font(column);
    font.setBold(true);
    row->setFont(column, font);
}

QString countsText(const kbxops::RestorePlan& plan) {
    return localText("%1 unchanged, %2 skipped, %3 absent from the backup",
                     "変更なし %1 個、スキップ %2 個、バックアップにないもの %3 個")
        .arg(plan.unchanged)
        .arg(plan.skipped.size())
        .arg(plan.absent);
}

QTreeWidget* makeList(const QStringList& headers, const QString& name) {
    auto* list = new QTreeWidget;
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setHeaderLabels(headers);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return list;
}

} // namespace

TRestorePreviewForm::TRestorePreviewForm(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("RestorePreviewForm"));
    setWindowTitle(tr("Restore Keyboard"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(tr("These slots change when the backup is restored:"));
    layout->addWidget(heading);
    // One column order in both lists: the slot, what the keyboard holds, what the backup holds.
    m_changes =
        makeList({tr("Slot"), tr("Keyboard now"), tr("Backup")}, QStringLiteral("ChangeList"));
    m_changes->setToolTip(tr("Untick a slot to leave it as it is"));
    layout->addWidget(m_changes, 2);
    m_unchanged = new QLabel;
    m_unchanged->setObjectName(QStringLiteral("UnchangedLabel"));
    layout->addWidget(m_unchanged);
    m_notes = new QLabel;
    m_notes->setObjectName(QStringLiteral("NotesLabel"));
    m_notes->setWordWrap(true);
    m_notes->setVisible(false);
    layout->addWidget(m_notes);
    auto* row = new QHBoxLayout;
    m_sendAnyway = new QCheckBox(tr("Send them anyway"));
    m_sendAnyway->setObjectName(QStringLiteral("SendAnywayCheck"));
    m_sendAnyway->setToolTip(
        tr("A matching name and size do not prove equal content: send the unchanged slots too"));
    row->addWidget(m_sendAnyway);
    row->addStretch(1);
    m_compareBtn = new QPushButton(tr("Compare with Keyboard"));
    m_compareBtn->setObjectName(QStringLiteral("CompareBtn"));
    row->addWidget(m_compareBtn);
    layout->addLayout(row);
    m_compare = makeList({tr("Slot"), tr("Keyboard now"), tr("Backup"), tr("State")},
                         QStringLiteral("CompareList"));
    m_compare->setVisible(false);
    layout->addWidget(m_compare, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("OkBtn"));
    m_ok->setText(tr("Restore"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_sendAnyway, &QCheckBox::toggled, this, &TRestorePreviewForm::SendAnywayClick);
    connect(m_compareBtn, &QPushButton::clicked, this, &TRestorePreviewForm::CompareClick);
    connect(m_changes, &QTreeWidget::itemChanged, this, [this] { updateOk(); });
    resize(640, 480);
}

void TRestorePreviewForm::setReplanner(Replanner replan) {
    m_replan = std::move(replan);
}

void TRestorePreviewForm::setComparer(Comparer compare) {
    m_comparer = std::move(compare);
    m_compareBtn->setEnabled(static_cast<bool>(m_comparer));
}

void TRestorePreviewForm::setPlan(const kbxops::RestorePlan& plan) {
    // A slot the user unticked stays unticked when the plan is made again.
    QSet<QString> unticked;
    for (int i = 0; i < m_changes->topLevelItemCount(); ++i)
        if (m_changes->topLevelItem(i)->checkState(0) == Qt::Unchecked)
            unticked.insert(m_changes->topLevelItem(i)->data(0, Qt::UserRole).toString());
    m_plan = plan;
    m_changes->clear();
    for (const kbxops::PlannedChange& change : plan.changes) {
        auto* row = new QTreeWidgetItem(m_changes);
        row->setText(0, kbxapp::slotTitle(change.slot));
        row->setData(0, Qt::UserRole, change.slot); // the slot's short form, under its title
        row->setText(1, sideText(change.now));
        row->setText(2, sideText(change.backup));
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, unticked.contains(change.slot) ? Qt::Unchecked : Qt::Checked);
        markChange(row, 2);
    }
    m_unchanged->setText(countsText(plan));
    QStringList notes;
    if (!plan.backupComplete)
        notes << localText("The backup is incomplete: the slots it lacks stay as they are.",
                           "バックアップは不完全です。含まれていないスロットはそのままです。");
    notes << plan.skipped;
    m_notes->setText(notes.join(QLatin1Char('\n')));
    m_notes->setVisible(!notes.isEmpty());
    updateOk();
}

kbxops::RestorePlan TRestorePreviewForm::plan() const {
    kbxops::RestorePlan ticked = m_plan;
    ticked.changes.clear();
    for (std::size_t i = 0; i < m_plan.changes.size(); ++i) {
        const QTreeWidgetItem* row = m_changes->topLevelItem(static_cast<int>(i));
        if (row && row->checkState(0) == Qt::Checked)
            ticked.changes.push_back(m_plan.changes[i]);
    }
    return ticked;
}

void TRestorePreviewForm::updateOk() {
    bool any = false;
    for (int i = 0; i < m_changes->topLevelItemCount() && !any; ++i)
        any = m_changes->topLevelItem(i)->checkState(0) == Qt::Checked;
    m_ok->setEnabled(any);
}

void TRestorePreviewForm::showComparison(const std::vector<kbxops::SlotComparison>& rows) {
    m_compare->clear();
    for (const kbxops::SlotComparison& c : rows) {
        auto* row = new QTreeWidgetItem(m_compare);
        // a is the backup, b the keyboard: shown in the preview's order.
        row->setText(0, kbxapp::slotTitle(c.slot));
        row->setText(1, sideText(c.b));
        row->setText(2, sideText(c.a));
        row->setText(3, stateText(c.state));
        if (c.state != kbxops::SlotComparison::Equal)
            markChange(row, 2);
    }
    m_compare->setVisible(true);
}

void TRestorePreviewForm::SendAnywayClick(bool checked) {
    if (!m_replan)
        return;
    if (const auto plan = m_replan(checked))
        setPlan(*plan);
}

void TRestorePreviewForm::CompareClick() {
    if (!m_comparer)
        return;
    if (const auto rows = m_comparer())
        showComparison(*rows);
}

int TRestorePreviewForm::run() {
    if (runnerSlot())
        return runnerSlot()(*this);
    return exec();
}

void TRestorePreviewForm::setRunner(Runner runner) {
    runnerSlot() = std::move(runner);
}

#include "restorepreviewform.h"

#include "kbxnames.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

TRestorePreviewForm::Runner& runnerSlot() {
    static TRestorePreviewForm::Runner runner;
    return runner;
}

QString itemText(const std::string& name, std::uint32_t size) {
    return QStringLiteral("%1 (%2 bytes)").arg(kbxnames::keyboardText(name).trimmed()).arg(size);
}

template <typename Item>
QString sideText(const std::optional<Item>& item) {
    return item ? itemText(item->name, item->size) : QStringLiteral("empty");
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
    setWindowTitle(QStringLiteral("Restore Keyboard"));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QStringLiteral("These slots change when the backup is restored:"));
    layout->addWidget(heading);
    m_changes = makeList({QStringLiteral("Slot"), QStringLiteral("Now"), QStringLiteral("Backup")},
                         QStringLiteral("ChangeList"));
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
    m_sendAnyway = new QCheckBox(QStringLiteral("Send them anyway"));
    m_sendAnyway->setObjectName(QStringLiteral("SendAnywayCheck"));
    m_sendAnyway->setToolTip(QStringLiteral(
        "A matching name and size do not prove equal content: send the unchanged slots too"));
    row->addWidget(m_sendAnyway);
    row->addStretch(1);
    m_compareBtn = new QPushButton(QStringLiteral("Compare with Keyboard"));
    m_compareBtn->setObjectName(QStringLiteral("CompareBtn"));
    row->addWidget(m_compareBtn);
    layout->addLayout(row);
    m_compare = makeList({QStringLiteral("Slot"), QStringLiteral("State"), QStringLiteral("Backup"),
                          QStringLiteral("Keyboard")},
                         QStringLiteral("CompareList"));
    m_compare->setVisible(false);
    layout->addWidget(m_compare, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("OkBtn"));
    m_ok->setText(QStringLiteral("Restore"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_sendAnyway, &QCheckBox::toggled, this, &TRestorePreviewForm::SendAnywayClick);
    connect(m_compareBtn, &QPushButton::clicked, this, &TRestorePreviewForm::CompareClick);
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
    m_plan = plan;
    m_changes->clear();
    for (const kbxops::PlannedChange& change : plan.changes) {
        auto* row = new QTreeWidgetItem(m_changes);
        row->setText(0, change.slot);
        row->setText(1, sideText(change.now));
        row->setText(2, change.backup ? sideText(change.backup) : QStringLiteral("empty"));
    }
    m_unchanged->setText(plan.unchanged == 1
                             ? QStringLiteral("1 slot unchanged")
                             : QStringLiteral("%1 slots unchanged").arg(plan.unchanged));
    QStringList notes;
    if (!plan.backupComplete)
        notes << QStringLiteral("The backup is incomplete: the slots it lacks stay as they are.");
    notes << plan.skipped;
    m_notes->setText(notes.join(QLatin1Char('\n')));
    m_notes->setVisible(!notes.isEmpty());
    m_ok->setEnabled(!plan.changes.empty());
}

void TRestorePreviewForm::showComparison(const std::vector<kbxops::SlotComparison>& rows) {
    m_compare->clear();
    for (const kbxops::SlotComparison& c : rows) {
        auto* row = new QTreeWidgetItem(m_compare);
        row->setText(0, c.slot);
        row->setText(1, kbxops::stateWord(c.state));
        row->setText(2, sideText(c.a));
        row->setText(3, sideText(c.b));
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

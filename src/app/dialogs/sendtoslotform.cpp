#include "sendtoslotform.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TSendToSlotForm::TSendToSlotForm(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SendToSlotForm"));
    setWindowTitle(tr("Send to Slot"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Send the kept item into this slot:")));
    m_list = new QTreeWidget;
    m_list->setObjectName(QStringLiteral("SlotList"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({tr("No."), tr("Slot"), tr("Name"), tr("Size(byte)")});
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("&Send"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(m_list, &QTreeWidget::currentItemChanged, this, [buttons](QTreeWidgetItem* current) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(current != nullptr);
    });
    resize(420, 260);
}

void TSendToSlotForm::setSlots(const std::vector<Slot>& rows, const QString& current) {
    m_list->clear();
    for (const Slot& slot : rows) {
        auto* row = new QTreeWidgetItem(
            m_list, {QString::number(slot.number), slot.place, slot.name, slot.size});
        row->setData(0, Qt::UserRole, slot.shortForm);
        row->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        if (slot.shortForm == current)
            m_list->setCurrentItem(row);
    }
    if (!m_list->currentItem() && m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
}

QString TSendToSlotForm::chosenSlot() const {
    const QTreeWidgetItem* row = m_list->currentItem();
    return row ? row->data(0, Qt::UserRole).toString() : QString();
}

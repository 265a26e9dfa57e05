#include "kbddrvpropform.h"

#include "propform.h"
#include "ui_kbddrvpropform.h"

#include <QFileIconProvider>
#include <QIcon>
#include <QPushButton>
#include <QShowEvent>

namespace {
const QSize kClientSize(184, 207);
} // namespace

TKbdDrivePropertyForm::TKbdDrivePropertyForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TKbdDrivePropertyForm>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    resize(kClientSize);
    SetIcon(QFileIconProvider().icon(QAbstractFileIconProvider::Drive));
    connect(m_ui->CloseBtn, &QPushButton::clicked, this, &QDialog::accept);
}

TKbdDrivePropertyForm::~TKbdDrivePropertyForm() = default;

void TKbdDrivePropertyForm::showEvent(QShowEvent* event) {
    // Fixed like a dialog frame, but grown to the texts set since construction.
    setFixedSize(kClientSize.expandedTo(minimumSizeHint()));
    QDialog::showEvent(event);
}

void TKbdDrivePropertyForm::SetDriveName(const QString& name) {
    m_ui->DrvNameLbl->setText(name);
}

void TKbdDrivePropertyForm::SetUsedSpace(qint64 bytes) {
    m_ui->UsedLbl->setText(kbxapp::byteCountText(bytes));
}

void TKbdDrivePropertyForm::SetFreeSpace(qint64 bytes) {
    m_ui->FreeLbl->setText(kbxapp::byteCountText(bytes));
}

void TKbdDrivePropertyForm::SetCapacity(qint64 bytes) {
    m_ui->CapacityLbl->setText(kbxapp::byteCountText(bytes));
}

void TKbdDrivePropertyForm::SetIcon(const QIcon& icon) {
    m_ui->IconImage->setPixmap(icon.pixmap(32, 32));
}

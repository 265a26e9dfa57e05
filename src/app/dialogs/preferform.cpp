#include "preferform.h"

#include "mididevices.h"
#include "prefdirform.h"
#include "ui_preferform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QShowEvent>

namespace {

const QSize kClientSize(443, 209);

void fillDeviceBox(QComboBox* box, const std::vector<std::string>& names) {
    box->clear();
    for (const std::string& name : names)
        box->addItem(QString::fromStdString(name));
}

void selectDevice(QComboBox* box, std::int32_t device) {
    box->setCurrentIndex(device >= 0 && device < box->count() ? device : -1);
}

} // namespace

TPrefForm::TPrefForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TPrefForm>()) {
    m_ui->setupUi(this);
    // Below the devices it uses; the page's spacer stays last.
    m_listAtStartBox = new QCheckBox(tr("&List the keyboard at start"), m_ui->MidiTab);
    m_listAtStartBox->setObjectName(QStringLiteral("ListAtStartBox"));
    m_ui->MidiLayout->insertWidget(m_ui->MidiLayout->count() - 1, m_listAtStartBox);
    // A dialog frame without the title bar's buttons: the dialog ends by OK or Cancel.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(kClientSize);

    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TPrefForm::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TPrefForm::CancelBtnClick);
    connect(m_ui->DirBrowseBtn, &QPushButton::clicked, this, &TPrefForm::DirBrowseBtnClick);
    FormCreate();
}

TPrefForm::~TPrefForm() = default;

void TPrefForm::showEvent(QShowEvent* event) {
    // Fixed like a dialog frame, but never smaller than what the texts of this system need.
    setFixedSize(kClientSize.expandedTo(minimumSizeHint()));
    QDialog::showEvent(event);
}

void TPrefForm::FormCreate() {
    // The lists are read when the dialog opens, so devices plugged in meanwhile are offered.
    auto& registry = kbxmidi::DeviceRegistry::instance();
    fillDeviceBox(m_ui->MidiInDevBox, registry.inputNames());
    fillDeviceBox(m_ui->MidiOutDevBox, registry.outputNames());
    ShowStoredValues();
}

void TPrefForm::SetInDevice(std::int32_t device) {
    m_inDevice = device;
    selectDevice(m_ui->MidiInDevBox, device);
}

void TPrefForm::SetOutDevice(std::int32_t device) {
    m_outDevice = device;
    selectDevice(m_ui->MidiOutDevBox, device);
}

void TPrefForm::SetDefDir(const QString& dir) {
    m_defDir = dir;
    m_ui->DefDirEdit->setText(dir);
}

void TPrefForm::SetListAtStart(bool list) {
    m_listAtStart = list;
    m_listAtStartBox->setChecked(list);
}

void TPrefForm::ShowStoredValues() {
    selectDevice(m_ui->MidiInDevBox, m_inDevice);
    selectDevice(m_ui->MidiOutDevBox, m_outDevice);
    m_ui->DefDirEdit->setText(m_defDir);
    m_listAtStartBox->setChecked(m_listAtStart);
}

void TPrefForm::OkBtnClick() {
    m_inDevice = m_ui->MidiInDevBox->currentIndex();
    m_outDevice = m_ui->MidiOutDevBox->currentIndex();
    m_defDir = m_ui->DefDirEdit->text();
    m_listAtStart = m_listAtStartBox->isChecked();
    accept();
}

void TPrefForm::CancelBtnClick() {
    reject();
}

void TPrefForm::reject() {
    ShowStoredValues();
    QDialog::reject();
}

void TPrefForm::DirBrowseBtnClick() {
    TDirBrowseForm browser(this);
    browser.SetDirectory(m_ui->DefDirEdit->text());
    browser.exec();
    // After Cancel this is the directory handed in.
    m_ui->DefDirEdit->setText(browser.GetDirectory());
}

#include "propform.h"

#include "kbxfilestream.h"
#include "kbxnames.h"
#include "ui_propform.h"
#include "zxdata.h"

#include <QFileIconProvider>
#include <QIcon>
#include <QPushButton>
#include <QShowEvent>

namespace {
const QSize kClientSize(407, 251);
} // namespace

TZxDataPropertyForm::TZxDataPropertyForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TZxDataPropertyForm>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(kClientSize);
    SetIcon(QFileIconProvider().icon(QAbstractFileIconProvider::File));

    // Names are single-byte characters: an input method would only offer what becomes "_".
    m_ui->NameEdit->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_ui->NameEdit->setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);

    // On the user's changes only: a stored name with half-width katakana is shown as it is, so
    // that OK without an edit gives back the same name and the file is not rewritten with
    // underscores in its place. Once the user edits, the whole field is what will be stored.
    connect(m_ui->NameEdit, &QLineEdit::textEdited, this, &TZxDataPropertyForm::NameEditChange);
    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TZxDataPropertyForm::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TZxDataPropertyForm::CancelBtnClick);
}

TZxDataPropertyForm::~TZxDataPropertyForm() = default;

void TZxDataPropertyForm::showEvent(QShowEvent* event) {
    // Fixed like a dialog frame, but grown to the texts set since construction.
    setFixedSize(kClientSize.expandedTo(minimumSizeHint()));
    QDialog::showEvent(event);
}

QString TZxDataPropertyForm::KindText(std::uint16_t kind) {
    const ZxKindInfo* row = ZxKind::info(kind);
    return row ? QString::fromLatin1(row->propertyType) : QString();
}

void TZxDataPropertyForm::SetFileName(const QString& name) {
    m_ui->FileNameLbl->setText(name);
}

void TZxDataPropertyForm::SetDataKind(std::uint16_t kind) {
    m_ui->TypeLbl->setText(KindText(kind));
}

void TZxDataPropertyForm::SetDataSize(qint64 bytes) {
    m_ui->SizeLbl->setText(kbxapp::byteCountText(bytes));
}

void TZxDataPropertyForm::SetLocation(const QString& path) {
    m_ui->LocateLbl->setText(path);
}

void TZxDataPropertyForm::SetDataName(const QString& name) {
    m_ui->NameEdit->setText(name);
}

QString TZxDataPropertyForm::GetDataName() const {
    return m_ui->NameEdit->text();
}

void TZxDataPropertyForm::SetNameEditable(bool editable) {
    m_ui->NameEdit->setVisible(editable);
    m_ui->NameLbl->setVisible(editable);
}

void TZxDataPropertyForm::SetIcon(const QIcon& icon) {
    m_ui->IconImage->setPixmap(icon.pixmap(32, 32));
}

bool TZxDataPropertyForm::Execute() {
    m_ok = false;
    exec();
    return m_ok;
}

void TZxDataPropertyForm::NameEditChange() {
    QLineEdit* edit = m_ui->NameEdit;
    const QString text = edit->text();
    QString stored;
    // By code point, so a character outside the basic plane becomes one "_", not two.
    for (const char32_t c : text.toUcs4())
        stored += c >= U' ' && c <= U'}' ? QChar(c) : QChar(u'_');
    if (stored == text)
        return;
    const int cursor = edit->cursorPosition();
    edit->setText(stored);
    edit->setCursorPosition(std::min(cursor, static_cast<int>(stored.size())));
}

void TZxDataPropertyForm::OkBtnClick() {
    // An empty name would blank the item's name: the data keeps its name instead.
    if (!m_ui->NameEdit->text().isEmpty())
        m_ok = true;
    accept();
}

void TZxDataPropertyForm::CancelBtnClick() {
    m_ok = false;
    reject();
}

namespace kbxapp {

QString byteCountText(qint64 bytes) {
    return QString::number(bytes) + TZxDataPropertyForm::tr("byte(s)");
}

} // namespace kbxapp

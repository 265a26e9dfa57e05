#include "preferform.h"

#include "common/msgstr.h"
#include "midi/devicewatch.h"
#include "midi/mididevices.h"
#include "ops/connection.h"
#include "ops/keyboardaction.h"
#include "prefdirform.h"
#include "ui_preferform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QSize kClientSize(443, 209);
// Requests of the connection test: enough to see a lost one, at most two seconds when all go.
constexpr int kTestRequests = 10;
// Devices seldom come alone (a program registers both its ports): one reading for them all.
constexpr int kRefreshDelayMs = 100;

void fillDeviceBox(QComboBox* box, const std::vector<std::string>& names) {
    box->clear();
    for (const std::string& name : names)
        box->addItem(QString::fromStdString(name));
}

// The entry that shows a device: by its name where one is known, else by its number.
int entryOf(const QComboBox* box, int number, const QString& name) {
    const bool inRange = number >= 0 && number < box->count();
    if (name.isEmpty())
        return inRange ? number : -1;
    if (inRange && kbxops::sameDevice(box->itemText(number), name))
        return number;
    for (int i = 0; i < box->count(); ++i)
        if (kbxops::sameDevice(box->itemText(i), name))
            return i;
    return -1;
}

QString failureText(std::exception_ptr error) {
    return QString::fromStdString(describeException(MsgStr(), error).message);
}

class DetectProgress : public kbxops::DetectObserver {
public:
    DetectProgress(QProgressBar* bar, const std::function<void(const QString&)>& show,
                   const bool& cancel)
        : m_bar(bar)
        , m_show(show)
        , m_cancel(cancel) {}
    void trying(const kbxops::DevicePair& pair, int index, int count) override {
        m_bar->setMaximum(count);
        m_bar->setValue(index);
        m_show(localText("Trying %1 of %2: \"%3\" and \"%4\"...",
                         "%2 組中 %1 組目を試しています:「%3」と「%4」...")
                   .arg(index + 1)
                   .arg(count)
                   .arg(pair.inputName, pair.outputName));
    }
    bool cancelled() override { return m_cancel; }

private:
    QProgressBar* m_bar;
    std::function<void(const QString&)> m_show;
    const bool& m_cancel;
};

class TestProgress : public kbxops::PingObserver {
public:
    explicit TestProgress(QProgressBar* bar)
        : m_bar(bar) {}
    void replied(int index, int count, std::optional<double>) override {
        m_bar->setMaximum(count);
        m_bar->setValue(index + 1);
    }

private:
    QProgressBar* m_bar;
};

} // namespace

TPrefForm::TPrefForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TPrefForm>()) {
    m_ui->setupUi(this);
    // Below the devices it uses; the page's spacer stays last.
    m_listAtStartBox = new QCheckBox(tr("&List the keyboard at start"), m_ui->MidiTab);
    m_listAtStartBox->setObjectName(QStringLiteral("ListAtStartBox"));
    m_ui->MidiLayout->insertWidget(m_ui->MidiLayout->count() - 1, m_listAtStartBox);
    // Where "Don't ask again" is taken back: the question before a delete or a replacing send.
    m_askBeforeChangeBox =
        new QCheckBox(tr("As&k before deleting or replacing a song or rhythm"), m_ui->SafetyTab);
    m_askBeforeChangeBox->setObjectName(QStringLiteral("AskBeforeChangeCheck"));
    m_ui->SafetyLayout->insertWidget(1, m_askBeforeChangeBox);
    // Without the history every such change is asked about.
    connect(m_ui->KeepHistoryCheck, &QCheckBox::toggled, m_askBeforeChangeBox,
            &QCheckBox::setEnabled);
    // The language of the window; each language is named in itself, so that a user who cannot
    // read the other one still finds their own.
    auto* languageTab = new QWidget(m_ui->PageControl);
    languageTab->setObjectName(QStringLiteral("LanguageTab"));
    auto* languageLayout = new QVBoxLayout(languageTab);
    auto* languageLabel = new QLabel(tr("&Language of the window"), languageTab);
    m_languageBox = new QComboBox(languageTab);
    m_languageBox->setObjectName(QStringLiteral("LanguageBox"));
    m_languageBox->addItem(QStringLiteral("English"), QStringLiteral("en"));
    m_languageBox->addItem(QStringLiteral("日本語"), QStringLiteral("ja"));
    languageLabel->setBuddy(m_languageBox);
    auto* languageNote = new QLabel(tr("The language is used from the next start of KbxMan. "
                                       "Error messages follow the system's language."),
                                    languageTab);
    languageNote->setWordWrap(true);
    languageLayout->addWidget(languageLabel);
    languageLayout->addWidget(m_languageBox);
    languageLayout->addWidget(languageNote);
    languageLayout->addStretch(1);
    m_ui->PageControl->addTab(languageTab, tr("Language"));
    // A dialog frame without the title bar's buttons: the dialog ends by OK or Cancel.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(kClientSize);

    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TPrefForm::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TPrefForm::CancelBtnClick);
    connect(m_ui->DirBrowseBtn, &QPushButton::clicked, this, &TPrefForm::DirBrowseBtnClick);
    connect(m_ui->FindKbdBtn, &QPushButton::clicked, this, &TPrefForm::FindKbdBtnClick);
    connect(m_ui->TestConnBtn, &QPushButton::clicked, this, &TPrefForm::TestConnBtnClick);
    // What the user picks is what the lists keep selected when they change.
    connect(m_ui->MidiInDevBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_filling && index >= 0)
            m_inWanted = m_ui->MidiInDevBox->itemText(index);
    });
    connect(m_ui->MidiOutDevBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_filling && index >= 0)
            m_outWanted = m_ui->MidiOutDevBox->itemText(index);
    });

    // Room for a search's or a test's few lines, read like a label; longer advice scrolls.
    QPlainTextEdit* text = m_ui->ConnectionText;
    text->viewport()->setAutoFillBackground(false);
    text->setFixedHeight(text->fontMetrics().lineSpacing() * 4 +
                         2 * static_cast<int>(text->document()->documentMargin()));

    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(kRefreshDelayMs);
    connect(m_refresh, &QTimer::timeout, this, &TPrefForm::FillDeviceLists);
    kbxmidi::DeviceWatch& watch = kbxmidi::DeviceWatch::instance();
    connect(&watch, &kbxmidi::DeviceWatch::devicesChanged, this, &TPrefForm::DevicesChanged);
    watch.start();
    watch.beginPolling();
    FormCreate();
}

TPrefForm::~TPrefForm() {
    kbxmidi::DeviceWatch::instance().endPolling();
}

void TPrefForm::showEvent(QShowEvent* event) {
    FitSize();
    QDialog::showEvent(event);
}

void TPrefForm::FitSize() {
    // Fixed like a dialog frame, but never smaller than what the texts of this system need.
    setFixedSize(kClientSize.expandedTo(minimumSizeHint()));
}

void TPrefForm::FormCreate() {
    // The lists are read when the dialog opens, and again whenever devices come or go.
    FillDeviceLists();
    ShowStoredValues();
}

void TPrefForm::FillDeviceLists() {
    if (m_busy) {
        // A search or test holds the devices; the lists are read once it is over.
        m_listsStale = true;
        return;
    }
    m_listsStale = false;
    auto& registry = kbxmidi::DeviceRegistry::instance();
    m_filling = true;
    fillDeviceBox(m_ui->MidiInDevBox, registry.inputNames());
    fillDeviceBox(m_ui->MidiOutDevBox, registry.outputNames());
    m_ui->MidiInDevBox->setCurrentIndex(entryOf(m_ui->MidiInDevBox, -1, m_inWanted));
    m_ui->MidiOutDevBox->setCurrentIndex(entryOf(m_ui->MidiOutDevBox, -1, m_outWanted));
    m_filling = false;
}

void TPrefForm::DevicesChanged() {
    m_refresh->start();
}

void TPrefForm::SetInDevice(std::int32_t device) {
    m_inDevice = device;
    m_inName.clear();
    ShowStoredValues();
}

void TPrefForm::SetOutDevice(std::int32_t device) {
    m_outDevice = device;
    m_outName.clear();
    ShowStoredValues();
}

void TPrefForm::SetInDeviceName(const QString& name) {
    m_inName = name;
    ShowStoredValues();
}

void TPrefForm::SetOutDeviceName(const QString& name) {
    m_outName = name;
    ShowStoredValues();
}

void TPrefForm::SetDefDir(const QString& dir) {
    m_defDir = dir;
    m_ui->DefDirEdit->setText(dir);
}

void TPrefForm::SetSafety(const KbxSettings::Safety& safety) {
    m_safety = safety;
    m_ui->KeepHistoryCheck->setChecked(safety.keepHistory);
    m_ui->VerifySendCheck->setChecked(safety.verifySend);
    m_ui->VerifyRestoreCheck->setChecked(safety.verifyRestore);
    m_askBeforeChangeBox->setChecked(safety.askBeforeChange);
}

void TPrefForm::SetListAtStart(bool list) {
    m_listAtStart = list;
    m_listAtStartBox->setChecked(list);
}

void TPrefForm::SetLanguage(const QString& language) {
    m_language = language == QStringLiteral("ja") ? language : QStringLiteral("en");
    m_languageBox->setCurrentIndex(m_languageBox->findData(m_language));
}

void TPrefForm::ShowStoredValues() {
    m_filling = true;
    const int in = entryOf(m_ui->MidiInDevBox, m_inDevice, m_inName);
    const int out = entryOf(m_ui->MidiOutDevBox, m_outDevice, m_outName);
    m_ui->MidiInDevBox->setCurrentIndex(in);
    m_ui->MidiOutDevBox->setCurrentIndex(out);
    m_filling = false;
    // A stored device that is not connected now is selected when it comes.
    m_inWanted = !m_inName.isEmpty() ? m_inName : in >= 0 ? m_ui->MidiInDevBox->itemText(in) : "";
    m_outWanted = !m_outName.isEmpty() ? m_outName
                  : out >= 0           ? m_ui->MidiOutDevBox->itemText(out)
                                       : "";
    m_ui->DefDirEdit->setText(m_defDir);
    m_ui->KeepHistoryCheck->setChecked(m_safety.keepHistory);
    m_ui->VerifySendCheck->setChecked(m_safety.verifySend);
    m_ui->VerifyRestoreCheck->setChecked(m_safety.verifyRestore);
    m_askBeforeChangeBox->setChecked(m_safety.askBeforeChange);
    m_listAtStartBox->setChecked(m_listAtStart);
    m_languageBox->setCurrentIndex(m_languageBox->findData(m_language));
}

QString TPrefForm::connectionText() const {
    return m_ui->ConnectionText->toPlainText();
}

void TPrefForm::ShowConnectionText(const QString& text) {
    m_ui->ConnectionText->setPlainText(text);
}

void TPrefForm::SetBusy(bool busy) {
    m_busy = busy;
    m_cancelRequested = false;
    for (QWidget* control :
         {static_cast<QWidget*>(m_ui->OkBtn), static_cast<QWidget*>(m_ui->CancelBtn),
          static_cast<QWidget*>(m_ui->TestConnBtn), static_cast<QWidget*>(m_ui->MidiInDevBox),
          static_cast<QWidget*>(m_ui->MidiOutDevBox), static_cast<QWidget*>(m_ui->DirTab)})
        control->setEnabled(!busy);
    m_ui->ConnectionProgress->setValue(0);
    m_ui->ConnectionProgress->setVisible(busy);
    if (!busy && m_listsStale)
        FillDeviceLists();
}

void TPrefForm::OkBtnClick() {
    if (m_busy)
        return;
    const int in = m_ui->MidiInDevBox->currentIndex();
    const int out = m_ui->MidiOutDevBox->currentIndex();
    // "No device" is never stored: a list without a selection keeps the device stored before,
    // and where there is none, the user has to choose one.
    if ((in < 0 && m_inDevice < 0) || (out < 0 && m_outDevice < 0)) {
        m_ui->PageControl->setCurrentWidget(m_ui->MidiTab);
        ShowConnectionText(localText("Choose an input device and an output device.",
                                     "入力デバイスと出力デバイスを選んでください。"));
        return;
    }
    if (in >= 0) {
        m_inDevice = in;
        m_inName = m_ui->MidiInDevBox->itemText(in);
    }
    if (out >= 0) {
        m_outDevice = out;
        m_outName = m_ui->MidiOutDevBox->itemText(out);
    }
    m_defDir = m_ui->DefDirEdit->text();
    m_safety.keepHistory = m_ui->KeepHistoryCheck->isChecked();
    m_safety.verifySend = m_ui->VerifySendCheck->isChecked();
    m_safety.verifyRestore = m_ui->VerifyRestoreCheck->isChecked();
    m_safety.askBeforeChange = m_askBeforeChangeBox->isChecked();
    m_listAtStart = m_listAtStartBox->isChecked();
    m_language = m_languageBox->currentData().toString();
    accept();
}

void TPrefForm::CancelBtnClick() {
    reject();
}

void TPrefForm::reject() {
    if (m_busy)
        return;
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

void TPrefForm::FindKbdBtnClick() {
    if (m_busy) {
        // The button cancels the search that runs: it stops before the next pair.
        m_cancelRequested = true;
        m_ui->FindKbdBtn->setEnabled(false);
        return;
    }
    SetBusy(true);
    m_ui->FindKbdBtn->setText(tr("Cancel"));
    DetectProgress progress(
        m_ui->ConnectionProgress, [this](const QString& text) { ShowConnectionText(text); },
        m_cancelRequested);
    kbxops::DetectResult result;
    QString failure;
    try {
        result = kbxops::detectKeyboard(&progress);
    } catch (...) {
        failure = failureText(std::current_exception());
    }
    m_ui->FindKbdBtn->setText(tr("Find keyboard"));
    m_ui->FindKbdBtn->setEnabled(true);
    SetBusy(false);

    if (!failure.isEmpty()) {
        ShowConnectionText(failure);
        return;
    }
    switch (result.outcome) {
    case kbxops::DetectResult::Found: {
        const kbxops::DevicePair& pair = result.pair;
        m_inWanted = pair.inputName;
        m_outWanted = pair.outputName;
        FillDeviceLists();
        ShowConnectionText(
            pair.isVirtual
                ? localText("No keyboard answered on the MIDI devices; only the built-in virtual "
                            "ZR-7316 did, and it is selected.",
                            "MIDI デバイスの鍵盤からは応答がなく、組み込みの仮想 ZR-7316 だけが"
                            "応答しました。これを選びました。")
                : localText("The ZR-7316 answers on \"%1\" and \"%2\"; they are selected.",
                            "ZR-7316 が「%1」と「%2」で応答しました。これを選びました。")
                      .arg(pair.inputName, pair.outputName));
        break;
    }
    case kbxops::DetectResult::NotFound:
        ShowConnectionText(kbxops::detectFailureText(result.tried));
        break;
    case kbxops::DetectResult::Cancelled:
        ShowConnectionText(localText("The search was cancelled.", "鍵盤の検索を取り消しました。"));
        break;
    }
}

void TPrefForm::TestConnBtnClick() {
    if (m_busy)
        return;
    const int in = m_ui->MidiInDevBox->currentIndex();
    const int out = m_ui->MidiOutDevBox->currentIndex();
    if (in < 0 || out < 0) {
        ShowConnectionText(localText("Choose an input device and an output device.",
                                     "入力デバイスと出力デバイスを選んでください。"));
        return;
    }
    SetBusy(true);
    m_ui->FindKbdBtn->setEnabled(false);
    ShowConnectionText(localText("Testing the connection...", "接続をテストしています..."));
    TestProgress progress(m_ui->ConnectionProgress);
    QString text;
    try {
        // Bound and locked like any keyboard action: the test talks to the devices shown, and
        // never while another program uses them.
        const kbxops::KeyboardAction action(kbxops::DeviceChoice{{in, out}, {}, {}});
        const kbxops::PingResult result =
            kbxops::pingKeyboard(action.ports(), kTestRequests, &progress);
        text = kbxops::pingSummaryText(result);
        if (result.answered < result.sent)
            text += u'\n' + kbxops::pingAdviceText();
    } catch (...) {
        text = failureText(std::current_exception());
    }
    m_ui->FindKbdBtn->setEnabled(true);
    SetBusy(false);
    ShowConnectionText(text);
}

#include "midimonitor.h"

#include "errorreporter.h"
#include "mainform.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

// Often enough to follow a transfer, seldom enough that drawing never slows one down.
constexpr int kFlushMs = 100;

QString askFile(QWidget* parent, const QString& caption, const QString& filter,
                const QString& suffix) {
    // In the folder the main window's local pane shows, as every file dialog of the window.
    const auto* form = qobject_cast<const TPcLinkForm*>(parent ? parent->window() : nullptr);
    QFileDialog dialog(parent, caption, form ? form->ShownFolder() : QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

} // namespace

MidiMonitor::MidiMonitor(QWidget* parent)
    : QDockWidget(tr("MIDI Monitor"), parent)
    , m_chooser(askFile) {
    setObjectName(QStringLiteral("MidiMonitor"));
    auto* body = new QWidget(this);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);

    m_view = new QPlainTextEdit(body);
    m_view->setObjectName(QStringLiteral("MonitorView"));
    m_view->setReadOnly(true);
    m_view->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_view->setMaximumBlockCount(kMaxLines);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(m_view);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](const char* name, const QString& text, void (MidiMonitor::*slot)()) {
        auto* b = new QPushButton(text, body);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
    };
    // Their Alt keys stay clear of the window's: Alt+L lists, Alt+S sends.
    button("MonitorCopy", tr("&Copy"), &MidiMonitor::copy);
    button("MonitorClear", tr("Cle&ar"), &MidiMonitor::clear);
    button("MonitorSaveText", tr("Save as &Text..."), &MidiMonitor::saveText);
    button("MonitorSaveSysEx", tr("Save as .sy&x..."), &MidiMonitor::saveSysEx);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    setWidget(body);

    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(kFlushMs);
    connect(m_flushTimer, &QTimer::timeout, this, &MidiMonitor::flush);
}

MidiMonitor::~MidiMonitor() {
    setListening(false);
}

bool MidiMonitor::isListening() const {
    return kbxops::Trace::instance().listener() == this;
}

void MidiMonitor::setListening(bool on) {
    kbxops::Trace& trace = kbxops::Trace::instance();
    if (on)
        trace.setListener(this);
    else if (trace.listener() == this)
        trace.setListener(nullptr);
}

// Open means not hidden by the user: a dock that is only out of sight with its window (minimised,
// a tab behind another) keeps listening, so that nothing of an action goes missing.
void MidiMonitor::showEvent(QShowEvent* event) {
    QDockWidget::showEvent(event);
    setListening(true);
}

void MidiMonitor::hideEvent(QHideEvent* event) {
    QDockWidget::hideEvent(event);
    if (isHidden())
        setListening(false);
}

void MidiMonitor::traced(const kbxops::TraceLine& line) {
    m_lines.push_back(line);
    if (m_lines.size() > static_cast<std::size_t>(kMaxLines))
        m_lines.pop_front();
    m_pending << line.text();
    if (m_pending.size() > kMaxLines)
        m_pending.removeFirst();
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void MidiMonitor::flush() {
    m_flushTimer->stop();
    if (m_pending.isEmpty())
        return;
    // One paragraph a line; the view drops the oldest beyond kMaxLines itself.
    m_view->appendPlainText(m_pending.join(u'\n'));
    m_pending.clear();
}

QStringList MidiMonitor::lines() const {
    QStringList all;
    all.reserve(static_cast<qsizetype>(m_lines.size()));
    for (const kbxops::TraceLine& line : m_lines)
        all << line.text();
    return all;
}

std::vector<std::vector<std::uint8_t>> MidiMonitor::messages() const {
    std::vector<std::vector<std::uint8_t>> all;
    for (const kbxops::TraceLine& line : m_lines)
        if (line.isMessage())
            all.push_back(line.bytes);
    return all;
}

void MidiMonitor::setFileChooser(FileChooser chooser) {
    m_chooser = chooser ? std::move(chooser) : FileChooser(askFile);
}

void MidiMonitor::copy() {
    flush();
    const QString selected = m_view->textCursor().selectedText();
    // The view marks the ends of its paragraphs with U+2029.
    QApplication::clipboard()->setText(selected.isEmpty()
                                           ? lines().join(u'\n') + u'\n'
                                           : QString(selected).replace(QChar(0x2029), u'\n'));
}

void MidiMonitor::clear() {
    m_flushTimer->stop();
    m_pending.clear();
    m_lines.clear();
    m_view->clear();
}

void MidiMonitor::saveText() {
    const QString path = m_chooser(this, tr("Save MIDI Monitor as Text"),
                                   tr("Text files (*.txt);;All files (*)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    try {
        kbxops::saveTraceText(path, lines());
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(this, QString::fromUtf8(error.what()));
    }
}

void MidiMonitor::saveSysEx() {
    const QString path =
        m_chooser(this, tr("Save MIDI Messages as .syx"),
                  tr("System Exclusive files (*.syx);;All files (*)"), QStringLiteral("syx"));
    if (path.isEmpty())
        return;
    try {
        kbxops::saveTraceSysEx(path, messages());
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(this, QString::fromUtf8(error.what()));
    }
}

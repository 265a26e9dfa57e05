#include "cli/terminalprogress.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define KBX_ISATTY _isatty
#define KBX_FILENO _fileno
#else
#include <unistd.h>
#define KBX_ISATTY isatty
#define KBX_FILENO fileno
#endif

namespace kbxcli {

namespace {
constexpr int kBarWidth = 30;
constexpr int kLineWidth = 79;
} // namespace

ProgressBar::ProgressBar(bool enabled)
    : m_enabled(enabled) {}

ProgressBar::~ProgressBar() {
    finish();
}

bool ProgressBar::stderrIsTerminal() {
    return KBX_ISATTY(KBX_FILENO(stderr)) != 0;
}

void ProgressBar::start(const QString& label, qint64 maximum) {
    m_label = label;
    m_maximum = maximum;
    m_value = 0;
    m_lastDrawn = -1;
    draw();
}

void ProgressBar::setValue(qint64 value) {
    m_value = value;
    draw();
}

void ProgressBar::draw() {
    if (!m_enabled)
        return;
    const qint64 clamped = m_maximum > 0 ? std::clamp<qint64>(m_value, 0, m_maximum) : 0;
    const int percent = m_maximum > 0 ? static_cast<int>(clamped * 100 / m_maximum) : 0;
    const int filled = m_maximum > 0 ? static_cast<int>(clamped * kBarWidth / m_maximum) : 0;
    const int key = percent * (kBarWidth + 1) + filled;
    if (key == m_lastDrawn)
        return; // nothing visible changed: spare the terminal
    m_lastDrawn = key;
    const QString line = QStringLiteral("\r%1 [%2%3] %4%")
                             .arg(m_label, QString(filled, u'#'), QString(kBarWidth - filled, u'.'))
                             .arg(percent, 3);
    std::fputs(line.toUtf8().constData(), stderr);
    std::fflush(stderr);
    m_shown = true;
}

void ProgressBar::finish() {
    if (!m_shown)
        return;
    std::fprintf(stderr, "\r%*s\r", kLineWidth, "");
    std::fflush(stderr);
    m_shown = false;
    m_lastDrawn = -1;
}

void TerminalProgress::begin(const kbxops::Step& step) {
    if (step.kind == kbxops::Step::Delete)
        return; // one message, nothing to watch
    QString label =
        QString::fromStdString(m_messages.GetStatusMsg(static_cast<std::int32_t>(step.kind)));
    if (step.count > 0)
        label += QStringLiteral(" %1/%2").arg(step.index).arg(step.count);
    m_bar.start(label, step.total);
}

} // namespace kbxcli

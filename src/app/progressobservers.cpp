#include "progressobservers.h"

#include "msgstr.h"

#include <QProgressBar>
#include <algorithm>

PBarKbdDrvObserver::PBarKbdDrvObserver(QProgressBar* bar)
    : m_bar(bar) {}

void PBarKbdDrvObserver::update(ZxKbdDrv& drive) {
    if (!m_bar)
        return;
    m_bar->setValue(m_bar->value() + static_cast<int>(drive.progressStep()));
    m_bar->repaint();
}

PBarKbxObserver::PBarKbxObserver(QProgressBar* bar)
    : m_bar(bar) {}

void PBarKbxObserver::update(KbxStream& stream) {
    if (!m_bar)
        return;
    m_bar->setValue(static_cast<int>(stream.position()));
    m_bar->repaint();
}

PBarProgress::PBarProgress(QProgressBar* bar)
    : m_bar(bar) {}

void PBarProgress::begin(const kbxops::Step& step) {
    m_transfer = step.kind == kbxops::Step::Send || step.kind == kbxops::Step::Import;
    if (!m_bar || step.kind == kbxops::Step::Delete)
        return;
    // A range of 0 to 0 would turn the bar into a busy indicator.
    m_bar->setMaximum(static_cast<int>(std::max<std::uint32_t>(step.total, 1)));
    // What the bar's text says while it is shown: how far, and for a transfer of how much.
    m_bar->setFormat(m_transfer ? localText("%p% (%v of %m bytes)", "%p% (%v / %m バイト)")
                                : QStringLiteral("%p%"));
    m_bar->setTextVisible(true);
}

void PBarProgress::advanceTo(std::uint32_t done) {
    if (!m_bar || !m_transfer)
        return;
    m_bar->setValue(static_cast<int>(done));
    m_bar->repaint();
}

#include "progressobservers.h"

#include <QProgressBar>

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

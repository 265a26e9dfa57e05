#pragma once
// The two observers that move the main window's progress bar: one for the drive's list, one for
// a data-file stream's transfer. Each repaints the bar at once, since the transfer runs on the
// GUI thread and the next regular paint may come only after it.

#include "kbxstream.h"
#include "zxkbddrv.h"

#include <QPointer>

class QProgressBar;

class PBarKbdDrvObserver : public ZxKbdDrvObserver {
public:
    explicit PBarKbdDrvObserver(QProgressBar* bar);
    // Adds the drive's progress step to the bar's position.
    void update(ZxKbdDrv& drive) override;

private:
    QPointer<QProgressBar> m_bar;
};

class PBarKbxObserver : public KbxStreamObserver {
public:
    explicit PBarKbxObserver(QProgressBar* bar);
    // Sets the bar's position to the bytes the stream has moved.
    void update(KbxStream& stream) override;

private:
    QPointer<QProgressBar> m_bar;
};

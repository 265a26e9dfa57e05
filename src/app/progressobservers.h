#pragma once
// The two observers that move the main window's progress bar: one for the drive's list, one for
// a data-file stream's transfer. Each repaints the bar at once, since the transfer runs on the
// GUI thread and the next regular paint may come only after it.

#include "kbxstream.h"
#include "ops/progress.h"
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

// The operations' progress on the window's bar: a transfer sets the bar's range to the item's
// bytes and its position to the bytes moved, as PBarKbxObserver does; a list moves the bar
// through the drive's observer above, which the window keeps attached. From the first step on,
// the bar shows its text: the percentage, and for a transfer the bytes of bytes (the window hides
// it again when the action ends).
class PBarProgress : public kbxops::Progress {
public:
    explicit PBarProgress(QProgressBar* bar);
    void begin(const kbxops::Step& step) override;
    void advanceTo(std::uint32_t done) override;
    void end() override {}

private:
    QPointer<QProgressBar> m_bar;
    bool m_transfer = false;
};

#pragma once
// A one-line progress bar on stderr, for a person watching a terminal: never drawn when stderr is
// not a terminal or when the output is JSON.

#include "kbxstream.h"
#include "zxkbddrv.h"

#include <QString>

namespace kbxcli {

class ProgressBar {
public:
    explicit ProgressBar(bool enabled);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // True when stderr is a terminal.
    static bool stderrIsTerminal();

    void start(const QString& label, qint64 maximum);
    void setValue(qint64 value);
    void advance(qint64 step) { setValue(m_value + step); }
    void finish(); // clears the line

private:
    void draw();

    bool m_enabled;
    bool m_shown = false;
    QString m_label;
    qint64 m_maximum = 0;
    qint64 m_value = 0;
    int m_lastDrawn = -1;
};

// Advances the bar by the drive's progress step at each node the drive lists.
class DriveProgress : public ZxKbdDrvObserver {
public:
    void setBar(ProgressBar* bar) { m_bar = bar; }
    void update(ZxKbdDrv& drive) override;

private:
    ProgressBar* m_bar = nullptr;
};

// Sets the bar to the bytes a stream has moved.
class StreamProgress : public KbxStreamObserver {
public:
    explicit StreamProgress(ProgressBar& bar)
        : m_bar(bar) {}
    void update(KbxStream& stream) override { m_bar.setValue(stream.position()); }

private:
    ProgressBar& m_bar;
};

} // namespace kbxcli

#pragma once
// A one-line progress bar on stderr, for a person watching a terminal: never drawn when stderr is
// not a terminal or when the output is JSON.

#include "msgstr.h"
#include "ops/progress.h"

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

// The operations' progress on the bar: the message table's status text as the label, with the
// item's number and the count within a job ("Receiving a data... 3/31").
class TerminalProgress : public kbxops::Progress {
public:
    TerminalProgress(ProgressBar& bar, const MsgStr& messages)
        : m_bar(bar)
        , m_messages(messages) {}
    void begin(const kbxops::Step& step) override;
    void advanceTo(std::uint32_t done) override { m_bar.setValue(done); }
    void end() override { m_bar.finish(); }

private:
    ProgressBar& m_bar;
    const MsgStr& m_messages;
};

} // namespace kbxcli

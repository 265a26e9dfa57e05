#pragma once
// The MIDI monitor (View > MIDI Monitor): a dock window with every message the keyboard actions
// send and receive, one a line, with the time since the action began, the direction, the bytes
// and what they mean; time-outs and errors as lines of their own. It keeps the last kMaxLines
// lines and can copy them, clear them, and save them as text or the messages as a .syx file.
// It listens only while it is open: closed, the exchanges are not even asked (kbxops::Trace).

#include "ops/trace.h"

#include <QDockWidget>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QPlainTextEdit;
class QTimer;

class MidiMonitor : public QDockWidget, public kbxops::TraceListener {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;

    explicit MidiMonitor(QWidget* parent = nullptr);
    ~MidiMonitor() override;

    // The lines kept, oldest first, as they are shown and saved.
    QStringList lines() const;
    // The messages among them, as they went over the cable.
    std::vector<std::vector<std::uint8_t>> messages() const;
    bool isListening() const;

    // Asks for the file to save to; empty: the user cancelled. A file dialog unless a test has
    // set another.
    using FileChooser = std::function<QString(QWidget* parent, const QString& caption,
                                              const QString& filter, const QString& suffix)>;
    void setFileChooser(FileChooser chooser);

    void traced(const kbxops::TraceLine& line) override;
    // Lines arrive during an action's waits and are drawn in batches; this draws the rest now.
    void flush();

public Q_SLOTS:
    void copy(); // the selected text, or every line when nothing is selected
    void clear();
    void saveText();
    void saveSysEx();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setListening(bool on);

    QPlainTextEdit* m_view = nullptr;
    QTimer* m_flushTimer = nullptr;
    std::deque<kbxops::TraceLine> m_lines;
    QStringList m_pending; // received, not drawn yet
    FileChooser m_chooser;
};

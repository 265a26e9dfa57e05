#pragma once
// What goes over the cable, line by line, for the window's MIDI monitor and kbxtool --trace: every
// message sent and received by any exchange of the process, with the time since the action
// began, and time-outs and failures as lines of their own. One listener at a time; while there is
// none the exchanges are not even asked (ZxExchange::setTrace), so the trace costs nothing.

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

namespace kbxops {

struct TraceLine {
    enum Kind { Sent, Received, TimedOut, Failed };
    Kind kind = Sent;
    double ms = 0;                   // since the action began
    std::vector<std::uint8_t> bytes; // the message; empty for a time-out or a failure
    QString words;

    bool isMessage() const { return kind == Sent || kind == Received; }
    // "12.3 > F0 44 11 01 7F 10 22 1F 00 00 00 F7  free-memory request": the milliseconds,
    // '>' to the keyboard or '<' from it, the bytes, two blanks, the words. A time-out or a
    // failure: "212.4 ! time-out: no reply within 200 ms".
    QString text() const;
};

class TraceListener {
public:
    virtual ~TraceListener() = default;
    // On the GUI thread, while an exchange waits: it must not start another exchange.
    virtual void traced(const TraceLine& line) = 0;
};

class Trace {
public:
    static Trace& instance();
    ~Trace();

    // Not owned; nullptr turns the trace off. The clock starts now when no action runs.
    void setListener(TraceListener* listener);
    TraceListener* listener() const { return m_listener; }

    // One action with the keyboard (a list, an item's transfer, a whole kbxtool command):
    // actions nest, and the clock of the lines starts with the outermost. A failure is a line of
    // its own once, however many actions it leaves.
    class Action {
    public:
        Action();
        ~Action();
        Action(const Action&) = delete;
        Action& operator=(const Action&) = delete;
        void failed(std::exception_ptr error);
    };

private:
    Trace();
    class Relay;
    void tell(TraceLine line);

    std::unique_ptr<Relay> m_relay;
    TraceListener* m_listener = nullptr;
    QElapsedTimer m_clock;
    int m_depth = 0;
    bool m_failureTraced = false;
};

// Runs body as one traced action: a failure leaving it is traced, then passed on.
template <class F>
auto traced(F&& body) -> decltype(body()) {
    Trace::Action action;
    try {
        return body();
    } catch (...) {
        action.failed(std::current_exception());
        throw;
    }
}

// The monitor's lines as a text file, one a line; the messages among them as a .syx file, their
// bytes one after the other. Either is written whole or not at all; a failure throws
// std::runtime_error in the user's language, naming the file.
void saveTraceText(const QString& path, const QStringList& lines);
void saveTraceSysEx(const QString& path, const std::vector<std::vector<std::uint8_t>>& messages);

} // namespace kbxops

#include "trace.h"

#include "msgstr.h"
#include "zxexchange.h"
#include "zxwords.h"

#include <QDir>
#include <stdexcept>

namespace kbxops {

// Stands between the exchanges and the listener: ZxExchange knows nothing of lines and clocks.
class Trace::Relay : public ZxExchangeObserver {
public:
    explicit Relay(Trace& trace)
        : m_trace(trace) {}
    void sent(const std::vector<std::uint8_t>& message) override {
        tellMessage(TraceLine::Sent, message);
    }
    void received(const std::vector<std::uint8_t>& message) override {
        tellMessage(TraceLine::Received, message);
    }
    void timedOut() override {
        TraceLine line;
        line.kind = TraceLine::TimedOut;
        line.words = localText("time-out: no reply within %1 ms",
                               "タイムアウト: %1 ms 以内に応答がありません")
                         .arg(ZxExchange::kTimeoutMs);
        m_trace.tell(std::move(line));
    }

private:
    void tellMessage(TraceLine::Kind kind, const std::vector<std::uint8_t>& message) {
        TraceLine line;
        line.kind = kind;
        line.bytes = message;
        line.words = QString::fromStdString(zxwords::describe(message));
        m_trace.tell(std::move(line));
    }

    Trace& m_trace;
};

QString TraceLine::text() const {
    const QString time = QString::number(ms, 'f', 1);
    switch (kind) {
    case Sent:
    case Received:
        return time + (kind == Sent ? QStringLiteral(" > ") : QStringLiteral(" < ")) +
               QString::fromStdString(zxwords::hex(bytes)) + QStringLiteral("  ") + words;
    case TimedOut:
    case Failed:
        break;
    }
    return time + QStringLiteral(" ! ") + words;
}

Trace& Trace::instance() {
    static Trace trace;
    return trace;
}

Trace::Trace()
    : m_relay(std::make_unique<Relay>(*this)) {}

Trace::~Trace() {
    if (ZxExchange::trace() == m_relay.get())
        ZxExchange::setTrace(nullptr);
}

void Trace::setListener(TraceListener* listener) {
    m_listener = listener;
    ZxExchange::setTrace(listener ? m_relay.get() : nullptr);
    if (m_depth == 0)
        m_clock.start();
}

void Trace::tell(TraceLine line) {
    if (!m_listener)
        return;
    if (!m_clock.isValid())
        m_clock.start();
    line.ms = static_cast<double>(m_clock.nsecsElapsed()) / 1e6;
    m_listener->traced(line);
}

Trace::Action::Action() {
    Trace& trace = instance();
    // Also without a listener: one may come while the action runs (kbxtool sets its own after
    // the command's action has begun), and reading the clock costs next to nothing.
    if (trace.m_depth++ == 0)
        trace.m_clock.start();
    // Work begins again: a failure from here on is a new one.
    trace.m_failureTraced = false;
}

Trace::Action::~Action() {
    --instance().m_depth;
}

void Trace::Action::failed(std::exception_ptr error) {
    Trace& trace = instance();
    if (trace.m_failureTraced || !trace.m_listener)
        return;
    trace.m_failureTraced = true;
    TraceLine line;
    line.kind = TraceLine::Failed;
    // The text of the error box, so the monitor and the box say the same.
    const ErrorReport report = describeException(MsgStr(), error);
    line.words = localText("error: %1", "エラー: %1").arg(QString::fromStdString(report.message));
    trace.tell(std::move(line));
}

namespace {

void saveWhole(const QString& path, const QByteArray& bytes) {
    kbxio::Reason why;
    if (!kbxio::writeWhole(path, bytes, &why))
        throw std::runtime_error(
            localText("The file \"%1\" cannot be written: %2", "ファイル「%1」に書き込めません: %2")
                .arg(QDir::toNativeSeparators(path), localText(why))
                .toStdString());
}

} // namespace

void saveTraceText(const QString& path, const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines)
        text += line.toUtf8() + '\n';
    saveWhole(path, text);
}

void saveTraceSysEx(const QString& path, const std::vector<std::vector<std::uint8_t>>& messages) {
    QByteArray bytes;
    for (const auto& message : messages)
        bytes.append(reinterpret_cast<const char*>(message.data()),
                     static_cast<qsizetype>(message.size()));
    saveWhole(path, bytes);
}

} // namespace kbxops

#include "zxexchange.h"

#include "zxcancel.h"
#include "zxmidi.h"

#include <QCoreApplication>
#include <QTimer>
#include <stdexcept>

ZxExchange::ZxExchange()
    : m_outNotification(std::make_unique<ZxMidiObserver>())
    , m_inNotification(std::make_unique<ZxMidiObserver>())
    , m_out(std::make_unique<ZxMidiOut>())
    , m_in(std::make_unique<ZxMidiIn>())
    , m_timer(std::make_unique<QTimer>()) {
    // The ports' notifications arrive as queued calls on this thread; a parent window is not
    // needed for that, so the ports have none.
    m_outNotification->setHandler([this] { outputDone(); });
    m_inNotification->setHandler([this] { messageArrived(); });
    m_out->attach(m_outNotification.get());
    m_in->attach(m_inNotification.get());

    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kTimeoutMs);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { timerFired(); });
}

ZxExchange::~ZxExchange() {
    m_timer->stop();
    closeQuietly();
}

void ZxExchange::open(const kbxmidi::DeviceRef& inputDevice,
                      const kbxmidi::DeviceRef& outputDevice) {
    // Notifications queued before a close never arrive after an open (the ports drop them), so
    // nothing of an earlier message is still outstanding.
    m_outputsPending = 0;
    m_in->open(inputDevice);
    m_out->open(outputDevice);
}

void ZxExchange::close() {
    m_timer->stop();
    m_outputsPending = 0;
    std::exception_ptr failure;
    try {
        m_out->close();
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        m_in->close();
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ZxExchange::closeQuietly() noexcept {
    try {
        close();
    } catch (...) {
        // The failure that ended the exchange is the one worth reporting.
    }
}

bool ZxExchange::isOpen() const {
    return m_in->isOpen() || m_out->isOpen();
}

void ZxExchange::requireOpen() const {
    if (!m_in->isOpen() || !m_out->isOpen())
        throw std::runtime_error("MIDI SYSTEM ERROR: the keyboard link is not open");
}

void ZxExchange::send() {
    m_awaitingReply = false;
    try {
        sendMessage();
        wait();
    } catch (...) {
        closeQuietly();
        throw;
    }
}

void ZxExchange::request() {
    m_awaitingReply = true;
    try {
        sendMessage();
        wait();
        m_awaitingReply = false;
        m_timer->stop();
        // The reply (or the time-out) is a boundary: a cancel asked for meanwhile ends the
        // action here, before the reply is acted on.
        ZxCancellation::checkpoint();
        if (m_timedOut) {
            if (m_observer)
                m_observer->timedOut();
            if (s_trace)
                s_trace->timedOut();
            // A keyboard whose ports have gone is named as gone, not as silent.
            m_in->checkPresent();
            m_out->checkPresent();
            settle();
            close();
            throw ZxSysExException(ZxSysExException::Timeout);
        }
        m_received.clear();
        m_in->lastMessage(m_received);
        m_decoder.decode(m_received);
    } catch (...) {
        m_awaitingReply = false;
        m_timer->stop();
        closeQuietly();
        throw;
    }
}

void ZxExchange::sendMessage() {
    // Nothing of a cancelled action reaches the keyboard after the request.
    ZxCancellation::checkpoint();
    m_done = false;
    m_timedOut = false;
    m_sent.clear();
    m_encoder.encode(m_sent);
    m_out->loadMessage(m_sent);
    // Counted before the hand-over: the report is a queued call, so it cannot arrive before
    // sendMessage returns, and a failed hand-over closes the ports, which resets the count.
    ++m_outputsPending;
    m_out->sendMessage();
    if (m_observer)
        m_observer->sent(m_sent);
    if (s_trace)
        s_trace->sent(m_sent);
}

void ZxExchange::wait() {
    while (!m_done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // A device the system reports gone ends the wait now, not at the time-out.
        m_in->checkDevice();
        m_out->checkDevice();
    }
}

void ZxExchange::settle() {
    QElapsedTimer total;
    total.start();
    m_quiet.start();
    m_settling = true;
    // Wakes the loop when nothing else does, so that the quiet time is seen to have passed.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(10);
    try {
        while (m_quiet.elapsed() < kQuietMs && total.elapsed() < kSettleMaxMs) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            m_in->checkDevice();
            m_out->checkDevice();
        }
    } catch (...) {
        m_settling = false;
        throw;
    }
    m_settling = false;
}

void ZxExchange::outputDone() {
    if (m_outputsPending > 0)
        --m_outputsPending;
    // A report of an earlier message (one whose reply overtook it) must neither end this wait nor
    // start its time-out early; only the last message sent counts.
    if (m_done || m_outputsPending > 0)
        return;
    if (m_awaitingReply)
        m_timer->start();
    else
        m_done = true;
}

void ZxExchange::messageArrived() {
    if (m_observer || s_trace) {
        std::vector<std::uint8_t> message;
        m_in->lastMessage(message);
        if (m_observer)
            m_observer->received(message);
        if (s_trace)
            s_trace->received(message);
    }
    if (m_settling)
        m_quiet.restart();
    // Only a request awaits a reply; a message during a send, or between messages, ends nothing.
    if (!m_awaitingReply || m_done)
        return;
    m_timer->stop();
    m_done = true;
}

void ZxExchange::timerFired() {
    if (m_done)
        return;
    m_timedOut = true;
    m_done = true;
}

#pragma once
// One message at a time with the keyboard: the pair of ports, the codec, and the wait. A message
// is either sent alone (the call returns once the port reports it has left) or sent as a request
// (the call returns once a reply has arrived and been decoded; a reply must arrive within 200 ms
// of the request having left the port). Waits run the Qt event loop, so user input is dispatched
// meanwhile; the exchange is not re-entrant.
//
// Only the report of the message just sent counts: a report of an earlier message (whose reply
// overtook it) neither ends a send nor starts a request's time-out early, and a report from before
// the last open never arrives at all (the ports drop it).
//
// Any failure of a send or a request (time-out, a reply the decoder refuses, a driver error)
// closes both ports before the exception leaves, so the next action can open them again. After a
// time-out the ports first stay open until the keyboard has been quiet for kQuietMs (at most
// kSettleMaxMs): a keyboard that answers late still answers, and its late words must not be taken
// for the reply to whatever is asked next.
//
// Each call is one message, so a caller that stops between calls stops at a message boundary.
// The active ZxCancellation is looked at before every message and when a request's wait ends: a
// cancel throws ZxCancelledException there, with both ports closed like any other failure.

#include "midi/mididevices.h"
#include "zxsysex.h"

#include <QElapsedTimer>
#include <cstdint>
#include <memory>
#include <vector>

class QTimer;
class ZxMidiIn;
class ZxMidiOut;
class ZxMidiObserver;

// Sees the traffic of an exchange: every message handed to the output port, every message of the
// keyboard's maker that the input port receives while it is open, and every time-out. Told on the
// GUI thread in the order things happen; it must not start another exchange.
class ZxExchangeObserver {
public:
    virtual ~ZxExchangeObserver() = default;
    virtual void sent(const std::vector<std::uint8_t>& message) = 0;
    virtual void received(const std::vector<std::uint8_t>& message) = 0;
    virtual void timedOut() = 0;
};

class ZxExchange {
public:
    static constexpr int kTimeoutMs = 200;
    static constexpr int kQuietMs = 100;
    static constexpr int kSettleMaxMs = 1000;

    ZxExchange();
    ~ZxExchange(); // closes the ports; a driver failure then is not reported
    ZxExchange(const ZxExchange&) = delete;
    ZxExchange& operator=(const ZxExchange&) = delete;

    // The codec of the messages: the caller sets the type, records and fields before each send,
    // and reads the decoded reply after a request.
    ZxSysExEncoder& encoder() { return m_encoder; }
    ZxSysExDecoder& decoder() { return m_decoder; }

    // The input port, then the output port; the output is not opened if the input fails, and an
    // input opened before the output failed stays open for the caller to close.
    void open(const kbxmidi::DeviceRef& inputDevice, const kbxmidi::DeviceRef& outputDevice);
    // Output, then input; closed ports: nothing. The input is released even when closing the
    // output failed; the first failure is then reported.
    void close();
    bool isOpen() const; // either port holds its device
    // Throws std::runtime_error unless both ports are open: a message sent into a closed port
    // would never be reported sent.
    void requireOpen() const;

    // Sends the encoder's message and waits until the port reports it sent.
    void send();
    // Sends the encoder's message, waits for the reply and decodes it. No reply within
    // kTimeoutMs of the message having left: ZxSysExException Timeout.
    void request();

    // Not owned; nullptr for none. Takes effect with the next notification.
    void setObserver(ZxExchangeObserver* observer) { m_observer = observer; }

    // The process-wide trace (the MIDI monitor, kbxtool --trace): while one is set, every exchange
    // of the process tells it what its own observer is told, so that an action's drive link and
    // each of its streams reach it without being handed it. Not owned; nullptr (the default)
    // turns it off, and then the exchanges do no more than test the pointer.
    static void setTrace(ZxExchangeObserver* trace) { s_trace = trace; }
    static ZxExchangeObserver* trace() { return s_trace; }

private:
    void sendMessage();
    void wait();
    void settle();
    void closeQuietly() noexcept;
    void outputDone();
    void messageArrived();
    void timerFired();

    ZxSysExEncoder m_encoder;
    ZxSysExDecoder m_decoder;
    std::unique_ptr<ZxMidiObserver> m_outNotification;
    std::unique_ptr<ZxMidiObserver> m_inNotification;
    // Declared after the notifications: the ports go first, so no port ever calls an observer
    // that is gone.
    std::unique_ptr<ZxMidiOut> m_out;
    std::unique_ptr<ZxMidiIn> m_in;
    std::unique_ptr<QTimer> m_timer;
    ZxExchangeObserver* m_observer = nullptr;
    static inline ZxExchangeObserver* s_trace = nullptr;
    std::vector<std::uint8_t> m_sent;
    std::vector<std::uint8_t> m_received;
    bool m_awaitingReply = false;
    bool m_done = true;
    bool m_timedOut = false;
    bool m_settling = false;
    QElapsedTimer m_quiet;    // since the last message arrived while settling
    int m_outputsPending = 0; // messages handed to the output port, not yet reported sent
};

#pragma once
// The virtual ZR-7316 as a device source: one input and one output, both "Virtual ZR-7316".
// What the host sends reaches the keyboard from the event loop, never inside send(); with the
// keyboard's wire-speed fault on, at 31250 baud (320 us per byte), one message after another.
// The keyboard's replies go to every open input.

#include "midibackend.h"

#include <QElapsedTimer>
#include <QPointer>
#include <cstdint>
#include <deque>
#include <vector>

class QTimer;
class VirtualZr7316;

namespace kbxmidi {

class VirtualDevice : public Backend {
public:
    static constexpr std::int64_t kNanosecondsPerByte = 320'000; // 10 bits at 31250 baud

    VirtualDevice();
    ~VirtualDevice() override;

    std::vector<std::string> inputNames() override;
    std::vector<std::string> outputNames() override;
    std::unique_ptr<InputConnection> openInput(int index, ReceiveFn onMessage) override;
    std::unique_ptr<OutputConnection> openOutput(int index) override;

    // Created on first use, as a child of the application object so that it goes with it.
    VirtualZr7316& keyboard();

private:
    class Input;
    class Output;

    struct Pending {
        std::uint64_t owner;
        std::vector<std::uint8_t> message;
        SentFn sent;
        std::int64_t dueNs;
    };

    void send(std::uint64_t owner, const std::vector<std::uint8_t>& message, SentFn sent);
    void drop(std::uint64_t owner);
    void deliverDue();
    void schedule();
    void reply(const std::vector<std::uint8_t>& message);

    QPointer<VirtualZr7316> m_keyboard;
    QPointer<QTimer> m_wireTimer;
    QElapsedTimer m_clock;
    std::deque<Pending> m_wire;
    std::int64_t m_wireFreeNs = 0; // when the wire has carried everything queued so far
    std::vector<Input*> m_inputs;
    std::uint64_t m_nextOwner = 1;
};

} // namespace kbxmidi

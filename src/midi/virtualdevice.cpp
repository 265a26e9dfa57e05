#include "virtualdevice.h"

#include "virtualzr7316.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <stdexcept>

namespace kbxmidi {

class VirtualDevice::Input : public InputConnection {
public:
    Input(VirtualDevice& device, ReceiveFn onMessage)
        : m_device(device)
        , m_onMessage(std::move(onMessage)) {
        m_device.m_inputs.push_back(this);
    }
    ~Input() override { std::erase(m_device.m_inputs, this); }

    void deliver(const std::vector<std::uint8_t>& message) {
        if (m_onMessage)
            m_onMessage(message);
    }

private:
    VirtualDevice& m_device;
    ReceiveFn m_onMessage;
};

class VirtualDevice::Output : public OutputConnection {
public:
    explicit Output(VirtualDevice& device)
        : m_device(device)
        , m_owner(device.m_nextOwner++) {}
    // What is still on the wire is lost, as with a real device that is reset on close.
    ~Output() override { m_device.drop(m_owner); }

    void send(const std::vector<std::uint8_t>& message, SentFn sent) override {
        m_device.send(m_owner, message, std::move(sent));
    }

private:
    VirtualDevice& m_device;
    std::uint64_t m_owner;
};

VirtualDevice::VirtualDevice() {
    m_clock.start();
}

VirtualDevice::~VirtualDevice() {
    // Without an application object the keyboard has no parent and is ours to delete.
    if (m_keyboard && !m_keyboard->parent())
        delete m_keyboard.data();
}

std::vector<std::string> VirtualDevice::inputNames() {
    return {kVirtualDeviceName};
}

std::vector<std::string> VirtualDevice::outputNames() {
    return {kVirtualDeviceName};
}

std::unique_ptr<InputConnection> VirtualDevice::openInput(int index, ReceiveFn onMessage) {
    if (index != 0)
        throw std::runtime_error("The device number is out of range.");
    keyboard();
    return std::make_unique<Input>(*this, std::move(onMessage));
}

std::unique_ptr<OutputConnection> VirtualDevice::openOutput(int index) {
    if (index != 0)
        throw std::runtime_error("The device number is out of range.");
    keyboard();
    return std::make_unique<Output>(*this);
}

VirtualZr7316& VirtualDevice::keyboard() {
    if (!m_keyboard) {
        m_keyboard = new VirtualZr7316(QCoreApplication::instance());
        m_keyboard->setReplySink([this](const std::vector<std::uint8_t>& m) { reply(m); });
        m_wireTimer = new QTimer(m_keyboard);
        m_wireTimer->setSingleShot(true);
        m_wireTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_wireTimer, &QTimer::timeout, m_keyboard, [this] { deliverDue(); });
        m_wire.clear(); // whatever was queued for a keyboard that is gone
    }
    return *m_keyboard;
}

void VirtualDevice::send(std::uint64_t owner, const std::vector<std::uint8_t>& message,
                         SentFn sent) {
    const VirtualZr7316& kbd = keyboard();
    const std::int64_t now = m_clock.nsecsElapsed();
    // Messages leave in order; a paced one occupies the wire for its bytes.
    std::int64_t due = std::max(now, m_wire.empty() ? now : m_wire.back().dueNs);
    if (kbd.faults().wireSpeed) {
        due = std::max(due, m_wireFreeNs) +
              kNanosecondsPerByte * static_cast<std::int64_t>(message.size());
        m_wireFreeNs = due;
    }
    m_wire.push_back({owner, message, std::move(sent), due});
    schedule();
}

void VirtualDevice::drop(std::uint64_t owner) {
    const auto before = m_wire.size();
    std::erase_if(m_wire, [owner](const Pending& p) { return p.owner == owner; });
    if (m_wire.size() != before)
        schedule();
}

void VirtualDevice::schedule() {
    if (!m_wireTimer)
        return;
    if (m_wire.empty()) {
        m_wireTimer->stop();
        return;
    }
    const std::int64_t wait = m_wire.front().dueNs - m_clock.nsecsElapsed();
    // The timer counts whole milliseconds: rounding down, then polling the last fraction,
    // delivers on time (deliverDue never delivers early). Rounding up made every paced
    // message up to a millisecond late.
    const int ms = wait <= 0 ? 0 : static_cast<int>(wait / 1'000'000);
    m_wireTimer->start(ms);
}

void VirtualDevice::deliverDue() {
    while (!m_wire.empty() && m_wire.front().dueNs <= m_clock.nsecsElapsed()) {
        Pending next = std::move(m_wire.front());
        m_wire.pop_front();
        if (m_keyboard)
            m_keyboard->receive(next.message);
        if (next.sent)
            next.sent();
    }
    schedule();
}

void VirtualDevice::reply(const std::vector<std::uint8_t>& message) {
    // Copied: a receiver may close its connection (and leave the list) in response.
    const std::vector<Input*> inputs = m_inputs;
    for (Input* input : inputs)
        if (std::find(m_inputs.begin(), m_inputs.end(), input) != m_inputs.end())
            input->deliver(message);
}

} // namespace kbxmidi

#include "zxmidi.h"

#include "devicewatch.h"

#include <QMetaObject>
#include <algorithm>
#include <stdexcept>
#include <utility>

namespace {

// One complete System Exclusive message of the keyboard's maker: F0 44, data bytes, F7. A status
// byte inside means two messages ran together or a fragment was cut off; both are dropped.
bool isMakersSysEx(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 3 || bytes.front() != 0xF0 || bytes[1] != 0x44 || bytes.back() != 0xF7)
        return false;
    return std::none_of(bytes.begin() + 1, bytes.end() - 1,
                        [](std::uint8_t b) { return b >= 0x80; });
}

} // namespace

// ---- ZxMidi

ZxMidi::ZxMidi(QObject* parent)
    : QObject(parent) {}

ZxMidi::~ZxMidi() = default;

void ZxMidi::attach(ZxMidiObserver* observer) {
    m_observers.push_back(observer);
}

void ZxMidi::notifyAll() {
    // By index: an observer may attach another one while being told.
    for (std::size_t i = 0; i < m_observers.size(); ++i)
        m_observers[i]->update();
}

void ZxMidi::lastMessage(std::vector<std::uint8_t>& out) const {
    out.insert(out.end(), m_message.begin(), m_message.end());
}

void ZxMidi::checkDevice() const {
    if (m_lost && isOpen()) {
        // A bound action opens nothing more on this device, even if a namesake comes back.
        m_ref.markLost();
        throw kbxmidi::DeviceLost(m_deviceName);
    }
}

void ZxMidi::checkPresent() const {
    checkDevice();
    if (!isOpen() || !m_ref.isBound())
        return;
    if (!listed(m_ref.identity())) {
        m_ref.markLost();
        throw kbxmidi::DeviceLost(m_ref.identity().name);
    }
}

void ZxMidi::watchDevice(std::string name) {
    m_deviceName = std::move(name);
    m_lost = false;
    if (m_deviceName.empty())
        return;
    kbxmidi::DeviceWatch& watch = kbxmidi::DeviceWatch::instance();
    watch.start();
    if (!m_watching) {
        connect(&watch, &kbxmidi::DeviceWatch::devicesRemoved, this, &ZxMidi::devicesRemoved);
        m_watching = true;
    }
}

void ZxMidi::devicesRemoved(const std::vector<std::string>& names) {
    if (isOpen() && !m_deviceName.empty() &&
        std::find(names.begin(), names.end(), m_deviceName) != names.end())
        m_lost = true;
}

void ZxMidi::systemError(const std::string& driverText) {
    throw std::runtime_error("MIDI SYSTEM ERROR: " + driverText);
}

// ---- ZxMidiOut

ZxMidiOut::ZxMidiOut(QObject* parent)
    : ZxMidi(parent) {}

ZxMidiOut::~ZxMidiOut() {
    try {
        close();
    } catch (...) {
        // A destructor cannot report; the device is released regardless.
    }
}

void ZxMidiOut::open(const kbxmidi::DeviceRef& device) {
    close();
    ++m_generation;
    m_ref = device;
    try {
        m_device = kbxmidi::DeviceRegistry::instance().openOutput(device);
    } catch (const kbxmidi::DeviceLost&) {
        throw;
    } catch (const std::runtime_error& e) {
        systemError(e.what());
    }
    watchDevice(m_device->name());
}

bool ZxMidiOut::listed(const kbxmidi::PortIdentity& identity) const {
    return kbxmidi::DeviceRegistry::instance().findOutput(identity) >= 0;
}

void ZxMidiOut::close() {
    if (!m_device)
        return;
    // The connection's destructor stops pending output; a new generation makes any output-done
    // already queued for this port stale.
    m_device.reset();
    ++m_generation;
}

void ZxMidiOut::loadMessage(const std::vector<std::uint8_t>& bytes) {
    if (!m_device)
        return;
    if (bytes.size() > kBufferSize)
        systemError("message of " + std::to_string(bytes.size()) + " bytes does not fit the " +
                    std::to_string(kBufferSize) + "-byte buffer");
    std::copy(bytes.begin(), bytes.end(), m_buffer.begin());
    m_length = bytes.size();
}

void ZxMidiOut::sendMessage() {
    if (!m_device)
        return;
    std::vector<std::uint8_t> message(m_buffer.begin(),
                                      m_buffer.begin() + static_cast<std::ptrdiff_t>(m_length));
    const std::uint64_t generation = m_generation;
    // The device may report from any thread; the port handles the report on its own thread. The
    // connection never calls back after it is destroyed, and the port destroys it before itself.
    auto sent = [this, generation, message] {
        QMetaObject::invokeMethod(
            this, [this, generation, message] { outputDone(generation, message); },
            Qt::QueuedConnection);
    };
    try {
        m_device->send(message, std::move(sent));
    } catch (const std::runtime_error& e) {
        systemError(e.what());
    }
}

void ZxMidiOut::outputDone(std::uint64_t generation, const std::vector<std::uint8_t>& sent) {
    if (!m_device || generation != m_generation)
        return;
    m_message = sent;
    notifyAll();
}

// ---- ZxMidiIn

ZxMidiIn::ZxMidiIn(QObject* parent)
    : ZxMidi(parent) {}

ZxMidiIn::~ZxMidiIn() {
    try {
        close();
    } catch (...) {
    }
}

void ZxMidiIn::open(const kbxmidi::DeviceRef& device) {
    close();
    m_ref = device;
    const std::uint64_t generation = ++m_generation;
    auto received = [this, generation](std::vector<std::uint8_t> bytes) {
        QMetaObject::invokeMethod(
            this, [this, generation, bytes = std::move(bytes)] { longData(generation, bytes); },
            Qt::QueuedConnection);
    };
    try {
        m_device = kbxmidi::DeviceRegistry::instance().openInput(device, std::move(received));
    } catch (const kbxmidi::DeviceLost&) {
        throw;
    } catch (const std::runtime_error& e) {
        systemError(e.what());
    }
    watchDevice(m_device->name());
}

bool ZxMidiIn::listed(const kbxmidi::PortIdentity& identity) const {
    return kbxmidi::DeviceRegistry::instance().findInput(identity) >= 0;
}

void ZxMidiIn::close() {
    if (!m_device)
        return;
    m_device.reset();
    ++m_generation;
}

void ZxMidiIn::longData(std::uint64_t generation, const std::vector<std::uint8_t>& bytes) {
    if (!m_device || generation != m_generation)
        return;
    // An empty buffer is what a device hands back when it is reset: nothing was received.
    if (bytes.empty())
        return;
    if (isMakersSysEx(bytes))
        m_message = bytes;
    else
        m_message.clear();
    if (!m_message.empty())
        notifyAll();
}

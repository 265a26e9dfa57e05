#pragma once
// MIDI ports: ZxMidiOut sends one System Exclusive message at a time, ZxMidiIn receives complete
// System Exclusive messages of the protocol's manufacturer (F0 44 ... F7). Device notifications
// are brought onto the GUI thread as queued calls and handled one at a time, in order, while an
// event loop runs. Each open starts a new generation: a notification queued before close never
// reaches observers, also not after a later open.

#include "mididevices.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Told when a port has sent or received a message. The handler is replaced by the owner per
// exchange; without one, update does nothing.
class ZxMidiObserver {
public:
    using Handler = std::function<void()>;
    virtual ~ZxMidiObserver() = default;
    virtual void update() {
        if (m_handler)
            m_handler();
    }
    void setHandler(Handler handler) { m_handler = std::move(handler); }

private:
    Handler m_handler;
};

class ZxMidi : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kBufferSize = 256;

    ~ZxMidi() override;

    void attach(ZxMidiObserver* observer); // appended; no duplicate check, no detach
    void notifyAll();                      // first attached first
    void lastMessage(std::vector<std::uint8_t>& out) const; // appends the last message

    virtual void open(const kbxmidi::DeviceRef& device) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Throws kbxmidi::DeviceLost when the system has told that the open device has gone: a wait
    // for the device checks this after each event, and ends at once instead of at its time-out.
    void checkDevice() const;
    // After a silence: throws kbxmidi::DeviceLost when the bound device of the open port is no
    // longer listed, since a time-out is all a device that went without a word leaves behind.
    void checkPresent() const;

    // Throws std::runtime_error("MIDI SYSTEM ERROR: " + driverText).
    [[noreturn]] static void systemError(const std::string& driverText);

protected:
    explicit ZxMidi(QObject* parent);

    // Whether the port's device is listed now, in its direction.
    virtual bool listed(const kbxmidi::PortIdentity& identity) const = 0;

    // After an open: watch for the device, by the name the system gives it, to go.
    void watchDevice(std::string name);
    void devicesRemoved(const std::vector<std::string>& names);

    std::vector<ZxMidiObserver*> m_observers;
    std::vector<std::uint8_t> m_message;
    std::uint64_t m_generation = 0;
    std::string m_deviceName; // empty: not watched
    kbxmidi::DeviceRef m_ref; // what the open port was opened as; told when its device goes
    bool m_lost = false;
    bool m_watching = false;
};

class ZxMidiOut : public ZxMidi {
    Q_OBJECT
public:
    explicit ZxMidiOut(QObject* parent = nullptr);
    ~ZxMidiOut() override;

    void open(const kbxmidi::DeviceRef& device) override;
    void close() override; // a closed port: nothing
    bool isOpen() const override { return m_device != nullptr; }

    // Copies the message into the 256-byte buffer. A longer message is refused with
    // std::runtime_error and nothing is copied. With no device open it does nothing.
    void loadMessage(const std::vector<std::uint8_t>& bytes);
    // Hands the loaded message to the device; completion arrives later as output-done.
    void sendMessage();

protected:
    bool listed(const kbxmidi::PortIdentity& identity) const override;

private:
    void outputDone(std::uint64_t generation, const std::vector<std::uint8_t>& sent);

    std::unique_ptr<kbxmidi::OutputConnection> m_device;
    std::array<std::uint8_t, kBufferSize> m_buffer{};
    std::size_t m_length = 0;
};

class ZxMidiIn : public ZxMidi {
    Q_OBJECT
public:
    explicit ZxMidiIn(QObject* parent = nullptr);
    ~ZxMidiIn() override;

    void open(const kbxmidi::DeviceRef& device) override;
    void close() override;
    bool isOpen() const override { return m_device != nullptr; }

protected:
    bool listed(const kbxmidi::PortIdentity& identity) const override;

private:
    void longData(std::uint64_t generation, const std::vector<std::uint8_t>& bytes);

    std::unique_ptr<kbxmidi::InputConnection> m_device;
};

#pragma once
// The seam under the MIDI ports: where devices come from and how bytes reach them. Two sources:
// the system's devices through RtMidi (every compiled API that starts), then the built-in
// virtual ZR-7316. Device numbers are one list per direction, system devices first.
//
// Callbacks may run on any thread (RtMidi calls from its own); the ports hop to the GUI thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class VirtualZr7316;

namespace kbxmidi {

class Backend; // a source of devices (midibackend.h)

// One complete message as the device delivered it.
using ReceiveFn = std::function<void(std::vector<std::uint8_t>)>;
// The message has been handed to the device.
using SentFn = std::function<void()>;

// An open input device. Destroying it closes the device; no callback runs after the destructor
// has returned.
class InputConnection {
public:
    virtual ~InputConnection() = default;
    // The device's name as the system lists it, for telling that it has gone (DeviceWatch);
    // empty for a device that cannot go.
    virtual std::string name() const { return {}; }
};

// An open output device. Destroying it closes the device.
class OutputConnection {
public:
    virtual ~OutputConnection() = default;
    virtual std::string name() const { return {}; } // as InputConnection::name
    // Hands the message to the device; `sent` is called once that is done. Host failures throw
    // std::runtime_error with the driver's text.
    virtual void send(const std::vector<std::uint8_t>& message, SentFn sent) = 0;
};

inline constexpr const char* kVirtualDeviceName = "Virtual ZR-7316";

// The device of an open port has left the system (unplugged, or the program that offered it
// ended). A host failure like the driver's, with the device's name for the message.
class DeviceLost : public std::runtime_error {
public:
    explicit DeviceLost(const std::string& deviceName)
        : std::runtime_error("MIDI SYSTEM ERROR: the device \"" + deviceName + "\" has gone")
        , m_deviceName(deviceName) {}
    const std::string& deviceName() const { return m_deviceName; }

private:
    std::string m_deviceName;
};

// The process-wide list of devices. Lives on the GUI thread.
class DeviceRegistry {
public:
    static DeviceRegistry& instance();

    // Device lists are read again on every call, so devices plugged in meanwhile appear.
    std::vector<std::string> inputNames();
    std::vector<std::string> outputNames();
    int inputCount() { return static_cast<int>(inputNames().size()); }
    int outputCount() { return static_cast<int>(outputNames().size()); }

    // Open device number n. Failures (bad number, driver error) throw std::runtime_error with
    // the driver's text (the ports prefix it with "MIDI SYSTEM ERROR: ").
    std::unique_ptr<InputConnection> openInput(int n, ReceiveFn onMessage);
    std::unique_ptr<OutputConnection> openOutput(int n);

    // Tests (and machines without MIDI) use the virtual keyboard alone: it is then number 0 on
    // both sides.
    void setSystemDevicesEnabled(bool enabled);
    bool systemDevicesEnabled() const { return m_systemEnabled; }

    // Tests of the ports: a scripted source listed before all others (before the system's
    // devices and the virtual keyboard). nullptr removes it.
    void setTestBackend(std::shared_ptr<Backend> backend);

    // The numbers of the virtual keyboard in the current lists.
    int virtualInputNumber();
    int virtualOutputNumber();

    // The one virtual keyboard of the process.
    VirtualZr7316& virtualKeyboard();

    ~DeviceRegistry();

private:
    DeviceRegistry();
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    bool m_systemEnabled = true;
};

} // namespace kbxmidi

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

// One port as the system knows it for as long as it exists: the source that lists it and its
// full listed name (JACK: "client:port"; ALSA: the name with its client:port address; WinMM: the
// device name). Numbers move when devices come and go; an identity does not.
struct PortIdentity {
    std::string source; // "system", "virtual", "test"
    std::string name;
    bool operator==(const PortIdentity&) const = default;
};

// The device a port opens. A number means whatever device the lists hold at that number when the
// port opens (what the described settings store); a bound reference opens one identity only and,
// once that identity has gone, refuses every later opening, so that an action never goes on with
// another device. Copies of a bound reference share what they learn about the device.
class DeviceRef {
public:
    DeviceRef(int number = 0) // NOLINT(google-explicit-constructor): numbers are the common case
        : m_number(number) {}
    static DeviceRef bound(PortIdentity identity, int numberNow);

    bool isBound() const { return m_bound != nullptr; }
    // The number the reference was made with (for a bound one: its number when it was bound).
    int number() const { return m_number; }
    const PortIdentity& identity() const; // bound only
    // What a person reads: the bound port's name, else "" (the caller knows the number).
    std::string displayName() const;

    bool lost() const { return m_bound && m_bound->lost; }
    void markLost() const {
        if (m_bound)
            m_bound->lost = true;
    }

private:
    struct Bound {
        PortIdentity identity;
        bool lost = false;
    };
    int m_number = 0;
    std::shared_ptr<Bound> m_bound;
};

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
    // A bound reference opens its identity wherever the lists hold it now; an identity that is
    // no longer listed (or was lost before) throws DeviceLost and marks the reference lost.
    std::unique_ptr<InputConnection> openInput(const DeviceRef& device, ReceiveFn onMessage);
    std::unique_ptr<OutputConnection> openOutput(const DeviceRef& device);

    // The identity of the device at number n now; std::runtime_error for a number outside the
    // list.
    PortIdentity inputIdentity(int n);
    PortIdentity outputIdentity(int n);
    // Where an identity is listed now; -1 when it is not.
    int findInput(const PortIdentity& identity);
    int findOutput(const PortIdentity& identity);
    // Bound references to the devices at these numbers now.
    DeviceRef bindInput(int n) { return DeviceRef::bound(inputIdentity(n), n); }
    DeviceRef bindOutput(int n) { return DeviceRef::bound(outputIdentity(n), n); }

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

// The version of the MIDI library the program runs with, for the About box.
std::string midiLibraryVersion();

} // namespace kbxmidi

#include "mididevices.h"

#include "midibackend.h"
#include "virtualdevice.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kbxmidi {

struct DeviceRegistry::Impl {
    std::shared_ptr<Backend> test;
    std::unique_ptr<Backend> system;
    VirtualDevice virtualDevice;

    // In numbering order: the test source, the system's devices, the virtual keyboard.
    std::vector<Backend*> sources(bool systemEnabled) {
        std::vector<Backend*> list;
        for (const auto& [source, label] : labelled(systemEnabled))
            list.push_back(source);
        return list;
    }

    std::vector<std::pair<Backend*, const char*>> labelled(bool systemEnabled) {
        std::vector<std::pair<Backend*, const char*>> list;
        if (test)
            list.emplace_back(test.get(), "test");
        if (systemEnabled) {
            if (!system)
                system = makeRtMidiBackend();
            list.emplace_back(system.get(), "system");
        }
        list.emplace_back(&virtualDevice, "virtual");
        return list;
    }

    // The source and index within it of device n of one direction; nullptr when out of range.
    std::pair<Backend*, int> locate(bool systemEnabled, int n, bool input,
                                    PortIdentity* identity = nullptr) {
        if (n < 0)
            return {nullptr, 0};
        int rest = n;
        for (const auto& [source, label] : labelled(systemEnabled)) {
            const std::vector<std::string> names =
                input ? source->inputNames() : source->outputNames();
            const int count = static_cast<int>(names.size());
            if (rest < count) {
                if (identity)
                    *identity = PortIdentity{label, names[static_cast<std::size_t>(rest)]};
                return {source, rest};
            }
            rest -= count;
        }
        return {nullptr, 0};
    }

    // Where the identity is listed now: its source and index there; nullptr when it is not.
    std::pair<Backend*, int> locate(bool systemEnabled, const PortIdentity& identity, bool input,
                                    int* number = nullptr) {
        int offset = 0;
        for (const auto& [source, label] : labelled(systemEnabled)) {
            const std::vector<std::string> names =
                input ? source->inputNames() : source->outputNames();
            if (identity.source == label) {
                for (std::size_t i = 0; i < names.size(); ++i) {
                    if (names[i] == identity.name) {
                        if (number)
                            *number = offset + static_cast<int>(i);
                        return {source, static_cast<int>(i)};
                    }
                }
            }
            offset += static_cast<int>(names.size());
        }
        return {nullptr, 0};
    }
};

namespace {

[[noreturn]] void outOfRange(int n) {
    throw std::runtime_error("The device number " + std::to_string(n) + " is out of range.");
}

} // namespace

DeviceRegistry& DeviceRegistry::instance() {
    static DeviceRegistry registry;
    return registry;
}

DeviceRegistry::DeviceRegistry()
    : m_impl(std::make_unique<Impl>()) {
    // Under the test runner no test may depend on the machine's MIDI setup.
    const char* test = std::getenv("KBX_TEST");
    m_systemEnabled = !(test && std::strcmp(test, "1") == 0);
}

DeviceRegistry::~DeviceRegistry() = default;

std::vector<std::string> DeviceRegistry::inputNames() {
    std::vector<std::string> names;
    for (Backend* source : m_impl->sources(m_systemEnabled)) {
        auto more = source->inputNames();
        names.insert(names.end(), more.begin(), more.end());
    }
    return names;
}

std::vector<std::string> DeviceRegistry::outputNames() {
    std::vector<std::string> names;
    for (Backend* source : m_impl->sources(m_systemEnabled)) {
        auto more = source->outputNames();
        names.insert(names.end(), more.begin(), more.end());
    }
    return names;
}

std::unique_ptr<InputConnection> DeviceRegistry::openInput(int n, ReceiveFn onMessage) {
    if (n < 0)
        outOfRange(n);
    int rest = n;
    for (Backend* source : m_impl->sources(m_systemEnabled)) {
        const int count = static_cast<int>(source->inputNames().size());
        if (rest < count)
            return source->openInput(rest, std::move(onMessage));
        rest -= count;
    }
    outOfRange(n);
}

std::unique_ptr<OutputConnection> DeviceRegistry::openOutput(int n) {
    if (n < 0)
        outOfRange(n);
    int rest = n;
    for (Backend* source : m_impl->sources(m_systemEnabled)) {
        const int count = static_cast<int>(source->outputNames().size());
        if (rest < count)
            return source->openOutput(rest);
        rest -= count;
    }
    outOfRange(n);
}

std::unique_ptr<InputConnection> DeviceRegistry::openInput(const DeviceRef& device,
                                                           ReceiveFn onMessage) {
    if (!device.isBound())
        return openInput(device.number(), std::move(onMessage));
    const auto [source, index] = device.lost()
                                     ? std::pair<Backend*, int>{nullptr, 0}
                                     : m_impl->locate(m_systemEnabled, device.identity(), true);
    if (!source) {
        device.markLost();
        throw DeviceLost(device.identity().name);
    }
    try {
        return source->openInput(index, std::move(onMessage));
    } catch (const DeviceLost&) {
        device.markLost(); // it went between the look-up and the opening
        throw;
    }
}

std::unique_ptr<OutputConnection> DeviceRegistry::openOutput(const DeviceRef& device) {
    if (!device.isBound())
        return openOutput(device.number());
    const auto [source, index] = device.lost()
                                     ? std::pair<Backend*, int>{nullptr, 0}
                                     : m_impl->locate(m_systemEnabled, device.identity(), false);
    if (!source) {
        device.markLost();
        throw DeviceLost(device.identity().name);
    }
    try {
        return source->openOutput(index);
    } catch (const DeviceLost&) {
        device.markLost();
        throw;
    }
}

PortIdentity DeviceRegistry::inputIdentity(int n) {
    PortIdentity identity;
    if (!m_impl->locate(m_systemEnabled, n, true, &identity).first)
        outOfRange(n);
    return identity;
}

PortIdentity DeviceRegistry::outputIdentity(int n) {
    PortIdentity identity;
    if (!m_impl->locate(m_systemEnabled, n, false, &identity).first)
        outOfRange(n);
    return identity;
}

int DeviceRegistry::findInput(const PortIdentity& identity) {
    int number = -1;
    m_impl->locate(m_systemEnabled, identity, true, &number);
    return number;
}

int DeviceRegistry::findOutput(const PortIdentity& identity) {
    int number = -1;
    m_impl->locate(m_systemEnabled, identity, false, &number);
    return number;
}

// ---- DeviceRef

DeviceRef DeviceRef::bound(PortIdentity identity, int numberNow) {
    DeviceRef device(numberNow);
    device.m_bound = std::make_shared<Bound>();
    device.m_bound->identity = std::move(identity);
    return device;
}

const PortIdentity& DeviceRef::identity() const {
    static const PortIdentity none;
    return m_bound ? m_bound->identity : none;
}

std::string DeviceRef::displayName() const {
    return m_bound ? m_bound->identity.name : std::string();
}

void DeviceRegistry::setSystemDevicesEnabled(bool enabled) {
    m_systemEnabled = enabled;
}

void DeviceRegistry::setTestBackend(std::shared_ptr<Backend> backend) {
    m_impl->test = std::move(backend);
}

int DeviceRegistry::virtualInputNumber() {
    return inputCount() - 1;
}

int DeviceRegistry::virtualOutputNumber() {
    return outputCount() - 1;
}

VirtualZr7316& DeviceRegistry::virtualKeyboard() {
    return m_impl->virtualDevice.keyboard();
}

} // namespace kbxmidi

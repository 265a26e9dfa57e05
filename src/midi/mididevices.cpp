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
        if (test)
            list.push_back(test.get());
        if (systemEnabled) {
            if (!system)
                system = makeRtMidiBackend();
            list.push_back(system.get());
        }
        list.push_back(&virtualDevice);
        return list;
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

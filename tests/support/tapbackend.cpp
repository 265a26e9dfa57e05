#include "tapbackend.h"

#include "mididevices.h"

#include <stdexcept>

namespace kbxtest {

struct TapBackend::State {
    SendHook hook;
    std::function<bool(const std::vector<std::uint8_t>&)> lost;
    std::vector<std::vector<std::uint8_t>> sent;
    int open = 0;
};

class TapBackend::Input : public kbxmidi::InputConnection {
public:
    Input(std::shared_ptr<State> state, std::unique_ptr<kbxmidi::InputConnection> inner)
        : m_state(std::move(state))
        , m_inner(std::move(inner)) {
        ++m_state->open;
    }
    ~Input() override { --m_state->open; }

private:
    std::shared_ptr<State> m_state;
    std::unique_ptr<kbxmidi::InputConnection> m_inner;
};

class TapBackend::Output : public kbxmidi::OutputConnection {
public:
    Output(std::shared_ptr<State> state, std::unique_ptr<kbxmidi::OutputConnection> inner)
        : m_state(std::move(state))
        , m_inner(std::move(inner)) {
        ++m_state->open;
    }
    ~Output() override { --m_state->open; }

    void send(const std::vector<std::uint8_t>& message, kbxmidi::SentFn sent) override {
        const int index = static_cast<int>(m_state->sent.size());
        m_state->sent.push_back(message);
        if (m_state->hook)
            m_state->hook(index, message);
        if (m_state->lost && m_state->lost(message)) {
            sent();
            return;
        }
        m_inner->send(message, std::move(sent));
    }

private:
    std::shared_ptr<State> m_state;
    std::unique_ptr<kbxmidi::OutputConnection> m_inner;
};

TapBackend::TapBackend()
    : m_state(std::make_shared<State>()) {}

TapBackend::~TapBackend() = default;

std::vector<std::string> TapBackend::inputNames() {
    return {"Tap"};
}

std::vector<std::string> TapBackend::outputNames() {
    return {"Tap"};
}

std::unique_ptr<kbxmidi::InputConnection> TapBackend::openInput(int index,
                                                                kbxmidi::ReceiveFn onMessage) {
    if (index != 0)
        throw std::runtime_error("The device number is out of range.");
    auto& registry = kbxmidi::DeviceRegistry::instance();
    return std::make_unique<Input>(
        m_state, registry.openInput(registry.virtualInputNumber(), std::move(onMessage)));
}

std::unique_ptr<kbxmidi::OutputConnection> TapBackend::openOutput(int index) {
    if (index != 0)
        throw std::runtime_error("The device number is out of range.");
    auto& registry = kbxmidi::DeviceRegistry::instance();
    return std::make_unique<Output>(m_state, registry.openOutput(registry.virtualOutputNumber()));
}

void TapBackend::setLossFilter(std::function<bool(const std::vector<std::uint8_t>&)> lost) {
    m_state->lost = std::move(lost);
}

void TapBackend::setSendHook(SendHook hook) {
    m_state->hook = std::move(hook);
}

const std::vector<std::vector<std::uint8_t>>& TapBackend::sent() const {
    return m_state->sent;
}

void TapBackend::clear() {
    m_state->sent.clear();
}

int TapBackend::openConnections() const {
    return m_state->open;
}

} // namespace kbxtest

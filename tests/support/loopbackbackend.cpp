#include "loopbackbackend.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <stdexcept>

namespace kbxmidi {

struct LoopbackBackend::State {
    struct Input {
        int device;
        ReceiveFn onMessage;
    };

    std::mutex mutex;
    std::vector<std::string> inputNames, outputNames;
    std::vector<Input*> inputs;
    int openOutputs = 0;
    bool echo = false;
    bool holdSent = false;
    struct HeldReport {
        const void* output;
        SentFn sent;
    };
    std::deque<HeldReport> held;
    std::optional<std::string> openInputError, openOutputError, sendError;
    std::vector<std::vector<std::uint8_t>> sent;

    // Called with the mutex held, so no connection can go away meanwhile.
    void deliver(const std::vector<std::uint8_t>& bytes, int device) {
        for (Input* input : inputs)
            if (device < 0 || input->device == device)
                input->onMessage(bytes);
    }
};

class LoopbackBackend::Input : public InputConnection {
public:
    Input(std::shared_ptr<State> state, int device, std::string name, ReceiveFn fn)
        : m_state(std::move(state))
        , m_input{device, std::move(fn)}
        , m_name(std::move(name)) {
        std::lock_guard lock(m_state->mutex);
        m_state->inputs.push_back(&m_input);
    }
    ~Input() override {
        std::lock_guard lock(m_state->mutex);
        std::erase(m_state->inputs, &m_input);
    }

    std::string name() const override { return m_name; }

private:
    std::shared_ptr<State> m_state;
    State::Input m_input;
    std::string m_name;
};

class LoopbackBackend::Output : public OutputConnection {
public:
    Output(std::shared_ptr<State> state, std::string name)
        : m_state(std::move(state))
        , m_name(std::move(name)) {
        std::lock_guard lock(m_state->mutex);
        ++m_state->openOutputs;
    }
    ~Output() override {
        std::lock_guard lock(m_state->mutex);
        --m_state->openOutputs;
        std::erase_if(m_state->held, [this](const auto& report) { return report.output == this; });
    }

    std::string name() const override { return m_name; }

    void send(const std::vector<std::uint8_t>& message, SentFn sent) override {
        bool echo;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->sendError)
                throw std::runtime_error(*m_state->sendError);
            m_state->sent.push_back(message);
            echo = m_state->echo;
            if (m_state->holdSent && sent) {
                m_state->held.push_back({this, std::move(sent)});
                sent = nullptr;
            }
        }
        // Like a real cable: the message has left before anything can answer it.
        if (sent)
            sent();
        if (echo) {
            std::lock_guard lock(m_state->mutex);
            m_state->deliver(message, -1);
        }
    }

private:
    std::shared_ptr<State> m_state;
    std::string m_name;
};

LoopbackBackend::LoopbackBackend()
    : LoopbackBackend({"Loopback In"}, {"Loopback Out"}) {}

LoopbackBackend::LoopbackBackend(std::vector<std::string> inputs, std::vector<std::string> outputs)
    : m_state(std::make_shared<State>()) {
    m_state->inputNames = std::move(inputs);
    m_state->outputNames = std::move(outputs);
}

LoopbackBackend::~LoopbackBackend() = default;

std::vector<std::string> LoopbackBackend::inputNames() {
    std::lock_guard lock(m_state->mutex);
    return m_state->inputNames;
}

std::vector<std::string> LoopbackBackend::outputNames() {
    std::lock_guard lock(m_state->mutex);
    return m_state->outputNames;
}

std::unique_ptr<InputConnection> LoopbackBackend::openInput(int index, ReceiveFn onMessage) {
    std::string name;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->openInputError)
            throw std::runtime_error(*m_state->openInputError);
        if (index < 0 || index >= static_cast<int>(m_state->inputNames.size()))
            throw std::runtime_error("no loopback input " + std::to_string(index));
        name = m_state->inputNames[static_cast<std::size_t>(index)];
    }
    return std::make_unique<Input>(m_state, index, std::move(name), std::move(onMessage));
}

std::unique_ptr<OutputConnection> LoopbackBackend::openOutput(int index) {
    std::string name;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->openOutputError)
            throw std::runtime_error(*m_state->openOutputError);
        if (index < 0 || index >= static_cast<int>(m_state->outputNames.size()))
            throw std::runtime_error("no loopback output " + std::to_string(index));
        name = m_state->outputNames[static_cast<std::size_t>(index)];
    }
    return std::make_unique<Output>(m_state, std::move(name));
}

void LoopbackBackend::inject(const std::vector<std::uint8_t>& bytes, int device) {
    std::lock_guard lock(m_state->mutex);
    m_state->deliver(bytes, device);
}

void LoopbackBackend::setDeviceNames(std::vector<std::string> inputs,
                                     std::vector<std::string> outputs) {
    std::lock_guard lock(m_state->mutex);
    m_state->inputNames = std::move(inputs);
    m_state->outputNames = std::move(outputs);
}

void LoopbackBackend::setEcho(bool echo) {
    std::lock_guard lock(m_state->mutex);
    m_state->echo = echo;
}

void LoopbackBackend::setOpenInputError(std::optional<std::string> driverText) {
    std::lock_guard lock(m_state->mutex);
    m_state->openInputError = std::move(driverText);
}

void LoopbackBackend::setOpenOutputError(std::optional<std::string> driverText) {
    std::lock_guard lock(m_state->mutex);
    m_state->openOutputError = std::move(driverText);
}

void LoopbackBackend::setSendError(std::optional<std::string> driverText) {
    std::lock_guard lock(m_state->mutex);
    m_state->sendError = std::move(driverText);
}

void LoopbackBackend::setHoldSentReports(bool hold) {
    std::lock_guard lock(m_state->mutex);
    m_state->holdSent = hold;
}

int LoopbackBackend::heldSentReports() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->held.size());
}

bool LoopbackBackend::releaseSentReport() {
    SentFn sent;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->held.empty())
            return false;
        sent = std::move(m_state->held.front().sent);
        m_state->held.pop_front();
    }
    sent();
    return true;
}

std::vector<std::vector<std::uint8_t>> LoopbackBackend::sentMessages() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->sent;
}

int LoopbackBackend::openInputCount() const {
    std::lock_guard lock(m_state->mutex);
    return static_cast<int>(m_state->inputs.size());
}

int LoopbackBackend::openOutputCount() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->openOutputs;
}

} // namespace kbxmidi

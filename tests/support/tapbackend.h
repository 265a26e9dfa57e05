#pragma once
// A device in front of the process's virtual keyboard, for tests that act between messages: each
// message the host hands to the output passes `onSend`, with its number from 0, before it goes
// on to the keyboard. One input and one output, "Tap"; install it with
// DeviceRegistry::setTestBackend, and it is device 0 on both sides.

#include "midibackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kbxtest {

class TapBackend : public kbxmidi::Backend {
public:
    using SendHook = std::function<void(int index, const std::vector<std::uint8_t>& message)>;

    TapBackend();
    ~TapBackend() override;

    std::vector<std::string> inputNames() override;
    std::vector<std::string> outputNames() override;
    std::unique_ptr<kbxmidi::InputConnection> openInput(int index,
                                                        kbxmidi::ReceiveFn onMessage) override;
    std::unique_ptr<kbxmidi::OutputConnection> openOutput(int index) override;

    void setSendHook(SendHook hook);
    // A cable that loses messages: one the filter returns true for is reported sent to the host
    // but never reaches the keyboard.
    void setLossFilter(std::function<bool(const std::vector<std::uint8_t>& message)> lost);
    // Every message handed over since the last clear, in order.
    const std::vector<std::vector<std::uint8_t>>& sent() const;
    void clear();
    // Inputs and outputs open now.
    int openConnections() const;

private:
    struct State;
    class Input;
    class Output;
    std::shared_ptr<State> m_state;
};

} // namespace kbxtest

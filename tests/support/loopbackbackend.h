#pragma once
// A scripted device source for tests of the ports and the layers above them: bytes injected from
// any thread, a cable from its outputs back to its inputs, and failures on demand. Install it with
// DeviceRegistry::setTestBackend; its devices are then numbered first.

#include "midibackend.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kbxmidi {

class LoopbackBackend : public Backend {
public:
    // One input and one output device by default: "Loopback In", "Loopback Out".
    LoopbackBackend();
    LoopbackBackend(std::vector<std::string> inputs, std::vector<std::string> outputs);
    ~LoopbackBackend() override;

    std::vector<std::string> inputNames() override;
    std::vector<std::string> outputNames() override;
    std::unique_ptr<InputConnection> openInput(int index, ReceiveFn onMessage) override;
    std::unique_ptr<OutputConnection> openOutput(int index) override;

    // Hands the bytes, as they are, to every open input connection (of the given device, or all
    // when device is -1). May be called from any thread.
    void inject(const std::vector<std::uint8_t>& bytes, int device = -1);

    // Devices that come and go: the lists from now on. Open connections stay as they are.
    void setDeviceNames(std::vector<std::string> inputs, std::vector<std::string> outputs);

    // When set, every message sent to any output reaches every open input as well.
    void setEcho(bool echo);
    // Driver texts for failures to come; an empty optional lets the operation succeed.
    void setOpenInputError(std::optional<std::string> driverText);
    void setOpenOutputError(std::optional<std::string> driverText);
    void setSendError(std::optional<std::string> driverText);

    // While set, the reports that a message has left are kept back, so that a test can let them
    // arrive late: released one at a time, oldest first. A report still held when its output
    // closes is dropped, as a closed device reports nothing.
    void setHoldSentReports(bool hold);
    int heldSentReports() const;
    // Hands on the oldest held report; false when none is held. Call it on the GUI thread.
    bool releaseSentReport();

    // Every message sent successfully, in order.
    std::vector<std::vector<std::uint8_t>> sentMessages() const;
    int openInputCount() const;
    int openOutputCount() const;

private:
    // Shared with the open connections, so a connection may outlive the backend.
    struct State;
    class Input;
    class Output;
    std::shared_ptr<State> m_state;
};

} // namespace kbxmidi

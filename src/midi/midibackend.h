#pragma once
// The sources of devices under DeviceRegistry. Each source numbers its own inputs and outputs
// from 0; the registry lays them end to end.

#include "mididevices.h"

#include <memory>
#include <string>
#include <vector>

namespace kbxmidi {

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::vector<std::string> inputNames() = 0;
    virtual std::vector<std::string> outputNames() = 0;
    // Failures throw std::runtime_error with the driver's text.
    virtual std::unique_ptr<InputConnection> openInput(int index, ReceiveFn onMessage) = 0;
    virtual std::unique_ptr<OutputConnection> openOutput(int index) = 0;
};

// The system's devices: every port of every compiled RtMidi API that starts.
std::unique_ptr<Backend> makeRtMidiBackend();

} // namespace kbxmidi

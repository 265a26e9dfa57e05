#pragma once
// One keyboard action (a list, an import, a send with its snapshot, put-back and verify, a
// delete, a whole backup or restore, an undo) bound to one pair of devices from its first message
// to its last. The choice is resolved by name once, when the action starts; each port then keeps
// the identity of its device, and every opening inside the action opens that identity: a device
// that goes ends the action, and nothing is ever sent to whatever device takes its number. The
// action also holds the keyboard's lock, so that one program at a time talks to a keyboard.

#include "ops/connection.h"
#include "ops/keyboard.h"

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace kbxops {

class PortLock;

// The devices an action uses: the given numbers where there are some (kbxtool's --in and --out,
// taken as they are), else the stored choice resolved by name (resolveDevices). A stored number
// that has moved is stored again at once; a store that fails is no failure, since the next action
// finds the device by its name again. Throws like resolveDevices.
DeviceChoice chooseDevices(const DeviceChoice& stored, std::optional<int> input = std::nullopt,
                           std::optional<int> output = std::nullopt);

class KeyboardAction {
public:
    static constexpr int kLockWaitMs = 2000;

    // Binds both ports to the devices the choice's numbers name now and takes the keyboard's
    // lock, waiting up to kLockWaitMs for another program to finish; then throws
    // std::runtime_error "The keyboard is in use by another program (NAME, process PID)." (in
    // the user's language). A number outside the lists throws as an opening would.
    explicit KeyboardAction(const DeviceChoice& choice);
    ~KeyboardAction();
    KeyboardAction(const KeyboardAction&) = delete;
    KeyboardAction& operator=(const KeyboardAction&) = delete;

    const Ports& ports() const { return m_ports; }
    const DeviceChoice& choice() const { return m_choice; }

    // Where the lock of a port lives; empty for a port no other process can reach (a test
    // device, the built-in keyboard without a state file).
    static QString lockPath(const kbxmidi::PortIdentity& identity);

private:
    DeviceChoice m_choice;
    Ports m_ports;
    std::vector<std::unique_ptr<PortLock>> m_locks;
};

} // namespace kbxops

#pragma once
// The window's settings and the devices a keyboard action talks to: the described values (the
// MIDI devices by number and name, the default folder) with the safety net and list at start,
// read when the window is made and stored when it closes; the preference dialog that edits them;
// and the binding of the running action to its devices (KeyboardAction), held until it ends.

#include "common/settings.h"
#include "ops/keyboard.h"
#include "ops/keyboardaction.h"

#include <QString>
#include <cstdint>
#include <memory>

class QWidget;

namespace kbxapp {

class DeviceChoiceController {
public:
    std::int32_t midiInDevice() const { return m_midiInDevice; }
    std::int32_t midiOutDevice() const { return m_midiOutDevice; }
    // The devices' names, by which they are found again when their numbers move (empty where
    // the settings predate names).
    const QString& midiInDeviceName() const { return m_midiInDeviceName; }
    const QString& midiOutDeviceName() const { return m_midiOutDeviceName; }
    const QString& defaultDir() const { return m_defaultDir; }
    // Keep a copy of what a change replaces; read sends back (Safety in the settings store).
    const KbxSettings::Safety& safety() const { return m_safety; }
    // Lists the keyboard right after the window is shown when the chosen devices are there.
    bool listAtStart() const { return m_listAtStart; }

    void setMidiInDevice(std::int32_t device) { m_midiInDevice = device; }
    void setMidiOutDevice(std::int32_t device) { m_midiOutDevice = device; }
    void setDefaultDir(const QString& dir) { m_defaultDir = dir; }
    void setListAtStart(bool on) { m_listAtStart = on; }
    // "Don't ask again": kept in the store at once, so that it holds even if the window does not
    // close normally.
    void setAskBeforeChange(bool ask);

    // Settings store: MIDI/InputDevice, MIDI/OutputDevice, their names, Directory/Default, and
    // the group Safety. load() keeps what was read before a value that fails and throws; at a
    // first start it asks for the preferences (askPreferences) and stores them at once.
    void load(const std::function<void()>& askPreferences);
    void save() const;
    // The preference dialog over parent: on OK its values are in effect for the next keyboard
    // action and stored at once (a store that cannot be written is reported over parent).
    void editPreferences(QWidget* parent);

    // The ports of the keyboard action that runs (forAction: bound and locked until endAction),
    // or of a single use outside any action. See TPcLinkForm::KbdPorts.
    kbxops::Ports ports(bool forAction);
    // The devices are free for the next action, and for other programs.
    void endAction() { m_action.reset(); }
    // Whether the chosen devices are there now (a machine without its keyboard starts quietly).
    bool chosenDevicesPresent() const;

private:
    kbxops::DeviceChoice choice() const;

    std::int32_t m_midiInDevice = 0;
    std::int32_t m_midiOutDevice = 0;
    QString m_midiInDeviceName;
    QString m_midiOutDeviceName;
    QString m_defaultDir;
    KbxSettings::Safety m_safety;
    bool m_listAtStart = true;
    bool m_firstStart = false; // the preferences asked for by load(), which stores them
    QString m_language;        // a language chosen that could not be stored yet; empty: none
    std::unique_ptr<kbxops::KeyboardAction> m_action; // while a keyboard action runs
};

} // namespace kbxapp

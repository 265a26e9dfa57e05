#include "app/devicechoicecontroller.h"

#include "app/dialogs/preferform.h"
#include "app/errorreporter.h"
#include "midi/mididevices.h"
#include "ops/connection.h"

#include <QScopeGuard>

namespace kbxapp {

kbxops::DeviceChoice DeviceChoiceController::choice() const {
    return kbxops::DeviceChoice{
        {m_midiInDevice, m_midiOutDevice}, m_midiInDeviceName, m_midiOutDeviceName};
}

void DeviceChoiceController::load(const std::function<void()>& askPreferences) {
    const KbxSettings settings;
    // Never fails: a damaged value gives its default, which keeps the safety net on.
    m_safety = settings.loadSafety();
    KbxSettings::Values values{m_midiInDevice, m_midiOutDevice, m_midiInDeviceName,
                               m_midiOutDeviceName, m_defaultDir};
    // The fields keep what was read before a value that fails, as each value is read in turn.
    const auto take = [this, &values] {
        m_midiInDevice = values.inputDevice;
        m_midiOutDevice = values.outputDevice;
        m_midiInDeviceName = values.inputDeviceName;
        m_midiOutDeviceName = values.outputDeviceName;
        m_defaultDir = values.defaultDir;
    };
    KbxSettings::LoadResult result;
    try {
        result = settings.load(values);
    } catch (...) {
        take();
        throw;
    }
    take();
    if (result == KbxSettings::LoadResult::FirstStart) {
        // First start for this user: the devices are chosen before anything else, and stored
        // just below.
        m_firstStart = true;
        {
            const auto asked = qScopeGuard([this] { m_firstStart = false; });
            askPreferences();
        }
        try {
            save();
        } catch (const std::exception&) {
            // A store that cannot be written is reported once, when the window closes and
            // saves again; failing here would only open the preference dialog a second time.
        }
    }
}

void DeviceChoiceController::setAskBeforeChange(bool ask) {
    m_safety.askBeforeChange = ask;
    try {
        KbxSettings().saveSafety(m_safety);
    } catch (const std::exception&) {
        // Kept for this run; the window's close saves again and reports a store it cannot write.
    }
}

void DeviceChoiceController::save() const {
    const KbxSettings settings;
    settings.save(KbxSettings::Values{m_midiInDevice, m_midiOutDevice, m_midiInDeviceName,
                                      m_midiOutDeviceName, m_defaultDir});
    settings.saveSafety(m_safety);
    if (!m_language.isEmpty())
        settings.saveLanguage(m_language);
}

void DeviceChoiceController::editPreferences(QWidget* parent) {
    TPrefForm form(parent);
    form.SetInDevice(m_midiInDevice);
    form.SetOutDevice(m_midiOutDevice);
    form.SetInDeviceName(m_midiInDeviceName);
    form.SetOutDeviceName(m_midiOutDeviceName);
    form.SetDefDir(m_defaultDir);
    form.SetSafety(m_safety);
    form.SetListAtStart(m_listAtStart);
    const KbxSettings settings;
    const QString language = settings.loadLanguage();
    form.SetLanguage(language);
    if (form.exec() != QDialog::Accepted)
        return;
    m_listAtStart = form.GetListAtStart();
    if (form.GetLanguage() != language) {
        try {
            // Stored at once: it is read at the next start, whatever ends this run.
            settings.saveLanguage(form.GetLanguage());
        } catch (const std::exception&) {
            // Like the other settings of the run, it is tried again when the window closes.
            m_language = form.GetLanguage();
        }
    }
    // In effect for the next keyboard action; stored at once, so that a program ended by the
    // system keeps them, and again when the window closes.
    m_midiInDevice = form.GetInDevice();
    m_midiOutDevice = form.GetOutDevice();
    m_midiInDeviceName = form.GetInDeviceName();
    m_midiOutDeviceName = form.GetOutDeviceName();
    m_defaultDir = form.GetDefDir();
    m_safety = form.GetSafety();
    if (m_firstStart)
        return;
    try {
        save();
        const KbxSettings settings;
        KbxSettings::WindowValues window = settings.loadWindow();
        window.listAtStart = m_listAtStart;
        settings.saveWindow(window);
    } catch (const std::exception& error) {
        ErrorReporter::instance().showError(parent, QString::fromStdString(error.what()));
    }
}

kbxops::Ports DeviceChoiceController::ports(bool forAction) {
    if (m_action)
        return m_action->ports();
    const kbxops::DeviceChoice chosen = kbxops::chooseDevices(choice());
    m_midiInDevice = chosen.devices.input;
    m_midiOutDevice = chosen.devices.output;
    auto action = std::make_unique<kbxops::KeyboardAction>(chosen);
    const kbxops::Ports ports = action->ports();
    if (forAction)
        m_action = std::move(action);
    return ports;
}

bool DeviceChoiceController::chosenDevicesPresent() const {
    try {
        const kbxops::Devices chosen = kbxops::resolveDevices(choice()).choice.devices;
        auto& devices = kbxmidi::DeviceRegistry::instance();
        return chosen.input >= 0 && chosen.input < devices.inputCount() && chosen.output >= 0 &&
               chosen.output < devices.outputCount();
    } catch (...) {
        return false; // a device chosen by name that is not connected
    }
}

} // namespace kbxapp

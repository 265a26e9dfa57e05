// What the busy frame of the keyboard actions shows beyond the described status text and bar:
// the commands a running action would refuse are greyed, the bar shows how far it is (percent,
// and bytes of bytes for a transfer), the status line names the item, and a failure's error box
// gets its informative line.
#include "mainform.h"
#include "ui_mainform.h"

#include "errordetails.h"
#include "errorreporter.h"
#include "mididevices.h"
#include "ops/connection.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QActionGroup>
#include <QLabel>
#include <QProgressBar>

void TPcLinkForm::SetupBusyGate() {
    Ui::TPcLinkForm& ui = *m_ui;
    m_busyGate = new QActionGroup(this);
    m_busyGate->setObjectName(QStringLiteral("BusyGate"));
    m_busyGate->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    // Everything that talks to the keyboard, lists the MIDI devices or shows nodes an action may
    // replace. Exit, Retrieve, Start Up Explorer and the view styles stay usable.
    for (QAction* action :
         {ui.ConnectAction, ui.DisconnectAction, ui.SendAction, ui.ReceiveAction, ui.DeleteAction,
          ui.PropOpen, ui.PrefOpen, ui.KbdDrvPropOpen, ui.PropertyMenuItem, ui.LocalSendMenuItem,
          ui.Property1, ui.KbdReceiveItem, ui.KbdDeleteItem, ui.KbdPropertyItem, ui.KbdDrvPropItem,
          PropertiesAction, BackupAction, RestoreAction})
        m_busyGate->addAction(action);
}

void TPcLinkForm::BeginBusy() {
    // A disabled group disables its actions; enabled again, each gets back the state it was
    // last given, also when the action itself changed it meanwhile (a list enables Send).
    m_busyGate->setEnabled(false);
    // The bar's text appears with the first step that has a size (PBarProgress): a delete has
    // none to show.
}

void TPcLinkForm::EndBusy() {
    ProgressBar->setTextVisible(false);
    m_busyGate->setEnabled(true);
}

void TPcLinkForm::ShowActionItem(const QString& item) {
    m_statusItem->setText(item);
    m_statusItem->setVisible(!item.isEmpty());
    m_statusItem->repaint();
}

QString TPcLinkForm::statusItem() const {
    return m_statusItem->text();
}

void TPcLinkForm::ReportFailure(std::exception_ptr error) {
    const QString text = QString::fromStdString(describeException(*Messages, error).message);
    if (m_failureToStatus) {
        m_doneStatus =
            Messages->text("No list at start: %1", "起動時に一覧を取得できませんでした: %1")
                .arg(text);
        return;
    }
    // Free song memory as the keyboard's song folder last reported it: asking the keyboard
    // again would start another exchange from an error.
    for (int i = 0; i < KbdDrv->folderCount(); ++i) {
        const ZxDataDrive* folder = KbdDrv->folderByName(KbdDrv->folderName(i));
        if (folder && folder->kind() == ZxKind::Song && KbdDrv->isListed())
            m_failureContext.freeSongMemory = static_cast<std::uint32_t>(folder->freeSpace());
    }
    ReportError(text, kbxapp::informativeLine(*Messages, error, m_failureContext));
}

void TPcLinkForm::ListAtStartExecute() {
    if (m_busy || !ListAtStart || !isVisible())
        return;
    // Only when the chosen devices are there: a machine without its keyboard starts quietly.
    try {
        const kbxops::Devices chosen =
            kbxops::resolveDevices(kbxops::DeviceChoice{{MidiInDevice, MidiOutDevice},
                                                        MidiInDeviceName,
                                                        MidiOutDeviceName})
                .choice.devices;
        auto& devices = kbxmidi::DeviceRegistry::instance();
        if (chosen.input < 0 || chosen.input >= devices.inputCount() || chosen.output < 0 ||
            chosen.output >= devices.outputCount())
            return;
    } catch (...) {
        return; // a device chosen by name that is not connected
    }
    m_failureToStatus = true;
    ConnectActionExecute();
    m_failureToStatus = false;
}

#pragma once
// The whole keyboard in the window: Back up keyboard…, Restore keyboard… with its preview
// (TRestorePreviewForm), and the song memory gauge under the keyboard list. Each runs in the
// keyboard action's busy frame, with its progress over the whole job on the status line and the
// bar.

#include <QObject>
#include <QString>

class MemoryGauge;
class TPcLinkForm;

namespace Ui {
class TPcLinkForm;
}

namespace kbxapp {

class KbdActionController;

class BackupController : public QObject {
public:
    // Puts the gauge under the keyboard's folder tree and list.
    BackupController(TPcLinkForm& form, Ui::TPcLinkForm& ui, KbdActionController& actions);

    MemoryGauge& gauge() const { return *m_gauge; }
    // The song memory as the keyboard last reported it, and what the file selected locally
    // needs of it in the keyboard slot selected below.
    void updateGauge();

    // The folder dialogs, then the backup or the restore; none while an action runs.
    void backupAsked();
    void restoreAsked();
    // A folder named by the date and time under parent (empty when the backup failed).
    QString backupTo(const QString& parent);
    // From a backup folder or its manifest.json; whether a restore ran.
    bool restoreFrom(const QString& path);

private:
    TPcLinkForm& m_form;
    Ui::TPcLinkForm& m_ui;
    KbdActionController& m_actions;
    MemoryGauge* m_gauge = nullptr;
};

} // namespace kbxapp

#pragma once
// TPrefForm: the preference dialog. The page "MIDI" chooses the input and output devices (entry i
// of a list is device number i), finds the keyboard among the devices and tests the connection;
// its lists follow the devices that come and go while it is open. The page "Directories" chooses
// the default local directory, the page "Safety" the history of replaced items and the checks
// after sending. The dialog only edits values: the caller hands them in, takes them back after OK
// and stores them.

#include "settings.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QCheckBox;
class QComboBox;
class QTimer;

namespace Ui {
class TPrefForm;
}

class TPrefForm : public QDialog {
    Q_OBJECT
public:
    explicit TPrefForm(QWidget* parent = nullptr);
    ~TPrefForm() override;

    // Setting a device number also selects its entry; a number outside the list (a device
    // removed since it was stored) selects none and is kept until OK stores a selection.
    void SetInDevice(std::int32_t device);
    std::int32_t GetInDevice() const { return m_inDevice; }
    void SetOutDevice(std::int32_t device);
    std::int32_t GetOutDevice() const { return m_outDevice; }
    // The name of the stored device (empty when none is known, as in older settings): with a
    // name, the entry that names the device is selected wherever the list holds it now, and none
    // when the device is not connected. Set after the number.
    void SetInDeviceName(const QString& name);
    QString GetInDeviceName() const { return m_inName; }
    void SetOutDeviceName(const QString& name);
    QString GetOutDeviceName() const { return m_outName; }
    // Setting the directory also puts it into the directory field.
    void SetDefDir(const QString& dir);
    QString GetDefDir() const { return m_defDir; }
    // Setting the safety preferences also checks their boxes.
    void SetSafety(const KbxSettings::Safety& safety);
    KbxSettings::Safety GetSafety() const { return m_safety; }
    // Whether the main window lists the keyboard right after it is shown (MIDI page).
    void SetListAtStart(bool list);
    bool GetListAtStart() const { return m_listAtStart; }
    // The language of the window's texts (page "Language"): "en" or "ja"; it takes effect at the
    // next start.
    void SetLanguage(const QString& language);
    QString GetLanguage() const { return m_language; }

    // The text the MIDI page shows about the connection (a search's or a test's result, or why
    // OK was refused).
    QString connectionText() const;
    // A search or a test is running.
    bool isBusy() const { return m_busy; }

public Q_SLOTS:
    // Takes the selected entries and the directory field; closes with OK. A list without a
    // selection keeps the device stored before; with none stored either, OK is refused with a
    // message.
    void OkBtnClick();
    // Shows the stored values again; closes with Cancel.
    void CancelBtnClick();
    // Lets the user choose the directory in the folder chooser.
    void DirBrowseBtnClick();
    // Asks the devices, pair by pair, for the keyboard and selects the pair that answers; while
    // the search runs, the button cancels it.
    void FindKbdBtnClick();
    // Sends keyboard-type requests on the selected devices and shows the round trips and losses.
    void TestConnBtnClick();

    // Escape and the window's close cancel like the Cancel button (not while a search or test
    // runs: they wait on the devices).
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void ShowStoredValues();
    void FillDeviceLists();
    void DevicesChanged();
    void SetBusy(bool busy);
    void ShowConnectionText(const QString& text);
    void FitSize();

    std::unique_ptr<Ui::TPrefForm> m_ui;
    std::int32_t m_inDevice = 0;
    std::int32_t m_outDevice = 0;
    QString m_inName;
    QString m_outName;
    QString m_defDir;
    KbxSettings::Safety m_safety;
    bool m_listAtStart = true;
    QCheckBox* m_listAtStartBox = nullptr;
    QCheckBox* m_askBeforeChangeBox = nullptr;
    QString m_language = QStringLiteral("en");
    QComboBox* m_languageBox = nullptr;
    // The devices the lists are to show selected, by name, across changes of the lists: a
    // device that goes and comes back is selected again.
    QString m_inWanted;
    QString m_outWanted;
    bool m_filling = false;
    bool m_busy = false;
    bool m_cancelRequested = false;
    bool m_listsStale = false;
    QTimer* m_refresh = nullptr;
};

#pragma once
// TPrefForm: the preference dialog. The page "MIDI" chooses the input and output devices (entry i
// of a list is device number i), the page "Directories" the default local directory. The dialog
// only edits values: the caller hands them in, takes them back after OK and stores them.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QCheckBox;

namespace Ui {
class TPrefForm;
}

class TPrefForm : public QDialog {
    Q_OBJECT
public:
    explicit TPrefForm(QWidget* parent = nullptr);
    ~TPrefForm() override;

    // Setting a device number also selects its entry; a number outside the list (a device
    // removed since it was stored) selects none and is kept until OK stores the selection.
    void SetInDevice(std::int32_t device);
    std::int32_t GetInDevice() const { return m_inDevice; }
    void SetOutDevice(std::int32_t device);
    std::int32_t GetOutDevice() const { return m_outDevice; }
    // Setting the directory also puts it into the directory field.
    void SetDefDir(const QString& dir);
    QString GetDefDir() const { return m_defDir; }
    // Whether the main window lists the keyboard right after it is shown (MIDI page).
    void SetListAtStart(bool list);
    bool GetListAtStart() const { return m_listAtStart; }

public Q_SLOTS:
    // Takes the selected entries (-1 for none) and the directory field; closes with OK.
    void OkBtnClick();
    // Shows the stored values again; closes with Cancel.
    void CancelBtnClick();
    // Lets the user choose the directory in the folder chooser.
    void DirBrowseBtnClick();

    // Escape and the window's close cancel like the Cancel button.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void ShowStoredValues();

    std::unique_ptr<Ui::TPrefForm> m_ui;
    std::int32_t m_inDevice = 0;
    std::int32_t m_outDevice = 0;
    QString m_defDir;
    bool m_listAtStart = true;
    QCheckBox* m_listAtStartBox = nullptr;
};

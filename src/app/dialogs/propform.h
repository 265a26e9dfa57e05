#pragma once
// TZxDataPropertyForm: the properties of a data item of either list of the main window: its file
// or slot name, kind, size, location and, for a data file on the computer, the name stored in the
// data, which the user may change. The dialog only shows and edits; the operations' data-file
// functions (ops/datafile.h) do the file work of the property action.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QIcon;
class ZxDataFile;

namespace Ui {
class TZxDataPropertyForm;
}

class TZxDataPropertyForm : public QDialog {
    Q_OBJECT
public:
    explicit TZxDataPropertyForm(QWidget* parent = nullptr);
    ~TZxDataPropertyForm() override;

    void SetFileName(const QString& name);
    // "Tone", "DSP", "Song", "Rhythm", "Regstration"; the empty text for any other kind.
    void SetDataKind(std::uint16_t kind);
    // The count followed by "byte(s)".
    void SetDataSize(qint64 bytes);
    void SetLocation(const QString& path);
    // Shown as stored (a name read from a keyboard may hold half-width katakana), at most 8
    // characters.
    void SetDataName(const QString& name);
    QString GetDataName() const;
    // Shows or hides the name field together with its label.
    void SetNameEditable(bool editable);
    // The picture beside the file name (the caller's icon for the file or the slot's kind).
    void SetIcon(const QIcon& icon);

    // Shows the dialog modally; true when it was closed by OK with a name in the field.
    bool Execute();

    static QString KindText(std::uint16_t kind);

public Q_SLOTS:
    // Only the characters from the blank to "}" can be typed into a name: after each edit every
    // other character in the field ("~", control characters, anything beyond ASCII) becomes "_".
    void NameEditChange();
    void OkBtnClick();
    void CancelBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TZxDataPropertyForm> m_ui;
    bool m_ok = false;
};

namespace kbxapp {

// A byte count as the dialogs show it: signed decimal digits followed by "byte(s)".
QString byteCountText(qint64 bytes);

} // namespace kbxapp

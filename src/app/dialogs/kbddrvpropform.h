#pragma once
// TKbdDrivePropertyForm: name, used space, free space and capacity of a folder of the keyboard
// drive.

#include <QDialog>
#include <QString>
#include <memory>

class QIcon;

namespace Ui {
class TKbdDrivePropertyForm;
}

class TKbdDrivePropertyForm : public QDialog {
    Q_OBJECT
public:
    explicit TKbdDrivePropertyForm(QWidget* parent = nullptr);
    ~TKbdDrivePropertyForm() override;

    void SetDriveName(const QString& name);
    // Byte counts, shown as the count followed by "byte(s)".
    void SetUsedSpace(qint64 bytes);
    void SetFreeSpace(qint64 bytes);
    void SetCapacity(qint64 bytes);
    // The picture beside the name (the caller's folder image).
    void SetIcon(const QIcon& icon);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TKbdDrivePropertyForm> m_ui;
};

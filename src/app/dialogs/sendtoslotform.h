#pragma once
// "Send to Slot": the slots of one kind as the keyboard list shows them (number, name, size), to
// choose where a kept item goes.

#include <QDialog>
#include <QString>
#include <vector>

class QTreeWidget;

class TSendToSlotForm : public QDialog {
    Q_OBJECT
public:
    struct Slot {
        QString shortForm; // how the choice is handed on: "song:1"
        int number = 0;    // counted from 1 within its folder
        QString place;     // "Song 2", "Registration Bank1-3"
        QString name;      // as the keyboard list shows it; empty before a list
        QString size;      // bytes; empty for an empty slot or before a list
    };

    explicit TSendToSlotForm(QWidget* parent = nullptr);

    // The rows; current (a short form) is selected.
    void setSlots(const std::vector<Slot>& rows, const QString& current);
    // The short form of the selected slot; empty for none.
    QString chosenSlot() const;
    QTreeWidget* slotList() const { return m_list; }

private:
    QTreeWidget* m_list;
};

#pragma once
// The history window: every change the safety net recorded, newest first (time, operation, slot,
// kind, the name before and after, size), filtered by kind and by text. For the selected entry it
// asks its owner to send the kept item back (into its own slot or another of the same kind), to
// save it as a file, or to undo the newest change; the keyboard work is the owner's, in its busy
// frame, and the owner greys the keyboard's commands here while an action runs. An entry can also
// be dragged out: the drag carries its id under kEntryDragType.

#include "ops/history.h"
#include "sendtoslotform.h"

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class THistoryForm : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kEntryDragType = "application/x-kbxman-history-entry";

    explicit THistoryForm(kbxops::History& history, QWidget* parent = nullptr);

    // Reads the history again and shows what the filters let through.
    void Refresh();
    // The entry selected in the list, if any.
    std::optional<kbxops::HistoryEntry> SelectedEntry() const;
    // Selects the row of entry id; false when it is not shown.
    bool SelectEntry(qint64 id);

    QTreeWidget* entryList() const { return m_list; }
    QComboBox* kindFilter() const { return m_kind; }
    QLineEdit* textFilter() const { return m_text; }

    // While a keyboard action runs nothing here may start another; saving a file may.
    void SetKeyboardBusy(bool busy);
    // The Undo button as the window's Undo item is: what it would undo, or off.
    void SetUndo(bool enabled, const QString& what);
    // The slots of a kind as the keyboard list names them, for Send to Slot; without a source
    // the slots are offered by their places alone.
    using SlotSource = std::function<std::vector<TSendToSlotForm::Slot>(std::uint16_t kind)>;
    void setSlotSource(SlotSource source) { m_slotSource = std::move(source); }
    // True while an entry dragged out of the list is on its way: a drop must wait for its end.
    bool isDragging() const { return m_dragging; }

Q_SIGNALS:
    // slot: a short form the user picked, or empty for the entry's own slot.
    void sendBackRequested(qint64 id, const QString& slot);
    void saveRequested(qint64 id);
    void undoRequested();
    void dragFinished();

public Q_SLOTS:
    void SendBackClick();
    void SendToSlotClick();
    void SaveClick();

private:
    void ApplyFilter();
    void UpdateButtons();

    friend class HistoryEntryList;

    kbxops::History& m_history;
    std::vector<kbxops::HistoryEntry> m_entries;
    bool m_busy = false;
    bool m_dragging = false;
    SlotSource m_slotSource;
    QComboBox* m_kind;
    QLineEdit* m_text;
    QTreeWidget* m_list;
    QPushButton* m_sendBack;
    QPushButton* m_sendTo;
    QPushButton* m_save;
    QPushButton* m_undo;
};

// The slots of a kind, in the drive's order, for the "send to slot" choice; names and sizes
// come from the slot source.
std::vector<TSendToSlotForm::Slot> slotsOfKind(std::uint16_t kind);

#pragma once
// The preview of a restore: one row per slot whose content would change (the slot, what is there
// now, what the backup puts there; each can be unticked), how many slots stay as they are, are
// skipped or are absent from the backup, a tick that plans the
// unchanged slots too, and a comparison of the backup with the keyboard. Nothing is sent from
// here: the caller restores the plan the dialog holds once it is accepted.

#include "ops/compare.h"
#include "ops/restoreplan.h"

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

class TRestorePreviewForm : public QDialog {
    Q_OBJECT
public:
    explicit TRestorePreviewForm(QWidget* parent = nullptr);

    // Where the plan is made again when "Send them anyway" changes (argument: send unchanged
    // slots too), and where the comparison comes from. Each reports its own failure and returns
    // none; the dialog then keeps what it shows.
    using Replanner = std::function<std::optional<kbxops::RestorePlan>(bool)>;
    using Comparer = std::function<std::optional<std::vector<kbxops::SlotComparison>>()>;
    void setReplanner(Replanner replan);
    void setComparer(Comparer compare);

    void setPlan(const kbxops::RestorePlan& plan);
    // The plan with the slots the user left ticked.
    kbxops::RestorePlan plan() const;
    void showComparison(const std::vector<kbxops::SlotComparison>& rows);

    QTreeWidget* changeList() const { return m_changes; }
    QTreeWidget* compareList() const { return m_compare; }
    QLabel* unchangedLabel() const { return m_unchanged; }
    QCheckBox* sendAnywayCheck() const { return m_sendAnyway; }
    QPushButton* compareButton() const { return m_compareBtn; }
    QPushButton* okButton() const { return m_ok; }

    // Shows the dialog modally and returns its result: exec() unless a test has set a runner.
    int run();
    using Runner = std::function<int(TRestorePreviewForm&)>;
    static void setRunner(Runner runner);

private:
    void SendAnywayClick(bool checked);
    void CompareClick();
    void updateOk();

    kbxops::RestorePlan m_plan;
    Replanner m_replan;
    Comparer m_comparer;
    QTreeWidget* m_changes;
    QTreeWidget* m_compare;
    QLabel* m_unchanged;
    QLabel* m_notes;
    QCheckBox* m_sendAnyway;
    QPushButton* m_compareBtn;
    QPushButton* m_ok;
};

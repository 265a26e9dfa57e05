#pragma once
// Several items at once in the window: the local list's selected files sent into slots of their
// kind, the keyboard list's selected slots imported into the shown folder or deleted. One job in
// the keyboard action's busy frame: one bar over all items, the status line naming each, one
// cancel (the item under way stops with its put-back, the rest stay as they are), one question
// before a job that replaces or deletes, and one summary at the end. A selection of one item is
// left to the single commands.

#include <QObject>
#include <QString>

class TPcLinkForm;

namespace Ui {
class TPcLinkForm;
}

namespace kbxops {
struct BatchResult;
}

namespace kbxapp {

class KbdActionController;

class BatchController : public QObject {
public:
    BatchController(TPcLinkForm& form, Ui::TPcLinkForm& ui, KbdActionController& actions);

    // Each runs the job and returns true when the selection holds several items; false leaves
    // it to the single command.
    bool sendSelection();
    bool importSelection();
    bool deleteSelection();

    // The question asked once before a job that deletes or replaces items; true: go ahead.
    bool askOnce(const QString& question, const QString& yesText);
    // The summary at the end: a failure in an error box, else on the status line.
    void showSummary(const kbxops::BatchResult& result);

private:
    TPcLinkForm& m_form;
    Ui::TPcLinkForm& m_ui;
    KbdActionController& m_actions;
};

} // namespace kbxapp

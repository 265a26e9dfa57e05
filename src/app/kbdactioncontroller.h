#pragma once
// The keyboard actions of the window and the busy frame they run in: list, import, send, delete
// and undo, each with status text and progress from 0, one error box per failure, status and
// progress cleared afterwards. While an action runs the commands it would refuse are greyed, the
// bar shows how far it is (percent, and bytes of bytes for a transfer), the status line names the
// item, and the Cancel button beside the bar and Esc stop it at its next message boundary.

#include "app/errordetails.h"
#include "app/slotselection.h"
#include "ops/keyboard.h"

#include <QList>
#include <QObject>
#include <QString>
#include <exception>
#include <functional>

class QAction;
class QActionGroup;
class ElidingLabel;
class QProgressBar;
class QStatusBar;
class QToolButton;
class TPcLinkForm;
class ZxCancellation;

namespace Ui {
class TPcLinkForm;
}

namespace kbxapp {

class KbdActionController : public QObject {
public:
    // Puts the status text, the item, the bar and Cancel into the window's status bar.
    KbdActionController(TPcLinkForm& form, Ui::TPcLinkForm& ui);

    // The commands refused while a keyboard action runs: disabled together, each back to its
    // own state afterwards.
    void setBusyGate(const QList<QAction*>& actions);

    bool isBusy() const { return m_busy; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QString statusText() const;
    void setStatusText(const QString& text);
    // The status line the running action leaves behind when it ends (empty as described).
    void setDoneStatus(const QString& text) { setDoneLine(text); }
    // The item the running action works on, as the status line names it; empty: none.
    QString statusItem() const;
    void showActionItem(const QString& item);
    // The line the second panel shows once the running action has ended (how it ended), until
    // the next action begins. A failure and a cancel write their own.
    void setDoneLine(const QString& line);
    // Asks before a change that replaces or removes an item, unless the history keeps a copy
    // and the user has said not to ask again; true: go ahead.
    bool confirmChange(const QString& question, const QString& yesText);

    // The frame shared by the keyboard actions: the message table's status text number status,
    // progress from 0, one error box per failure, status and progress cleared afterwards.
    // Refused while busy.
    void run(int status, const std::function<void()>& body);
    // Asks the running action to stop at its next message boundary.
    void cancel();

    // The window's commands.
    void list();
    // The list at start: a failure goes to the status line, not into an error box, as nobody
    // has asked for it yet.
    void listAtStart();
    void sendSelectedFile();
    void importSelectedSlot();
    void deleteSelectedSlot();
    // Edit > Undo: reverts the newest change not undone, as a send or a delete. goPast: Edit >
    // Undo Older Change, past a newest change made without a copy (or with a damaged one).
    void undo(bool goPast = false);
    // Names the newest change not undone in the Undo item, or disables it when there is none or
    // an action runs; offers Undo Older Change where it reaches a change Undo does not.
    void updateUndoAction();
    // Edit > Undo Older Change, for the menu; off unless the newest change cannot be undone.
    QAction* undoOlderAction() const { return m_undoOlderAction; }
    // The keyboard's tree after a list: shown, and the commands that need it offered.
    void showListed(bool keepPlace);

    // The keyboard on the chosen devices, with the safety net as the preferences ask; and
    // without it, for what changes nothing or keeps its own copies (backup, a restore's plan).
    kbxops::Keyboard keyboard(kbxops::Progress* progress);
    kbxops::Keyboard plainKeyboard(kbxops::Progress* progress);

    enum Status { StatusList = 0, StatusSend = 1, StatusImport = 2, StatusDelete = 3 };

private:
    void readList();
    void undoLastChange(bool goPast);
    void reportFailure(std::exception_ptr error);

    TPcLinkForm& m_form;
    Ui::TPcLinkForm& m_ui;
    ElidingLabel* m_statusLabel = nullptr;
    ElidingLabel* m_statusItem = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QAction* m_cancelAction = nullptr;
    QAction* m_undoOlderAction = nullptr;
    QToolButton* m_cancelBtn = nullptr;
    QActionGroup* m_busyGate = nullptr;
    ZxCancellation* m_cancellation = nullptr; // the running action's, while busy
    bool m_busy = false;
    // What the running action works on, for the error box's informative line.
    FailureContext m_failureContext;
    // The second panel's line once the action has ended.
    QString m_doneLine;
    bool m_failureToStatus = false;
};

} // namespace kbxapp

#pragma once
// The glue between the window and the history window (THistoryForm, Edit > History...): what its
// buttons and drags ask of the keyboard and the local folder, history entries dropped on the two
// lists, and the window's busy state and Undo item followed there. The keyboard work runs in the
// busy frame like every keyboard action.

#include <QObject>
#include <QString>

class QAction;
class THistoryForm;
class TPcLinkForm;

namespace Ui {
class TPcLinkForm;
}

namespace kbxapp {

class KbdActionController;

class HistoryController : public QObject {
public:
    // Puts History... below Undo in the Edit menu, and takes entries dropped on the lists.
    HistoryController(TPcLinkForm& form, Ui::TPcLinkForm& ui, KbdActionController& actions);

    // The history window once opened, else nullptr.
    THistoryForm* historyForm() const { return m_historyForm; }
    // Opened (or brought to the front) beside the window.
    void open();
    // Follows the history into its window: busy state, Undo, and the entries once idle.
    void update();

    void sendEntry(qint64 id, const QString& slot);
    void saveEntry(qint64 id, const QString& dir);

private:
    THistoryForm& window();

    TPcLinkForm& m_form;
    Ui::TPcLinkForm& m_ui;
    KbdActionController& m_actions;
    QAction* m_historyAction = nullptr;
    THistoryForm* m_historyForm = nullptr; // a child of the window, made on first use
};

} // namespace kbxapp

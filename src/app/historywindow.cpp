// Edit > History...: the history window and what its buttons and drags ask of the keyboard and
// the local folder. The keyboard work runs in the busy frame like every keyboard action.
#include "mainform.h"
#include "ui_mainform.h"

#include "filelistview.h"
#include "historyform.h"
#include "ops/historysend.h"
#include "ops/slotref.h"
#include "ops/undo.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <utility>

namespace {

enum { StatusSend = 1 };

std::optional<qint64> entryOf(const QMimeData* data) {
    if (!data || !data->hasFormat(QString::fromLatin1(THistoryForm::kEntryDragType)))
        return std::nullopt;
    bool ok = false;
    const qint64 id = data->data(QString::fromLatin1(THistoryForm::kEntryDragType)).toLongLong(&ok);
    return ok ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace

// Takes drops of history entries on the two lists; every other event goes on to the window.
class HistoryDropFilter : public QObject {
public:
    HistoryDropFilter(TPcLinkForm& form, FileListView* list, bool keyboard)
        : QObject(list)
        , m_form(form)
        , m_list(list)
        , m_keyboard(keyboard) {}

    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (!entryOf(drag->mimeData()))
                return false;
            if (!accepts()) {
                drag->ignore();
                return true;
            }
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const std::optional<qint64> id = entryOf(drop->mimeData());
            if (!id)
                return false;
            if (!accepts()) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            if (!m_keyboard) {
                m_form.SaveHistoryEntry(*id, QString());
                return true;
            }
            // Onto a slot: that slot; onto the list's empty space: the entry's own slot.
            const QPoint at =
                m_list->currentView()->viewport()->mapTo(m_list, drop->position().toPoint());
            const int row = m_list->rowAt(at);
            ZxData* slot = row >= 0 ? m_form.kbdPane().KbdItemData(row) : nullptr;
            const QString target = slot ? kbxops::shortForm(kbxops::addressOf(*slot)) : QString();
            m_form.RunDrop([this, id = *id, target] { m_form.SendHistoryEntry(id, target); });
            return true;
        }
        default:
            return false;
        }
    }

private:
    // A keyboard slot takes a drop once the keyboard is listed and no action runs; the local
    // list any time a folder is shown.
    bool accepts() const {
        if (m_keyboard)
            return !m_form.isBusy() && m_form.KbdDrv->isListed();
        return true;
    }

    TPcLinkForm& m_form;
    FileListView* m_list;
    bool m_keyboard;
};

void TPcLinkForm::SetupHistoryWindow() {
    HistoryAction = new QAction(QStringLiteral("&History..."), this);
    HistoryAction->setObjectName(QStringLiteral("HistoryAction"));
    connect(HistoryAction, &QAction::triggered, this, &TPcLinkForm::HistoryOpenExecute);
    // Right below Undo.
    EditMenu->addAction(HistoryAction);
    for (auto [list, keyboard] :
         {std::pair{m_ui->LocalFileView, false}, std::pair{m_ui->KbdFileView, true}}) {
        for (QAbstractItemView* view : list->findChildren<QAbstractItemView*>()) {
            view->viewport()->setAcceptDrops(true);
            view->viewport()->installEventFilter(new HistoryDropFilter(*this, list, keyboard));
        }
    }
}

THistoryForm& TPcLinkForm::HistoryWindow() {
    if (!m_historyForm) {
        // Shown modeless: it stays open beside the window while the user works there.
        m_historyForm = new THistoryForm(history(), this);
        connect(m_historyForm, &THistoryForm::sendBackRequested, this,
                [this](qint64 id, const QString& slot) { SendHistoryEntry(id, slot); });
        connect(m_historyForm, &THistoryForm::saveRequested, this, [this](qint64 id) {
            const QString dir = QFileDialog::getExistingDirectory(
                m_historyForm, QStringLiteral("Save As File: Choose a Folder"), DefaultDir);
            if (!dir.isEmpty())
                SaveHistoryEntry(id, dir);
        });
        connect(m_historyForm, &THistoryForm::undoRequested, this, &TPcLinkForm::UndoActionExecute);
        // A drop that came while the entry was dragged runs once the drag is over.
        connect(m_historyForm, &THistoryForm::dragFinished, this, [this] {
            if (auto drop = std::exchange(m_pendingDrop, {}))
                drop();
        });
        UpdateHistoryWindow();
    }
    return *m_historyForm;
}

void TPcLinkForm::UpdateHistoryWindow() {
    if (!m_historyForm)
        return;
    m_historyForm->SetKeyboardBusy(m_busy);
    m_historyForm->SetUndo(m_ui->UndoAction->isEnabled(), m_ui->UndoAction->text().remove(u'&'));
    if (!m_busy)
        m_historyForm->Refresh();
}

void TPcLinkForm::HistoryOpenExecute() {
    THistoryForm& form = HistoryWindow();
    form.Refresh();
    form.show();
    form.raise();
    form.activateWindow();
}

void TPcLinkForm::SendHistoryEntry(qint64 id, const QString& slot) {
    RunKbdAction(StatusSend, [&] {
        PBarProgress progress(ProgressBar);
        kbxops::Keyboard keyboard = Keyboard(&progress);
        if (slot.isEmpty())
            kbxops::restoreEntry(keyboard, history(), id);
        else
            kbxops::restoreEntryTo(keyboard, history(), id, slot);
        m_kbd->RelistKeepingSelection();
    });
}

void TPcLinkForm::SaveHistoryEntry(qint64 id, const QString& dir) {
    QString folder = dir;
    if (folder.isEmpty()) {
        QTreeWidgetItem* node = m_ui->LocalDirView->currentItem();
        if (!node)
            return;
        folder = GetNodePath(node);
    }
    QString path;
    try {
        path = kbxops::exportEntry(history(), id, folder);
    } catch (...) {
        ReportError(
            QString::fromStdString(describeException(*Messages, std::current_exception()).message));
        return;
    }
    m_local->RefreshLocalFiles();
    m_local->SelectItem(QFileInfo(path).fileName());
}

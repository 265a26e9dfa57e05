#include "app/historycontroller.h"
#include "ui_mainform.h"

#include "app/devicechoicecontroller.h"
#include "app/dialogs/historyform.h"
#include "app/dialogs/slotnames.h"
#include "app/filelistview.h"
#include "app/kbdactioncontroller.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/mainform.h"
#include "app/progressobservers.h"
#include "app/slotselection.h"
#include "common/msgstr.h"
#include "data/zxdata.h"
#include "drive/zxkbddrv.h"
#include "ops/historysend.h"
#include "ops/slotref.h"
#include "ops/undo.h"

#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <utility>

namespace kbxapp {

namespace {

std::optional<qint64> entryOf(const QMimeData* data) {
    if (!data || !data->hasFormat(QString::fromLatin1(THistoryForm::kEntryDragType)))
        return std::nullopt;
    bool ok = false;
    const qint64 id = data->data(QString::fromLatin1(THistoryForm::kEntryDragType)).toLongLong(&ok);
    return ok ? std::optional<qint64>(id) : std::nullopt;
}

// Takes drops of history entries on the two lists; every other event goes on to the window.
class HistoryDropFilter : public QObject {
public:
    HistoryDropFilter(TPcLinkForm& form, HistoryController& glue, FileListView* list, bool keyboard)
        : QObject(list)
        , m_form(form)
        , m_glue(glue)
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
                m_glue.saveEntry(*id, QString());
                return true;
            }
            // Onto a slot: that slot; onto the list's empty space: the entry's own slot.
            const QPoint at =
                m_list->currentView()->viewport()->mapTo(m_list, drop->position().toPoint());
            const std::optional<SlotChoice> slot = slotAtRow(m_form.kbdPane(), m_list->rowAt(at));
            const QString target = slot ? kbxops::shortForm(slot->address) : QString();
            HistoryController& glue = m_glue;
            m_form.RunDrop([&glue, id = *id, target] { glue.sendEntry(id, target); });
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
            return !m_form.isBusy() && m_form.kbdDrv().isListed();
        return true;
    }

    TPcLinkForm& m_form;
    HistoryController& m_glue;
    FileListView* m_list;
    bool m_keyboard;
};

} // namespace

HistoryController::HistoryController(TPcLinkForm& form, Ui::TPcLinkForm& ui,
                                     KbdActionController& actions)
    : QObject(&form)
    , m_form(form)
    , m_ui(ui)
    , m_actions(actions) {
    m_historyAction = new QAction(TPcLinkForm::tr("&History..."), &form);
    m_historyAction->setObjectName(QStringLiteral("HistoryAction"));
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(m_historyAction, &QAction::triggered, &form, &TPcLinkForm::HistoryOpenExecute);
    // Right below Undo and Undo Older Change.
    form.editMenu()->addAction(m_historyAction);
    for (auto [list, keyboard] :
         {std::pair{ui.LocalFileView, false}, std::pair{ui.KbdFileView, true}}) {
        for (QAbstractItemView* view : list->findChildren<QAbstractItemView*>()) {
            view->viewport()->setAcceptDrops(true);
            view->viewport()->installEventFilter(
                new HistoryDropFilter(form, *this, list, keyboard));
        }
    }
}

THistoryForm& HistoryController::window() {
    if (!m_historyForm) {
        // Shown modeless: it stays open beside the window while the user works there.
        m_historyForm = new THistoryForm(m_form.history(), &m_form);
        connect(m_historyForm, &THistoryForm::sendBackRequested, this,
                [this](qint64 id, const QString& slot) { sendEntry(id, slot); });
        connect(m_historyForm, &THistoryForm::saveRequested, this, [this](qint64 id) {
            const QString dir = QFileDialog::getExistingDirectory(
                m_historyForm, TPcLinkForm::tr("Save As File: Choose a Folder"),
                m_form.ShownFolder());
            if (!dir.isEmpty())
                saveEntry(id, dir);
        });
        // Send to Slot names the slots as the keyboard list does, once the keyboard is listed.
        m_historyForm->setSlotSource([this](std::uint16_t kind) {
            std::vector<TSendToSlotForm::Slot> offered = slotsOfKind(kind);
            ZxKbdDrv& drive = m_form.kbdDrv();
            if (!drive.isListed())
                return offered;
            const std::vector<kbxops::SlotEntry> listed = kbxops::slotsOf(drive.root());
            for (TSendToSlotForm::Slot& slot : offered) {
                const kbxops::SlotEntry* entry =
                    kbxops::findSlot(listed, kbxops::parseShortForm(slot.shortForm).address);
                if (!entry)
                    continue;
                const ZxData& node = *entry->node;
                slot.name = itemName(node.name());
                if (node.isPresent())
                    slot.size = QString::number(node.size());
            }
            return offered;
        });
        connect(m_historyForm, &THistoryForm::undoRequested, &m_form,
                &TPcLinkForm::UndoActionExecute);
        // A drop that came while the entry was dragged runs once the drag is over.
        connect(m_historyForm, &THistoryForm::dragFinished, &m_form, &TPcLinkForm::RunPendingDrop);
        update();
    }
    return *m_historyForm;
}

void HistoryController::update() {
    if (!m_historyForm)
        return;
    m_historyForm->SetKeyboardBusy(m_actions.isBusy());
    m_historyForm->SetUndo(m_ui.UndoAction->isEnabled(), m_ui.UndoAction->text().remove(u'&'));
    if (!m_actions.isBusy())
        m_historyForm->Refresh();
}

void HistoryController::open() {
    THistoryForm& form = window();
    form.Refresh();
    form.show();
    form.raise();
    form.activateWindow();
}

void HistoryController::sendEntry(qint64 id, const QString& slot) {
    m_actions.run(KbdActionController::StatusSend, [&] {
        PBarProgress progress(m_actions.progressBar());
        kbxops::Keyboard keyboard = m_actions.keyboard(&progress);
        if (slot.isEmpty())
            kbxops::restoreEntry(keyboard, m_form.history(), id);
        else
            kbxops::restoreEntryTo(keyboard, m_form.history(), id, slot);
        m_form.kbdPane().RelistKeepingSelection();
    });
}

void HistoryController::saveEntry(qint64 id, const QString& dir) {
    QString folder = dir;
    if (folder.isEmpty()) {
        QTreeWidgetItem* node = m_ui.LocalDirView->currentItem();
        if (!node)
            return;
        folder = m_form.GetNodePath(node);
    }
    QString path;
    QString trashed;
    try {
        path = kbxops::exportEntry(m_form.history(), id, folder, &trashed);
    } catch (...) {
        m_form.ReportError(QString::fromStdString(
            describeException(m_form.messages(), std::current_exception()).message));
        return;
    }
    const QString fileName = QFileInfo(path).fileName();
    // As an import says it: the file replaced is not lost.
    if (!trashed.isEmpty())
        m_actions.setStatusText(
            m_form.messages()
                .text("The earlier %1 was moved to the trash.", "以前の %1 はごみ箱に移しました。")
                .arg(fileName));
    m_form.localPane().RefreshLocalFiles();
    m_form.localPane().SelectItem(fileName);
}

} // namespace kbxapp

// The local pane as a small file manager: rename (F2) and delete to the trash (Del) in the local
// list, a new folder and going up (Backspace) anywhere in the pane, and F5 there reading the
// local list again (elsewhere F5 stays Get/Update List). The keys act only where the local pane
// has the focus: Del in the keyboard pane deletes a keyboard slot.
#include "app/mainform.h"
#include "ui_mainform.h"

#include "app/devicechoicecontroller.h"
#include "app/errorreporter.h"
#include "app/filelistview.h"
#include "app/localpane.h"

#include <QAbstractItemView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QTreeView>
#include <QTreeWidget>

namespace {

// F5 where the local pane has the focus: the pane takes the key before the window's shortcut
// does, and reads its list again.
class LocalRefreshKey : public QObject {
public:
    LocalRefreshKey(QObject* parent, std::function<void()> refresh)
        : QObject(parent)
        , m_refresh(std::move(refresh)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const bool override = event->type() == QEvent::ShortcutOverride;
        if ((override || event->type() == QEvent::KeyPress) &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5 &&
            static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
            event->accept();
            if (!override)
                m_refresh();
            return true;
        }
        return false;
    }

private:
    std::function<void()> m_refresh;
};

QAction* paneAction(QWidget* area, const char* name, const QString& text, const QKeySequence& key) {
    auto* action = new QAction(text, area);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    area->addAction(action);
    return action;
}

} // namespace

void TPcLinkForm::SetupLocalFileCommands() {
    Ui::TPcLinkForm& ui = *m_ui;
    QAction* rename = paneAction(ui.LocalFileView, "LocalRenameAction", tr("&Rename..."),
                                 QKeySequence(Qt::Key_F2));
    QAction* trash = paneAction(ui.LocalFileView, "LocalTrashAction", tr("&Delete to Trash"),
                                QKeySequence(QKeySequence::Delete));
    QAction* newFolder = paneAction(ui.LocalPanel, "LocalNewFolderAction", tr("New &Folder..."),
                                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    QAction* up = paneAction(ui.LocalPanel, "LocalUpAction", tr("&Up One Folder"),
                             QKeySequence(Qt::Key_Backspace));
    connect(rename, &QAction::triggered, this, &TPcLinkForm::LocalRenameExecute);
    connect(trash, &QAction::triggered, this, &TPcLinkForm::LocalTrashExecute);
    connect(newFolder, &QAction::triggered, this, &TPcLinkForm::LocalNewFolderExecute);
    connect(up, &QAction::triggered, this, [this] { m_local->GoUp(); });
    // Rename and delete act on the selected item.
    const auto follow = [rename, trash](int row) {
        rename->setEnabled(row >= 0);
        trash->setEnabled(row >= 0);
    };
    connect(ui.LocalFileView, &FileListView::currentRowChanged, this, follow);
    follow(-1);

    // After the described items of the local list's pop-up menu.
    m_localPopupMenu->addSeparator();
    m_localPopupMenu->addAction(rename);
    m_localPopupMenu->addAction(trash);
    m_localPopupMenu->addAction(newFolder);

    auto* refresh = new LocalRefreshKey(this, [this] { LocalUpdateActionExecute(); });
    for (QWidget* view : {static_cast<QWidget*>(ui.LocalDirView),
                          static_cast<QWidget*>(ui.LocalFileView->iconView()),
                          static_cast<QWidget*>(ui.LocalFileView->detailsView())})
        view->installEventFilter(refresh);
}

void TPcLinkForm::LocalRenameExecute() {
    FileListView* list = m_ui->LocalFileView;
    const int row = list->selectedRow();
    if (row < 0)
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Rename"), tr("New name:"),
                                               QLineEdit::Normal, list->itemText(row), &ok);
    if (!ok)
        return;
    if (const QString failure = m_local->RenameItem(row, name); !failure.isEmpty())
        ReportError(failure);
    list->setFocus();
}

void TPcLinkForm::LocalTrashExecute() {
    FileListView* list = m_ui->LocalFileView;
    const int row = list->selectedRow();
    if (row < 0)
        return;
    // Its own question: the keyboard's delete asks about slots, this one about files.
    if (QMessageBox::question(this, tr("Delete to Trash"),
                              tr("Move \"%1\" to the trash?").arg(list->itemText(row))) !=
        QMessageBox::Yes)
        return;
    if (const QString failure = m_local->TrashItem(row); !failure.isEmpty())
        ReportError(failure);
    list->setFocus();
}

void TPcLinkForm::LocalNewFolderExecute() {
    if (!m_ui->LocalDirView->currentItem())
        return;
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("New Folder"), tr("Folder name:"),
                                               QLineEdit::Normal, tr("New Folder"), &ok);
    if (!ok)
        return;
    if (const QString failure = m_local->MakeFolder(name); !failure.isEmpty())
        ReportError(failure);
    m_ui->LocalFileView->setFocus();
}

QString TPcLinkForm::ShownFolder() const {
    const QString shown = m_local->ShownFolder();
    return shown.isEmpty() ? m_devices->defaultDir() : shown;
}

bool TPcLinkForm::ShowLocalFile(const QString& path) {
    if (!m_local->ShowFile(path))
        return false;
    m_ui->LocalFileView->setFocus();
    return true;
}

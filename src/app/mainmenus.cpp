// The menu bar beyond the described File menu, and the keys: an Edit menu for the commands that
// edit what was done (it shows once it holds any), a Keyboard menu with every keyboard command
// and its key, Enter and Delete in the lists, and a keyboard focus that can be seen.
#include "mainform.h"
#include "ui_mainform.h"

#include "filelistview.h"
#include "kbdpane.h"
#include "localpane.h"

#include <QAbstractItemView>
#include <QActionGroup>
#include <QEvent>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

namespace {

// Shows a menu's title only while the menu holds actions: other commands fill the Edit menu.
class HideWhileEmpty : public QObject {
public:
    explicit HideWhileEmpty(QMenu* menu)
        : QObject(menu)
        , m_menu(menu) {
        menu->installEventFilter(this);
        update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_menu &&
            (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved))
            update();
        return false;
    }

private:
    void update() { m_menu->menuAction()->setVisible(!m_menu->actions().isEmpty()); }
    QMenu* m_menu;
};

QAction* newAction(QObject* parent, const char* name, const QString& text) {
    auto* action = new QAction(text, parent);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

QAction* TPcLinkForm::menuItemFor(QAction* action, const char* name, const QKeySequence& key) {
    // A menu item of its own that runs the action and follows its enabled state, as the
    // described menu items do; it carries the key the menu shows.
    QAction* item = newAction(this, name, action->text());
    item->setIcon(action->icon());
    item->setToolTip(action->toolTip());
    item->setShortcut(key);
    item->setEnabled(action->isEnabled());
    connect(item, &QAction::triggered, action, &QAction::trigger);
    connect(action, &QAction::enabledChanged, item, &QAction::setEnabled);
    return item;
}

void TPcLinkForm::SetupMenus() {
    Ui::TPcLinkForm& ui = *m_ui;

    // File, Edit, the menus already there (View), then Keyboard.
    EditMenu = new QMenu(tr("&Edit"), ui.MainMenu);
    EditMenu->setObjectName(QStringLiteral("EditMenu"));
    const QList<QAction*> titles = ui.MainMenu->actions();
    ui.MainMenu->insertMenu(titles.size() > 1 ? titles[1] : nullptr, EditMenu);
    new HideWhileEmpty(EditMenu);
    EditMenu->addAction(ui.UndoAction);
    addAction(ui.UndoAction); // Ctrl+Z wherever the focus is in the window
    // Another program (kbxtool) may have changed the history since the item was named.
    connect(EditMenu, &QMenu::aboutToShow, this, &TPcLinkForm::UpdateUndoAction);

    KeyboardMenu = new QMenu(tr("&Keyboard"), ui.MainMenu);
    KeyboardMenu->setObjectName(QStringLiteral("KeyboardMenu"));
    ui.MainMenu->addMenu(KeyboardMenu);

    // Get/Update List answers to F5 anywhere in the window. The Delete key deletes a keyboard
    // slot only where the keyboard pane has the focus: in the local pane it must never take a
    // song away. (The commands keep their Alt keys; a key belongs to one action only.)
    ConnectMenuItem = menuItemFor(ui.ConnectAction, "ConnectMenuItem", QKeySequence(Qt::Key_F5));
    addAction(ConnectMenuItem);
    DeleteMenuItem =
        menuItemFor(ui.DeleteAction, "DeleteMenuItem", QKeySequence(QKeySequence::Delete));
    DeleteMenuItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui.KbdPanel->addAction(DeleteMenuItem);

    PropertiesAction = newAction(this, "PropertiesAction", tr("P&roperties"));
    PropertiesAction->setShortcuts(
        {QKeySequence(Qt::ALT | Qt::Key_Enter), QKeySequence(Qt::ALT | Qt::Key_Return)});
    addAction(PropertiesAction); // its keys work wherever the focus is in the window
    connect(PropertiesAction, &QAction::triggered, this, &TPcLinkForm::PropertiesActionExecute);

    // Backing up and restoring the whole keyboard come with their own dialogs; until then the
    // places are kept.
    BackupAction = newAction(this, "BackupAction", tr("&Back Up..."));
    BackupAction->setEnabled(false);
    RestoreAction = newAction(this, "RestoreAction", tr("Res&tore..."));
    RestoreAction->setEnabled(false);

    QMenu* styles = new QMenu(tr("&View"), KeyboardMenu);
    styles->setObjectName(QStringLiteral("KbdViewMenu"));
    auto* styleGroup = new QActionGroup(styles);
    const std::array<QToolButton*, 4> buttons = {ui.KbdIconBtn, ui.KbdSmallIconBtn, ui.KbdListBtn,
                                                 ui.KbdReportBtn};
    const char* const names[] = {"KbdIconItem", "KbdSmallIconItem", "KbdListItem", "KbdReportItem"};
    const QString texts[] = {tr("Lar&ge Icon"), tr("S&mall Icon"), tr("&List"), tr("&Detailed")};
    for (int tag = 0; tag < 4; ++tag) {
        QAction* item = newAction(styles, names[tag], texts[tag]);
        item->setCheckable(true);
        item->setChecked(buttons[tag]->isChecked());
        item->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + tag)));
        styleGroup->addAction(item);
        styles->addAction(item);
        addAction(item);
        // The toolbar's buttons and the menu's items show one style.
        connect(item, &QAction::triggered, this, [this, tag] { m_kbd->SelectViewStyle(tag); });
        connect(buttons[tag], &QToolButton::toggled, item, [item](bool on) {
            if (on)
                item->setChecked(true);
        });
    }

    KeyboardMenu->addAction(ConnectMenuItem);
    KeyboardMenu->addSeparator();
    KeyboardMenu->addAction(ui.ReceiveAction);
    KeyboardMenu->addAction(ui.SendAction);
    KeyboardMenu->addAction(DeleteMenuItem);
    KeyboardMenu->addSeparator();
    KeyboardMenu->addAction(PropertiesAction);
    KeyboardMenu->addSeparator();
    KeyboardMenu->addAction(BackupAction);
    KeyboardMenu->addAction(RestoreAction);
    KeyboardMenu->addSeparator();
    KeyboardMenu->addMenu(styles);
}

void TPcLinkForm::SetupFocusFrames() {
    Ui::TPcLinkForm& ui = *m_ui;
    // Enter in a list: a folder opens, a data item shows its properties.
    connect(m_local.get(), &LocalPane::propertiesRequested, this, &TPcLinkForm::PropOpenExecute);
    connect(m_kbd.get(), &KbdPane::propertiesRequested, this, &TPcLinkForm::PropOpenExecute);

    // The view with the focus has a frame in the selection's colour; a selection without the
    // focus is grey, so the eye finds at once where the keys go.
    const QString frame = QStringLiteral(
        "QAbstractItemView { border: 1px solid palette(mid); padding: 1px; }"
        "QAbstractItemView:focus { border: 2px solid palette(highlight); padding: 0px; }");
    const QList<QAbstractItemView*> views = {ui.LocalDirView,
                                             ui.KbdDirView,
                                             ui.LocalFileView->iconView(),
                                             ui.LocalFileView->detailsView(),
                                             ui.KbdFileView->iconView(),
                                             ui.KbdFileView->detailsView()};
    for (QAbstractItemView* view : views) {
        view->setStyleSheet(frame);
        QPalette palette = view->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight,
                         palette.color(QPalette::Inactive, QPalette::Mid));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         palette.color(QPalette::Inactive, QPalette::Text));
        view->setPalette(palette);
    }
}

void TPcLinkForm::PropertiesActionExecute() {
    Ui::TPcLinkForm& ui = *m_ui;
    if (m_busy)
        return;
    QWidget* focus = focusWidget();
    auto within = [focus](QWidget* area) {
        return focus && (focus == area || area->isAncestorOf(focus));
    };
    if (within(ui.LocalFileView)) {
        PropOpenExecute();
    } else if (within(ui.KbdFileView) && ui.KbdFileView->selectedRow() >= 0) {
        PropOpenExecute();
    } else if (!within(ui.LocalPanel)) {
        // The keyboard folder: from its tree, from an empty list, or from elsewhere.
        KbdDrvPropOpenExecute();
    }
}

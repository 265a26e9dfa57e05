// The menu bar beyond the described File menu, and the keys: an Edit menu for the commands that
// edit what was done (it shows once it holds any), a Keyboard menu with every keyboard command
// and its key, Enter and Delete in the lists, and a keyboard focus that can be seen.
#include "app/mainform.h"
#include "ui_mainform.h"

#include "app/filelistview.h"
#include "app/helpdialogs.h"
#include "app/kbdactioncontroller.h"
#include "app/kbdpane.h"
#include "app/localpane.h"
#include "app/midimonitor.h"

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
    m_editMenu = new QMenu(tr("&Edit"), ui.MainMenu);
    m_editMenu->setObjectName(QStringLiteral("EditMenu"));
    const QList<QAction*> titles = ui.MainMenu->actions();
    ui.MainMenu->insertMenu(titles.size() > 1 ? titles[1] : nullptr, m_editMenu);
    new HideWhileEmpty(m_editMenu);
    m_editMenu->addAction(ui.UndoAction);
    addAction(ui.UndoAction); // Ctrl+Z wherever the focus is in the window
    m_editMenu->addAction(m_actions->undoOlderAction());
    // Another program (kbxtool) may have changed the history since the item was named.
    connect(m_editMenu, &QMenu::aboutToShow, this, &TPcLinkForm::UpdateUndoAction);

    m_keyboardMenu = new QMenu(tr("&Keyboard"), ui.MainMenu);
    m_keyboardMenu->setObjectName(QStringLiteral("KeyboardMenu"));
    ui.MainMenu->addMenu(m_keyboardMenu);

    // Get/Update List answers to F5 anywhere in the window. The Delete key deletes a keyboard
    // slot only where the keyboard pane has the focus: in the local pane it must never take a
    // song away. (The commands keep their Alt keys; a key belongs to one action only.)
    m_connectMenuItem = menuItemFor(ui.ConnectAction, "ConnectMenuItem", QKeySequence(Qt::Key_F5));
    addAction(m_connectMenuItem);
    m_deleteMenuItem =
        menuItemFor(ui.DeleteAction, "DeleteMenuItem", QKeySequence(QKeySequence::Delete));
    m_deleteMenuItem->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    ui.KbdPanel->addAction(m_deleteMenuItem);

    m_propertiesAction = newAction(this, "PropertiesAction", tr("P&roperties"));
    m_propertiesAction->setShortcuts(
        {QKeySequence(Qt::ALT | Qt::Key_Enter), QKeySequence(Qt::ALT | Qt::Key_Return)});
    addAction(m_propertiesAction); // its keys work wherever the focus is in the window
    connect(m_propertiesAction, &QAction::triggered, this, &TPcLinkForm::PropertiesActionExecute);

    // Backing up and restoring the whole keyboard come with their controller; until then the
    // places are kept.
    m_backupAction = newAction(this, "BackupAction", tr("&Back Up..."));
    m_backupAction->setEnabled(false);
    m_restoreAction = newAction(this, "RestoreAction", tr("Res&tore..."));
    m_restoreAction->setEnabled(false);

    QMenu* styles = new QMenu(tr("&View"), m_keyboardMenu);
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

    m_keyboardMenu->addAction(m_connectMenuItem);
    m_keyboardMenu->addSeparator();
    m_keyboardMenu->addAction(ui.ReceiveAction);
    m_keyboardMenu->addAction(ui.SendAction);
    m_keyboardMenu->addAction(m_deleteMenuItem);
    m_keyboardMenu->addSeparator();
    m_keyboardMenu->addAction(m_propertiesAction);
    m_keyboardMenu->addSeparator();
    m_keyboardMenu->addAction(m_backupAction);
    m_keyboardMenu->addAction(m_restoreAction);
    m_keyboardMenu->addSeparator();
    m_keyboardMenu->addMenu(styles);

    // Keys of the window's own commands; none of them is a key the commands above use.
    ui.PropertyMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    ui.Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_monitor->toggleViewAction()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));

    QMenu* help = new QMenu(tr("&Help"), ui.MainMenu);
    help->setObjectName(QStringLiteral("HelpMenu"));
    ui.MainMenu->addMenu(help);
    QAction* manual = newAction(help, "ManualAction", tr("kbxman &Manual"));
    manual->setShortcut(QKeySequence(Qt::Key_F1));
    connect(manual, &QAction::triggered, this, [this] { kbxapp::showManual(this); });
    help->addAction(manual);
    help->addSeparator();
    QAction* about = newAction(help, "AboutAction", tr("&About kbxman"));
    connect(about, &QAction::triggered, this, [this] { kbxapp::showAbout(this); });
    help->addAction(about);
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
    if (isBusy())
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

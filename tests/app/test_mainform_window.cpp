// The main window as a keyboard user and a waiting user meet it, against the virtual keyboard:
// the menus and their keys, Enter and Delete in the lists, a focus that shows; the commands
// greyed while an action runs, the bar's text and the item in the status line, closing while
// busy; a status line shown whole where it has room; a relist that keeps the user's place; a
// replaced file that goes to the trash.
#include "mainformtest.h"

#include "app/dialogs/kbddrvpropform.h"
#include "app/dialogs/propform.h"
#include "app/elidinglabel.h"

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QToolButton>

using namespace kbxtest;

namespace {

QStringList menuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class MainFormWindowTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<ModalDriver> m_dialogs;

    QAction* action(const char* name) { return find<QAction>(name); }

    // A key pressed where the user has put the focus (a dialog just closed gives the window
    // its activation back first).
    void keyTo(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        if (auto* list = qobject_cast<FileListView*>(widget))
            widget = list->currentView();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        widget->setFocus();
        QVERIFY(widget->hasFocus());
        QTest::keyClick(widget, key, modifiers);
    }
    QProgressBar* progressBar() { return find<QProgressBar>("ProgressBar"); }

    // Runs `inside` once, from the event loop, while the action started by `start` waits for
    // the keyboard.
    void whileBusy(const std::function<void()>& start, const std::function<void()>& inside) {
        bool ran = false;
        QTimer::singleShot(0, m_form.get(), [&] {
            ran = true;
            QVERIFY(m_form->isBusy());
            inside();
        });
        start();
        QVERIFY(ran);
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_dialogs = std::make_unique<ModalDriver>();
    }
    void cleanup() {
        tearDown();
        QCOMPARE(m_dialogs->unused(), qsizetype(0));
        m_dialogs.reset();
    }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    // ---- Menus and keys ----

    void menusOfferEveryKeyboardCommandWithItsKey() {
        createForm();
        QMenuBar* bar = find<QMenuBar>("MainMenu");
        QStringList titles;
        for (QAction* menu : bar->actions())
            titles << menu->text();
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "&View", "&Keyboard", "&Help"}));
        // File stays as it was.
        QCOMPARE(menuTexts(find<QMenu>("File1")), (QStringList{"&Preference", "-", "E&xit"}));

        auto* keyboard = find<QMenu>("KeyboardMenu");
        QCOMPARE(menuTexts(keyboard),
                 (QStringList{"Get/Update &List", "-", "&Import", "&Send", "&Delete", "-",
                              "P&roperties", "-", "&Back Up...", "Res&tore...", "-", "&View"}));
        QCOMPARE(action("ConnectMenuItem")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(action("ReceiveAction")->shortcut(), QKeySequence("Alt+I"));
        QCOMPARE(action("SendAction")->shortcut(), QKeySequence("Alt+S"));
        QCOMPARE(action("DeleteMenuItem")->shortcut(), QKeySequence(QKeySequence::Delete));
        QCOMPARE(action("PropertiesAction")->shortcut(), QKeySequence("Alt+Enter"));
        // The whole keyboard's backup and restore list the keyboard themselves.
        QVERIFY(action("BackupAction")->isEnabled());
        QVERIFY(action("RestoreAction")->isEnabled());
        // Before the first list the transfers are greyed in the menu as on the toolbar.
        QVERIFY(action("ConnectMenuItem")->isEnabled());
        QVERIFY(!action("ReceiveAction")->isEnabled());
        QVERIFY(!action("DeleteMenuItem")->isEnabled());

        QCOMPARE(menuTexts(find<QMenu>("KbdViewMenu")),
                 (QStringList{"Lar&ge Icon", "S&mall Icon", "&List", "&Detailed"}));

        // The Edit menu holds Undo on Ctrl+Z, named by the change it reverts, and the history.
        QMenu* edit = m_form->editMenu();
        QVERIFY(edit->menuAction()->isVisible());
        QCOMPARE(menuTexts(edit), (QStringList{"&Undo", "Undo &Older Change", "&History..."}));
        QCOMPARE(action("UndoAction")->shortcut(), QKeySequence("Ctrl+Z"));
    }

    void f5ListsTheKeyboardAndEnablesTheMenusTransfers() {
        createForm();
        QTest::keyClick(m_form.get(), Qt::Key_F5);
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_form->kbdDrv().isListed());
        // Offered for what is selected: a keyboard item to import.
        QVERIFY(!action("ReceiveAction")->isEnabled());
        kbdFileView()->setSelectedRow(0);
        QVERIFY(action("ReceiveAction")->isEnabled());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0);
        QVERIFY(action("DeleteMenuItem")->isEnabled());
        QVERIFY(selectKbdFolder("Tone:\\"));
        QVERIFY(!action("DeleteMenuItem")->isEnabled());
    }

    void deleteKeyDeletesOnlyWhereTheKeyboardHasTheFocus() {
        QVERIFY(writeFile("notes.txt", "x"));
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0); // the factory song
        localFileView()->setSelectedRow(0);

        keyTo(localFileView(), Qt::Key_Delete);
        QVERIFY(!m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        QVERIFY(QFile::exists(m_local->filePath("notes.txt")));

        keyTo(kbdFileView(), Qt::Key_Delete);
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        // The place stays selected: now an empty one.
        QCOMPARE(kbdFileView()->selectedRow(), 0);
        QCOMPARE(kbdFileView()->subItemText(0, 1), QString());
    }

    void enterOpensALocalFolderAndShowsAFilesProperties() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        createForm();
        QVERIFY(readList());
        QVERIFY(importTone(0));
        localFileView()->setSelectedRow(rowOf(localFileView(), "Data"));
        keyTo(localFileView(), Qt::Key_Return);
        QCOMPARE(m_form->GetNodePath(localDirView()->currentItem()),
                 localDir() + "Data" + QDir::separator());

        localDirView()->setCurrentItem(localDirView()->currentItem()->parent());
        const int file = rowOf(localFileView(), "TON_Brass 1 .kbx");
        QVERIFY(file >= 0);
        localFileView()->setSelectedRow(file);
        QString shown;
        m_dialogs->expect([&](QDialog* dialog) {
            shown = child<QLabel>(dialog, "FileNameLbl")->text();
            dialog->reject();
        });
        keyTo(localFileView(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(m_dialogs->seen, QStringList{"TZxDataPropertyForm"});
        QCOMPARE(shown, QString("TON_Brass 1 .kbx"));
    }

    void enterOnAKeyboardFolderEntryOpensIt() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\"));
        kbdFileView()->setSelectedRow(1); // "Rhythm"
        keyTo(kbdFileView(), Qt::Key_Return);
        QCOMPARE(m_form->GetNodePath(kbdDirView()->currentItem()),
                 QString("Song Rhythm:\\Rhythm\\"));
    }

    void altEnterShowsThePropertiesOfWhatHasTheFocus() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(0);
        m_dialogs->expect([](QDialog* dialog) { dialog->reject(); });
        m_dialogs->expect([](QDialog* dialog) { dialog->reject(); });
        keyTo(kbdFileView(), Qt::Key_Return, Qt::AltModifier);
        keyTo(kbdDirView(), Qt::Key_Enter, Qt::AltModifier);
        QCOMPARE(m_dialogs->seen, (QStringList{"TZxDataPropertyForm", "TKbdDrivePropertyForm"}));
    }

    void viewStyleItemsAndButtonsShowOneStyle() {
        createForm();
        action("KbdReportItem")->trigger();
        QCOMPARE(kbdFileView()->viewStyle(), int(FileListView::Report));
        QVERIFY(find<QToolButton>("KbdReportBtn")->isChecked());
        find<QToolButton>("KbdSmallIconBtn")->click();
        QVERIFY(action("KbdSmallIconItem")->isChecked());
        QVERIFY(!action("KbdReportItem")->isChecked());
        QTest::keyClick(m_form.get(), Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(kbdFileView()->viewStyle(), int(FileListView::List));
        QVERIFY(find<QToolButton>("KbdListBtn")->isChecked());
    }

    void theFocusedViewIsFramedInTheSelectionColour() {
        createForm();
        QAbstractItemView* local = localFileView()->currentView();
        QAbstractItemView* kbd = kbdFileView()->currentView();
        auto edge = [](QAbstractItemView* view) {
            return view->grab().toImage().pixelColor(0, view->height() / 2);
        };
        local->setFocus();
        QVERIFY(local->hasFocus());
        const QColor highlight = local->palette().color(QPalette::Active, QPalette::Highlight);
        QCOMPARE(edge(local), highlight);
        QVERIFY(edge(kbd) != highlight);
        kbd->setFocus();
        QCOMPARE(edge(kbd), highlight);
        QVERIFY(edge(local) != highlight);
    }

    // ---- Busy ----

    void busyGreysWhatItWouldRefuseAndGivesItBackAfter() {
        QVERIFY(writeFile("a.kbx", "x"));
        createForm();
        QVERIFY(readList());
        localFileView()->setSelectedRow(rowOf(localFileView(), "a.kbx"));
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0);
        const QStringList refused = {
            "ConnectAction",    "ConnectMenuItem",  "SendAction",       "LocalSendMenuItem",
            "ReceiveAction",    "KbdReceiveItem",   "DeleteAction",     "DeleteMenuItem",
            "KbdDeleteItem",    "PropOpen",         "Property1",        "KbdPropertyItem",
            "PropertiesAction", "PrefOpen",         "PropertyMenuItem", "KbdDrvPropOpen",
            "KbdDrvPropItem",   "DisconnectAction", "BackupAction",     "RestoreAction"};
        const QStringList usable = {"ExitAction", "Exit1",        "LocalUpdateAction",
                                    "ShellOpen",  "OpenExplorer", "KbdReportItem"};
        QStringList enabledInside;
        QStringList disabledInside;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        bool barText = false;
        whileBusy([&] { m_form->ConnectActionExecute(); },
                  [&] {
                      for (const QString& name : refused + usable)
                          (action(qPrintable(name))->isEnabled() ? enabledInside : disabledInside)
                              << name;
                      cursor = QApplication::overrideCursor()
                                   ? QApplication::overrideCursor()->shape()
                                   : Qt::ArrowCursor;
                      barText = progressBar()->isTextVisible();
                      QCOMPARE(progressBar()->text().right(1), QString("%"));
                      // The buttons show it.
                      QVERIFY(!find<QToolButton>("KbdUpdateBtn")->isEnabled());
                      QVERIFY(!find<QToolButton>("DeleteBtn")->isEnabled());
                  });
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(disabledInside, refused);
        QCOMPARE(enabledInside, usable);
        QCOMPARE(cursor, Qt::BusyCursor);
        QVERIFY(barText);
        // Afterwards each command has its own state again; the list kept the song folder.
        for (const QString& name : refused)
            QVERIFY2(action(qPrintable(name))->isEnabled(), qPrintable(name));
        QVERIFY(!progressBar()->isTextVisible());
        QVERIFY(action("BackupAction")->isEnabled());
        QVERIFY(selectKbdFolder("Tone:\\"));
        QVERIFY(!action("DeleteAction")->isEnabled());
        QVERIFY(!action("DeleteMenuItem")->isEnabled());
    }

    void aTransferShowsPercentAndBytesAndNamesItsItem() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0); // Minuet, 600 bytes
        QStringList texts;
        QString item;
        connect(progressBar(), &QProgressBar::valueChanged, m_form.get(), [&](int value) {
            if (value > 0 && progressBar()->isTextVisible()) {
                texts << progressBar()->text();
                item = m_form->statusItem();
            }
        });
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(!texts.isEmpty());
        const QRegularExpression shape(QStringLiteral("^(\\d+)% \\((\\d+) of 600 bytes\\)$"));
        for (const QString& text : texts) {
            const QRegularExpressionMatch match = shape.match(text);
            QVERIFY2(match.hasMatch(), qPrintable(text));
            QCOMPARE(match.captured(1).toInt(), match.captured(2).toInt() * 100 / 600);
        }
        QCOMPARE(texts.last(), QString("100% (600 of 600 bytes)"));
        QCOMPARE(item, QString("Minuet"));
        // The described status line is back to empty; the item gave way to how it ended.
        QCOMPARE(m_form->statusText(), QString());
        QCOMPARE(m_form->statusItem(),
                 QString("Imported \"Minuet\" (Song 1) as SNG_Minuet  .kbx."));
        QVERIFY(!progressBar()->isTextVisible());

        // A delete first keeps a copy of the song in the history: the bar counts that copy's
        // bytes, and the item is named.
        bool deleteText = true;
        QString deleteItem;
        whileBusy([&] { m_form->DeleteActionExecute(); },
                  [&] {
                      deleteText = progressBar()->isTextVisible();
                      deleteItem = m_form->statusItem();
                  });
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(deleteText);
        QCOMPARE(deleteItem, QString("Minuet"));
    }

    void aStatusLineWithRoomIsShownWhole() {
        // Glyphs are fractions of a pixel wide: a label laid out at its own size shows all of its
        // text, in the window's font and in the one a Japanese desktop gives it.
        createForm();
        auto* item = find<ElidingLabel>("StatusItem");
        item->setVisible(true);
        for (const QFont& font : {item->font(), QFont("Noto Sans CJK JP")}) {
            item->setFont(font);
            for (const QString& text :
                 {QString("4 of 4 items imported"), QString("4 件中 4 件を受信しました")}) {
                item->setText(text);
                QTRY_COMPARE(item->width(), item->sizeHint().width());
                QVERIFY2(!item->isElided(), qPrintable(font.family() + ": " + text));
                QCOMPARE(item->toolTip(), QString());
            }
        }
    }

    void closingWhileBusySaysWhenTheWindowCloses() {
        createForm();
        QString status;
        bool visible = false;
        whileBusy([&] { m_form->ConnectActionExecute(); },
                  [&] {
                      m_form->close();
                      visible = m_form->isVisible();
                      status = m_form->statusText();
                  });
        QVERIFY(visible);
        QCOMPARE(status,
                 QString("Stopping the keyboard action; the window closes when it has ended."));
        QVERIFY(!m_form->isVisible());
    }

    // ---- A relist keeps the user's place ----

    void aListKeepsExpandedFoldersAndTheSelectedFolderAndSlot() {
        createForm();
        QVERIFY(readList());
        QTreeWidgetItem* registration = findNode(kbdDirView(), "Registration:\\");
        QVERIFY(registration);
        QVERIFY(!registration->isExpanded());
        registration->setExpanded(true);
        QVERIFY(selectKbdFolder("Registration:\\Bank2\\"));
        kbdFileView()->setSelectedRow(3);
        findNode(kbdDirView(), "Song Rhythm:\\")->setExpanded(false);

        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(findNode(kbdDirView(), "Registration:\\")->isExpanded());
        QVERIFY(!findNode(kbdDirView(), "Song Rhythm:\\")->isExpanded());
        QCOMPARE(m_form->GetNodePath(kbdDirView()->currentItem()),
                 QString("Registration:\\Bank2\\"));
        QCOMPARE(kbdFileView()->selectedRow(), 3);

        // F5 from the menu's key, too.
        QTest::keyClick(m_form.get(), Qt::Key_F5);
        QCOMPARE(m_form->GetNodePath(kbdDirView()->currentItem()),
                 QString("Registration:\\Bank2\\"));
        QCOMPARE(kbdFileView()->selectedRow(), 3);
    }

    void anImportOrASendKeepsTheSelectedSlot() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(4);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(kbdFileView()->selectedRow(), 4);
        const QString file = localFileView()->itemText(localFileView()->selectedRow());
        QVERIFY(file.startsWith("TON_"));
        kbdFileView()->setSelectedRow(6);
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_form->GetNodePath(kbdDirView()->currentItem()), QString("Tone:\\"));
        QCOMPARE(kbdFileView()->selectedRow(), 6);
    }

    // ---- Nothing replaced unseen ----

    void aReplacedImportGoesToTheTrashAndTheStatusLineSaysSo() {
        if (underWine())
            QSKIP("Wine cannot move a file to the recycle bin");
        const PrivateTrashHome home;

        m_keyboard->setItemBytes(ZxKind::Tone, 2, 0, namedItem(60, kToneNameOffset, "Warm"));
        createForm();
        QVERIFY(readList());
        QVERIFY(importTone(2));
        const QString name = QStringLiteral("TON_Warm    .kbx");
        QCOMPARE(m_form->statusText(), QString());
        const QByteArray first = fileBytes(m_local->filePath(name));
        QVERIFY(!first.isEmpty());

        // The same item again replaces nothing that differs: nothing to say about the trash.
        QVERIFY(importTone(2));
        QVERIFY(!m_form->statusItem().contains("trash"));

        // Another item under the same name: the old file is kept in the trash.
        Bytes changed = namedItem(60, kToneNameOffset, "Warm");
        changed[0] = 0x22;
        m_keyboard->setItemBytes(ZxKind::Tone, 2, 0, changed);
        QVERIFY(importTone(2));
        QCOMPARE(m_form->statusText(), QString());
        QVERIFY(m_form->statusItem().endsWith(" The earlier " + name + " was moved to the trash."));
        QCOMPARE(localFileView()->itemText(localFileView()->selectedRow()), name);
#ifndef Q_OS_WIN // the recycle bin is no folder to look into
        const QStringList trashed =
            QDir(home.filePath("data/Trash/files")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(trashed, QStringList{name});
        QCOMPARE(fileBytes(home.filePath("data/Trash/files/" + name)), first);
#endif
        QVERIFY(fileBytes(m_local->filePath(name)) != first);

        // The next action ends with its own line.
        m_form->ConnectActionExecute();
        QCOMPARE(m_form->statusItem(), QString("Keyboard listed."));
    }
};

QTEST_MAIN(MainFormWindowTest)
#include "test_mainform_window.moc"

// The window as a musician meets it, against the virtual keyboard: a question before a delete or
// a send that replaces a song, "Don't ask again" kept only while the history keeps copies, one
// line that says how each action ended; numbered slots and "(no name)"; the song memory gauge
// following a click at once; no key taken twice; the Help menu.
#include "mainformtest.h"

#include "app/memorygauge.h"
#include "app/midimonitor.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>

using namespace kbxtest;

class MainFormMusicianTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_historyDir;

    // The song folder listed, slot 1 ("Minuet") selected.
    void selectFirstSong() {
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0);
    }

    void saveSafety(bool keepHistory, bool ask) {
        KbxSettings::Safety safety;
        safety.keepHistory = keepHistory;
        safety.askBeforeChange = ask;
        KbxSettings().saveSafety(safety);
    }

    // Clicks a list's row as the user does: the current row changes before the selection.
    static void clickRow(FileListView* list, int row) {
        QAbstractItemView* view = list->currentView();
        const QRect rect = view->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_historyDir = std::make_unique<QTemporaryDir>();
        qputenv("KBX_HISTORY_DIR", m_historyDir->path().toLocal8Bit());
    }
    void cleanup() {
        tearDown();
        qunsetenv("KBX_HISTORY_DIR");
        m_historyDir.reset();
    }
    void cleanupTestCase() {
        ErrorReporter::setInstance(nullptr);
        Confirmer::setInstance(nullptr);
    }

    // ---- Asking first, and saying how it ended ----

    void deleteAsksAndDontAskAgainHoldsOnlyWithTheHistory() {
        createForm();
        QVERIFY(readList());
        QCOMPARE(m_form->statusItem(), QString("Keyboard listed."));
        selectFirstSong();

        // No: nothing changes, and the line says so; no error box.
        m_confirms.answers << Confirmer::Answer{false, false};
        m_form->DeleteActionExecute();
        QCOMPARE(m_confirms.asked.size(), 1);
        QCOMPARE(m_confirms.asked[0].text,
                 QString("Delete \"Minuet\" (Song 1) from the keyboard?"));
        QVERIFY(m_confirms.asked[0].offerDontAsk);
        QVERIFY(!m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        QCOMPARE(m_form->statusItem(), QString("Not deleted: nothing was changed."));
        QCOMPARE(m_form->statusText(), QString());

        // Yes, and don't ask again: deleted, said, and kept in the settings.
        m_confirms.answers << Confirmer::Answer{true, true};
        m_form->DeleteActionExecute();
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        QCOMPARE(m_form->statusItem(), QString("Deleted \"Minuet\" (Song 1)."));
        QVERIFY(!KbxSettings().loadSafety().askBeforeChange);
        QCOMPARE(m_errors.texts, QStringList());

        // The rhythm goes without a question now.
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        kbdFileView()->setSelectedRow(0);
        m_form->DeleteActionExecute();
        QCOMPARE(m_confirms.asked.size(), 2);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, 0).empty());

        // Without the history the question comes back, says no copy is kept, and cannot be
        // switched off.
        m_form.reset();
        m_keyboard->factoryReset();
        saveSafety(false, false);
        createForm();
        QVERIFY(readList());
        selectFirstSong();
        m_form->DeleteActionExecute();
        QCOMPARE(m_confirms.asked.size(), 3);
        QVERIFY(!m_confirms.asked[2].offerDontAsk);
        QVERIFY(m_confirms.asked[2].informative.contains("No copy will be kept"));
    }

    void aSendOverASongAsksAndTheLineNamesFileAndSlot() {
        createForm();
        QVERIFY(readList());
        selectFirstSong();
        m_form->ReceiveActionExecute();
        const QString file = QStringLiteral("SNG_Minuet  .kbx");
        QCOMPARE(m_form->statusItem(), "Imported \"Minuet\" (Song 1) as " + file + ".");
        QCOMPARE(m_confirms.asked.size(), 0); // an import replaces nothing in the keyboard

        const int row = rowOf(localFileView(), file);
        QVERIFY(row >= 0);
        localFileView()->setSelectedRow(row);
        // Into the empty second slot: nothing to ask.
        selectFirstSong();
        kbdFileView()->setSelectedRow(1);
        m_form->SendActionExecute();
        QCOMPARE(m_confirms.asked.size(), 0);
        QCOMPARE(m_form->statusItem(), "Sent " + file + " to Song 2.");
        // Over the song now there.
        m_form->SendActionExecute();
        QCOMPARE(m_confirms.asked.size(), 1);
        QCOMPARE(m_confirms.asked[0].text,
                 "Replace \"Minuet\" (Song 2) on the keyboard with " + file + "?");
        QCOMPARE(m_errors.texts, QStringList());
    }

    // ---- Numbers and names ----

    void slotsAreNumberedFromOneAndABlankNameShowsNoName() {
        m_keyboard->setItemBytes(ZxKind::Tone, 2, 0, namedItem(60, kToneNameOffset, ""));
        createForm();
        QVERIFY(readList());
        const std::pair<const char*, int> folders[] = {
            {"Tone:\\", 10}, {"Registration:\\Bank1\\", 4}, {"Song Rhythm:\\Song\\", 2}};
        for (const auto& [path, rows] : folders) {
            QVERIFY(selectKbdFolder(path));
            QCOMPARE(kbdFileView()->count(), rows);
            for (int row = 0; row < rows; ++row)
                QCOMPARE(kbdFileView()->subItemText(row, 3), QString::number(row + 1));
        }
        // Folder entries have no number.
        QVERIFY(selectKbdFolder("Song Rhythm:\\"));
        QCOMPARE(kbdFileView()->subItemText(0, 3), QString());

        QVERIFY(selectKbdFolder("Tone:\\"));
        QCOMPARE(kbdFileView()->itemText(2), QString("(no name)"));
        const QStandardItem* blank = kbdFileView()->model()->item(2, 0);
        QCOMPARE(blank->foreground().color(),
                 kbdFileView()->palette().color(QPalette::Disabled, QPalette::Text));
        QVERIFY(kbdFileView()->itemText(0) != QString("(no name)"));
    }

    // ---- The gauge, the keys, the Help menu ----

    void theGaugeDescribesTheFileJustClicked() {
        createForm();
        QVERIFY(readList());
        selectFirstSong();
        m_form->ReceiveActionExecute(); // the song: 600 bytes
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        const QString song = QStringLiteral("SNG_Minuet  .kbx");
        const QString rhythm = QStringLiteral("RHY_Bossa 1 .kbx");
        const QList<std::pair<QString, std::uint32_t>> clicks = {
            {song, 600}, {rhythm, m_keyboard->itemBytes(ZxKind::Rhythm, 0).size()}, {song, 600}};
        for (const auto& [name, size] : clicks) {
            const int row = rowOf(localFileView(), name);
            QVERIFY2(row >= 0, qPrintable(name));
            clickRow(localFileView(), row);
            QCOMPARE(localFileView()->selectedRow(), row);
            QCOMPARE(m_form->memoryGauge().need(), std::optional<std::uint32_t>(size));
        }
    }

    void noKeyIsTakenTwice() {
        createForm();
        m_form->midiMonitor().show();
        // Where a key is heard: the whole window, or a pane and what is inside it.
        struct Claim {
            QString owner;
            QWidget* scope; // nullptr: the window
        };
        QMultiMap<QString, Claim> claims;
        const auto claim = [&](const QKeySequence& key, const QString& owner, QWidget* scope) {
            if (!key.isEmpty())
                claims.insert(key.toString(), {owner, scope});
        };
        for (QAction* action : m_form->findChildren<QAction*>()) {
            if (action->menu()) {
                // A menu bar title answers to Alt and its letter.
                if (m_form->menuBar()->actions().contains(action))
                    claim(QKeySequence::mnemonic(action->text()), action->text(), nullptr);
                continue;
            }
            QWidget* scope = nullptr;
            if (action->shortcutContext() != Qt::WindowShortcut)
                for (QObject* object : action->associatedObjects())
                    if (auto* widget = qobject_cast<QWidget*>(object); widget && !scope)
                        scope = qobject_cast<QMenu*>(widget) ? nullptr : widget;
            for (const QKeySequence& key : action->shortcuts())
                claim(key, action->objectName(), scope);
        }
        for (QAbstractButton* button : m_form->findChildren<QAbstractButton*>())
            claim(button->shortcut(), button->objectName(), nullptr);

        QStringList twice;
        for (const QString& key : claims.uniqueKeys()) {
            const QList<Claim> owners = claims.values(key);
            for (qsizetype i = 0; i < owners.size(); ++i)
                for (qsizetype j = i + 1; j < owners.size(); ++j) {
                    QWidget* a = owners[i].scope;
                    QWidget* b = owners[j].scope;
                    if (!a || !b || a == b || a->isAncestorOf(b) || b->isAncestorOf(a))
                        twice << key + ": " + owners[i].owner + ", " + owners[j].owner;
                }
        }
        QCOMPARE(twice, QStringList());
        // The window's own keys are there to be found.
        for (const char* key : {"Ctrl+Q", "Ctrl+H", "Ctrl+M", "Ctrl+,", "F1", "Alt+S"})
            QVERIFY2(claims.contains(QKeySequence(key).toString()), key);
    }

    void helpMenuComesLastAndOpensTheManual() {
        createForm();
        QCOMPARE(m_form->menuBar()->actions().last(), find<QMenu>("HelpMenu")->menuAction());
        find<QAction>("ManualAction")->trigger();
        QTRY_VERIFY(find<QWidget>("ManualForm")->isVisible());
    }
};

QTEST_MAIN(MainFormMusicianTest)
#include "test_mainform_musician.moc"

// The history window against the virtual keyboard: Edit > History... below Undo; its entries
// newest first and its filters, following the window's changes; a kept song sent back into its
// slot and, through the slot picker, into another slot of its kind (a slot of another kind
// refused, a keyboard that does not answer reported with nothing recorded); saved as a file
// through the folder dialog; dragged onto the local list (saved there; another file of the name
// goes to the trash and the status line says so) and onto a keyboard slot (sent there); its
// keyboard commands greyed while an action runs; and Undo from the window.
#include "mainformtest.h"

#include "app/dialogs/historyform.h"
#include "app/dialogs/sendtoslotform.h"
#include "app/translations.h"
#include "ops/history.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>

using namespace kbxtest;

namespace {

constexpr std::size_t kSongNameOffset = 4;

QStringList column(QTreeWidget* list, int col) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(col);
    return texts;
}

// Enter, move and drop of an entry's drag on a list's viewport; true when taken.
bool dropEntry(FileListView* list, const QPoint& pos, qint64 id) {
    QMimeData data;
    data.setData(THistoryForm::kEntryDragType, QByteArray::number(id));
    QWidget* viewport = list->currentView()->viewport();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QPoint itemPoint(FileListView* list, int row) {
    QAbstractItemView* view = list->currentView();
    const QModelIndex index = list->model()->index(row, 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}

} // namespace

class MainFormHistoryTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_historyDir;
    std::unique_ptr<ModalDriver> m_dialogs;
    Bytes m_song;

    // Song 0 holds "Keeper" and is deleted from the window: the history keeps it.
    qint64 deleteKeeper() {
        m_song = namedItem(300, kSongNameOffset, "Keeper");
        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, m_song);
        if (!readList() || !selectKbdFolder("Song Rhythm:\\Song\\"))
            return 0;
        kbdFileView()->setSelectedRow(0);
        m_form->DeleteActionExecute();
        if (!m_errors.texts.isEmpty() || !m_keyboard->itemBytes(ZxKind::Song, 0).empty())
            return 0;
        return m_form->history().entries().front().id;
    }

    THistoryForm* openHistory() {
        m_form->HistoryOpenExecute();
        return m_form->findChild<THistoryForm*>("HistoryForm");
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_historyDir = std::make_unique<QTemporaryDir>();
        qputenv("KBX_HISTORY_DIR", m_historyDir->path().toLocal8Bit());
        createForm();
        m_dialogs = std::make_unique<ModalDriver>();
    }
    void cleanup() {
        tearDown();
        QCOMPARE(m_dialogs->unused(), qsizetype(0));
        m_dialogs.reset();
        qunsetenv("KBX_HISTORY_DIR");
        m_historyDir.reset();
    }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    void editMenuOffersHistoryBelowUndo() {
        const QList<QAction*> items = m_form->editMenu()->actions();
        const QAction* history = find<QAction>("HistoryAction");
        const qsizetype undo = items.indexOf(find<QAction>("UndoAction"));
        QVERIFY(undo >= 0);
        QCOMPARE(items.value(undo + 1), find<QAction>("UndoOlderAction"));
        QCOMPARE(items.value(undo + 2), history);
        QVERIFY(history->isEnabled());
        find<QAction>("HistoryAction")->trigger();
        THistoryForm* form = m_form->historyForm();
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->entryList()->topLevelItemCount(), 0);
        QVERIFY(!child<QPushButton>(form, "UndoBtn")->isEnabled());
    }

    void listsEntriesNewestFirstAndFiltersByKindAndText() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        // A tone replaced after it: the newer entry comes first.
        QVERIFY(importTone(1));
        QVERIFY(selectKbdFolder("Tone:\\"));
        m_form->LocalUpdateActionExecute();
        localFileView()->setSelectedRow(0);
        kbdFileView()->setSelectedRow(4);
        m_form->SendActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));

        THistoryForm* form = openHistory();
        QVERIFY(form);
        QCOMPARE(column(form->entryList(), 2), (QStringList{"Tone 5", "Song 1"}));
        QCOMPARE(column(form->entryList(), 1), (QStringList{"send", "delete"}));
        QVERIFY(column(form->entryList(), 4)[1].startsWith("Keeper"));
        QVERIFY(column(form->entryList(), 4)[1].endsWith("(empty)"));
        QCOMPARE(column(form->entryList(), 5)[1], QString("300"));
        QCOMPARE(column(form->entryList(), 3), (QStringList{"Tone", "Song"}));
        QVERIFY(QDateTime::fromString(column(form->entryList(), 0)[0], "yyyy-MM-dd HH:mm:ss")
                    .isValid());

        {
            // The window's own words follow the interface's language.
            QVERIFY(kbxapp::setInterfaceLanguage("ja"));
            const auto english = qScopeGuard([] { kbxapp::setInterfaceLanguage("en"); });
            THistoryForm japanese(m_form->history());
            QCOMPARE(column(japanese.entryList(), 1), (QStringList{"送信", "削除"}));
            QCOMPARE(column(japanese.entryList(), 3), (QStringList{"トーン", "ソング"}));
            QVERIFY(column(japanese.entryList(), 4)[1].endsWith("(空)"));
        }
        form->kindFilter()->setCurrentIndex(form->kindFilter()->findText("Song"));
        QCOMPARE(column(form->entryList(), 2), QStringList{"Song 1"});
        form->kindFilter()->setCurrentIndex(0);
        form->textFilter()->setText("keeper");
        QCOMPARE(column(form->entryList(), 2), QStringList{"Song 1"});
        form->textFilter()->setText("nothing like it");
        QCOMPARE(form->entryList()->topLevelItemCount(), 0);
    }

    void sendsBackIntoItsSlotOrAnotherOfItsKind() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        THistoryForm* form = openHistory();
        QVERIFY(form->SelectEntry(id));
        child<QPushButton>(form, "SendBackBtn")->click();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0) == m_song);
        // The send back is a change of its own, listed at once.
        QCOMPARE(column(form->entryList(), 1).front(), QString("restore"));

        // Send to Slot... offers the slots of the entry's kind as the keyboard list shows them
        // (number, place, name, size), its own first chosen.
        QStringList offered;
        QString preselected;
        m_dialogs->expect([&](QDialog* dialog) {
            auto* picker = qobject_cast<TSendToSlotForm*>(dialog);
            QVERIFY(picker);
            QTreeWidget* list = picker->slotList();
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* row = list->topLevelItem(i);
                offered << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join(
                    '|');
            }
            preselected = picker->chosenSlot();
            list->setCurrentItem(list->topLevelItem(1));
            picker->accept();
        });
        QVERIFY(form->SelectEntry(id));
        child<QPushButton>(form, "SendToBtn")->click();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QCOMPARE(offered, (QStringList{"1|Song 1|Keeper|300", "2|Song 2|Song 1|"}));
        QCOMPARE(preselected, QString("song:0"));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1) == m_song);
        // Each send is a change of its own, recorded as a restore into its slot.
        QCOMPARE(column(form->entryList(), 2).front(), QString("Song 2"));
        QCOMPARE(column(form->entryList(), 1).front(), QString("restore"));

        const auto tone = m_keyboard->itemBytes(ZxKind::Tone, 2);
        m_form->SendHistoryEntry(id, "tone:2");
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Tone, 2) == tone);
    }

    void aSendBackTheKeyboardDoesNotAnswerIsReportedAndRecordsNothing() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        THistoryForm* form = openHistory();
        const int rows = form->entryList()->topLevelItemCount();
        VirtualZr7316::Faults faults;
        faults.silentFrom = 0;
        m_keyboard->setFaults(faults);
        QVERIFY(form->SelectEntry(id));
        child<QPushButton>(form, "SendBackBtn")->click();
        m_keyboard->setFaults({});
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        QCOMPARE(form->entryList()->topLevelItemCount(), rows);
        QVERIFY(!m_form->isBusy());
        // The entry is still there to try again.
        QVERIFY(form->SelectEntry(id));
        QVERIFY(child<QPushButton>(form, "SendBackBtn")->isEnabled());
    }

    void followsTheWindowsChangesAndGreysKeyboardCommandsWhileBusy() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        THistoryForm* form = openHistory();
        QVERIFY(form->SelectEntry(id));
        QPushButton* sendBack = child<QPushButton>(form, "SendBackBtn");
        QPushButton* undo = child<QPushButton>(form, "UndoBtn");
        QVERIFY(sendBack->isEnabled());
        QVERIFY(undo->isEnabled());
        QVERIFY2(undo->toolTip().startsWith("Undo delete of Keeper"), qPrintable(undo->toolTip()));

        // While the window deletes song 1, the keyboard's commands here are off; afterwards the
        // new entry is listed without asking.
        m_keyboard->setItemBytes(ZxKind::Song, 1, 0, namedItem(200, kSongNameOffset, "Second"));
        QVERIFY(readList() && selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(1);
        bool greyed = false;
        QTimer probe;
        probe.setInterval(0);
        connect(&probe, &QTimer::timeout, [&] {
            if (m_form->isBusy() && !sendBack->isEnabled() && !undo->isEnabled() &&
                child<QPushButton>(form, "SaveBtn")->isEnabled())
                greyed = true;
        });
        probe.start();
        m_form->DeleteActionExecute();
        probe.stop();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(greyed);
        QCOMPARE(column(form->entryList(), 2), (QStringList{"Song 2", "Song 1"}));
        QVERIFY(undo->isEnabled());
        QVERIFY2(undo->toolTip().startsWith("Undo delete of Second"), qPrintable(undo->toolTip()));
    }

    void savesAsFileAndTakesDragsOntoBothLists() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        const QByteArray kept = contentOf(m_form->history().entry(id)->before->file);
        QVERIFY(!kept.isEmpty());

        // Save As File... asks for a folder and writes the kept item there, named as an import.
        QTemporaryDir elsewhere;
        m_dialogs->expect([&](QDialog* dialog) {
            auto* chooser = qobject_cast<QFileDialog*>(dialog);
            QVERIFY(chooser);
            chooser->setDirectory(elsewhere.path());
            static_cast<QDialog*>(chooser)->accept(); // QFileDialog::accept is protected
        });
        THistoryForm* form = openHistory();
        QVERIFY(form->SelectEntry(id));
        child<QPushButton>(form, "SaveBtn")->click();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        const QStringList saved = QDir(elsewhere.path()).entryList(QDir::Files);
        QCOMPARE(saved, QStringList{"SNG_Keeper  .kbx"});
        QCOMPARE(contentOf(QDir(elsewhere.path()).filePath(saved[0])), kept);

        // Onto the local list: saved in the folder it shows, and selected there.
        QVERIFY(dropEntry(localFileView(), QPoint(5, 5), id));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), saved);
        QCOMPARE(contentOf(m_local->filePath(saved[0])), kept);
        QCOMPARE(localFileView()->itemText(localFileView()->selectedRow()), saved[0]);

        // Onto keyboard song slot 1: sent there.
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        QVERIFY(dropEntry(kbdFileView(), itemPoint(kbdFileView(), 1), id));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1) == m_song);

        // Onto a tone: refused with an error, nothing sent.
        const auto tone = m_keyboard->itemBytes(ZxKind::Tone, 1);
        QVERIFY(selectKbdFolder("Tone:\\"));
        QVERIFY(dropEntry(kbdFileView(), itemPoint(kbdFileView(), 1), id));
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Tone, 1) == tone);
    }

    void aSaveOverAnotherFileOfTheNameSaysItWentToTheTrash_data() {
        QTest::addColumn<bool>("viaDialog");
        QTest::newRow("Save As File") << true;
        QTest::newRow("drop onto the local list") << false;
    }
    void aSaveOverAnotherFileOfTheNameSaysItWentToTheTrash() {
        QFETCH(bool, viaDialog);
        if (underWine())
            QSKIP("Wine cannot move a file to the recycle bin");
        const PrivateTrashHome home;
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        const QString name = QStringLiteral("SNG_Keeper  .kbx");
        QVERIFY(writeFile(name, "other bytes"));
        m_form->LocalUpdateActionExecute();

        if (viaDialog) {
            m_dialogs->expect([&](QDialog* dialog) {
                auto* chooser = qobject_cast<QFileDialog*>(dialog);
                QVERIFY(chooser);
                chooser->setDirectory(m_local->path());
                static_cast<QDialog*>(chooser)->accept();
            });
            THistoryForm* form = openHistory();
            QVERIFY(form->SelectEntry(id));
            child<QPushButton>(form, "SaveBtn")->click();
        } else {
            QVERIFY(dropEntry(localFileView(), QPoint(5, 5), id));
        }
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QCOMPARE(m_form->statusText(), QString("The earlier " + name + " was moved to the trash."));
#ifndef Q_OS_WIN // the recycle bin is no folder to look into
        QCOMPARE(contentOf(home.filePath("data/Trash/files/" + name)), QByteArray("other bytes"));
#endif
    }

    void theKeyboardListTakesNoEntryBeforeAList() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        m_form->DisconnectActionExecute();
        QVERIFY(!m_form->kbdDrv().isListed());
        QVERIFY(!dropEntry(kbdFileView(), QPoint(5, 5), id));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0).empty());
        // The local list takes it all the same.
        QVERIFY(dropEntry(localFileView(), QPoint(5, 5), id));
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files).size(), 1);
    }

    void undoFromTheWindowRevertsTheNewestChange() {
        const qint64 id = deleteKeeper();
        QVERIFY(id);
        THistoryForm* form = openHistory();
        child<QPushButton>(form, "UndoBtn")->click();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0) == m_song);
        QVERIFY(column(form->entryList(), 1).contains("delete (undone)"));
    }
};

QTEST_MAIN(MainFormHistoryTest)
#include "test_mainform_history.moc"

// What the main window tells beyond its described texts, against the virtual keyboard: the
// informative line of an error box, the marks and refusals of a drag, drops on the trees, the
// list at start and its preference, and the layout kept from run to run within the screen.
#include "mainformtest.h"

#include "app/errordetails.h"
#include "common/msgstr.h"
#include "ops/datafile.h"
#include "protocol/zxexception.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>

using namespace kbxtest;

namespace {

std::unique_ptr<QMimeData> dragFrom(const QString& list) {
    auto data = std::make_unique<QMimeData>();
    data->setData(TPcLinkForm::kListDragType, list.toUtf8());
    return data;
}

// A drag entering and moving over a viewport point; true when the move was taken.
bool dragOver(QWidget* viewport, const QPoint& pos, const QMimeData* data) {
    QDragEnterEvent enter(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    return move.isAccepted();
}

bool dropAt(QWidget* viewport, const QPoint& pos, const QMimeData* data) {
    if (!dragOver(viewport, pos, data))
        return false;
    QDropEvent drop(pos, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted();
}

void leave(QWidget* viewport) {
    QDragLeaveEvent event;
    QApplication::sendEvent(viewport, &event);
}

QPoint itemPoint(FileListView* list, int row) {
    QAbstractItemView* view = list->currentView();
    const QModelIndex index = list->model()->index(row, 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}

QPoint nodePoint(QTreeWidget* tree, QTreeWidgetItem* node) {
    tree->scrollToItem(node);
    return tree->visualItemRect(node).center();
}

QPoint belowTheNodes(QTreeWidget* tree) {
    const QPoint corner = tree->viewport()->rect().bottomLeft() + QPoint(4, -4);
    return tree->itemAt(corner) ? QPoint(-1, -1) : corner;
}

} // namespace

class MainFormFeedbackTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<ModalDriver> m_dialogs;

    void selectLocal(const QString& text) {
        m_form->LocalUpdateActionExecute();
        const int row = rowOf(localFileView(), text);
        QVERIFY2(row >= 0, qPrintable(text));
        localFileView()->setSelectedRow(row);
    }

    void expectError(const QString& text, const QString& informative) {
        QCOMPARE(m_errors.texts, QStringList{text});
        QCOMPARE(m_errors.informative, QStringList{informative});
        m_errors.clear();
    }

    void saveListAtStart(bool on) {
        KbxSettings::WindowValues window = KbxSettings().loadWindow();
        window.listAtStart = on;
        KbxSettings().saveWindow(window);
    }

    // Lets the window's queued start-up work run (the list at start comes from the loop).
    static void settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
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

    // ---- Errors say more ----

    void noKbxFileNamesTheFile() {
        QVERIFY(writeFile("notes.txt", QByteArray(300, 'x')));
        createForm();
        QVERIFY(readList());
        selectLocal("notes.txt");
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(3);
        m_form->SendActionExecute();
        expectError("No KBX file",
                    "\"notes.txt\" does not begin like a data file of this program.");
    }

    void aDataFileThatCannotBeReadForItsPropertiesIsNamed() {
        QVERIFY(writeFile("broken.kbx", QByteArray(80, 'z')));
        createForm();
        selectLocal("broken.kbx");
        localFileView()->setFocus();
        m_form->PropOpenExecute();
        expectError("No KBX file",
                    "\"broken.kbx\" does not begin like a data file of this program.");
    }

    void dataTypeIsDifferentNamesBothKinds() {
        createForm();
        QVERIFY(readList());
        QVERIFY(importTone(0));
        selectLocal("TON_Brass 1 .kbx");
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(1);
        m_form->SendActionExecute();
        expectError("Data type is different", "The file holds a Tone; the slot takes a Song.");
    }

    void notEnoughMemoryGivesTheBytesNeededAndFree() {
        // The factory song goes to a file; then rhythms fill the memory but for 100 bytes.
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        const std::uint32_t song =
            static_cast<std::uint32_t>(m_keyboard->itemBytes(ZxKind::Song, 0).size());
        const std::size_t rhythm = m_keyboard->itemBytes(ZxKind::Rhythm, 0).size();
        m_keyboard->setItemBytes(
            ZxKind::Rhythm, 1, 0,
            namedItem(m_keyboard->freeMemory() - 100 + 0, kRhythmNameOffset, "Big"));
        QCOMPARE(m_keyboard->freeMemory(), 100u);
        QVERIFY(rhythm > 0);
        QVERIFY(readList());
        selectLocal("SNG_Minuet  .kbx");
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(1); // empty: nothing to count as freed
        m_form->SendActionExecute();
        expectError("Not enough memory",
                    QString("The item needs %1 bytes; the keyboard has 100 bytes free.").arg(song));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1).empty());
    }

    void midiTimeoutSaysWhatToCheck() {
        createForm();
        VirtualZr7316::Faults faults;
        faults.silentFrom = 0;
        m_keyboard->setFaults(faults);
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{"MIDI Timeout"});
        QVERIFY(m_errors.informative.value(0).startsWith("The keyboard did not answer."));
        QVERIFY(m_errors.informative.value(0).contains("File > Preference"));
    }

    void otherFailuresKeepTheirBoxAsItWas() {
        createForm();
        m_form->DeleteActionExecute();
        expectError("Not select a data", QString());
    }

    void informativeLinesComeInJapaneseToo() {
        const MsgStr japanese(kLcidJapanese);
        QVERIFY(japanese.isJapanese());
        kbxapp::FailureContext context;
        context.sourceFile = m_local->filePath("memo.txt");
        const QString named = kbxapp::informativeLine(
            japanese, std::make_exception_ptr(KbxStreamException(KbxStreamException::NotKbxFile)),
            context);
        QCOMPARE(named,
                 QString::fromUtf8("「memo.txt」はこのプログラムのデータファイルではありません。"));
        const QString hint = kbxapp::informativeLine(
            japanese, std::make_exception_ptr(ZxSysExException(ZxSysExException::Timeout)), {});
        QVERIFY(hint.startsWith(QString::fromUtf8("キーボードが応答しません。")));
        QCOMPARE(kbxapp::kindWord(japanese, ZxKind::Song), QString::fromUtf8("ソング"));
        QCOMPARE(kbxapp::kindWord(MsgStr(1033), ZxKind::Registration), QString("Registration"));
        // Nothing to add where the file cannot be read again.
        context.sourceFile = m_local->filePath("gone.kbx");
        QCOMPARE(kbxapp::informativeLine(
                     japanese,
                     std::make_exception_ptr(KbxStreamException(KbxStreamException::KindMismatch)),
                     context),
                 QString());
    }

    void theMessageBoxShowsTheLineBelowItsText() {
        QWidget owner;
        const std::unique_ptr<QMessageBox> box(MessageBoxErrorReporter::createBox(
            &owner, QStringLiteral("No KBX file"), QStringLiteral("\"a.txt\" ...")));
        QCOMPARE(box->text(), QString("No KBX file"));
        QCOMPARE(box->informativeText(), QString("\"a.txt\" ..."));
        QCOMPARE(box->icon(), QMessageBox::Critical);
        const std::unique_ptr<QMessageBox> plain(
            MessageBoxErrorReporter::createBox(&owner, QStringLiteral("MIDI Timeout")));
        QCOMPARE(plain->informativeText(), QString());
    }

    // ---- Drag and drop speaks ----

    void aDragMarksWhereItWouldGoAndIsRefusedWhereNothingTakesIt() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        QVERIFY(writeFile("a.txt", "x"));
        createForm();
        QVERIFY(readList());
        const auto fromKbd = dragFrom("KbdFileView");
        const auto fromLocal = dragFrom("LocalFileView");

        // The local list: a folder is marked, a file takes the drop unmarked (into the folder
        // chosen in the tree).
        FileListView* local = localFileView();
        QWidget* localPort = local->currentView()->viewport();
        const int data = rowOf(local, "Data");
        QVERIFY(dragOver(localPort, itemPoint(local, data), fromKbd.get()));
        QCOMPARE(m_form->dropHighlightRow(local), data);
        QVERIFY(local->model()->index(data, 0).data(Qt::BackgroundRole).isValid());
        QVERIFY(dragOver(localPort, itemPoint(local, rowOf(local, "a.txt")), fromKbd.get()));
        QCOMPARE(m_form->dropHighlightRow(local), -1);
        QVERIFY(!local->model()->index(data, 0).data(Qt::BackgroundRole).isValid());
        QVERIFY(!dragOver(localPort, itemPoint(local, data), fromLocal.get()));

        // The keyboard list: a slot is marked; a folder entry is not.
        QVERIFY(selectKbdFolder("Song Rhythm:\\"));
        FileListView* kbd = kbdFileView();
        QWidget* kbdPort = kbd->currentView()->viewport();
        QVERIFY(dragOver(kbdPort, itemPoint(kbd, 0), fromLocal.get()));
        QCOMPARE(m_form->dropHighlightRow(kbd), -1);
        QVERIFY(selectKbdFolder("Tone:\\"));
        QVERIFY(dragOver(kbdPort, itemPoint(kbd, 2), fromLocal.get()));
        QCOMPARE(m_form->dropHighlightRow(kbd), 2);
        leave(kbdPort);
        QCOMPARE(m_form->dropHighlightRow(kbd), -1);

        // The local tree: a folder is marked, empty space refuses; the keyboard tree refuses a
        // drag from the keyboard list.
        QTreeWidget* tree = localDirView();
        QTreeWidgetItem* node = findNode(tree, localDir());
        QVERIFY(node);
        QVERIFY(dragOver(tree->viewport(), nodePoint(tree, node), fromKbd.get()));
        QCOMPARE(m_form->dropHighlightNode(), node);
        QVERIFY(node->data(0, Qt::BackgroundRole).isValid());
        const QPoint empty = belowTheNodes(tree);
        if (empty.x() >= 0) {
            QVERIFY(!dragOver(tree->viewport(), empty, fromKbd.get()));
            QCOMPARE(m_form->dropHighlightNode(), nullptr);
        }
        leave(tree->viewport());
        QVERIFY(!node->data(0, Qt::BackgroundRole).isValid());
        QTreeWidgetItem* toneNode = findNode(kbdDirView(), "Tone:\\");
        QVERIFY(
            !dragOver(kbdDirView()->viewport(), nodePoint(kbdDirView(), toneNode), fromKbd.get()));
        QCOMPARE(m_errors.texts, QStringList());
    }

    void beforeTheFirstListTheKeyboardTakesNoDrop() {
        QVERIFY(writeFile("a.txt", "x"));
        createForm();
        const auto fromLocal = dragFrom("LocalFileView");
        QTreeWidgetItem* toneNode = findNode(kbdDirView(), "Tone:\\");
        QVERIFY(!dragOver(kbdDirView()->viewport(), nodePoint(kbdDirView(), toneNode),
                          fromLocal.get()));
        FileListView* kbd = kbdFileView();
        QVERIFY(!dragOver(kbd->currentView()->viewport(), itemPoint(kbd, 0), fromLocal.get()));
        QCOMPARE(m_form->dropHighlightRow(kbd), -1);
    }

    void aSlotDroppedOnAFolderOfTheLocalTreeIsImportedThere() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        createForm();
        QVERIFY(readList());
        QTreeWidget* tree = localDirView();
        tree->currentItem()->setExpanded(true);
        QTreeWidgetItem* data = findNode(tree, localDir() + "Data" + QDir::separator());
        QVERIFY(data);
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(1);
        QVERIFY(dropAt(tree->viewport(), nodePoint(tree, data), dragFrom("KbdFileView").get()));
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_form->GetNodePath(tree->currentItem()), localDir() + "Data" + QDir::separator());
        QCOMPARE(QDir(m_local->filePath("Data")).entryList(QDir::Files),
                 QStringList{"TON_EPiano  .kbx"});
        QCOMPARE(m_form->dropHighlightNode(), nullptr);
    }

    void aFileDroppedOnAKeyboardFolderIsNotAcceptableAsInTheList() {
        createForm();
        QVERIFY(readList());
        QVERIFY(importTone(0));
        selectLocal("TON_Brass 1 .kbx");
        m_keyboard->clearLog();
        QTreeWidgetItem* bank = findNode(kbdDirView(), "Registration:\\");
        QVERIFY(dropAt(kbdDirView()->viewport(), nodePoint(kbdDirView(), bank),
                       dragFrom("LocalFileView").get()));
        QCOMPARE(m_errors.texts, QStringList{"Not acceptable"});
        QVERIFY(m_keyboard->received().empty());
    }

    // ---- List at start ----

    void theKeyboardIsListedRightAfterTheWindowIsShown() {
        saveListAtStart(true);
        createForm();
        QTRY_VERIFY(m_form->kbdDrv().isListed());
        QCOMPARE(m_errors.texts, QStringList());
        kbdFileView()->setSelectedRow(0);
        QVERIFY(find<QToolButton>("ReceiveBtn")->isEnabled());
        QTRY_VERIFY(!m_form->isBusy());
        QCOMPARE(m_form->statusText(), QString());
    }

    void aKeyboardThatDoesNotAnswerAtStartSaysSoInTheStatusLine() {
        saveListAtStart(true);
        VirtualZr7316::Faults faults;
        faults.silentFrom = 0;
        m_keyboard->setFaults(faults);
        createForm();
        QTRY_COMPARE(m_form->statusItem(), QString("No list at start: MIDI Timeout"));
        QCOMPARE(m_form->statusText(), QString());
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(!m_form->kbdDrv().isListed());
        // Asked for by the user, the same failure is an error box again.
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{"MIDI Timeout"});
        QCOMPARE(m_form->statusText(), QString());
    }

    void noListAtStartWhenSwitchedOffOrTheDevicesAreNotThere() {
        createForm(); // the fixture's settings switch it off
        settle();
        QVERIFY(m_keyboard->received().empty());
        m_form.reset();

        saveListAtStart(true);
        KbxSettings().save(0, 7, localDir()); // no output device 7
        createForm();
        settle();
        QVERIFY(m_keyboard->received().empty());
        QVERIFY(!m_form->kbdDrv().isListed());
        QCOMPARE(m_form->statusText(), QString());
        QCOMPARE(m_errors.texts, QStringList());
        m_form.reset();

        // Chosen by a name that no device carries now.
        KbxSettings::Values gone;
        gone.inputDeviceName = QStringLiteral("Stage Piano MIDI 1");
        gone.outputDeviceName = QStringLiteral("Stage Piano MIDI 1");
        gone.defaultDir = localDir();
        KbxSettings().save(gone);
        createForm();
        settle();
        QVERIFY(m_keyboard->received().empty());
        QCOMPARE(m_form->statusText(), QString());
        QCOMPARE(m_errors.texts, QStringList());
    }

    void thePreferenceDialogSwitchesTheListAtStart() {
        createForm();
        QVERIFY(!m_form->deviceChoice().listAtStart());
        bool shownOff = false;
        m_dialogs->expect([&](QDialog* dialog) {
            auto* box = child<QCheckBox>(dialog, "ListAtStartBox");
            shownOff = !box->isChecked();
            box->setChecked(true);
            child<QPushButton>(dialog, "OkBtn")->click();
        });
        m_form->PrefOpenExecute();
        QVERIFY(shownOff);
        QVERIFY(m_form->deviceChoice().listAtStart());
        m_form.reset(); // stored with the other settings when the window closes
        QVERIFY(KbxSettings().loadWindow().listAtStart);
        QVERIFY(m_keyboard->received().empty());
    }

    // ---- Remembered layout ----

    void theLayoutIsSavedAndRestored() {
        createForm();
        m_form->resize(700, 560);
        auto* panels = find<QSplitter>("PanelSplitter");
        auto* localSplit = find<QSplitter>("LocalSplitter");
        auto* kbdSplit = find<QSplitter>("KbdSplitter");
        panels->setSizes({300, 200});
        localSplit->setSizes({250, 400});
        kbdSplit->setSizes({120, 530});
        find<QToolButton>("LocalReportBtn")->click();
        find<QToolButton>("KbdListBtn")->click();
        const QList<int> panelSizes = panels->sizes();
        const QList<int> localSizes = localSplit->sizes();
        const QList<int> kbdSizes = kbdSplit->sizes();
        const QSize size = m_form->size();
        m_form.reset();

        // In a group of their own, beside the described values.
        QSettings store(storeFile(), QSettings::IniFormat);
        QVERIFY(store.childGroups().contains("Window"));
        QVERIFY(store.contains("MIDI/InputDevice"));
        QCOMPARE(store.value("Window/LocalViewStyle").toInt(), 3);
        QCOMPARE(store.value("Window/KbdViewStyle").toInt(), 2);

        createForm();
        QCOMPARE(m_form->size(), size);
        QCOMPARE(find<QSplitter>("PanelSplitter")->sizes(), panelSizes);
        QCOMPARE(find<QSplitter>("LocalSplitter")->sizes(), localSizes);
        QCOMPARE(find<QSplitter>("KbdSplitter")->sizes(), kbdSizes);
        QCOMPARE(localFileView()->viewStyle(), int(FileListView::Report));
        QVERIFY(find<QToolButton>("LocalReportBtn")->isChecked());
        QCOMPARE(kbdFileView()->viewStyle(), int(FileListView::List));
        QVERIFY(find<QToolButton>("KbdListBtn")->isChecked());
    }

    void aStoredLayoutLargerThanTheScreenComesBackWithinIt() {
        createForm();
        const QRect available = m_form->screen()->availableGeometry();
        m_form->setGeometry(
            QRect(available.topLeft() + QPoint(300, 200), available.size() + QSize(400, 300)));
        m_form.reset();

        createForm();
        QVERIFY2(available.contains(m_form->frameGeometry()),
                 qPrintable(QString("%1,%2 %3x%4")
                                .arg(m_form->frameGeometry().x())
                                .arg(m_form->frameGeometry().y())
                                .arg(m_form->frameGeometry().width())
                                .arg(m_form->frameGeometry().height())));
    }

    void aDamagedLayoutGivesTheDescribedOne() {
        {
            QSettings store(storeFile(), QSettings::IniFormat);
            store.setValue("Window/Geometry", QByteArray("not a geometry"));
            store.setValue("Window/PanelDivider", QString("nonsense"));
            store.setValue("Window/LocalViewStyle", 9);
            store.setValue("Window/ListAtStart", "perhaps");
        }
        const KbxSettings::WindowValues values = KbxSettings().loadWindow();
        QCOMPARE(values.localViewStyle, -1);
        QVERIFY(values.panelDivider.isEmpty());
        QVERIFY(values.listAtStart); // the default
        createForm();
        QCOMPARE(m_form->size(), QSize(615, 535));
        QCOMPARE(localFileView()->viewStyle(), int(FileListView::LargeIcon));
        QCOMPARE(m_errors.texts, QStringList());
    }
};

QTEST_MAIN(MainFormFeedbackTest)
#include "test_mainform_feedback.moc"

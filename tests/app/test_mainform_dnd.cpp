// Drag and drop between the main window's lists, through mouse and drag events sent to the
// lists' viewports: when a drag starts, which drops are taken, and what a drop does (a send, an
// import, or the error box of the toolbar command), against the virtual keyboard.
#include "mainformtest.h"

#include <QMimeData>
#include <QMouseEvent>
#include <QToolButton>

using namespace kbxtest;

namespace {

std::unique_ptr<QMimeData> dragFrom(const QString& list) {
    auto data = std::make_unique<QMimeData>();
    data->setData(TPcLinkForm::kListDragType, list.toUtf8());
    return data;
}

QWidget* viewportOf(FileListView* list) {
    return list->currentView()->viewport();
}

// The centre of an item, in viewport coordinates, scrolled into view.
QPoint itemPoint(FileListView* list, int row) {
    QAbstractItemView* view = list->currentView();
    const QModelIndex index = list->model()->index(row, 0);
    view->scrollTo(index);
    return view->visualRect(index).center();
}

// A point of the viewport that no item covers.
QPoint emptyPoint(FileListView* list) {
    const QPoint corner = viewportOf(list)->rect().bottomRight() - QPoint(4, 4);
    return list->rowAt(viewportOf(list)->mapTo(list, corner)) < 0 ? corner : QPoint(-1, -1);
}

void mouse(FileListView* list, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
           Qt::MouseButtons buttons) {
    QWidget* viewport = viewportOf(list);
    QMouseEvent event(type, pos, viewport->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

// Presses the button on pos and moves the pointer by `distance` pixels to the right.
void pressAndMove(FileListView* list, const QPoint& pos, int distance,
                  Qt::MouseButton button = Qt::LeftButton) {
    mouse(list, QEvent::MouseButtonPress, pos, button, button);
    mouse(list, QEvent::MouseMove, pos + QPoint(distance, 0), Qt::NoButton, button);
}

void release(FileListView* list, const QPoint& pos) {
    mouse(list, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

// Enter, move and drop as the toolkit delivers them; true when the drop was taken.
bool dropOn(FileListView* list, const QPoint& pos, const QMimeData* data) {
    QWidget* viewport = viewportOf(list);
    QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

} // namespace

class MainFormDragDropTest : public QObject, public MainFormFixture {
    Q_OBJECT

    // Drags the runner was asked to run: the name the data carries, and the source widget.
    QStringList m_drags;
    QList<QWidget*> m_dragSources;
    // Run while the drag is on, as the toolkit's drag loop would deliver the drop.
    std::function<void(const QMimeData*)> m_duringDrag;

    TPcLinkForm& createDndForm() {
        createForm();
        m_form->setDragRunner(
            [this](QWidget* source, std::unique_ptr<QMimeData> data, const QPixmap&) {
                m_drags << QString::fromUtf8(data->data(TPcLinkForm::kListDragType));
                m_dragSources << source;
                if (m_duringDrag)
                    m_duringDrag(data.get());
            });
        return *m_form;
    }

    void selectLocal(const QString& text) {
        m_form->LocalUpdateActionExecute();
        const int row = rowOf(localFileView(), text);
        QVERIFY2(row >= 0, qPrintable(text));
        localFileView()->setSelectedRow(row);
    }

    // The tone of slot 0, named "Bright", imported into the local folder.
    void importBrightTone() {
        m_keyboard->setItemBytes(ZxKind::Tone, 0, 0, namedItem(60, kToneNameOffset, "Bright"));
        QVERIFY(readList());
        QVERIFY(importTone(0));
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_drags.clear();
        m_dragSources.clear();
        m_duringDrag = nullptr;
    }
    void cleanup() { tearDown(); }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    // ---- Starting a drag ----

    void localDragStartsAfterFivePixelsWithTheListsName() {
        QVERIFY(writeFile("a.kbx", "x"));
        createDndForm();
        FileListView* list = localFileView();
        const QPoint item = itemPoint(list, rowOf(list, "a.kbx"));
        pressAndMove(list, item, 4);
        QCOMPARE(m_drags, QStringList());
        mouse(list, QEvent::MouseMove, item + QPoint(0, 5), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(m_drags, QStringList{"LocalFileView"});
        QCOMPARE(m_dragSources.value(0), viewportOf(list));
        // The item pressed is the one selected, which the drop will use.
        QCOMPARE(list->itemText(list->selectedRow()), QString("a.kbx"));
        release(list, item);
    }

    void otherButtonsEmptySpaceAndShortMovesStartNothing() {
        QVERIFY(writeFile("a.kbx", "x"));
        createDndForm();
        FileListView* list = localFileView();
        const QPoint item = itemPoint(list, 0);
        pressAndMove(list, item, 20, Qt::RightButton);
        release(list, item);
        const QPoint empty = emptyPoint(list);
        QVERIFY(empty.x() >= 0);
        pressAndMove(list, empty, 20);
        release(list, empty);
        pressAndMove(list, item, 3);
        release(list, item);
        mouse(list, QEvent::MouseMove, item + QPoint(20, 0), Qt::NoButton, Qt::NoButton);
        QCOMPARE(m_drags, QStringList());
    }

    void keyboardListStartsNoDragAndTakesNoDropBeforeTheFirstList() {
        QVERIFY(writeFile("a.kbx", "x"));
        createDndForm();
        FileListView* list = kbdFileView();
        QVERIFY(selectKbdFolder("Tone:\\"));
        const QPoint slot = itemPoint(list, 0);
        pressAndMove(list, slot, 10);
        release(list, slot);
        QCOMPARE(m_drags, QStringList());
        QVERIFY(!dropOn(list, slot, dragFrom("LocalFileView").get()));
        QVERIFY(!m_form->KbdFileViewDragOver("LocalFileView"));
        QCOMPARE(m_errors.texts, QStringList());
    }

    void keyboardDragsStartFromSlotsButNotFromSubfolders() {
        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, {});
        createDndForm();
        QVERIFY(readList());
        FileListView* list = kbdFileView();
        QVERIFY(selectKbdFolder("Song Rhythm:\\"));
        QCOMPARE(list->itemText(0), QString("Song"));
        pressAndMove(list, itemPoint(list, 0), 10);
        release(list, itemPoint(list, 0));
        QCOMPARE(m_drags, QStringList());

        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        QCOMPARE(list->subItemText(0, 1), QString()); // an empty slot drags as well
        pressAndMove(list, itemPoint(list, 0), 10);
        QCOMPARE(m_drags, QStringList{"KbdFileView"});
        pressAndMove(list, itemPoint(list, 1), 10);
        QCOMPARE(m_drags, (QStringList{"KbdFileView", "KbdFileView"}));
    }

    // ---- Which drops are taken ----

    void dragsOntoTheirOwnListOrFromElsewhereAreRefused() {
        createDndForm();
        QVERIFY(readList());
        QVERIFY(!dropOn(localFileView(), QPoint(5, 5), dragFrom("LocalFileView").get()));
        QVERIFY(!dropOn(kbdFileView(), itemPoint(kbdFileView(), 0), dragFrom("KbdFileView").get()));
        QMimeData text;
        text.setText("LocalFileView");
        QVERIFY(!dropOn(kbdFileView(), itemPoint(kbdFileView(), 0), &text));
        QVERIFY(!dropOn(localFileView(), QPoint(5, 5), &text));
        QCOMPARE(m_errors.texts, QStringList());
    }

    void dropsOnEmptyKeyboardSpaceOrAFolderEntryNameTheFault() {
        createDndForm();
        importBrightTone();
        selectLocal("TON_Bright  .kbx");
        QVERIFY(selectKbdFolder("Song Rhythm:\\"));
        m_keyboard->clearLog();
        FileListView* list = kbdFileView();
        const QPoint empty = emptyPoint(list);
        QVERIFY(empty.x() >= 0);
        QVERIFY(dropOn(list, empty, dragFrom("LocalFileView").get()));
        QCOMPARE(m_errors.texts, QStringList{"Not select a distination data"});
        m_errors.texts.clear();
        QVERIFY(dropOn(list, itemPoint(list, 0), dragFrom("LocalFileView").get()));
        QCOMPARE(m_errors.texts, QStringList{"Not acceptable"});
        QVERIFY(m_keyboard->received().empty());
        QCOMPARE(m_form->statusText(), QString());
    }

    void dropIsRefusedWhileAKeyboardActionRuns() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        createDndForm();
        importBrightTone();
        selectLocal("TON_Bright  .kbx");
        QVERIFY(selectKbdFolder("Tone:\\"));
        const QPoint slot = itemPoint(kbdFileView(), 5);
        const QPoint folder = itemPoint(localFileView(), rowOf(localFileView(), "Data"));
        const Bytes before = m_keyboard->itemBytes(ZxKind::Tone, 5);
        bool busy = false;
        bool kbdTook = true;
        bool localTook = true;
        QTimer::singleShot(0, m_form.get(), [&] {
            busy = m_form->isBusy();
            kbdTook = dropOn(kbdFileView(), slot, dragFrom("LocalFileView").get());
            localTook = dropOn(localFileView(), folder, dragFrom("KbdFileView").get());
            m_form->KbdFileViewDragDrop("LocalFileView",
                                        viewportOf(kbdFileView())->mapTo(kbdFileView(), slot));
        });
        m_form->ConnectActionExecute();
        QVERIFY(busy);
        QVERIFY(!kbdTook);
        QVERIFY(!localTook);
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Tone, 5), before);
        QCOMPARE(QDir(m_local->filePath("Data")).entryList(QDir::Files), QStringList());
    }

    // ---- What a drop does ----

    void localFileDroppedOnASlotIsSentThereAfterTheDrag() {
        createDndForm();
        importBrightTone();
        selectLocal("TON_Bright  .kbx");
        QVERIFY(selectKbdFolder("Tone:\\"));
        m_keyboard->clearLog();
        FileListView* kbd = kbdFileView();
        const QPoint slot = itemPoint(kbd, 3);
        bool taken = false;
        std::size_t messagesDuringDrag = 1;
        m_duringDrag = [&](const QMimeData* data) {
            taken = dropOn(kbd, slot, data);
            // The transfer waits until the toolkit's drag loop has ended.
            messagesDuringDrag = m_keyboard->received().size();
        };
        FileListView* local = localFileView();
        const QPoint file = itemPoint(local, rowOf(local, "TON_Bright  .kbx"));
        pressAndMove(local, file, 6);
        QCOMPARE(m_drags, QStringList{"LocalFileView"});
        QVERIFY(taken);
        QCOMPARE(messagesDuringDrag, std::size_t(0));
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Tone, 3), m_keyboard->itemBytes(ZxKind::Tone, 0));
        QCOMPARE(kbd->selectedRow(), 3);
        QCOMPARE(kbd->itemText(3), QString("Bright  "));
        QCOMPARE(m_form->statusText(), QString());
    }

    void slotDroppedOnALocalFolderIsImportedIntoIt() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        m_keyboard->setItemBytes(ZxKind::Rhythm, 2, 0, namedItem(124, kRhythmNameOffset, "ABC"));
        createDndForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        FileListView* local = localFileView();
        const QPoint folder = itemPoint(local, rowOf(local, "Data"));
        m_duringDrag = [&](const QMimeData* data) { QVERIFY(dropOn(local, folder, data)); };
        FileListView* kbd = kbdFileView();
        pressAndMove(kbd, itemPoint(kbd, 2), 8);
        QCOMPARE(m_drags, QStringList{"KbdFileView"});
        QCOMPARE(m_errors.texts, QStringList());

        const QString name = "RHY_ABC     .kbx";
        QCOMPARE(localDirView()->currentItem()->text(0), QString("Data"));
        QCOMPARE(QDir(m_local->filePath("Data")).entryList(QDir::Files), QStringList{name});
        QCOMPARE(local->itemText(local->selectedRow()), name);
        QVERIFY(local->currentView()->hasFocus());
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files), QStringList());
    }

    void severalSlotsDraggedTogetherAreImportedAsOneJob() {
        QVERIFY(QDir(m_local->path()).mkpath("Data"));
        for (int i = 1; i <= 2; ++i)
            m_keyboard->setItemBytes(ZxKind::Rhythm, i, 0,
                                     namedItem(124, kRhythmNameOffset,
                                               // Appended: mingw's g++ 12 at -O3 takes
                                               // "R" + string for an overlapping copy.
                                               std::string("R").append(std::to_string(i))));
        createDndForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        FileListView* kbd = kbdFileView();
        kbd->setSelectedRows({1, 2});
        FileListView* local = localFileView();
        const QPoint folder = itemPoint(local, rowOf(local, "Data"));
        m_duringDrag = [&](const QMimeData* data) { QVERIFY(dropOn(local, folder, data)); };
        // Pressed on one of the selected slots, the drag takes them all.
        pressAndMove(kbd, itemPoint(kbd, 2), 8);
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(QDir(m_local->filePath("Data")).entryList(QDir::Files).size(), 2);
    }

    void slotDroppedOnAFileOrEmptySpaceIsImportedIntoTheSelectedFolder() {
        QVERIFY(writeFile("a.txt", "x"));
        m_keyboard->setItemBytes(ZxKind::Rhythm, 0, 0, namedItem(64, kRhythmNameOffset, "One"));
        m_keyboard->setItemBytes(ZxKind::Rhythm, 1, 0, namedItem(64, kRhythmNameOffset, "Two"));
        createDndForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        FileListView* local = localFileView();
        FileListView* kbd = kbdFileView();
        const QPoint file = itemPoint(local, rowOf(local, "a.txt"));
        m_duringDrag = [&](const QMimeData* data) { QVERIFY(dropOn(local, file, data)); };
        pressAndMove(kbd, itemPoint(kbd, 0), 8);
        release(kbd, itemPoint(kbd, 0));
        const QPoint empty = emptyPoint(local);
        QVERIFY(empty.x() >= 0);
        m_duringDrag = [&](const QMimeData* data) { QVERIFY(dropOn(local, empty, data)); };
        pressAndMove(kbd, itemPoint(kbd, 1), 8);
        QCOMPARE(m_errors.texts, QStringList());
        QStringList files = QDir(m_local->path()).entryList(QDir::Files);
        files.sort();
        QCOMPARE(files, (QStringList{"RHY_One     .kbx", "RHY_Two     .kbx", "a.txt"}));
        QCOMPARE(m_form->GetNodePath(localDirView()->currentItem()), localDir());
    }

    void folderMadeAfterTheTreeWasReadStillTakesTheImport() {
        createDndForm();
        QVERIFY(readList());
        QVERIFY(QDir(m_local->path()).mkpath("Later")); // made outside the program
        m_form->FormActivate();
        FileListView* local = localFileView();
        const int row = rowOf(local, "Later");
        QVERIFY(row >= 0);
        kbdFileView()->setSelectedRow(0);
        m_form->LocalFileViewDragDrop("KbdFileView",
                                      viewportOf(local)->mapTo(local, itemPoint(local, row)));
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(localDirView()->currentItem()->text(0), QString("Later"));
        QCOMPARE(QDir(m_local->filePath("Later")).entryList(QDir::Files).size(), 1);
    }

    void dropsWorkAfterTheViewStyleChanged() {
        createDndForm();
        importBrightTone();
        selectLocal("TON_Bright  .kbx");
        // The icon view turns its viewport's drops off whenever its style changes.
        find<QToolButton>("KbdReportBtn")->click();
        find<QToolButton>("KbdIconBtn")->click();
        find<QToolButton>("LocalReportBtn")->click();
        QVERIFY(selectKbdFolder("Tone:\\"));
        FileListView* kbd = kbdFileView();
        QVERIFY(dropOn(kbd, itemPoint(kbd, 7), dragFrom("LocalFileView").get()));
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Tone, 7), m_keyboard->itemBytes(ZxKind::Tone, 0));
    }
};

QTEST_MAIN(MainFormDragDropTest)
#include "test_mainform_dnd.moc"

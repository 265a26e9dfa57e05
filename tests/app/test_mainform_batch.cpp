// Several items at once in the window, against the virtual keyboard: slots imported and deleted
// as one job each, and files sent into free slots of their kind with one cancel in the middle.
#include "mainformtest.h"

#include "data/zxkinds.h"
#include "ops/history.h"

using namespace kbxtest;

class MainFormBatchTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_history;

    static Bytes rhythm(int i) {
        return namedItem(300 + 2 * i, kRhythmNameOffset, "Beat" + std::to_string(i));
    }
    void fillRhythms() {
        for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
            m_keyboard->setItemBytes(ZxKind::Rhythm, i, 0, rhythm(i));
    }
    // The rhythm folder's slots all selected.
    void selectRhythms() {
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        QList<int> rows;
        for (int row = 0; row < kbdFileView()->count(); ++row)
            rows << row;
        kbdFileView()->setSelectedRows(rows);
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_history = std::make_unique<QTemporaryDir>();
        qputenv("KBX_HISTORY_DIR", m_history->path().toLocal8Bit());
        createForm();
    }
    void cleanup() {
        tearDown();
        qunsetenv("KBX_HISTORY_DIR");
        m_history.reset();
    }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    void severalSlotsImportedThenDeletedEachAsOneJob() {
        fillRhythms();
        QVERIFY(readList());
        selectRhythms();
        m_form->ReceiveActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QCOMPARE(QDir(m_local->path()).entryList(QDir::Files).size(), VirtualZr7316::kRhythms);
        QCOMPARE(m_form->statusItem(), QString("4 of 4 items imported"));

        selectRhythms();
        m_form->DeleteActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
            QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, i).empty());
        QCOMPARE(m_form->statusItem(), QString("4 of 4 items deleted"));
        // Each through the safety net: a delete entry with its kept item per slot.
        int kept = 0;
        for (const kbxops::HistoryEntry& e : m_form->history().entries())
            kept += e.operation == kbxops::Operation::Delete && e.before ? 1 : 0;
        QCOMPARE(kept, VirtualZr7316::kRhythms);
    }

    void severalFilesSentWithOneCancelInTheMiddle() {
        fillRhythms();
        QVERIFY(readList());
        selectRhythms();
        m_form->ReceiveActionExecute();
        for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
            m_keyboard->setItemBytes(ZxKind::Rhythm, i, 0, {});
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Song Rhythm:\\Rhythm\\"));
        kbdFileView()->setSelectedRow(-1);
        localFileView()->setSelectedRows({0, 1, 2, 3});

        // Cancelled while the third file travels: the first two stay, nothing else arrives.
        QTimer cancel;
        cancel.setInterval(0);
        connect(&cancel, &QTimer::timeout, this, [&] {
            if (m_form->statusText().startsWith("Sending 3 of 4")) {
                m_form->CancelActionExecute();
                cancel.stop();
            }
        });
        cancel.start();
        m_form->SendActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        // Into empty slots nothing is replaced, so nothing was asked.
        QCOMPARE(m_confirms.asked.size(), 0);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, 0) == rhythm(0));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, 1) == rhythm(1));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, 2).empty());
        QVERIFY(m_keyboard->itemBytes(ZxKind::Rhythm, 3).empty());
        QCOMPARE(m_form->statusItem(),
                 QString("2 of 4 items sent; cancelled before Rhythm 2, Rhythm 3"));
    }
};

QTEST_MAIN(MainFormBatchTest)
#include "test_mainform_batch.moc"

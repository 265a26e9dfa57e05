// The safety net in the window, against the virtual keyboard through the real event loop: the
// Edit menu's Undo item names the change it reverts and is off while nothing can be undone or an
// action runs; a song lost by a failed send is put back and the error box says so; the Safety
// page of the preferences switches the history off and the checks after sending on, and is stored
// at its OK; a signal that ends the program mid-replace leaves the old song in its slot (or its
// entry says it was not put back), then quits.
#include "mainformtest.h"

#include "app/sessionend.h"
#include "ops/history.h"
#include "ops/undo.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <csignal>

using namespace kbxtest;

namespace {

constexpr std::size_t kSongNameOffset = 4;

// A data file: the 64-byte header (signature, size, model, kind), then the payload.
QByteArray dataFile(std::uint16_t kind, const Bytes& payload) {
    QByteArray bytes("VELMO Music Lib", 15);
    bytes.append('\0');
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((size >> shift) & 0xFF));
    bytes.append('\x11').append('\x01');
    bytes.append(static_cast<char>(kind >> 8)).append(static_cast<char>(kind & 0xFF));
    bytes.append(QByteArray(40, '\0'));
    return bytes + QByteArray(reinterpret_cast<const char*>(payload.data()),
                              static_cast<qsizetype>(payload.size()));
}

void click(QDialog* dialog, const char* name) {
    child<QPushButton>(dialog, name)->click();
}

} // namespace

class MainFormUndoTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<ModalDriver> m_dialogs;
    std::unique_ptr<QTemporaryDir> m_historyDir;
    Bytes m_oldSong;

    QAction* undoAction() { return find<QAction>("UndoAction"); }

    // Song 1 holds "OldSong" (300 bytes); the local folder holds "NEWSONG.kbx" (400 bytes); the
    // window is listed, with the song folder and the new song selected.
    void prepareSongSend() {
        m_oldSong = namedItem(300, kSongNameOffset, "OldSong");
        m_keyboard->setItemBytes(ZxKind::Song, 1, 0, m_oldSong);
        QVERIFY(writeFile("NEWSONG.kbx",
                          dataFile(ZxKind::Song, namedItem(400, kSongNameOffset, "NewSong"))));
        createForm();
        QVERIFY(readList());
        m_form->LocalUpdateActionExecute();
        const int row = rowOf(localFileView(), "NEWSONG.kbx");
        QVERIFY(row >= 0);
        localFileView()->setSelectedRow(row);
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(1);
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        // Each case has a history of its own.
        m_historyDir = std::make_unique<QTemporaryDir>();
        qputenv("KBX_HISTORY_DIR", m_historyDir->path().toLocal8Bit());
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

    void editMenuHoldsUndoOnCtrlZAndItIsOffWithNothingToUndo() {
        createForm();
        auto* menu = m_form->editMenu();
        QCOMPARE(menu->title(), QString("&Edit"));
        QVERIFY(menu->actions().contains(undoAction()));
        QCOMPARE(undoAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
        QVERIFY(!undoAction()->isEnabled());
        QCOMPARE(undoAction()->text(), QString("&Undo"));
    }

    void undoNamesTheSendAndPutsTheOldSongBack() {
        prepareSongSend();
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1),
                 namedItem(400, kSongNameOffset, "NewSong"));
        QVERIFY(undoAction()->isEnabled());
        QCOMPARE(undoAction()->text(), QString("&Undo send of NewSong to Song 1"));

        undoAction()->trigger();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1), m_oldSong);
        QCOMPARE(kbdFileView()->itemText(1), QString("OldSong "));
        QVERIFY2(!undoAction()->isEnabled(), "the undo itself is not undone");
        const std::vector<kbxops::HistoryEntry> entries = m_form->history().entries();
        QCOMPARE(entries.size(), std::size_t(2));
        QVERIFY(entries[1].undone);
    }

    void undoOlderChangeGoesPastAChangeMadeWithoutACopy() {
        prepareSongSend();
        m_form->SendActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QAction* older = find<QAction>("UndoOlderAction");
        QVERIFY2(!older->isEnabled(), "Undo reaches the newest change itself");
        // kbxtool deleted song 0 without keeping a copy meanwhile.
        kbxops::History other(m_historyDir->path());
        kbxops::HistoryEntry uncopied;
        uncopied.operation = kbxops::Operation::Delete;
        uncopied.slot = QStringLiteral("song:0");
        uncopied.kind = ZxKind::Song;
        uncopied.before = kbxops::ItemRecord{"Minuet  ", 600, {}, {}};
        uncopied.uncopied = true;
        other.finish(other.begin(uncopied));
        emit m_form->editMenu()->aboutToShow();
        QCOMPARE(undoAction()->text(), QString("&Undo delete of Minuet from Song 0"));
        QVERIFY(older->isEnabled());
        QCOMPARE(older->statusTip(), QString("Undo send of NewSong to Song 1"));

        older->trigger();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1), m_oldSong);
        QVERIFY(!older->isEnabled());
    }

    void undoIsOffWhileAnActionRunsAndFollowsOtherPrograms() {
        prepareSongSend();
        m_form->SendActionExecute();
        bool offInside = false;
        bool busyInside = false;
        QTimer::singleShot(0, m_form.get(), [&] {
            busyInside = m_form->isBusy();
            offInside = !undoAction()->isEnabled();
            undoAction()->trigger(); // refused: a second exchange must not start
        });
        m_form->ConnectActionExecute();
        QVERIFY(busyInside);
        QVERIFY(offInside);
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1),
                 namedItem(400, kSongNameOffset, "NewSong"));
        QVERIFY(undoAction()->isEnabled());

        // kbxtool undid it meanwhile: the menu, as it opens, says so.
        kbxops::History other(m_historyDir->path());
        other.markUndone(other.entries().front().id);
        emit m_form->editMenu()->aboutToShow();
        QVERIFY(!undoAction()->isEnabled());
    }

    void aFailedSongSendPutsTheOldSongBackAndTheErrorSaysSo() {
        prepareSongSend();
        // Messages: the old song's read (request, two handshakes), free memory, delete, free
        // memory, then block 0 and block 1 of the new song, which meets no reply.
        VirtualZr7316::Faults faults;
        faults.noReplyTo = 7;
        m_keyboard->setFaults(faults);
        m_form->SendActionExecute();
        m_keyboard->setFaults({});
        QCOMPARE(m_errors.texts,
                 QStringList{"MIDI Timeout. The song that was in the slot has been put back."});
        QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1), m_oldSong);
        QVERIFY(m_form->history().entries().empty());
        QCOMPARE(m_form->statusText(), QString());
    }

    void safetyPreferencesSwitchTheHistoryOffAndTheCheckOn() {
        prepareSongSend();
        m_dialogs->expect([](QDialog* dialog) {
            QVERIFY(child<QCheckBox>(dialog, "KeepHistoryCheck")->isChecked());
            QVERIFY(!child<QCheckBox>(dialog, "VerifySendCheck")->isChecked());
            QVERIFY(child<QCheckBox>(dialog, "VerifyRestoreCheck")->isChecked());
            child<QCheckBox>(dialog, "KeepHistoryCheck")->setChecked(false);
            child<QCheckBox>(dialog, "VerifySendCheck")->setChecked(true);
            click(dialog, "OkBtn");
        });
        m_form->PrefOpenExecute();
        QCOMPARE(m_form->deviceChoice().safety(), (KbxSettings::Safety{false, true, true}));

        // A keyboard that stores one byte wrong: the check finds it; no copy is kept, and the
        // change is recorded as one made without a copy.
        VirtualZr7316::Faults faults;
        faults.corruptStoredByte = 100;
        m_keyboard->setFaults(faults);
        m_form->SendActionExecute();
        m_keyboard->setFaults({});
        QCOMPARE(m_errors.texts,
                 QStringList{"The data read back from the keyboard differs from the data sent"});
        const auto entries = m_form->history().entries();
        QCOMPARE(entries.size(), std::size_t{1});
        QVERIFY(entries.front().uncopied);
        // Undo names that change instead of reverting an older one.
        m_errors.texts.clear();
        m_form->UndoActionExecute();
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY(m_errors.texts.front().contains("without keeping a copy"));
        // Stored at the dialog's OK, not only when the window closes.
        QCOMPARE(KbxSettings().loadSafety(), (KbxSettings::Safety{false, true, true}));
    }

#ifdef Q_OS_UNIX
    void aSignalMidReplaceCancelsWithThePutBackThenQuits_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalMidReplaceCancelsWithThePutBackThenQuits() {
        QFETCH(int, signal);
        prepareSongSend();
        int exitCode = -1;
        kbxapp::SessionEnd end([&exitCode](int code) { exitCode = code; });
        end.watch(*m_form);
        VirtualZr7316::Faults slow;
        slow.replyDelayMs = 20;
        m_keyboard->setFaults(slow);
        // The signal comes once the old song has left the keyboard.
        QTimer poll;
        poll.setInterval(1);
        connect(&poll, &QTimer::timeout, &poll, [&] {
            if (!m_keyboard->itemBytes(ZxKind::Song, 1).empty())
                return;
            poll.stop();
            ::raise(signal);
        });
        poll.start();
        m_form->SendActionExecute();
        QVERIFY(!poll.isActive());
        QTRY_COMPARE(exitCode, 130);
        QVERIFY(!m_form->isVisible());
        const std::vector<kbxops::HistoryEntry> entries = m_form->history().entries();
        if (entries.empty()) {
            QCOMPARE(m_keyboard->itemBytes(ZxKind::Song, 1), m_oldSong);
        } else {
            // Not put back: the entry keeps the old song and says the slot is empty.
            QCOMPARE(entries.size(), std::size_t{1});
            QVERIFY(!entries.front().after);
            QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 1).empty());
        }
    }
#endif
};

QTEST_MAIN(MainFormUndoTest)
#include "test_mainform_undo.moc"

// The whole keyboard in the window, against the virtual keyboard: a backup from the window holds
// every present item with its manifest, a restore into a wiped keyboard gives the memory back
// byte for byte, the preview lists exactly the slots that change and sends nothing until OK,
// Cancel stops a backup and a restore between items, a restore is recorded slot by slot and puts
// back a song whose replacement fails, backups of the window and of the operations kbxtool runs
// read each other, and the song memory gauge's numbers.
#include "mainformtest.h"

#include "app/dialogs/historyform.h"
#include "app/dialogs/restorepreviewform.h"
#include "app/memorygauge.h"
#include "data/zxkinds.h"
#include "ops/backup.h"
#include "ops/history.h"
#include "ops/manifest.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <map>

using namespace kbxtest;

namespace {

using Memory = std::map<QString, Bytes>;

constexpr std::size_t kSongNameOffset = 4;

// Every slot of the virtual keyboard by its short form, with its bytes (empty for an empty song
// or rhythm).
Memory memoryOf(const VirtualZr7316& keyboard) {
    Memory memory;
    for (int i = 0; i < VirtualZr7316::kTones; ++i)
        memory[QStringLiteral("tone:%1").arg(i)] = keyboard.itemBytes(ZxKind::Tone, i);
    for (int i = 0; i < VirtualZr7316::kDsps; ++i)
        memory[QStringLiteral("dsp:%1").arg(i)] = keyboard.itemBytes(ZxKind::Dsp, i);
    for (int b = 0; b < VirtualZr7316::kBanks; ++b)
        for (int i = 0; i < VirtualZr7316::kRegistrationsPerBank; ++i)
            memory[QStringLiteral("reg:%1:%2").arg(b).arg(i)] =
                keyboard.itemBytes(ZxKind::Registration, i, b);
    for (int i = 0; i < VirtualZr7316::kSongs; ++i)
        memory[QStringLiteral("song:%1").arg(i)] = keyboard.itemBytes(ZxKind::Song, i);
    for (int i = 0; i < VirtualZr7316::kRhythms; ++i)
        memory[QStringLiteral("rhythm:%1").arg(i)] = keyboard.itemBytes(ZxKind::Rhythm, i);
    return memory;
}

int presentCount(const Memory& memory) {
    int n = 0;
    for (const auto& [slot, bytes] : memory)
        n += bytes.empty() ? 0 : 1;
    return n;
}

QStringList column(QTreeWidget* list, int col) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(col);
    return texts;
}

} // namespace

class MainFormWholeKeyboardTest : public QObject, public MainFormFixture {
    Q_OBJECT

    QTemporaryDir m_backups;
    std::unique_ptr<QTemporaryDir> m_history;

    // Song 0 as it is when a restore runs: another song than the backup's.
    static Bytes newerSong() { return namedItem(900, kSongNameOffset, "Newer"); }

    // Cancels the running action once the status line starts with `text`.
    struct CancelWhen {
        QTimer timer;
        CancelWhen(TPcLinkForm& form, const QString& text) {
            timer.setInterval(0);
            QObject::connect(&timer, &QTimer::timeout, &timer, [&form, text, this] {
                if (form.statusText().startsWith(text)) {
                    form.CancelActionExecute();
                    timer.stop();
                }
            });
            timer.start();
        }
    };

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        // Each case has a history of its own.
        m_history = std::make_unique<QTemporaryDir>();
        qputenv("KBX_HISTORY_DIR", m_history->path().toLocal8Bit());
        createForm();
    }
    void cleanup() {
        TRestorePreviewForm::setRunner({});
        tearDown();
        qunsetenv("KBX_HISTORY_DIR");
        m_history.reset();
    }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    void backupOfFactoryKeyboardHoldsEveryPresentItemWithItsManifest() {
        const Memory factory = memoryOf(*m_keyboard);
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(!dir.isEmpty());
        QVERIFY(QFileInfo(dir).fileName().startsWith("Backup "));
        QCOMPARE(QFileInfo(dir).absolutePath(), QFileInfo(m_backups.path()).absoluteFilePath());

        const kbxops::Manifest manifest = kbxops::readManifest(dir);
        QCOMPARE(static_cast<int>(manifest.files.size()), presentCount(factory));
        QVERIFY(manifest.complete);
        QVERIFY(manifest.program.startsWith("kbxman "));
        QVERIFY(!manifest.created.isEmpty());
        for (const auto& [file, slot] : manifest.files) {
            QVERIFY2(!factory.at(slot).empty(), qPrintable(slot));
            QCOMPARE(manifest.sha256.at(file).size(), 64);
        }
        for (const QString& slot : manifest.empty)
            QVERIFY2(factory.at(slot).empty(), qPrintable(slot));
        // The list the backup read is shown, and the gauge with it.
        QVERIFY(m_form->kbdDrv().isListed());
        QVERIFY(m_form->memoryGauge().memory().has_value());
    }

    void restoreIntoWipedKeyboardGivesBackTheMemoryByteForByte() {
        const Memory factory = memoryOf(*m_keyboard);
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        m_keyboard->wipe();
        QVERIFY(memoryOf(*m_keyboard) != factory);

        int shown = 0;
        int rows = 0;
        int ticked = 0;
        TRestorePreviewForm::setRunner([&](TRestorePreviewForm& form) {
            ++shown;
            rows = form.changeList()->topLevelItemCount();
            // Wiped registrations may carry the backup's names and sizes: only the tick sends
            // them, as the list cannot tell their contents apart.
            form.sendAnywayCheck()->setChecked(true);
            ticked = form.changeList()->topLevelItemCount();
            return int(QDialog::Accepted);
        });
        // The manifest's own path is taken as its folder.
        QVERIFY(m_form->RestoreKeyboardFrom(QDir(dir).filePath("manifest.json")));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QCOMPARE(shown, 1);
        QVERIFY(rows > 0 && rows < presentCount(factory));
        QCOMPARE(ticked, presentCount(factory));
        QVERIFY(memoryOf(*m_keyboard) == factory);
    }

    void previewListsExactlyTheChangedSlotsAndSendsNothingBeforeOk() {
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        // Three changes since the backup: a tone renamed, a song gone, a rhythm added.
        m_keyboard->setItemBytes(ZxKind::Tone, 3, 0, namedItem(60, kToneNameOffset, "Changed"));
        const Memory before = memoryOf(*m_keyboard);
        QVERIFY(!before.at("song:0").empty());
        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, {});
        int emptyRhythm = -1;
        for (int i = 0; i < VirtualZr7316::kRhythms && emptyRhythm < 0; ++i)
            if (before.at(QStringLiteral("rhythm:%1").arg(i)).empty())
                emptyRhythm = i;
        QVERIFY(emptyRhythm >= 0);
        m_keyboard->setItemBytes(ZxKind::Rhythm, emptyRhythm, 0,
                                 namedItem(300, kRhythmNameOffset, "NewBeat"));
        const Memory changed = memoryOf(*m_keyboard);

        QStringList planned, now, backup, anyway, states;
        QString unchanged;
        std::size_t unticked = 0;
        TRestorePreviewForm::setRunner([&](TRestorePreviewForm& form) {
            planned = column(form.changeList(), 0);
            now = column(form.changeList(), 1);
            backup = column(form.changeList(), 2);
            unchanged = form.unchangedLabel()->text();
            // An unticked slot is left out of what is restored.
            form.changeList()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
            unticked = form.plan().changes.size();
            form.changeList()->topLevelItem(0)->setCheckState(0, Qt::Checked);
            form.compareButton()->click();
            for (int i = 0; i < form.compareList()->topLevelItemCount(); ++i)
                if (form.compareList()->topLevelItem(i)->text(3) != "equal")
                    states << form.compareList()->topLevelItem(i)->text(0) + "=" +
                                  form.compareList()->topLevelItem(i)->text(3);
            form.sendAnywayCheck()->setChecked(true);
            anyway = column(form.changeList(), 0);
            return int(QDialog::Rejected);
        });
        QVERIFY(!m_form->RestoreKeyboardFrom(dir));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        // Slots as the window names them: by kind and number from 1.
        const QString rhythm = QStringLiteral("Rhythm %1").arg(emptyRhythm + 1);
        QCOMPARE(planned, (QStringList{"Tone 4", "Song 1", rhythm}));
        QVERIFY(now[0].startsWith("Changed"));
        QCOMPARE(now[1], QString("empty"));
        QVERIFY(backup[1] != "empty");
        QVERIFY(now[2].startsWith("NewBeat"));
        QCOMPARE(backup[2], QString("empty"));
        QCOMPARE(unchanged, QString("39 unchanged, 0 skipped, 0 absent from the backup"));
        QCOMPARE(unticked, std::size_t(2));
        QCOMPARE(states, (QStringList{"Tone 4=different", "Song 1=only in the backup",
                                      rhythm + "=only in the keyboard"}));
        // Ticked, every slot the backup fills is planned, and the emptied rhythm stays.
        QCOMPARE(anyway.size(), presentCount(before) + 1);
        // Nothing reached the keyboard.
        QVERIFY(memoryOf(*m_keyboard) == changed);
    }

    void cancelDuringBackupLeavesAnIncompleteBackup() {
        CancelWhen cancel(*m_form, "Backing up 3 of");
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY2(m_errors.texts[0].contains("cancelled"), qPrintable(m_errors.texts[0]));
        const kbxops::Manifest manifest = kbxops::readManifest(dir);
        QVERIFY(!manifest.complete);
        QCOMPARE(static_cast<int>(manifest.files.size()), 2);
        QVERIFY(!manifest.notDone.isEmpty());
        QVERIFY(!m_form->isBusy());
    }

    void cancelDuringRestoreStopsBetweenItems() {
        const Memory factory = memoryOf(*m_keyboard);
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        m_keyboard->wipe();
        const Memory wiped = memoryOf(*m_keyboard);
        TRestorePreviewForm::setRunner([](TRestorePreviewForm&) { return int(QDialog::Accepted); });
        CancelWhen cancel(*m_form, "Restoring 3 of");
        QVERIFY(m_form->RestoreKeyboardFrom(dir));
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY2(m_errors.texts[0].contains("cancelled"), qPrintable(m_errors.texts[0]));
        // The first two items came back whole; the third never arrived, nor anything after.
        const Memory now = memoryOf(*m_keyboard);
        int restored = 0;
        for (const auto& [slot, bytes] : now) {
            if (bytes == wiped.at(slot))
                continue;
            QVERIFY2(bytes == factory.at(slot), qPrintable(slot));
            ++restored;
        }
        QCOMPARE(restored, 2);
    }

    void restoreIsOneChangeUndoneInOneStepSkippingASlotChangedSince() {
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        const Memory backedUp = memoryOf(*m_keyboard);
        const Bytes changedTone = namedItem(60, kToneNameOffset, "Changed");
        const Bytes otherTone = namedItem(60, kToneNameOffset, "Other");
        m_keyboard->setItemBytes(ZxKind::Tone, 2, 0, changedTone);
        m_keyboard->setItemBytes(ZxKind::Tone, 5, 0, otherTone);
        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, newerSong());
        TRestorePreviewForm::setRunner([](TRestorePreviewForm&) { return int(QDialog::Accepted); });
        QVERIFY(m_form->RestoreKeyboardFrom(dir));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(memoryOf(*m_keyboard) == backedUp);

        // One entry per slot, all of one group, the song's holding what it replaced.
        const std::vector<kbxops::HistoryEntry> entries = m_form->history().entries();
        QStringList changed;
        for (const kbxops::HistoryEntry& e : entries) {
            QCOMPARE(e.operation, kbxops::Operation::Restore);
            QVERIFY(e.before && e.after);
            QCOMPARE(e.group, entries.front().group);
            changed << e.slot;
        }
        QVERIFY(entries.front().group > 0);
        changed.sort();
        QCOMPARE(changed, (QStringList{"song:0", "tone:2", "tone:5"}));
        // Shown as one row in the history window, its slots beneath.
        m_form->HistoryOpenExecute();
        QTreeWidget* list = m_form->historyForm()->entryList();
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->childCount(), 3);

        // Tone 5 changed on the keyboard's panel since: one undo reverts the others and says so.
        const Bytes panelTone = namedItem(60, kToneNameOffset, "Panel");
        m_keyboard->setItemBytes(ZxKind::Tone, 5, 0, panelTone);
        QAction* undo = find<QAction>("UndoAction");
        QVERIFY2(undo->text().contains("restore of 3 slots"), qPrintable(undo->text()));
        undo->trigger();
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY2(m_errors.texts[0].startsWith("2 of 3 slots reverted") &&
                     m_errors.texts[0].contains("Tone 5"),
                 qPrintable(m_errors.texts[0]));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Tone, 2) == changedTone);
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0) == newerSong());
        QVERIFY(m_keyboard->itemBytes(ZxKind::Tone, 5) == panelTone);
    }

    void restoreWhoseSongSendFailsAfterTheDeletePutsTheSongBack() {
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        const Memory backedUp = memoryOf(*m_keyboard);
        TRestorePreviewForm::setRunner([](TRestorePreviewForm&) { return int(QDialog::Accepted); });

        // A first run finds the message that carries the song's first block; the second leaves
        // that one without a reply, after song 0 has been emptied to make room.
        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, newerSong());
        m_keyboard->clearLog();
        QVERIFY(m_form->RestoreKeyboardFrom(dir));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        const auto& received = m_keyboard->received();
        const auto block = std::find_if(received.begin(), received.end(), [](const Bytes& m) {
            return m.size() > 5 && m[5] == 0x4A; // a block of a song, from the host
        });
        QVERIFY(block != received.end());
        VirtualZr7316::Faults faults;
        faults.noReplyTo = static_cast<int>(block - received.begin());

        m_keyboard->setItemBytes(ZxKind::Song, 0, 0, newerSong());
        const std::size_t entriesBefore = m_form->history().entries().size();
        m_keyboard->setFaults(faults);
        QVERIFY(m_form->RestoreKeyboardFrom(dir));
        m_keyboard->setFaults({});
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY2(m_errors.texts[0].contains("song:0") &&
                     m_errors.texts[0].contains("The song that was in the slot has been put back"),
                 qPrintable(m_errors.texts[0]));
        QVERIFY(m_keyboard->itemBytes(ZxKind::Song, 0) == newerSong());
        Memory expected = backedUp;
        expected["song:0"] = newerSong();
        QVERIFY(memoryOf(*m_keyboard) == expected);
        // Nothing changed, so nothing new is recorded.
        QCOMPARE(m_form->history().entries().size(), entriesBefore);
        QVERIFY(!m_form->isBusy());
    }

    void backupsOfTheWindowAndOfTheOperationsReadEachOther() {
        const Memory factory = memoryOf(*m_keyboard);
        // What kbxtool backup runs, without the window.
        QTemporaryDir toolDir;
        {
            kbxops::Keyboard keyboard(m_form->kbdDrv(), m_form->KbdPorts());
            kbxops::backupKeyboard(keyboard, toolDir.path());
        }
        m_keyboard->wipe();
        TRestorePreviewForm::setRunner([](TRestorePreviewForm& form) {
            form.sendAnywayCheck()->setChecked(true);
            return int(QDialog::Accepted);
        });
        QVERIFY(m_form->RestoreKeyboardFrom(toolDir.path()));
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        QVERIFY(memoryOf(*m_keyboard) == factory);

        // And the window's backup, restored as kbxtool restore does.
        const QString dir = m_form->BackupKeyboardTo(m_backups.path());
        QVERIFY(!dir.isEmpty());
        m_keyboard->wipe();
        {
            kbxops::Keyboard keyboard(m_form->kbdDrv(), m_form->KbdPorts());
            const kbxops::RestoreResult result =
                kbxops::restoreBackup(keyboard, dir, m_form->messages());
            QVERIFY(result.failed.empty());
        }
        QVERIFY(memoryOf(*m_keyboard) == factory);
    }

    void gaugeShowsSongMemoryAndWhatASelectedFileNeeds() {
        QVERIFY(!m_form->memoryGauge().memory().has_value());
        QVERIFY(readList());
        const Memory factory = memoryOf(*m_keyboard);
        auto memory = m_form->memoryGauge().memory();
        QVERIFY(memory.has_value());
        std::uint32_t songs = 0, rhythms = 0;
        for (const auto& [slot, bytes] : factory) {
            if (slot.startsWith("song:"))
                songs += static_cast<std::uint32_t>(bytes.size());
            if (slot.startsWith("rhythm:"))
                rhythms += static_cast<std::uint32_t>(bytes.size());
        }
        QCOMPARE(memory->songs, songs);
        QCOMPARE(memory->rhythms, rhythms);
        QCOMPARE(memory->free, m_keyboard->freeMemory());

        // Import song 0; then selected locally it needs its size, and replacing song 0 it fits
        // with the old song's bytes counted as room.
        QVERIFY(selectKbdFolder("Song Rhythm:\\Song\\"));
        kbdFileView()->setSelectedRow(0);
        m_form->ReceiveActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        const int row = localFileView()->selectedRow();
        QVERIFY(row >= 0);
        kbdFileView()->setSelectedRow(0);
        m_form->UpdateMemoryGauge();
        QCOMPARE(*m_form->memoryGauge().need(),
                 static_cast<std::uint32_t>(factory.at("song:0").size()));
        QVERIFY(m_form->memoryGauge().fits());

        // A delete is followed at once.
        m_form->DeleteActionExecute();
        QVERIFY2(m_errors.texts.isEmpty(), qPrintable(m_errors.texts.join('\n')));
        memory = m_form->memoryGauge().memory();
        QCOMPARE(memory->songs, songs - static_cast<std::uint32_t>(factory.at("song:0").size()));
        QCOMPARE(memory->free, m_keyboard->freeMemory());
        QVERIFY(m_form->memoryGauge().text().contains(QString::number(memory->free)));
    }
};

QTEST_MAIN(MainFormWholeKeyboardTest)
#include "test_mainform_wholekbd.moc"

// The main window with its settings store and dialogs: the first start, broken settings, the
// preference dialog's effect on the next list, the data and drive property dialogs opened from
// the lists, and no dialog while a keyboard action waits. Dialogs are driven as they appear.
#include "mainformtest.h"

#include "app/dialogs/kbddrvpropform.h"
#include "app/dialogs/prefdirform.h"
#include "app/dialogs/preferform.h"
#include "app/dialogs/propform.h"
#include "files/kbxfilestream.h"
#include "loopbackbackend.h"
#include "ops/datafile.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace kbxtest;

namespace {

QString label(QDialog* dialog, const char* name) {
    return child<QLabel>(dialog, name)->text();
}

void click(QDialog* dialog, const char* name) {
    child<QPushButton>(dialog, name)->click();
}

// What a data property dialog showed.
struct PropView {
    QString fileName, type, size, location, name;
    bool nameShown = false;
    bool nameLabelShown = false;
};

ModalDriver::Act readProperties(PropView& view, std::function<void(QDialog*)> then) {
    return [&view, then](QDialog* dialog) {
        view.fileName = label(dialog, "FileNameLbl");
        view.type = label(dialog, "TypeLbl");
        view.size = label(dialog, "SizeLbl");
        view.location = label(dialog, "LocateLbl");
        auto* edit = child<QLineEdit>(dialog, "NameEdit");
        view.name = edit->text();
        view.nameShown = edit->isVisible();
        view.nameLabelShown = child<QLabel>(dialog, "NameLbl")->isVisible();
        then(dialog);
    };
}

void cancel(QDialog* dialog) {
    click(dialog, "CancelBtn");
}

} // namespace

class MainFormDialogsTest : public QObject, public MainFormFixture {
    Q_OBJECT

    std::unique_ptr<ModalDriver> m_dialogs;

    // The tone of slot 0, named "Bright", imported into the local folder and selected there with
    // the focus on the local list.
    QString importBrightTone() {
        m_keyboard->setItemBytes(ZxKind::Tone, 0, 0, namedItem(60, kToneNameOffset, "Bright"));
        createForm();
        if (!readList() || !importTone(0))
            return {};
        return QStringLiteral("TON_Bright  .kbx");
    }

    // Rewrites the name stored in a tone file behind the program's back.
    bool renameToneOnDisk(const QString& fileName, const std::string& name) {
        QFile file(m_local->filePath(fileName));
        if (!file.open(QIODevice::ReadWrite) || !file.seek(64 + kToneNameOffset))
            return false;
        QByteArray bytes = QByteArray::fromStdString(name);
        bytes.resize(8, ' ');
        return file.write(bytes) == 8;
    }

    std::string storedName(const QString& fileName) {
        return kbxops::readDataFile(m_local->filePath(fileName))->name();
    }

    void selectLocal(const QString& text) {
        const int row = rowOf(localFileView(), text);
        QVERIFY2(row >= 0, qPrintable(text));
        localFileView()->setSelectedRow(row);
        localFileView()->setFocus();
    }

private Q_SLOTS:
    void initTestCase() { setUpCase(); }
    void init() {
        setUp();
        m_dialogs = std::make_unique<ModalDriver>();
    }
    void cleanup() {
        tearDown();
        QCOMPARE(m_dialogs->unused(), qsizetype(0)); // every expected dialog appeared
        m_dialogs.reset();
    }
    void cleanupTestCase() { ErrorReporter::setInstance(nullptr); }

    // ---- Settings ----

    void firstStartShowsPreferencesBeforeAnythingElseAndCreatesTheKeys() {
        QFile::remove(storeFile());
        int localNodes = -1;
        bool windowShown = true;
        int in = -2;
        int out = -2;
        QString dir;
        m_dialogs->expect([&](QDialog* dialog) {
            auto* window = qobject_cast<TPcLinkForm*>(dialog->parentWidget());
            QVERIFY(window);
            localNodes = child<QTreeWidget>(window, "LocalDirView")->topLevelItemCount();
            windowShown = window->isVisible();
            in = child<QComboBox>(dialog, "MidiInDevBox")->currentIndex();
            out = child<QComboBox>(dialog, "MidiOutDevBox")->currentIndex();
            dir = child<QLineEdit>(dialog, "DefDirEdit")->text();
            click(dialog, "OkBtn");
        });
        createForm();
        QCOMPARE(m_dialogs->seen, QStringList{"TPrefForm"});
        QCOMPARE(localNodes, 0);
        QVERIFY(!windowShown);
        QCOMPARE(in, 0);
        QCOMPARE(out, 0);
        QCOMPARE(dir, QDir::toNativeSeparators(QDir::currentPath()));
        QCOMPARE(m_form->deviceChoice().defaultDir(), dir);

        // The keys exist while the program runs, before the values are written at its end; the
        // safety net's preferences, chosen in the same dialog, with them.
        QSettings store(storeFile(), QSettings::IniFormat);
        QCOMPARE(store.childGroups(), (QStringList{"Directory", "MIDI", "Safety"}));
        QCOMPARE(store.value("Safety/KeepHistory").toBool(), true);
        QCOMPARE(store.value("MIDI/InputDevice").toInt(), 0);
        QCOMPARE(store.value("MIDI/OutputDevice").toInt(), 0);
        QCOMPARE(m_errors.texts, QStringList());
    }

    void missingMidiGroupOpensPreferencesAtStart() {
        QFile::remove(storeFile());
        {
            QSettings store(storeFile(), QSettings::IniFormat);
            store.setValue("Directory/Default", localDir());
        }
        m_dialogs->expect(cancel);
        createForm();
        QCOMPARE(m_dialogs->seen, QStringList{"TPrefForm"});
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 0);
        QCOMPARE(m_form->deviceChoice().midiOutDevice(), 0);
        // The read stopped at the devices: no default directory, nothing selected.
        QCOMPARE(m_form->deviceChoice().defaultDir(), QString());
        QVERIFY(!localDirView()->currentItem());
        QCOMPARE(m_errors.texts, QStringList());
    }

    void nonIntegerDeviceOpensPreferencesAndKeepsWhatWasRead() {
        {
            QSettings store(storeFile(), QSettings::IniFormat);
            store.setValue("MIDI/InputDevice", 1);
            store.setValue("MIDI/OutputDevice", "two");
        }
        m_dialogs->expect(cancel);
        createForm();
        QCOMPARE(m_dialogs->seen, QStringList{"TPrefForm"});
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 1);
        QCOMPARE(m_form->deviceChoice().midiOutDevice(), 0);
    }

    void okWithSecondOutputDeviceMakesTheNextListUseDeviceOne() {
        // Outputs: "Loopback Out" (0, answers nothing), "Virtual ZR-7316" (1); input: the
        // virtual keyboard alone (0).
        auto loopback = std::make_shared<kbxmidi::LoopbackBackend>(
            std::vector<std::string>{}, std::vector<std::string>{"Loopback Out"});
        kbxmidi::DeviceRegistry::instance().setTestBackend(loopback);
        createForm();
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{"MIDI Timeout"});
        QCOMPARE(loopback->sentMessages().size(), std::size_t(1));

        m_dialogs->expect([](QDialog* dialog) {
            child<QComboBox>(dialog, "MidiOutDevBox")->setCurrentIndex(1);
            click(dialog, "OkBtn");
        });
        m_form->PrefOpenExecute();
        QCOMPARE(m_form->deviceChoice().midiOutDevice(), 1);
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 0);

        m_errors.texts.clear();
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_form->kbdDrv().isListed());
        QCOMPARE(loopback->sentMessages().size(), std::size_t(1)); // nothing more to device 0

        m_form.reset(); // stored when the window closes
        QSettings store(storeFile(), QSettings::IniFormat);
        QCOMPARE(store.value("MIDI/OutputDevice").toInt(), 1);
    }

    void cancelKeepsTheFieldsAndOkTakesTheDirectory() {
        kbxmidi::DeviceRegistry::instance().setTestBackend(
            std::make_shared<kbxmidi::LoopbackBackend>());
        createForm();
        m_form->deviceChoice().setMidiInDevice(1);
        m_form->deviceChoice().setMidiOutDevice(0);
        m_form->deviceChoice().setDefaultDir("/before/");
        m_dialogs->expect([](QDialog* dialog) {
            child<QComboBox>(dialog, "MidiInDevBox")->setCurrentIndex(0);
            child<QComboBox>(dialog, "MidiOutDevBox")->setCurrentIndex(1);
            child<QLineEdit>(dialog, "DefDirEdit")->setText("/elsewhere/");
            click(dialog, "CancelBtn");
        });
        m_form->PrefOpenExecute();
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 1);
        QCOMPARE(m_form->deviceChoice().midiOutDevice(), 0);
        QCOMPARE(m_form->deviceChoice().defaultDir(), QString("/before/"));

        m_dialogs->expect([](QDialog* dialog) {
            QCOMPARE(child<QComboBox>(dialog, "MidiInDevBox")->currentIndex(), 1);
            QCOMPARE(child<QLineEdit>(dialog, "DefDirEdit")->text(), QString("/before/"));
            child<QLineEdit>(dialog, "DefDirEdit")->setText("/elsewhere/");
            click(dialog, "OkBtn");
        });
        m_form->PrefOpenExecute();
        QCOMPARE(m_form->deviceChoice().defaultDir(), QString("/elsewhere/"));
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 1);
    }

    void aStoredDeviceWhoseNumberMovedIsFoundByNameAndStoredAtTheEnd() {
        // Stored when the virtual keyboard was device 0; a device listed before it has come.
        KbxSettings().save(
            KbxSettings::Values{0, 0, "Virtual ZR-7316", "Virtual ZR-7316", localDir()});
        auto loopback = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(loopback);
        createForm();
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QVERIFY(m_form->kbdDrv().isListed());
        QVERIFY(loopback->sentMessages().empty()); // the device now at 0 was never asked
        QCOMPARE(m_form->deviceChoice().midiInDevice(), 1);
        QCOMPARE(m_form->deviceChoice().midiOutDevice(), 1);

        // The preference dialog shows the device where it is now, and keeps its name.
        m_dialogs->expect([](QDialog* dialog) {
            QCOMPARE(child<QComboBox>(dialog, "MidiInDevBox")->currentIndex(), 1);
            click(dialog, "OkBtn");
        });
        m_form->PrefOpenExecute();
        QCOMPARE(m_form->deviceChoice().midiInDeviceName(), QString("Virtual ZR-7316"));

        m_form.reset();
        QSettings store(storeFile(), QSettings::IniFormat);
        QCOMPARE(store.value("MIDI/InputDevice").toInt(), 1);
        QCOMPARE(store.value("MIDI/OutputDeviceName").toString(), QString("Virtual ZR-7316"));
    }

    void aStoredDeviceThatIsGoneIsNamedAndNothingIsOpened() {
        KbxSettings().save(KbxSettings::Values{0, 0, "USB MIDI In", "Virtual ZR-7316", localDir()});
        auto loopback = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(loopback);
        createForm();
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{"The MIDI device \"USB MIDI In\" is not connected."});
        QVERIFY(!m_form->kbdDrv().isListed());
        QCOMPARE(loopback->openInputCount(), 0);
        QVERIFY(loopback->sentMessages().empty());
        QVERIFY(m_keyboard->received().empty());
        QCOMPARE(m_form->statusText(), QString()); // the action ended as every failure does
    }

    void olderSettingsWithoutNamesUseTheirNumbersAsBefore() {
        // Numbers only: device 0 is whatever is listed first now, as it always was.
        auto loopback = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(loopback);
        createForm();
        QCOMPARE(m_form->deviceChoice().midiInDeviceName(), QString());
        m_form->ConnectActionExecute();
        QCOMPARE(m_errors.texts, QStringList{"MIDI Timeout"});
        QCOMPARE(loopback->sentMessages().size(), std::size_t(1));
        m_form.reset();
        QSettings store(storeFile(), QSettings::IniFormat);
        QVERIFY(!store.contains("MIDI/InputDeviceName")); // nothing chosen, nothing named
    }

    void unwritableStoreShowsPreferencesOnceAndReportsOnceAtTheEnd() {
        // A file where the store's folder should be: nothing can be written there.
        QVERIFY(writeFile("blocker", "x"));
        const QString store = m_local->filePath("blocker/KbxMan.ini");
        KbxSettings::setDefaultStore(QSettings::IniFormat, store);
        m_dialogs->expect([](QDialog* dialog) { click(dialog, "OkBtn"); });
        createForm();
        QCOMPARE(m_dialogs->seen, QStringList{"TPrefForm"});
        QCOMPARE(m_errors.texts, QStringList());
        m_form.reset();
        QCOMPARE(m_errors.texts.size(), 1);
        QVERIFY2(m_errors.texts.first().contains("cannot be saved"),
                 qPrintable(m_errors.texts.first()));
    }

    // ---- Data property dialog ----

    void importedToneShowsKindSizeLocationAndNameWithBlanks() {
        const QString name = importBrightTone();
        QVERIFY(!name.isEmpty());
        QVERIFY(localFileView()->currentView()->hasFocus());
        PropView view;
        m_dialogs->expect(readProperties(view, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(m_dialogs->seen, QStringList{"TZxDataPropertyForm"});
        QCOMPARE(view.fileName, name);
        QCOMPARE(view.type, QString("Tone"));
        QCOMPARE(view.size, QString("60byte(s)"));
        QCOMPARE(view.location, localDir());
        QCOMPARE(view.name, QString("Bright  "));
        QVERIFY(view.nameShown);
        QVERIFY(view.nameLabelShown);
    }

    void dataFileIsReadOncePerListing() {
        const QString name = importBrightTone();
        QVERIFY(!name.isEmpty());
        PropView first;
        m_dialogs->expect(readProperties(first, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(first.name, QString("Bright  "));

        QVERIFY(renameToneOnDisk(name, "Other"));
        PropView second;
        m_dialogs->expect(readProperties(second, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(second.name, QString("Bright  ")); // the item read the first time

        m_form->LocalUpdateActionExecute(); // a new listing reads the file again
        selectLocal(name);
        PropView third;
        m_dialogs->expect(readProperties(third, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(third.name, QString("Other   "));
    }

    void typedNameIsWrittenIntoTheFileWithTildeAsUnderscore() {
        const QString name = importBrightTone();
        QVERIFY(!name.isEmpty());
        m_dialogs->expect([](QDialog* dialog) {
            auto* edit = child<QLineEdit>(dialog, "NameEdit");
            edit->selectAll();
            QTest::keyClicks(edit, "Da~k");
            click(dialog, "OkBtn");
        });
        m_form->PropOpenExecute();
        QCOMPARE(m_errors.texts, QStringList());
        QCOMPARE(storedName(name), std::string("Da_k    "));
        QVERIFY(QFile::exists(m_local->filePath(name))); // the file keeps its own name

        // The item kept with the list item has the new name too.
        PropView again;
        m_dialogs->expect(readProperties(again, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(again.name, QString("Da_k    "));
    }

    void emptyNameChangesNothing() {
        const QString name = importBrightTone();
        QVERIFY(!name.isEmpty());
        QFile file(m_local->filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        m_dialogs->expect([](QDialog* dialog) {
            child<QLineEdit>(dialog, "NameEdit")->clear();
            click(dialog, "OkBtn");
        });
        m_form->PropOpenExecute();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QCOMPARE(m_errors.texts, QStringList());
    }

    void fileThatIsNoDataFileShowsOneErrorAndNoDialog() {
        QVERIFY(writeFile("broken.kbx", QByteArray(100, 'x')));
        createForm();
        selectLocal("broken.kbx");
        m_form->PropOpenExecute();
        QCOMPARE(m_errors.texts, QStringList{"No KBX file"});
        QCOMPARE(m_dialogs->seen, QStringList());
    }

    void otherLocalFileShowsOnlyItsNameAndLocation() {
        QVERIFY(writeFile("notes.txt", "hello"));
        createForm();
        selectLocal("notes.txt");
        PropView view;
        m_dialogs->expect(readProperties(view, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(view.fileName, QString("notes.txt"));
        QCOMPARE(view.location, localDir());
        QCOMPARE(view.type, QString());
        QCOMPARE(view.name, QString());
    }

    void keyboardSlotShowsNoNameField() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(0);
        kbdFileView()->setFocus();
        PropView view;
        m_dialogs->expect(readProperties(view, cancel));
        m_form->PropOpenExecute();
        QCOMPARE(view.fileName, kbdFileView()->itemText(0));
        QCOMPARE(view.type, QString("Tone"));
        QCOMPARE(view.size, QString("60byte(s)"));
        QCOMPARE(view.location, QString("Tone:\\"));
        QVERIFY(!view.nameShown);
        QVERIFY(!view.nameLabelShown);
    }

    void noFocusedListOrNoSelectionOpensNothing() {
        createForm();
        kbdFileView()->setSelectedRow(0);
        kbdDirView()->setFocus(); // the tree, not a list
        m_form->PropOpenExecute();
        kbdFileView()->setSelectedRow(-1);
        kbdFileView()->setFocus();
        m_form->PropOpenExecute();
        QCOMPARE(m_dialogs->seen, QStringList());
    }

    // ---- Drive property dialog ----

    void toneFolderShowsItsSpaceAfterAList() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Tone:\\"));
        QString name, used, free, capacity;
        m_dialogs->expect([&](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QString("Properties"));
            name = label(dialog, "DrvNameLbl");
            used = label(dialog, "UsedLbl");
            free = label(dialog, "FreeLbl");
            capacity = label(dialog, "CapacityLbl");
            dialog->accept();
        });
        m_form->KbdDrvPropOpenExecute();
        QCOMPARE(name, QString("Tone:"));
        QCOMPARE(used, QString("600byte(s)"));
        QCOMPARE(free, QString("0byte(s)"));
        QCOMPARE(capacity, QString("600byte(s)"));

        kbdDirView()->setCurrentItem(kbdDirView()->topLevelItem(0)); // the root: no folder
        m_form->KbdDrvPropOpenExecute();
        QCOMPARE(m_dialogs->seen, QStringList{"TKbdDrivePropertyForm"});
    }

    // ---- Busy ----

    void noDialogOpensWhileAKeyboardActionRuns() {
        createForm();
        QVERIFY(readList());
        QVERIFY(selectKbdFolder("Tone:\\"));
        kbdFileView()->setSelectedRow(0);
        kbdFileView()->setFocus();
        bool ranInside = false;
        QTimer::singleShot(0, m_form.get(), [&] {
            ranInside = m_form->isBusy();
            m_form->PrefOpenExecute();
            m_form->PropOpenExecute();
            m_form->KbdDrvPropOpenExecute();
        });
        m_form->ConnectActionExecute();
        QVERIFY(ranInside);
        QCOMPARE(m_dialogs->seen, QStringList());
        QCOMPARE(m_errors.texts, QStringList());
    }
};

QTEST_MAIN(MainFormDialogsTest)
#include "test_mainform_dialogs.moc"

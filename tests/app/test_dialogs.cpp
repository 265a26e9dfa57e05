// The preference dialog with its folder chooser and the two property dialogs, driven offscreen
// through their controls and the real event loop; files and folders live in temporary folders.
#include "kbddrvpropform.h"
#include "kbxfilestream.h"
#include "loopbackbackend.h"
#include "mididevices.h"
#include "ops/datafile.h"
#include "prefdirform.h"
#include "preferform.h"
#include "propform.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxdata.h"
#include "zxexception.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

const QChar kSep = QDir::separator();

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Acts on the modal dialog of type Dialog as soon as the caller's exec() shows it. Should no
// such dialog appear, whatever is modal is closed so that the test fails instead of hanging.
template <class Dialog>
void whenModal(std::function<void(Dialog*)> act, int attempts = 50) {
    QTimer::singleShot(0, [act, attempts]() {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            act(dialog);
            return;
        }
        if (attempts > 0) {
            whenModal<Dialog>(act, attempts - 1);
            return;
        }
        ADD_FAILURE() << "the expected modal dialog did not appear";
        if (QWidget* other = QApplication::activeModalWidget())
            other->close();
    });
}

template <class Widget>
Widget* control(QWidget* form, const char* name) {
    auto* widget = form->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QTreeWidgetItem* childNamed(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i) {
        if (node->child(i)->text(0) == text)
            return node->child(i);
    }
    return nullptr;
}

QStringList childTexts(QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

// ---- Preference dialog ----

class PrefFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Lists: "Loopback In" / "Loopback Out" first, then the virtual keyboard.
        m_loopback = std::make_shared<kbxmidi::LoopbackBackend>();
        kbxmidi::DeviceRegistry::instance().setTestBackend(m_loopback);
        m_form = std::make_unique<TPrefForm>();
        m_form->SetInDevice(0);
        m_form->SetOutDevice(0);
        m_form->SetDefDir(QStringLiteral("/stored/"));
    }
    void TearDown() override {
        m_form.reset();
        kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
    }

    QComboBox* inBox() { return control<QComboBox>(m_form.get(), "MidiInDevBox"); }
    QComboBox* outBox() { return control<QComboBox>(m_form.get(), "MidiOutDevBox"); }
    QLineEdit* dirEdit() { return control<QLineEdit>(m_form.get(), "DefDirEdit"); }
    QPushButton* button(const char* name) { return control<QPushButton>(m_form.get(), name); }

    std::shared_ptr<kbxmidi::LoopbackBackend> m_loopback;
    std::unique_ptr<TPrefForm> m_form;
};

QStringList boxTexts(QComboBox* box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

TEST_F(PrefFormTest, listsHoldTheRegistryNamesWithTheVirtualKeyboard) {
    EXPECT_EQ(boxTexts(inBox()), (QStringList{"Loopback In", "Virtual ZR-7316"}));
    EXPECT_EQ(boxTexts(outBox()), (QStringList{"Loopback Out", "Virtual ZR-7316"}));
    EXPECT_EQ(m_form->windowTitle(), "Preference");
    EXPECT_EQ(inBox()->currentIndex(), 0);
    EXPECT_EQ(dirEdit()->text(), "/stored/");
}

TEST_F(PrefFormTest, okAfterChoosingSecondOutputDeviceGivesDeviceOne) {
    whenModal<TPrefForm>([this](TPrefForm*) {
        outBox()->setCurrentIndex(1);
        dirEdit()->setText(QStringLiteral("/chosen/"));
        button("OkBtn")->click();
    });
    EXPECT_EQ(m_form->exec(), QDialog::Accepted);
    EXPECT_EQ(m_form->GetInDevice(), 0);
    EXPECT_EQ(m_form->GetOutDevice(), 1);
    EXPECT_EQ(m_form->GetDefDir(), "/chosen/");
}

TEST_F(PrefFormTest, cancelRestoresStoredValues) {
    m_form->SetInDevice(1);
    m_form->SetOutDevice(1);
    whenModal<TPrefForm>([this](TPrefForm*) {
        inBox()->setCurrentIndex(0);
        outBox()->setCurrentIndex(0);
        dirEdit()->setText(QStringLiteral("/edited/"));
        button("CancelBtn")->click();
    });
    EXPECT_EQ(m_form->exec(), QDialog::Rejected);
    EXPECT_EQ(m_form->GetInDevice(), 1);
    EXPECT_EQ(m_form->GetOutDevice(), 1);
    EXPECT_EQ(m_form->GetDefDir(), "/stored/");
    // Shown again, so the next opening starts from what is stored.
    EXPECT_EQ(inBox()->currentIndex(), 1);
    EXPECT_EQ(outBox()->currentIndex(), 1);
    EXPECT_EQ(dirEdit()->text(), "/stored/");
}

TEST_F(PrefFormTest, escapeCancelsLikeTheCancelButton) {
    whenModal<TPrefForm>([this](TPrefForm* form) {
        outBox()->setCurrentIndex(1);
        QTest::keyClick(form, Qt::Key_Escape);
    });
    EXPECT_EQ(m_form->exec(), QDialog::Rejected);
    EXPECT_EQ(m_form->GetOutDevice(), 0);
    EXPECT_EQ(outBox()->currentIndex(), 0);
}

TEST_F(PrefFormTest, outOfRangeDeviceSelectsNothingAndIsKeptOnCancel) {
    m_form->SetOutDevice(7);
    EXPECT_EQ(outBox()->currentIndex(), -1);
    button("CancelBtn")->click();
    EXPECT_EQ(m_form->GetOutDevice(), 7);
    EXPECT_EQ(outBox()->currentIndex(), -1);
}

TEST_F(PrefFormTest, safetyPageShowsTheValuesHandedInAndCancelKeepsThem) {
    const KbxSettings::Safety defaults;
    EXPECT_EQ(m_form->GetSafety(), defaults);
    EXPECT_TRUE(control<QCheckBox>(m_form.get(), "KeepHistoryCheck")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(m_form.get(), "VerifySendCheck")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(m_form.get(), "VerifyRestoreCheck")->isChecked());
    EXPECT_EQ(control<QCheckBox>(m_form.get(), "KeepHistoryCheck")->text(),
              "&Keep a copy of every item a change replaces");

    m_form->SetSafety({false, true, false});
    whenModal<TPrefForm>([this](TPrefForm*) {
        control<QCheckBox>(m_form.get(), "KeepHistoryCheck")->setChecked(true);
        button("CancelBtn")->click();
    });
    EXPECT_EQ(m_form->exec(), QDialog::Rejected);
    EXPECT_EQ(m_form->GetSafety(), (KbxSettings::Safety{false, true, false}));
    EXPECT_FALSE(control<QCheckBox>(m_form.get(), "KeepHistoryCheck")->isChecked());

    whenModal<TPrefForm>([this](TPrefForm*) {
        control<QCheckBox>(m_form.get(), "VerifyRestoreCheck")->setChecked(true);
        button("OkBtn")->click();
    });
    EXPECT_EQ(m_form->exec(), QDialog::Accepted);
    EXPECT_EQ(m_form->GetSafety(), (KbxSettings::Safety{false, true, true}));
}

TEST_F(PrefFormTest, okWithNoDeviceSelectedKeepsTheLastChoice) {
    // A device removed since it was stored: nothing is selected, and OK does not store "none".
    m_form->SetInDevice(7);
    m_form->SetOutDevice(1);
    m_form->SetOutDeviceName(QStringLiteral("USB MIDI Out"));
    EXPECT_EQ(inBox()->currentIndex(), -1);
    EXPECT_EQ(outBox()->currentIndex(), -1); // not connected: entry 1 is another device
    whenModal<TPrefForm>([this](TPrefForm*) { button("OkBtn")->click(); });
    EXPECT_EQ(m_form->exec(), QDialog::Accepted);
    EXPECT_EQ(m_form->GetInDevice(), 7);
    EXPECT_EQ(m_form->GetOutDevice(), 1);
    EXPECT_EQ(m_form->GetOutDeviceName(), "USB MIDI Out");
}

TEST_F(PrefFormTest, okWithoutAnyDeviceEverChosenIsRefusedWithAMessage) {
    m_form->SetInDevice(-1); // what older versions stored after OK on an empty list
    whenModal<TPrefForm>([this](TPrefForm* form) {
        form->findChild<QTabWidget*>("PageControl")->setCurrentIndex(1);
        button("OkBtn")->click();
        EXPECT_TRUE(form->isVisible()); // refused
        EXPECT_EQ(form->findChild<QTabWidget*>("PageControl")->currentIndex(), 0);
        EXPECT_EQ(form->connectionText(), "Choose an input device and an output device.");
        inBox()->setCurrentIndex(0);
        button("OkBtn")->click();
    });
    EXPECT_EQ(m_form->exec(), QDialog::Accepted);
    EXPECT_EQ(m_form->GetInDevice(), 0);
    EXPECT_EQ(m_form->GetInDeviceName(), "Loopback In");
}

TEST_F(PrefFormTest, aStoredNameSelectsItsDeviceWhereverTheListHoldsItNow) {
    m_form->SetInDevice(0);
    m_form->SetInDeviceName(QStringLiteral("Virtual ZR-7316"));
    EXPECT_EQ(inBox()->currentIndex(), 1);
    button("OkBtn")->click();
    EXPECT_EQ(m_form->GetInDevice(), 1);
    EXPECT_EQ(m_form->GetInDeviceName(), "Virtual ZR-7316");
    EXPECT_EQ(m_form->GetOutDeviceName(), "Loopback Out"); // named as chosen, from the list
}

TEST_F(PrefFormTest, listsFollowDevicesThatComeAndGoAndKeepTheChoiceByName) {
    outBox()->setCurrentIndex(0); // "Loopback Out", chosen by the user
    m_loopback->setDeviceNames({"Loopback In"}, {"Synth Out", "Loopback Out"});
    // Nothing announces the scripted devices: the dialog's lists are compared once a second.
    ASSERT_TRUE(kbxtest::waitFor([this] { return outBox()->count() == 3; }, 5000));
    EXPECT_EQ(boxTexts(outBox()), (QStringList{"Synth Out", "Loopback Out", "Virtual ZR-7316"}));
    EXPECT_EQ(outBox()->currentIndex(), 1);

    m_loopback->setDeviceNames({"Loopback In"}, {"Synth Out"});
    ASSERT_TRUE(kbxtest::waitFor([this] { return outBox()->count() == 2; }, 5000));
    EXPECT_EQ(outBox()->currentIndex(), -1); // gone: nothing else is taken for it
    m_loopback->setDeviceNames({"Loopback In"}, {"Loopback Out", "Synth Out"});
    ASSERT_TRUE(kbxtest::waitFor([this] { return outBox()->count() == 3; }, 5000));
    EXPECT_EQ(outBox()->currentIndex(), 0); // back, and chosen again
}

TEST_F(PrefFormTest, findKeyboardTriesTheDevicesAndSelectsThePairThatAnswers) {
    button("FindKbdBtn")->click();
    EXPECT_EQ(inBox()->currentIndex(), 1);
    EXPECT_EQ(outBox()->currentIndex(), 1);
    EXPECT_EQ(m_form->connectionText(), "No keyboard answered on the MIDI devices; only the "
                                        "built-in virtual ZR-7316 did, and it is selected.");
    // The scripted device was asked the keyboard type, nothing more.
    EXPECT_EQ(m_loopback->sentMessages(), std::vector<std::vector<std::uint8_t>>{
                                              kbxtest::hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7")});
    EXPECT_TRUE(button("OkBtn")->isEnabled());
    EXPECT_FALSE(m_form->findChild<QProgressBar*>("ConnectionProgress")->isVisible());
    button("OkBtn")->click();
    EXPECT_EQ(m_form->GetInDevice(), 1);
    EXPECT_EQ(m_form->GetOutDeviceName(), "Virtual ZR-7316");
}

TEST_F(PrefFormTest, findKeyboardCanBeCancelledAndHoldsTheDialogMeanwhile) {
    bool checked = false;
    // While the silent scripted pair is asked, the dialog cannot be left and the button cancels.
    QTimer::singleShot(50, [this, &checked] {
        EXPECT_TRUE(m_form->isBusy());
        EXPECT_FALSE(button("OkBtn")->isEnabled());
        EXPECT_FALSE(button("TestConnBtn")->isEnabled());
        EXPECT_EQ(button("FindKbdBtn")->text(), "Cancel");
        m_form->reject(); // ignored: the devices are in use
        button("FindKbdBtn")->click();
        checked = true;
    });
    button("FindKbdBtn")->click();
    EXPECT_TRUE(checked);
    EXPECT_EQ(m_form->connectionText(), "The search was cancelled.");
    EXPECT_EQ(button("FindKbdBtn")->text(), "Find keyboard");
    EXPECT_FALSE(m_form->isBusy());
    EXPECT_EQ(inBox()->currentIndex(), 0); // the choice is as it was
    EXPECT_EQ(m_loopback->sentMessages().size(), 1u);
}

TEST_F(PrefFormTest, testConnectionReportsLossesWithTheAdvice) {
    auto& keyboard = kbxmidi::DeviceRegistry::instance().virtualKeyboard();
    keyboard.setStateFile(QString());
    VirtualZr7316::Faults faults;
    faults.dropEvery = 2;
    keyboard.setFaults(faults);
    inBox()->setCurrentIndex(1);
    outBox()->setCurrentIndex(1);
    button("TestConnBtn")->click();
    keyboard.setFaults({});
    const QString text = m_form->connectionText();
    EXPECT_TRUE(text.startsWith("5 of 10 requests answered; round trip min "))
        << text.toStdString();
    EXPECT_TRUE(text.contains("the computer's MIDI OUT goes to the keyboard's MIDI IN"))
        << text.toStdString();

    keyboard.setFaults({});
    button("TestConnBtn")->click();
    EXPECT_TRUE(m_form->connectionText().startsWith("10 of 10 requests answered"));
    EXPECT_FALSE(m_form->connectionText().contains("MIDI IN"));

    // On a device that cannot be opened: the driver's text.
    inBox()->setCurrentIndex(0);
    m_loopback->setOpenInputError("in use");
    button("TestConnBtn")->click();
    EXPECT_EQ(m_form->connectionText(), "MIDI SYSTEM ERROR: in use");
}

TEST_F(PrefFormTest, browseOkPutsChosenFolderWithFinalSeparator) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("Music/Songs")));
    const QString start = native(root.filePath(QStringLiteral("Music")));
    dirEdit()->setText(start);

    whenModal<TDirBrowseForm>([](TDirBrowseForm* browser) {
        auto* view = control<QTreeWidget>(browser, "DirView");
        QTreeWidgetItem* music = view->currentItem();
        ASSERT_NE(music, nullptr);
        EXPECT_EQ(music->text(0), "Music");
        music->setExpanded(true); // reads the next level
        QTreeWidgetItem* songs = childNamed(music, QStringLiteral("Songs"));
        ASSERT_NE(songs, nullptr);
        view->setCurrentItem(songs);
        control<QPushButton>(browser, "OkBtn")->click();
    });
    button("DirBrowseBtn")->click();

    EXPECT_EQ(dirEdit()->text(), native(root.filePath(QStringLiteral("Music/Songs"))) + kSep);
    EXPECT_EQ(m_form->GetDefDir(), "/stored/"); // taken only by OK
}

TEST_F(PrefFormTest, browseCancelLeavesDirectoryField) {
    QTemporaryDir root;
    const QString start = native(root.path());
    dirEdit()->setText(start);
    whenModal<TDirBrowseForm>([](TDirBrowseForm* browser) {
        auto* view = control<QTreeWidget>(browser, "DirView");
        view->setCurrentItem(view->topLevelItem(0));
        control<QPushButton>(browser, "CancelBtn")->click();
    });
    button("DirBrowseBtn")->click();
    EXPECT_EQ(dirEdit()->text(), start);
}

// ---- Folder chooser ----

class DirBrowseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_root.isValid()); }
    QString path(const QString& relative) const { return native(m_root.filePath(relative)); }
    void makeFolders(const QStringList& relatives) {
        for (const QString& relative : relatives)
            ASSERT_TRUE(QDir(m_root.path()).mkpath(relative));
    }
    QTreeWidget* view() { return control<QTreeWidget>(&m_form, "DirView"); }

    QTemporaryDir m_root;
    TDirBrowseForm m_form;
};

TEST_F(DirBrowseTest, topLevelNodesAreTheDrives) {
    QStringList drives;
    for (const QFileInfo& drive : QDir::drives())
        drives << native(drive.absoluteFilePath());
    QStringList nodes;
    for (int i = 0; i < view()->topLevelItemCount(); ++i)
        nodes << view()->topLevelItem(i)->text(0);
    EXPECT_EQ(nodes, drives);
    EXPECT_EQ(m_form.windowTitle(), "Directries");
#ifdef _WIN32
    // C: is a fixed drive with folders: probed, so it can be opened at once.
    ASSERT_TRUE(nodes.contains("C:\\"));
    EXPECT_EQ(view()->topLevelItem(int(nodes.indexOf("C:\\")))->childIndicatorPolicy(),
              QTreeWidgetItem::ShowIndicator);
#endif
}

TEST_F(DirBrowseTest, setDirectorySelectsFolderAndOkGivesPathWithFinalSeparator) {
    makeFolders({"Music/Data"});
    m_form.SetDirectory(path("Music/Data"));
    ASSERT_NE(view()->currentItem(), nullptr);
    EXPECT_EQ(view()->currentItem()->text(0), "Data");
    EXPECT_EQ(m_form.GetNodePath(view()->currentItem()), path("Music/Data") + kSep);

    control<QPushButton>(&m_form, "OkBtn")->click();
    EXPECT_EQ(m_form.result(), QDialog::Accepted);
    EXPECT_EQ(m_form.GetDirectory(), path("Music/Data") + kSep);
}

TEST_F(DirBrowseTest, siblingWithLongerNameIsNotTakenForTheFolder) {
    makeFolders({"Data", "Database"});
    m_form.SetDirectory(path("Database") + kSep);
    ASSERT_NE(view()->currentItem(), nullptr);
    EXPECT_EQ(view()->currentItem()->text(0), "Database");
}

TEST_F(DirBrowseTest, missingFolderSelectsDeepestExistingAncestor) {
    makeFolders({"Music"});
    m_form.SetDirectory(path("Music/Gone/Deeper"));
    control<QPushButton>(&m_form, "OkBtn")->click();
    EXPECT_EQ(m_form.GetDirectory(), path("Music") + kSep);
}

TEST_F(DirBrowseTest, cancelKeepsDirectoryHandedIn) {
    makeFolders({"Music", "Other"});
    m_form.SetDirectory(path("Music"));
    view()->setCurrentItem(childNamed(view()->currentItem()->parent(), QStringLiteral("Other")));
    control<QPushButton>(&m_form, "CancelBtn")->click();
    EXPECT_EQ(m_form.result(), QDialog::Rejected);
    EXPECT_EQ(m_form.GetDirectory(), path("Music"));
}

TEST_F(DirBrowseTest, hiddenFoldersAndFilesAreLeftOut) {
    makeFolders({"visible", ".hidden", "onlyhidden/.inside"});
    QFile file(m_root.filePath(QStringLiteral("file.kbx")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    m_form.SetDirectory(path("visible"));
    QTreeWidgetItem* rootNode = view()->currentItem()->parent();
    EXPECT_EQ(childTexts(rootNode), (QStringList{"onlyhidden", "visible"}));
    // A folder whose only subfolder is hidden offers no expansion.
    EXPECT_EQ(childNamed(rootNode, QStringLiteral("onlyhidden"))->childIndicatorPolicy(),
              QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

TEST_F(DirBrowseTest, foldersAreReadOneLevelAtATime) {
    makeFolders({"A/B/C"});
    m_form.SetDirectory(path(""));
    QTreeWidgetItem* rootNode = view()->currentItem();
    // The folder handed in is selected, not yet read: opening it reads its subfolders.
    EXPECT_EQ(rootNode->childCount(), 0);
    EXPECT_EQ(rootNode->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    rootNode->setExpanded(true);
    QTreeWidgetItem* a = childNamed(rootNode, QStringLiteral("A"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(a->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    a->setExpanded(true);
    ASSERT_EQ(childTexts(a), QStringList{"B"});
    QTreeWidgetItem* b = a->child(0);
    EXPECT_EQ(b->childCount(), 0);

    // Selecting a folder reads it again: a folder made meanwhile appears.
    makeFolders({"A/B/D"});
    view()->setCurrentItem(b);
    EXPECT_EQ(childTexts(b), (QStringList{"C", "D"}));
}

TEST_F(DirBrowseTest, selectionSurvivesCollapsingAndReopeningAnAncestor) {
    makeFolders({"A/B/C", "A/B2"});
    m_form.SetDirectory(path("A/B/C"));
    QTreeWidgetItem* a = view()->currentItem()->parent()->parent();
    ASSERT_EQ(a->text(0), "A");
    a->setExpanded(true);
    a->setExpanded(false);
    makeFolders({"A/B/C0"}); // reopening reads the folders again: the new one shows too
    a->setExpanded(true);

    QTreeWidgetItem* current = view()->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(m_form.GetNodePath(current), path("A/B/C") + kSep);
    EXPECT_TRUE(current->parent()->isExpanded()); // the selection is in sight again
    EXPECT_EQ(childTexts(current->parent()), (QStringList{"C", "C0"}));
    control<QPushButton>(&m_form, "OkBtn")->click();
    EXPECT_EQ(m_form.GetDirectory(), path("A/B/C") + kSep);
}

TEST_F(DirBrowseTest, reopeningAfterTheSelectedFolderVanishedSelectsItsParent) {
    makeFolders({"A/B/C"});
    m_form.SetDirectory(path("A/B/C"));
    QTreeWidgetItem* a = view()->currentItem()->parent()->parent();
    a->setExpanded(true);
    a->setExpanded(false);
    ASSERT_TRUE(QDir(m_root.filePath("A/B/C")).removeRecursively());
    a->setExpanded(true);
    ASSERT_NE(view()->currentItem(), nullptr);
    EXPECT_EQ(m_form.GetNodePath(view()->currentItem()), path("A/B") + kSep);
}

// ---- Data property dialog and the property action's file work ----

// A tone file as an import writes it: header, 60 bytes of payload, the name at payload byte 36.
QByteArray toneFile(const QByteArray& name) {
    QByteArray bytes("VELMO Music Lib", 15);
    bytes.append('\0');
    bytes.append(QByteArray::fromHex("0000003C"
                                     "1101"
                                     "0002"));
    bytes.append(QByteArray(40, '\0'));
    QByteArray payload(60, '\x11');
    payload.replace(36, 8, name.leftJustified(8, ' ', true));
    bytes.append(payload);
    return bytes;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

class PropFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        m_path = m_root.filePath(QStringLiteral("TON_ABC     .kbx"));
        ASSERT_TRUE(writeAll(m_path, toneFile("ABC")));
    }
    QLineEdit* nameEdit() { return control<QLineEdit>(&m_form, "NameEdit"); }
    QString label(const char* name) { return control<QLabel>(&m_form, name)->text(); }

    // What the main window does when the dialog is confirmed for a local data file.
    void confirmInDialog(ZxDataFile& item) {
        if (m_form.Execute())
            kbxops::renameDataFile(m_path, item, m_form.GetDataName());
    }

    QTemporaryDir m_root;
    QString m_path;
    TZxDataPropertyForm m_form;
};

TEST_F(PropFormTest, importedToneShowsKindSizeLocationAndNameWithBlanks) {
    const auto item = kbxops::readDataFile(m_path);
    EXPECT_EQ(item->kind(), ZxKind::Tone);
    EXPECT_EQ(item->size(), 60u);
    EXPECT_EQ(item->name(), "ABC     ");

    const QString location = native(m_root.path()) + kSep;
    m_form.SetFileName(QStringLiteral("TON_ABC     .kbx"));
    m_form.SetLocation(location);
    m_form.SetNameEditable(true);
    m_form.SetDataKind(item->kind());
    m_form.SetDataSize(item->size());
    m_form.SetDataName(QString::fromStdString(item->name()));

    EXPECT_EQ(m_form.windowTitle(), "Property");
    EXPECT_EQ(label("FileNameLbl"), "TON_ABC     .kbx");
    EXPECT_EQ(label("TypeLbl"), "Tone");
    EXPECT_EQ(label("SizeLbl"), "60byte(s)");
    EXPECT_EQ(label("LocateLbl"), location);
    EXPECT_EQ(m_form.GetDataName(), "ABC     ");
    EXPECT_TRUE(nameEdit()->isVisibleTo(&m_form));
}

TEST_F(PropFormTest, kindTextsFollowTheTable) {
    const std::pair<std::uint16_t, const char*> kinds[] = {
        {2, "Tone"},         {9, "DSP"}, {10, "Song"}, {11, "Rhythm"},
        {12, "Regstration"}, {13, ""},   {0, ""},      {0xFFFF, ""}};
    for (const auto& [kind, text] : kinds) {
        m_form.SetDataKind(kind);
        EXPECT_EQ(label("TypeLbl"), text) << kind;
    }
    m_form.SetDataSize(600);
    EXPECT_EQ(label("SizeLbl"), "600byte(s)");
    m_form.SetDataSize(-1);
    EXPECT_EQ(label("SizeLbl"), "-1byte(s)");
}

TEST_F(PropFormTest, typedTildeBecomesUnderscore) {
    nameEdit()->setFocus();
    QTest::keyClicks(nameEdit(), QStringLiteral("A~b}"));
    EXPECT_EQ(m_form.GetDataName(), "A_b}");
}

TEST_F(PropFormTest, typedCharactersBeyondBlankToBraceBecomeUnderscores) {
    // Key events carrying text, as an input method or a compose key delivers them.
    for (const QString& text :
         {QStringLiteral("a"), QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xEF\xBD\xB1"),
          QString::fromUtf8("\xF0\x9F\x8E\xB9"), QStringLiteral("b")}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
        QApplication::sendEvent(nameEdit(), &press);
    }
    EXPECT_EQ(m_form.GetDataName(), "a___b");
}

TEST_F(PropFormTest, pastedControlCharactersBecomeUnderscores) {
    QApplication::clipboard()->setText(QStringLiteral("x\ty~\x7F"));
    nameEdit()->paste();
    EXPECT_EQ(m_form.GetDataName(), "x_y__");
}

TEST_F(PropFormTest, storedKatakanaNameIsShownAndKeptByOkWithoutEdit) {
    // Half-width katakana 0xB1 0xB2 as the window shows them: U+FF71 U+FF72.
    QByteArray stored = toneFile("\xB1\xB2KANA");
    ASSERT_TRUE(writeAll(m_path, stored));
    const auto item = kbxops::readDataFile(m_path);
    const QString shown = QString::fromUtf8("\xEF\xBD\xB1\xEF\xBD\xB2KANA  ");
    m_form.SetDataName(shown);
    EXPECT_EQ(m_form.GetDataName(), shown);

    whenModal<TZxDataPropertyForm>(
        [this](TZxDataPropertyForm*) { control<QPushButton>(&m_form, "OkBtn")->click(); });
    confirmInDialog(*item);
    EXPECT_EQ(readAll(m_path), stored);

    // An edit makes the whole field storable.
    nameEdit()->setCursorPosition(6);
    QTest::keyClick(nameEdit(), Qt::Key_Backspace);
    EXPECT_EQ(m_form.GetDataName(), "__KAN  ");
}

TEST_F(PropFormTest, ninthCharacterCannotBeTyped) {
    QTest::keyClicks(nameEdit(), QStringLiteral("ABCDEFGHI"));
    EXPECT_EQ(m_form.GetDataName(), "ABCDEFGH");
}

TEST_F(PropFormTest, keyboardSlotShowsNoNameField) {
    m_form.SetNameEditable(false);
    EXPECT_FALSE(nameEdit()->isVisibleTo(&m_form));
    EXPECT_FALSE(control<QLabel>(&m_form, "NameLbl")->isVisibleTo(&m_form));
}

TEST_F(PropFormTest, okWithNameRenamesItemInsideTheFile) {
    const auto item = kbxops::readDataFile(m_path);
    m_form.SetDataName(QString::fromStdString(item->name()));
    whenModal<TZxDataPropertyForm>([this](TZxDataPropertyForm*) {
        nameEdit()->setText(QStringLiteral("Piano"));
        control<QPushButton>(&m_form, "OkBtn")->click();
    });
    confirmInDialog(*item);

    EXPECT_EQ(item->name(), "Piano   ");
    EXPECT_EQ(readAll(m_path), toneFile("Piano"));
    EXPECT_EQ(kbxops::readDataFile(m_path)->name(), "Piano   ");
}

TEST_F(PropFormTest, okWithEmptyNameReturnsFalseAndLeavesFile) {
    const auto item = kbxops::readDataFile(m_path);
    m_form.SetDataName(QString::fromStdString(item->name()));
    whenModal<TZxDataPropertyForm>([this](TZxDataPropertyForm*) {
        nameEdit()->clear();
        control<QPushButton>(&m_form, "OkBtn")->click();
    });
    confirmInDialog(*item);

    EXPECT_EQ(m_form.result(), QDialog::Accepted); // OK closed it
    EXPECT_EQ(item->name(), "ABC     ");
    EXPECT_EQ(readAll(m_path), toneFile("ABC"));
}

TEST_F(PropFormTest, cancelReturnsFalse) {
    m_form.SetDataName(QStringLiteral("ABC"));
    whenModal<TZxDataPropertyForm>(
        [this](TZxDataPropertyForm*) { control<QPushButton>(&m_form, "CancelBtn")->click(); });
    EXPECT_FALSE(m_form.Execute());
}

TEST_F(PropFormTest, renameStoresOnlySingleByteCharacters) {
    const auto item = kbxops::readDataFile(m_path);
    EXPECT_EQ(kbxops::renameDataFile(m_path, *item, QString::fromUtf8("Pi~n\xC3\xB6Long")),
              kbxops::RenameResult::Renamed);
    EXPECT_EQ(item->name(), "Pi_n_Lon");
    EXPECT_EQ(readAll(m_path), toneFile("Pi_n_Lon"));
}

TEST_F(PropFormTest, renameToSameNameWritesNothing) {
    const auto item = kbxops::readDataFile(m_path);
    // Trailing bytes beyond the size field would be dropped by a rewrite.
    QByteArray withTail = toneFile("ABC") + QByteArray("tail");
    ASSERT_TRUE(writeAll(m_path, withTail));
    EXPECT_NE(kbxops::renameDataFile(m_path, *item, QStringLiteral("ABC")),
              kbxops::RenameResult::Renamed);
    EXPECT_EQ(readAll(m_path), withTail);
}

TEST_F(PropFormTest, renameFailureLeavesItemWithOldNameAndThrows) {
    const auto item = kbxops::readDataFile(m_path);
    const QString folder = m_root.filePath(QStringLiteral("folder.kbx"));
    ASSERT_TRUE(QDir(m_root.path()).mkdir(QStringLiteral("folder.kbx")));
    EXPECT_THROW(kbxops::renameDataFile(folder, *item, QStringLiteral("NEW")), std::runtime_error);
    EXPECT_EQ(item->name(), "ABC     ");
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(readAll(m_path), toneFile("ABC"));
}

#ifdef Q_OS_UNIX
// Lets no file of this process grow beyond a few bytes while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN); // a failed write instead of a killed test
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST_F(PropFormTest, renameFailingMidWriteKeepsOldFileWhole) {
    const auto item = kbxops::readDataFile(m_path);
    {
        const FileSizeLimit limit(20);
        EXPECT_THROW(kbxops::renameDataFile(m_path, *item, QStringLiteral("NEW")),
                     std::runtime_error);
    }
    EXPECT_EQ(readAll(m_path), toneFile("ABC"));
    EXPECT_EQ(item->name(), "ABC     ");
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(m_root.path()).entryList(QDir::Files), QStringList{"TON_ABC     .kbx"});
}
#endif

TEST_F(PropFormTest, readingFileThatIsNotDataFileThrowsStreamError) {
    const QString other = m_root.filePath(QStringLiteral("notes.kbx"));
    ASSERT_TRUE(writeAll(other, QByteArray("just some text, not a data file at all")));
    EXPECT_THROW(kbxops::readDataFile(other), KbxStreamException);
    EXPECT_THROW(kbxops::readDataFile(m_root.filePath(QStringLiteral("missing.kbx"))),
                 std::runtime_error);
}

TEST_F(PropFormTest, registrationIsRenamedInTheHeader) {
    ZxDataFile registration(ZxKind::Registration);
    registration.setSize(176);
    registration.payload().assign(88, 0);
    registration.setItemName("Preset01");
    const QString path = m_root.filePath(QStringLiteral("REG_Preset01.kbx"));
    KbxFileStream(path, KbxFileStream::Create).write(registration);

    const auto item = kbxops::readDataFile(path);
    ASSERT_EQ(item->name(), "Preset01");
    EXPECT_EQ(kbxops::renameDataFile(path, *item, QStringLiteral("Live")),
              kbxops::RenameResult::Renamed);
    const QByteArray bytes = readAll(path);
    EXPECT_EQ(bytes.mid(24, 8), QByteArray("iLev    "));
    EXPECT_EQ(bytes.size(), 64 + 176);
}

// ---- Drive property dialog ----

TEST(KbdDrivePropForm, toneFolderShowsCapacityUsedAndFreeSpace) {
    ZxDataDrive tone(ZxKind::Tone);
    tone.setName("Tone:");
    tone.setCapacity(600);
    tone.setFreeSpace(0);

    TKbdDrivePropertyForm form;
    form.SetDriveName(QString::fromStdString(tone.name()));
    form.SetUsedSpace(tone.usedSpace());
    form.SetFreeSpace(tone.freeSpace());
    form.SetCapacity(tone.capacity());

    EXPECT_EQ(form.windowTitle(), "Properties");
    EXPECT_EQ(control<QLabel>(&form, "DrvNameLbl")->text(), "Tone:");
    EXPECT_EQ(control<QLabel>(&form, "UsedLbl")->text(), "600byte(s)");
    EXPECT_EQ(control<QLabel>(&form, "FreeLbl")->text(), "0byte(s)");
    EXPECT_EQ(control<QLabel>(&form, "CapacityLbl")->text(), "600byte(s)");
    for (const char* name : {"UsedLbl", "FreeLbl", "CapacityLbl"})
        EXPECT_TRUE(control<QLabel>(&form, name)->alignment() & Qt::AlignRight) << name;

    whenModal<TKbdDrivePropertyForm>([](TKbdDrivePropertyForm* shown) {
        auto* close = control<QPushButton>(shown, "CloseBtn");
        EXPECT_EQ(close->text(), "&Close");
        close->click();
    });
    EXPECT_EQ(form.exec(), QDialog::Accepted);
}

} // namespace

int main(int argc, char** argv) {
    // Widgets without a display, and the test runner's device list without the machine's MIDI.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KBX_TEST"))
        qputenv("KBX_TEST", "1");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

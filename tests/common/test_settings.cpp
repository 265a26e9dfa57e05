// The settings store: first start, the values that must be there, the one that may be missing,
// and a save that survives keys removed while the program ran. Every store is a file in a
// temporary folder.
#include "settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    QString storeFile() const { return m_folder.filePath(QStringLiteral("KbxMan.ini")); }
    KbxSettings store() const { return KbxSettings(QSettings::IniFormat, storeFile()); }
    // Direct access to the same file, as another program (or the user) would change it.
    std::unique_ptr<QSettings> raw() const {
        return std::make_unique<QSettings>(storeFile(), QSettings::IniFormat);
    }

    QTemporaryDir m_folder;
    std::int32_t m_in = 77;
    std::int32_t m_out = 88;
    QString m_dir = QStringLiteral("unchanged");
};

TEST_F(SettingsTest, firstStartGivesDefaultsAndSaveCreatesBothGroups) {
    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::FirstStart);
    EXPECT_EQ(m_in, 0);
    EXPECT_EQ(m_out, 0);
    EXPECT_EQ(m_dir, QDir::toNativeSeparators(QDir::currentPath()));

    store().save(2, 1, QStringLiteral("/music/"));

    const auto settings = raw();
    EXPECT_EQ(settings->childGroups(), (QStringList{"Directory", "MIDI"}));
    EXPECT_EQ(settings->value("MIDI/InputDevice").toString(), "2");
    EXPECT_EQ(settings->value("MIDI/OutputDevice").toString(), "1");
    EXPECT_EQ(settings->value("Directory/Default").toString(), "/music/");
}

TEST_F(SettingsTest, loadsWhatWasSaved) {
    store().save(3, 4, QStringLiteral("D:\\Music\\"));
    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_in, 3);
    EXPECT_EQ(m_out, 4);
    EXPECT_EQ(m_dir, "D:\\Music\\");
}

TEST_F(SettingsTest, missingMidiGroupIsAnErrorAndChangesNothing) {
    raw()->setValue("Directory/Default", "/music/");
    EXPECT_THROW(store().load(m_in, m_out, m_dir), std::runtime_error);
    EXPECT_EQ(m_in, 77);
    EXPECT_EQ(m_out, 88);
    EXPECT_EQ(m_dir, "unchanged");
}

TEST_F(SettingsTest, nonIntegerDeviceIsAnErrorAfterTheValuesBeforeIt) {
    {
        const auto settings = raw();
        settings->setValue("MIDI/InputDevice", 5);
        settings->setValue("MIDI/OutputDevice", "second");
        settings->setValue("Directory/Default", "/music/");
    }
    EXPECT_THROW(store().load(m_in, m_out, m_dir), std::runtime_error);
    EXPECT_EQ(m_in, 5);
    EXPECT_EQ(m_out, 88);
    EXPECT_EQ(m_dir, "unchanged");
}

TEST_F(SettingsTest, missingDeviceValueIsAnError) {
    raw()->setValue("MIDI/OutputDevice", 1);
    EXPECT_THROW(store().load(m_in, m_out, m_dir), std::runtime_error);
    EXPECT_EQ(m_in, 77);
}

TEST_F(SettingsTest, deviceNumberBeyondThirtyTwoBitsIsAnError) {
    raw()->setValue("MIDI/InputDevice", "4294967296");
    raw()->setValue("MIDI/OutputDevice", 0);
    EXPECT_THROW(store().load(m_in, m_out, m_dir), std::runtime_error);
}

TEST_F(SettingsTest, missingDefaultGivesEmptyTextWithoutError) {
    raw()->setValue("MIDI/InputDevice", 0);
    raw()->setValue("MIDI/OutputDevice", 1);
    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_out, 1);
    EXPECT_EQ(m_dir, "");
}

TEST_F(SettingsTest, defaultThatIsNotTextIsAnError) {
    raw()->setValue("MIDI/InputDevice", 0);
    raw()->setValue("MIDI/OutputDevice", 0);
    raw()->setValue("Directory/Default", QStringList{"a", "b"});
    EXPECT_THROW(store().load(m_in, m_out, m_dir), std::runtime_error);
    EXPECT_EQ(m_in, 0);
    EXPECT_EQ(m_dir, "unchanged");
}

TEST_F(SettingsTest, saveRecreatesGroupRemovedWhileRunning) {
    store().save(1, 1, QStringLiteral("/a/"));
    ASSERT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    raw()->remove("MIDI");
    ASSERT_FALSE(raw()->childGroups().contains("MIDI"));

    store().save(2, 0, QStringLiteral("/b/"));

    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_in, 2);
    EXPECT_EQ(m_out, 0);
    EXPECT_EQ(m_dir, "/b/");
}

TEST_F(SettingsTest, saveRecreatesStoreDeletedWhileRunning) {
    store().save(1, 1, QStringLiteral("/a/"));
    ASSERT_TRUE(QFile::remove(storeFile()));

    store().save(1, 2, QStringLiteral("/c/"));

    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_out, 2);
    EXPECT_EQ(m_dir, "/c/");
}

TEST_F(SettingsTest, saveThatCannotWriteThrows) {
    // A folder where the file should be: no user, root included, can write it.
    ASSERT_TRUE(QDir(m_folder.path()).mkdir(QStringLiteral("KbxMan.ini")));
    EXPECT_THROW(store().save(0, 0, QStringLiteral("/a/")), std::runtime_error);
}

TEST_F(SettingsTest, defaultStoreUnderTestRunnerIsNeverTheUsersOwn) {
    const QSettings user(QSettings::NativeFormat, QSettings::UserScope, "Tovanel", "KbxMan");
    EXPECT_NE(KbxSettings().location(), user.fileName());

    KbxSettings::setDefaultStore(QSettings::IniFormat, storeFile());
    KbxSettings().save(4, 5, QStringLiteral("/d/"));
    KbxSettings::setDefaultStore(QSettings::IniFormat, QString());

    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_in, 4);
    EXPECT_NE(KbxSettings().location(), storeFile());
}

// ---- device names beside the numbers ----

TEST_F(SettingsTest, deviceNamesRoundTripBesideTheNumbers) {
    store().save(KbxSettings::Values{2, 1, QStringLiteral("USB MIDI:USB MIDI MIDI 1 24:0"),
                                     QStringLiteral("Virtual ZR-7316"), QStringLiteral("/m/")});
    EXPECT_EQ(raw()->value("MIDI/InputDevice").toString(), "2");
    EXPECT_EQ(raw()->value("MIDI/InputDeviceName").toString(), "USB MIDI:USB MIDI MIDI 1 24:0");

    KbxSettings::Values values;
    ASSERT_EQ(store().load(values), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(values.inputDevice, 2);
    EXPECT_EQ(values.outputDevice, 1);
    EXPECT_EQ(values.inputDeviceName, "USB MIDI:USB MIDI MIDI 1 24:0");
    EXPECT_EQ(values.outputDeviceName, "Virtual ZR-7316");
    EXPECT_EQ(values.defaultDir, "/m/");
}

TEST_F(SettingsTest, olderSettingsWithoutNamesLoadWithEmptyNames) {
    raw()->setValue("MIDI/InputDevice", 3);
    raw()->setValue("MIDI/OutputDevice", 4);
    raw()->setValue("Directory/Default", "/old/");
    KbxSettings::Values values;
    values.inputDeviceName = QStringLiteral("stale");
    ASSERT_EQ(store().load(values), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(values.inputDevice, 3);
    EXPECT_EQ(values.outputDevice, 4);
    EXPECT_TRUE(values.inputDeviceName.isEmpty());
    EXPECT_TRUE(values.outputDeviceName.isEmpty());
    EXPECT_EQ(values.defaultDir, "/old/");
}

TEST_F(SettingsTest, nameThatIsNotTextIsAnErrorAfterTheNumbers) {
    raw()->setValue("MIDI/InputDevice", 1);
    raw()->setValue("MIDI/OutputDevice", 2);
    raw()->setValue("MIDI/OutputDeviceName", QStringList{"a", "b"});
    KbxSettings::Values values;
    values.defaultDir = QStringLiteral("unchanged");
    EXPECT_THROW(store().load(values), std::runtime_error);
    EXPECT_EQ(values.inputDevice, 1);
    EXPECT_EQ(values.outputDevice, 2);
    EXPECT_EQ(values.defaultDir, "unchanged");
}

TEST_F(SettingsTest, numbersSavedWithoutNamesDropTheStoredNames) {
    // A number chosen by something that knows no names must not be resolved by the old name.
    store().save(KbxSettings::Values{0, 0, QStringLiteral("A"), QStringLiteral("B"), "/x/"});
    store().save(1, 1, QStringLiteral("/x/"));
    EXPECT_FALSE(raw()->contains("MIDI/InputDeviceName"));
    EXPECT_FALSE(raw()->contains("MIDI/OutputDeviceName"));
    // An empty name is removed too, not stored as an empty text.
    store().save(KbxSettings::Values{0, 0, QStringLiteral("A"), QString(), "/x/"});
    EXPECT_TRUE(raw()->contains("MIDI/InputDeviceName"));
    EXPECT_FALSE(raw()->contains("MIDI/OutputDeviceName"));
}

TEST_F(SettingsTest, savingTheDevicesLeavesTheDirectoryAlone) {
    store().save(0, 0, QStringLiteral("/kept/"));
    store().saveDevices(KbxSettings::Values{5, 6, QStringLiteral("In"), QStringLiteral("Out"),
                                            QStringLiteral("/ignored/")});
    KbxSettings::Values values;
    ASSERT_EQ(store().load(values), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(values.inputDevice, 5);
    EXPECT_EQ(values.outputDeviceName, "Out");
    EXPECT_EQ(values.defaultDir, "/kept/");

    // On an empty store only the MIDI group appears: the window still starts with a directory
    // of its own choosing (an empty one, as for a missing value).
    QFile::remove(storeFile());
    store().saveDevices(KbxSettings::Values{1, 1, QStringLiteral("In"), QStringLiteral("Out"), {}});
    EXPECT_EQ(raw()->childGroups(), QStringList{"MIDI"});
}

} // namespace

TEST_F(SettingsTest, safetyPreferencesDefaultToKeepingAndToVerifyingRestoresOnly) {
    const KbxSettings::Safety defaults = store().loadSafety();
    EXPECT_TRUE(defaults.keepHistory);
    EXPECT_FALSE(defaults.verifySend);
    EXPECT_TRUE(defaults.verifyRestore);

    store().saveSafety({false, true, false});
    EXPECT_EQ(store().loadSafety(), (KbxSettings::Safety{false, true, false}));
    EXPECT_EQ(raw()->value("Safety/KeepHistory").toString(), "false");
    // Our own group: the described values and their first-start rule are not touched by it.
    EXPECT_EQ(store().load(m_in, m_out, m_dir), KbxSettings::LoadResult::FirstStart);
}

TEST_F(SettingsTest, aDamagedSafetyValueNeverSwitchesTheSafetyNetOff) {
    raw()->setValue("Safety/KeepHistory", "perhaps");
    raw()->setValue("Safety/VerifySend", 7);
    raw()->setValue("Safety/VerifyRestoreUndo", "0");
    const KbxSettings::Safety safety = store().loadSafety();
    EXPECT_TRUE(safety.keepHistory);
    EXPECT_FALSE(safety.verifySend);
    EXPECT_FALSE(safety.verifyRestore); // "0" is a plain no
}

// The user's own settings store, as kbxman opens it outside the test runner: only the program's
// own file counts (no organisation-wide or system-wide fallbacks), and a platform's access to the
// directory value replaces QSettings for that value alone. The store lives in a temporary
// XDG_CONFIG_HOME; the process refuses to run if QSettings would reach the real one.
#include "settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

QTemporaryDir* g_home = nullptr;

QString userFile() {
    return g_home->filePath(QStringLiteral("config/Tovanel/KbxMan.conf"));
}

void writeIni(const QString& path, int in, int out, const QString& dir) {
    QSettings ini(path, QSettings::IniFormat);
    ini.setValue(QStringLiteral("MIDI/InputDevice"), in);
    ini.setValue(QStringLiteral("MIDI/OutputDevice"), out);
    ini.setValue(QStringLiteral("Directory/Default"), dir);
}

// A stand-in for the registry access: records what was written, answers what it is told.
struct FakeDirectory {
    static inline KbxSettings::ValueRead answer;
    static inline QString written;
    static inline int writes = 0;
    static inline QString writeError;
    static KbxSettings::ValueRead read() { return answer; }
    static QString write(const QString& dir) {
        written = dir;
        ++writes;
        return writeError;
    }
};
const KbxSettings::DirectoryValueAccess kFake{&FakeDirectory::read, &FakeDirectory::write};

class UserStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir(g_home->filePath(QStringLiteral("config"))).removeRecursively();
        QDir(g_home->filePath(QStringLiteral("xdg"))).removeRecursively();
        FakeDirectory::answer = {};
        FakeDirectory::written.clear();
        FakeDirectory::writes = 0;
        FakeDirectory::writeError.clear();
    }
    void TearDown() override { KbxSettings::setUserDirectoryAccess(nullptr); }

    std::int32_t m_in = 77;
    std::int32_t m_out = 88;
    QString m_dir = QStringLiteral("unchanged");
};

TEST_F(UserStoreTest, organisationAndSystemFilesDoNotCountAsTheProgramsSettings) {
    writeIni(g_home->filePath(QStringLiteral("config/Tovanel.conf")), 3, 4, "/org/");
    writeIni(g_home->filePath(QStringLiteral("xdg/Tovanel/KbxMan.conf")), 5, 6, "/system/");

    EXPECT_EQ(KbxSettings().load(m_in, m_out, m_dir), KbxSettings::LoadResult::FirstStart);
    EXPECT_EQ(m_in, 0);
    EXPECT_EQ(m_out, 0);

    KbxSettings().save(1, 2, QStringLiteral("/mine/"));
    EXPECT_EQ(KbxSettings().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_in, 1);
    EXPECT_EQ(m_out, 2);
    EXPECT_EQ(m_dir, QStringLiteral("/mine/"));
    EXPECT_TRUE(QFile::exists(userFile()));
}

TEST_F(UserStoreTest, aMissingGroupIsNotFilledFromTheOrganisationFile) {
    writeIni(g_home->filePath(QStringLiteral("config/Tovanel.conf")), 3, 4, "/org/");
    QSettings(userFile(), QSettings::IniFormat)
        .setValue(QStringLiteral("Directory/Default"), "/d/");

    EXPECT_THROW(KbxSettings().load(m_in, m_out, m_dir), std::runtime_error);
}

TEST_F(UserStoreTest, directoryValueGoesThroughThePlatformAccessAndOnlyThere) {
    KbxSettings::setUserDirectoryAccess(&kFake);
    KbxSettings().save(1, 2, QStringLiteral("/music/"));
    EXPECT_EQ(FakeDirectory::written, QStringLiteral("/music/"));
    const QSettings file(userFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value(QStringLiteral("MIDI/OutputDevice")).toInt(), 2);
    EXPECT_FALSE(file.contains(QStringLiteral("Directory/Default")));

    FakeDirectory::answer.value = QStringLiteral("/from/registry/");
    EXPECT_EQ(KbxSettings().load(m_in, m_out, m_dir), KbxSettings::LoadResult::Loaded);
    EXPECT_EQ(m_dir, QStringLiteral("/from/registry/"));

    FakeDirectory::answer.value = QVariant();
    KbxSettings().load(m_in, m_out, m_dir);
    EXPECT_EQ(m_dir, QString()); // a missing value is the empty text

    FakeDirectory::answer.value = QVariant(4);
    EXPECT_THROW(KbxSettings().load(m_in, m_out, m_dir), std::runtime_error); // not text

    FakeDirectory::answer = {QVariant(), QStringLiteral("Access is denied.")};
    EXPECT_THROW(KbxSettings().load(m_in, m_out, m_dir), std::runtime_error);
}

TEST_F(UserStoreTest, aFailedDirectoryWriteIsReportedAfterTheDevicesAreSaved) {
    KbxSettings::setUserDirectoryAccess(&kFake);
    FakeDirectory::writeError = QStringLiteral("Access is denied.");
    EXPECT_THROW(KbxSettings().save(6, 7, QStringLiteral("/music/")), std::runtime_error);
    EXPECT_EQ(QSettings(userFile(), QSettings::IniFormat).value("MIDI/InputDevice").toInt(), 6);
}

TEST_F(UserStoreTest, redirectedStoresNeverUseThePlatformAccess) {
    KbxSettings::setUserDirectoryAccess(&kFake);
    const QString other = g_home->filePath(QStringLiteral("other.ini"));
    KbxSettings(QSettings::IniFormat, other).save(1, 2, QStringLiteral("/d/"));
    EXPECT_EQ(FakeDirectory::writes, 0);
    EXPECT_EQ(QSettings(other, QSettings::IniFormat).value("Directory/Default").toString(), "/d/");
}

} // namespace

int main(int argc, char** argv) {
    // Before the first QSettings: Qt reads these once.
    QTemporaryDir home;
    g_home = &home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", home.filePath(QStringLiteral("xdg")).toLocal8Bit());
    qunsetenv("KBX_TEST"); // the user's store, not the test runner's temporary one
    QCoreApplication app(argc, argv);
    const QString reached =
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tovanel", "KbxMan").fileName();
    if (!home.isValid() || reached != userFile()) {
        std::fprintf(stderr, "refusing to run: the user store would be %s\n", qPrintable(reached));
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

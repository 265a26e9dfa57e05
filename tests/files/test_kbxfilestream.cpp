// The file stream on real files in a temporary folder: open modes, the signature check, position
// and size, atomic replacement, and failures of the file system reported with the file's name.
#include "kbxfilestream.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using kbxtest::hex;

namespace {

std::string zeros(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += "00 ";
    return s;
}

const std::string kSig = "56 45 4C 4D 4F 20 4D 75 73 69 63 20 4C 69 62 00 ";

// A 124-byte tone file named ABC.
std::vector<std::uint8_t> toneFile() {
    return hex(kSig + "00 00 00 3C 11 01 00 02" + zeros(40) + zeros(36) +
               "41 42 43 20 20 20 20 20" + zeros(16));
}

std::vector<std::uint8_t> contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    return {all.begin(), all.end()};
}

void put(const QString& path, const std::vector<std::uint8_t>& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())),
        static_cast<qint64>(bytes.size()));
}

// A registration item of 176 bytes with the given name.
void fillRegistration(ZxDataFile& item, const char* name) {
    item.setKind(ZxKind::Registration);
    item.payload().assign(88, 0x4D4D);
    item.setSize(176);
    item.setItemName(name);
}

// Runs the body and returns the text of the std::runtime_error it throws (fails if none).
template <typename F>
std::string runtimeErrorOf(F body) {
    try {
        body();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no std::runtime_error";
    return {};
}

template <typename F>
int streamCodeOf(F body) {
    try {
        body();
    } catch (const KbxStreamException& e) {
        return e.code();
    }
    ADD_FAILURE() << "no KbxStreamException";
    return -1;
}

class KbxFileStreamTest : public ::testing::Test {
protected:
    QString path(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }
    QStringList entries() const {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(KbxFileStreamTest, readsADataFileIntoAnItem) {
    put(path("TON_ABC.kbx"), toneFile());
    KbxFileStream stream(path("TON_ABC.kbx"), KbxFileStream::Read);
    EXPECT_EQ(stream.size(), 60u);
    EXPECT_EQ(stream.position(), 0u); // set back after the signature check
    ZxDataFile item(ZxKind::Undetermined);
    stream.read(item);
    EXPECT_EQ(stream.position(), 124u);
    EXPECT_EQ(item.kind(), 2);
    EXPECT_EQ(item.size(), 60u);
    EXPECT_EQ(item.name(), "ABC     ");
    ASSERT_EQ(item.payload().size(), 30u);
    EXPECT_EQ(item.payload()[18], 0x4142);
}

TEST_F(KbxFileStreamTest, refusesAFileThatIsNotADataFileInBothReadingModes) {
    put(path("notes.kbx"), hex("56 45 4C 4D 4F 20 4D 75 73 69 63 20 4C 69 62 20" + zeros(60)));
    EXPECT_EQ(streamCodeOf([&] { KbxFileStream(path("notes.kbx"), KbxFileStream::Read); }), 0);
    EXPECT_EQ(streamCodeOf([&] { KbxFileStream(path("notes.kbx"), KbxFileStream::ReadWrite); }), 0);
}

TEST_F(KbxFileStreamTest, refusesShortFilesAndSizeFieldsBeyondTheEnd) {
    put(path("short.kbx"), hex(kSig + zeros(47)));
    auto truncated = toneFile();
    truncated.pop_back();
    put(path("truncated.kbx"), truncated);
    put(path("empty.kbx"), {});
    for (const char* name : {"short.kbx", "truncated.kbx", "empty.kbx"})
        EXPECT_EQ(streamCodeOf([&] { KbxFileStream(path(name), KbxFileStream::Read); }), 0) << name;
}

TEST_F(KbxFileStreamTest, createModeMakesNoCheckAndReplacesTheFile) {
    put(path("old.kbx"), hex("4E 4F 54 20 41 20 44 41 54 41 20 46 49 4C 45"));
    ZxDataFile item(ZxKind::Undetermined);
    fillRegistration(item, "Preset01");
    {
        KbxFileStream stream(path("old.kbx"), KbxFileStream::Create);
        EXPECT_EQ(stream.size(), 0u);
        stream.write(item);
        EXPECT_EQ(stream.position(), 240u);
        EXPECT_EQ(stream.size(), 176u);
    }
    const auto bytes = contents(path("old.kbx"));
    ASSERT_EQ(bytes.size(), 240u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 32),
              hex(kSig + "00 00 00 B0 00 00 00 0C 72 50 73 65 74 65 31 30"));
    EXPECT_EQ(entries(), QStringList{"old.kbx"});
}

TEST_F(KbxFileStreamTest, oldFileStaysUntilTheNewOneIsComplete) {
    put(path("REG_Preset01.kbx"), toneFile());
    ZxDataFile item(ZxKind::Undetermined);
    fillRegistration(item, "Preset01");
    {
        KbxFileStream stream(path("REG_Preset01.kbx"), KbxFileStream::Create);
        EXPECT_EQ(contents(path("REG_Preset01.kbx")), toneFile());
    }
    // Destroyed without a write: the old file is untouched and nothing is left beside it.
    EXPECT_EQ(contents(path("REG_Preset01.kbx")), toneFile());
    EXPECT_EQ(entries(), QStringList{"REG_Preset01.kbx"});
}

#ifdef Q_OS_UNIX
TEST_F(KbxFileStreamTest, failedWriteLeavesTheOldFileWhole) {
    // The file-size limit makes the system refuse the new file's bytes part way, as a full disk
    // would; it holds even for root.
    put(path("REG_Keep.kbx"), toneFile());
    ZxDataFile item(ZxKind::Undetermined);
    fillRegistration(item, "Preset01");

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string what;
    {
        KbxFileStream stream(path("REG_Keep.kbx"), KbxFileStream::Create);
        what = runtimeErrorOf([&] { stream.write(item); });
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_NE(what.find("REG_Keep.kbx"), std::string::npos) << what;
    EXPECT_EQ(contents(path("REG_Keep.kbx")), toneFile());
    EXPECT_EQ(entries(), QStringList{"REG_Keep.kbx"});
}
#endif

TEST_F(KbxFileStreamTest, failedCommitThrowsNamingTheFile) {
    // The target turns into a folder while the stream is open, so the final rename must fail.
    ZxDataFile item(ZxKind::Undetermined);
    fillRegistration(item, "Preset01");
    KbxFileStream stream(path("target.kbx"), KbxFileStream::Create);
    ASSERT_TRUE(QDir(m_dir.path()).mkpath("target.kbx/inside"));
    const std::string what = runtimeErrorOf([&] { stream.write(item); });
    EXPECT_NE(what.find("target.kbx"), std::string::npos) << what;
    EXPECT_TRUE(QFileInfo(path("target.kbx")).isDir());
}

TEST_F(KbxFileStreamTest, missingFileThrowsNamingTheFileAndTheReason) {
    const QString missing = path("no such file.kbx");
    const std::string what = runtimeErrorOf([&] { KbxFileStream(missing, KbxFileStream::Read); });
    EXPECT_NE(what.find(QDir::toNativeSeparators(missing).toStdString()), std::string::npos)
        << what;
#ifdef Q_OS_LINUX
    EXPECT_NE(what.find("No such file or directory"), std::string::npos) << what;
#endif
}

TEST_F(KbxFileStreamTest, readWriteModeDoesNotCreateAMissingFile) {
    const std::string what =
        runtimeErrorOf([&] { KbxFileStream(path("absent.kbx"), KbxFileStream::ReadWrite); });
    EXPECT_NE(what.find("absent.kbx"), std::string::npos) << what;
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(KbxFileStreamTest, creatingInAMissingFolderThrowsNamingTheFile) {
    const QString target = path("missing-folder/TON_ABC.kbx");
    const std::string what = runtimeErrorOf([&] { KbxFileStream(target, KbxFileStream::Create); });
    EXPECT_NE(what.find(QDir::toNativeSeparators(target).toStdString()), std::string::npos) << what;
}

TEST_F(KbxFileStreamTest, aFolderIsNotADataFile) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.kbx"));
    EXPECT_THROW(KbxFileStream(path("folder.kbx"), KbxFileStream::Read), std::runtime_error);
}

TEST_F(KbxFileStreamTest, readWriteModeRewritesTheFileInPlace) {
    auto longer = toneFile();
    longer.insert(longer.end(), {0xEE, 0xEE, 0xEE, 0xEE});
    put(path("TON_ABC.kbx"), longer);
    ZxDataFile item(ZxKind::Undetermined);
    KbxFileStream stream(path("TON_ABC.kbx"), KbxFileStream::ReadWrite);
    EXPECT_EQ(stream.size(), 64u);
    stream.read(item);
    item.setItemName("XYZ");
    stream.write(item);
    EXPECT_EQ(stream.position(), 124u);
    auto expected = toneFile();
    expected[100] = 'X';
    expected[101] = 'Y';
    expected[102] = 'Z';
    EXPECT_EQ(contents(path("TON_ABC.kbx")), expected); // the four extra bytes are gone
}

TEST_F(KbxFileStreamTest, readModeRefusesToWriteAndCreateModeToRead) {
    put(path("TON_ABC.kbx"), toneFile());
    ZxDataFile item(ZxKind::Undetermined);
    {
        KbxFileStream reader(path("TON_ABC.kbx"), KbxFileStream::Read);
        reader.read(item);
        EXPECT_THROW(reader.write(item), std::runtime_error);
    }
    EXPECT_EQ(contents(path("TON_ABC.kbx")), toneFile());
    KbxFileStream writer(path("other.kbx"), KbxFileStream::Create);
    EXPECT_THROW(writer.read(item), std::runtime_error);
    EXPECT_THROW(KbxFileStream(path("TON_ABC.kbx"), 1), std::invalid_argument);
}

TEST_F(KbxFileStreamTest, renameThroughTwoStreamsChangesOnlyTheName) {
    put(path("TON_ABC.kbx"), toneFile());
    ZxDataFile item(ZxKind::Undetermined);
    {
        KbxFileStream reader(path("TON_ABC.kbx"), KbxFileStream::Read);
        item.setSize(reader.size());
        reader.read(item);
    }
    item.setItemName("Piano 2");
    {
        KbxFileStream writer(path("TON_ABC.kbx"), KbxFileStream::Create);
        writer.write(item);
    }
    auto expected = toneFile();
    const std::vector<std::uint8_t> name = hex("50 69 61 6E 6F 20 32 20");
    std::copy(name.begin(), name.end(), expected.begin() + 100);
    EXPECT_EQ(contents(path("TON_ABC.kbx")), expected);
}

TEST_F(KbxFileStreamTest, corpusFilesOpenOrAreRefusedAsTheirFolderSays) {
    const QDir corpus(QStringLiteral(KBX_CORPUS_DIR));
    for (const QString& name : QDir(corpus.filePath("valid")).entryList({"*.kbx"}, QDir::Files)) {
        ZxDataFile item(ZxKind::Undetermined);
        KbxFileStream stream(corpus.filePath("valid/" + name), KbxFileStream::Read);
        EXPECT_NO_THROW(stream.read(item)) << name.toStdString();
    }
    for (const QString& name : QDir(corpus.filePath("invalid")).entryList({"*.kbx"}, QDir::Files)) {
        EXPECT_EQ(streamCodeOf([&] {
                      KbxFileStream(corpus.filePath("invalid/" + name), KbxFileStream::Read);
                  }),
                  0)
            << name.toStdString();
    }
}

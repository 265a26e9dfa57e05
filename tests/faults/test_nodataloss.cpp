// No data loss: an import or a rename that fails leaves the local files exactly as they were, and
// names that come from the keyboard never put a file anywhere but in the chosen folder.
#include "faultkit.h"
#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "kbxnames.h"
#include "mididevices.h"
#include "msgstr.h"
#include "virtualzr7316.h"
#include "zxkbd.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace faultkit;

namespace {

struct BlockCounter : KbxStreamObserver {
    int blocks = 0;
    void update(KbxStream&) override { ++blocks; }
};

#ifdef Q_OS_LINUX
// Files of this process cannot grow beyond `bytes` while it lives, as on a full disk: writes past
// it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};
#endif

} // namespace

class NoDataLoss : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_kb->factoryReset();
        m_kb->setFaults({});
        m_kb->setStrict(false);
        m_in = registry.virtualInputNumber();
        m_out = registry.virtualOutputNumber();
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance(ZxKbdDrv::kKnownModel);
        ASSERT_TRUE(m_dir.isValid());
        // Deep enough that a name climbing out of the folder still lands inside the snapshot.
        m_folder = m_dir.filePath(QStringLiteral("a/b/chosen"));
        ASSERT_TRUE(QDir().mkpath(m_folder));
        QFile beside(m_dir.filePath(QStringLiteral("a/beside.txt")));
        ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
        beside.write("not to be touched");
    }

    void TearDown() override {
        m_stream.reset();
        m_kb->setFaults({});
        ZxKbdDrv::destroyInstance();
    }

    void setFaults(const std::function<void(VirtualZr7316::Faults&)>& change) {
        VirtualZr7316::Faults faults;
        change(faults);
        m_kb->setFaults(faults);
    }

    QString inFolder(const QString& name) const { return QDir(m_folder).filePath(name); }

    std::string importError(ZxData& slot, KbxStreamObserver* observer = nullptr) {
        try {
            ZxDataFile item(ZxKind::Undetermined);
            m_stream = std::make_unique<KbxMidiStream>(slot, m_in, m_out);
            if (observer)
                m_stream->attach(observer);
            item.setSize(m_stream->size());
            m_stream->read(item);
            writeFile(inFolder(kbxnames::importFileName(item.kind(), item.name())), item);
        } catch (...) {
            return describeException(m_messages, std::current_exception()).message;
        }
        return {};
    }

    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    int m_in = 0;
    int m_out = 0;
    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<KbxMidiStream> m_stream;
    MsgStr m_messages{1033};
};

// An earlier import of the same song is in the folder; the new import breaks off after some of
// its six blocks in each way the keyboard can break it off.
TEST_F(NoDataLoss, importFailingAfterSomeBlocksLeavesTheFolderAsItWas) {
    const Bytes song = namedItem(700, ZxKind::Song, "LONGSONG");
    m_kb->setItemBytes(ZxKind::Song, 0, 0, song);
    m_drive->readList(m_in, m_out);
    auto earlier = makeItem(ZxKind::Song, namedItem(500, ZxKind::Song, "LONGSONG", 5));
    writeFile(inFolder(QStringLiteral("SNG_LONGSONG.kbx")), *earlier);
    auto other = makeItem(ZxKind::Tone, namedItem(60, ZxKind::Tone, "OTHER"));
    writeFile(inFolder(QStringLiteral("TON_OTHER   .kbx")), *other);

    struct Case {
        const char* what;
        std::function<void(VirtualZr7316::Faults&)> faults;
        int blocksBefore;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"silent after block 3", [](auto& f) { f.silentFrom = 4; }, 4, "MIDI Timeout"},
        {"silent before the end", [](auto& f) { f.silentFrom = 6; }, 6, "MIDI Timeout"},
        {"bad checksum in block 4", [](auto& f) { f.badChecksumBlock = 4; }, 4, "invaild checksum"},
        {"handshake 2 in place of block 5",
         [](auto& f) {
             f.handshakeAtBlock = 5;
             f.handshakeStatus = 2;
         },
         5, "rejected by keyboard"},
        {"handshake 3 in place of block 2",
         [](auto& f) {
             f.handshakeAtBlock = 2;
             f.handshakeStatus = 3;
         },
         2, "communication error occured"},
        {"data request in reply to block 3", [](auto& f) { f.unexpectedAt = 4; }, 4,
         "invalid System Exclusive message "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FolderSnapshot before = snapshotFolder(m_dir.path());
        setFaults(c.faults);
        BlockCounter counter;

        EXPECT_EQ(importError(slotOf(*m_drive, ZxKind::Song, 0), &counter), c.text);

        EXPECT_EQ(counter.blocks, c.blocksBefore);
        EXPECT_FALSE(m_stream->portsOpen());
        const FolderSnapshot after = snapshotFolder(m_dir.path());
        EXPECT_TRUE(after == before) << describeDifference(before, after);
        m_kb->setFaults({});
        m_drive->readList(m_in, m_out);
    }

    // The same import without a fault replaces the earlier file.
    EXPECT_EQ(importError(slotOf(*m_drive, ZxKind::Song, 0)), "");
    ZxDataFile imported(ZxKind::Undetermined);
    KbxFileStream(inFolder(QStringLiteral("SNG_LONGSONG.kbx")), KbxFileStream::Read).read(imported);
    EXPECT_EQ(imported.payload(), makeItem(ZxKind::Song, song)->payload());
}

// A keyboard that ends the transfer (handshake 0) before it has sent every block of the size it
// announced has not delivered the item: the import fails instead of writing a file that is
// partly zeros over the earlier one.
TEST_F(NoDataLoss, importEndedEarlyByTheKeyboardWritesNoFile) {
    m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(700, ZxKind::Song, "LONGSONG"));
    m_drive->readList(m_in, m_out);
    auto earlier = makeItem(ZxKind::Song, namedItem(500, ZxKind::Song, "LONGSONG", 5));
    writeFile(inFolder(QStringLiteral("SNG_LONGSONG.kbx")), *earlier);
    const FolderSnapshot before = snapshotFolder(m_dir.path());
    setFaults([](auto& f) {
        f.handshakeAtBlock = 3;
        f.handshakeStatus = 0;
    });

    const std::string error = importError(slotOf(*m_drive, ZxKind::Song, 0));

    EXPECT_EQ(error, "communication error occured");
    EXPECT_FALSE(m_stream->portsOpen());
    const FolderSnapshot after = snapshotFolder(m_dir.path());
    EXPECT_TRUE(after == before) << describeDifference(before, after);
}

#ifdef Q_OS_LINUX
// The disk fills while the imported item is written: the earlier file of that name stays whole
// and no temporary file is left beside it.
TEST_F(NoDataLoss, importWhoseFileWriteFailsLeavesTheEarlierFile) {
    m_kb->setItemBytes(ZxKind::Song, 0, 0, namedItem(2000, ZxKind::Song, "BIGSONG"));
    m_drive->readList(m_in, m_out);
    auto earlier = makeItem(ZxKind::Song, namedItem(1500, ZxKind::Song, "BIGSONG", 5));
    writeFile(inFolder(QStringLiteral("SNG_BIGSONG .kbx")), *earlier);
    const FolderSnapshot before = snapshotFolder(m_dir.path());

    std::string error;
    {
        FileSizeLimit limit(1024);
        ASSERT_TRUE(limit.ok());
        error = importError(slotOf(*m_drive, ZxKind::Song, 0));
    }

    EXPECT_NE(error.find("Cannot write file"), std::string::npos) << error;
    EXPECT_NE(error.find("SNG_BIGSONG .kbx"), std::string::npos) << error;
    EXPECT_FALSE(m_stream->portsOpen());
    const FolderSnapshot after = snapshotFolder(m_dir.path());
    EXPECT_TRUE(after == before) << describeDifference(before, after);
}

// A new name is written into the file (the property dialog's rename) and the write fails: the
// file keeps its old name and contents.
TEST_F(NoDataLoss, renameWhoseWriteFailsLeavesTheFileAsItWas) {
    const QString path = inFolder(QStringLiteral("SNG_OLDNAME .kbx"));
    auto song = makeItem(ZxKind::Song, namedItem(3000, ZxKind::Song, "OLDNAME"));
    writeFile(path, *song);
    const FolderSnapshot before = snapshotFolder(m_dir.path());

    ZxDataFile item(ZxKind::Undetermined);
    {
        KbxFileStream file(path, KbxFileStream::Read);
        item.setSize(file.size());
        file.read(item);
    }
    item.setItemName("NEWNAME");
    {
        FileSizeLimit limit(2048);
        ASSERT_TRUE(limit.ok());
        EXPECT_THROW(writeFile(path, item), std::runtime_error);
    }

    const FolderSnapshot after = snapshotFolder(m_dir.path());
    EXPECT_TRUE(after == before) << describeDifference(before, after);
    ZxDataFile reread(ZxKind::Undetermined);
    KbxFileStream(path, KbxFileStream::Read).read(reread);
    EXPECT_EQ(reread.name(), "OLDNAME ");
}
#endif

// Names the keyboard may hold, however odd, become a file directly in the chosen folder: the
// folder's parents gain nothing, and the file name is the import name of the bytes.
TEST_F(NoDataLoss, keyboardNamesNeverLeaveTheChosenFolder) {
    const std::vector<std::string> names = {
        std::string("../../x "),
        std::string("..\\..\\x "),
        std::string("/../../x"),
        std::string("/tmp/evl"),
        std::string("C:\\Win\\x"),
        std::string("..\0/abcd", 8),
        std::string("\x01\x1b[2J\n\t\x7f", 8),
        std::string("\x80\x81\xE0\xFF\xA0\xB1\xDF\xFE"),
        std::string("*?\"<>|:x"),
        std::string("........"),
        std::string("        "),
    };
    // Folders a name with a slash after the prefix could walk through if it were used as it is.
    for (const char* prefix : {"TON_", "DSP_", "SNG_", "RHY_"})
        ASSERT_TRUE(QDir(m_folder).mkpath(QString::fromLatin1(prefix)));

    struct Kind {
        std::uint16_t code;
        std::size_t size;
        int number;
    };
    const Kind kinds[] = {{ZxKind::Tone, 60, 2},
                          {ZxKind::Dsp, 36, 4},
                          {ZxKind::Song, 300, 1},
                          {ZxKind::Rhythm, 130, 3}};
    for (const Kind& kind : kinds) {
        for (const std::string& name : names) {
            SCOPED_TRACE("kind " + std::to_string(kind.code) + " name " +
                         kbxnames::keyboardText(name).toStdString());
            const Bytes bytes = namedItem(kind.size, kind.code, name);
            m_kb->setItemBytes(kind.code, kind.number, 0, bytes);
            m_drive->readList(m_in, m_out);
            const FolderSnapshot before = snapshotFolder(m_dir.path());

            ASSERT_EQ(importError(slotOf(*m_drive, kind.code, kind.number)), "");

            const QString fileName = kbxnames::importFileName(kind.code, name);
            const QString relative = QStringLiteral("a/b/chosen/") + fileName;
            FolderSnapshot after = snapshotFolder(m_dir.path());
            ASSERT_EQ(after.count(relative), 1u) << describeDifference(before, after);
            EXPECT_EQ(fileName.size(), 4 + 8 + 4);
            for (const QChar c : fileName)
                EXPECT_TRUE(c >= QChar(0x20) && c != QChar(0x7F) &&
                            !QStringLiteral("\\/:*?\"<>|").contains(c))
                    << "character " << static_cast<int>(c.unicode()) << " in "
                    << fileName.toStdString();
            ZxDataFile imported(ZxKind::Undetermined);
            KbxFileStream(inFolder(fileName), KbxFileStream::Read).read(imported);
            EXPECT_EQ(imported.payload(), makeItem(kind.code, bytes)->payload());

            // The new file is the only change anywhere below the temporary folder.
            after.erase(relative);
            EXPECT_TRUE(after == before) << describeDifference(before, after);
            QFile::remove(inFolder(fileName));
        }
    }
}

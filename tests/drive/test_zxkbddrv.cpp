// The keyboard drive against the virtual ZR-7316, through the real ports and the Qt event loop:
// listing, progress, failures in the middle of a list, deleting, free memory, browsing by path.
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbd.h"
#include "zxkbddrv.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <numeric>
#include <stdexcept>
#include <tuple>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An item of `size` bytes, every byte 0x11, with an 8-character name field at `offset`.
Bytes namedItem(std::size_t size, std::size_t offset, const std::string& name) {
    Bytes bytes(size, 0x11);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0x20;
    return bytes;
}

std::string padded(const std::string& name) {
    return name + std::string(8 - name.size(), ' ');
}

// What a request asks: message type, kind code, data number, parameter number, index byte.
using Request = std::tuple<int, int, int, int, int>;

Request requestOf(const Bytes& m) {
    if (m.size() < 12)
        return {-1, -1, -1, -1, -1};
    return {m[5] >> 4, m[5] & 0x0F, m[8] | (m[9] << 7), m[6], m[10]};
}

Request read(int kind, int dataNumber, int parameter, int index = 0) {
    return {1, kind, dataNumber, parameter, index};
}

class RecordingObserver : public ZxKbdDrvObserver {
public:
    void update(ZxKbdDrv& drive) override { steps.push_back(drive.progressStep()); }
    std::vector<std::uint32_t> steps;
};

class DriveTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        registry.setSystemDevicesEnabled(false);
        m_keyboard = &registry.virtualKeyboard();
        m_keyboard->setStateFile(QString());
        m_keyboard->factoryReset();
        m_keyboard->setFaults({});
        m_keyboard->setStrict(true);
        m_keyboard->clearLog();
        m_in = registry.virtualInputNumber();
        m_out = registry.virtualOutputNumber();
        m_drive = std::make_unique<ZxKbdDrv>(ZxKbdDrv::kKnownModel);
    }

    void TearDown() override {
        // Nothing the drive sent surprised the keyboard (malformed, unknown parameter, ...).
        for (const auto& why : m_keyboard->unexpected())
            ADD_FAILURE() << why;
    }

    // Known contents: named tones and DSP settings, song 0 and rhythms 0 and 2 present.
    void loadContents(const std::string& tag = "") {
        for (int n = 0; n < 10; ++n) {
            const char d = static_cast<char>('0' + n);
            m_keyboard->setItemBytes(2, n, 0, namedItem(60, 36, tag + "Tone" + d));
            m_keyboard->setItemBytes(9, n, 0, namedItem(36, 0, tag + "Dsp" + d));
        }
        m_keyboard->setItemBytes(10, 0, 0, namedItem(300, 4, tag + "First"));
        m_keyboard->setItemBytes(10, 1, 0, {});
        m_keyboard->setItemBytes(11, 0, 0, namedItem(124, 2, tag + "Rock"));
        m_keyboard->setItemBytes(11, 1, 0, {});
        m_keyboard->setItemBytes(11, 2, 0, namedItem(64, 2, tag + "Waltz"));
        m_keyboard->setItemBytes(11, 3, 0, {});
    }

    void setFaults(const std::function<void(VirtualZr7316::Faults&)>& change) {
        VirtualZr7316::Faults faults;
        change(faults);
        m_keyboard->setFaults(faults);
    }

    void readList() { m_drive->readList(m_in, m_out); }

    ZxDataDrive& folder(const std::string& name) { return *m_drive->folderByName(name); }
    ZxData& tone(int n) { return *folder("Tone:").child(n); }
    ZxData& dsp(int n) { return *folder("DSP:").child(n); }
    ZxDataDrive& bank(int b) {
        return *static_cast<ZxDataDrive*>(folder("Registration:").child(b));
    }
    ZxDataDrive& songs() { return *static_cast<ZxDataDrive*>(folder("Song Rhythm:").child(0)); }
    ZxDataDrive& rhythms() { return *static_cast<ZxDataDrive*>(folder("Song Rhythm:").child(1)); }
    ZxData& song(int n) { return *songs().child(n); }
    ZxData& rhythm(int n) { return *rhythms().child(n); }

    const std::vector<Bytes>& received() const { return m_keyboard->received(); }

    std::vector<Request> requests() const {
        std::vector<Request> out;
        for (const auto& m : received())
            out.push_back(requestOf(m));
        return out;
    }

    template <class E, class F>
    int codeOf(F&& f) {
        try {
            f();
        } catch (const E& e) {
            return e.code();
        }
        return -1;
    }

    std::vector<std::string> entries(const std::string& path, std::uint8_t mask) {
        std::vector<std::string> names;
        ZxData* entry = nullptr;
        if (!m_drive->findFirst(path, mask, entry))
            return names;
        do
            names.push_back(entry->name());
        while (m_drive->findNext(entry));
        m_drive->findClose();
        return names;
    }

    VirtualZr7316* m_keyboard = nullptr;
    int m_in = 0;
    int m_out = 0;
    std::unique_ptr<ZxKbdDrv> m_drive;
};

// The step counter at each notification: the count of nodes of the folder being listed that were
// finished before this one; a subfolder is announced after its children, with their count.
const std::vector<std::uint32_t> kListProgress = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, // Tone:
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, // DSP:
    0, 1, 2, 3, 4,                // Registration: Bank0's slots, then Bank0
    0, 1, 2, 3, 4,                // Bank1
    0, 1, 2, 3, 4,                // Bank2
    0, 1, 2, 3, 4,                // Bank3
    0, 1, 2,                      // Song Rhythm: Song 0, Song 1, then Song
    0, 1, 2, 3, 4,                // User 0 to User 3, then Rhythm
};

} // namespace

// ---- layout ---------------------------------------------------------------------------------

TEST_F(DriveTest, knownModelBuildsTheFixedEmptyLayout) {
    EXPECT_EQ(m_drive->root().name(), "ZR-7316");
    EXPECT_EQ(m_drive->root().kind(), 13);
    ASSERT_EQ(m_drive->folderCount(), 4);
    const std::vector<std::string> names = {"Tone:", "DSP:", "Registration:", "Song Rhythm:"};
    const std::vector<int> kinds = {2, 9, 12, 10}, capacities = {600, 360, 2816, 21504};
    const std::vector<int> freeSpace = {0, 0, 0, 21504};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(m_drive->folderName(i), names[i]);
        ZxDataDrive& f = *static_cast<ZxDataDrive*>(m_drive->root().child(i));
        EXPECT_EQ(&f, m_drive->folderByName(names[i]));
        EXPECT_EQ(f.attributes(), 3);
        EXPECT_EQ(f.kind(), kinds[i]);
        EXPECT_EQ(f.capacity(), capacities[i]);
        EXPECT_EQ(f.freeSpace(), freeSpace[i]);
    }
    EXPECT_EQ(m_drive->folderByName("Tone"), nullptr);
    EXPECT_EQ(m_drive->folderByName("tone:"), nullptr);

    EXPECT_EQ(tone(9).name(), "User 9");
    EXPECT_EQ(dsp(0).name(), "User 0");
    EXPECT_EQ(bank(2).name(), "Bank2");
    EXPECT_EQ(bank(2).attributes(), 5);
    EXPECT_EQ(bank(2).child(3)->name(), "User 3");
    EXPECT_EQ(bank(2).child(3)->bank(), 2);
    EXPECT_EQ(bank(2).child(3)->number(), 3);
    EXPECT_EQ(songs().name(), "Song");
    EXPECT_EQ(songs().kind(), 10);
    EXPECT_EQ(rhythms().name(), "Rhythm");
    EXPECT_EQ(rhythms().kind(), 11);
    EXPECT_EQ(song(1).name(), "Song 1");
    EXPECT_EQ(rhythm(3).name(), "User 3");
    EXPECT_EQ(rhythm(3).kind(), 11);
    for (ZxData* slot :
         {&tone(4), &dsp(4), static_cast<ZxData*>(bank(1).child(0)), &song(0), &rhythm(2)}) {
        EXPECT_EQ(slot->attributes(), 1);
        EXPECT_FALSE(slot->isPresent());
        EXPECT_EQ(slot->size(), 0u);
        EXPECT_EQ(slot->header()[20], 0x11); // model code 0x1101, big-endian
        EXPECT_EQ(slot->header()[21], 0x01);
    }
    EXPECT_FALSE(m_drive->isListed());
    EXPECT_EQ(m_drive->progressTotal(), 143);
}

TEST_F(DriveTest, unknownModelHasNoLayoutAndRefusesToList) {
    ZxKbdDrv other("ZR-7317");
    EXPECT_EQ(other.root().name(), "ZR-7317");
    EXPECT_EQ(other.folderCount(), 0);
    EXPECT_EQ(codeOf<ZxKbdDrvException>([&] { other.readList(m_in, m_out); }), 0);
    EXPECT_TRUE(received().empty());
    EXPECT_FALSE(other.link().isOpen());
    EXPECT_FALSE(other.isListed());
    ZxData* entry = nullptr;
    EXPECT_FALSE(other.findFirst("Tone:\\", 13, entry));
}

TEST_F(DriveTest, instanceIsOneDriveForTheProcess) {
    ZxKbdDrv::destroyInstance();
    ZxKbdDrv& first = ZxKbdDrv::instance("ZR-7316");
    EXPECT_EQ(&ZxKbdDrv::instance("something else"), &first);
    EXPECT_EQ(first.folderCount(), 4);
    ZxKbdDrv::destroyInstance();
    EXPECT_EQ(ZxKbdDrv::instance("ZR-0000").folderCount(), 0);
    ZxKbdDrv::destroyInstance();
}

// ---- readList -------------------------------------------------------------------------------

TEST_F(DriveTest, listSendsTheRequestsInTheDrivesOrder) {
    loadContents();
    readList();
    ASSERT_GE(received().size(), 6u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7"));  // keyboard type
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 12 60 1F 00 03 00 F7"));  // tone 0, first half
    EXPECT_EQ(received()[2], hex("F0 44 11 01 7F 12 61 1F 00 03 00 F7"));  // tone 0, second half
    EXPECT_EQ(received()[3], hex("F0 44 11 01 7F 12 60 1F 01 03 00 F7"));  // tone 1
    EXPECT_EQ(received()[21], hex("F0 44 11 01 7F 19 30 1F 64 00 00 F7")); // DSP 0 (number 100)
    EXPECT_EQ(received()[41], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7")); // free memory
    EXPECT_EQ(received().back(), hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));

    std::vector<Request> expected = {read(0, 0, 0)};
    for (int n = 0; n < 10; ++n) {
        expected.push_back(read(2, 384 + n, 96));
        expected.push_back(read(2, 384 + n, 97));
    }
    for (int n = 0; n < 10; ++n) {
        expected.push_back(read(9, 100 + n, 48));
        expected.push_back(read(9, 100 + n, 49));
    }
    expected.push_back(read(0, 0, 34)); // free space of "Song Rhythm:"
    expected.push_back(read(0, 0, 38, 0));
    expected.push_back(read(0, 0, 39, 0));
    expected.push_back(read(0, 0, 40, 0));
    expected.push_back(read(0, 0, 38, 1)); // empty: no name request
    expected.push_back(read(0, 0, 34));    // size of "Song"
    expected.push_back(read(0, 0, 35, 0));
    expected.push_back(read(0, 0, 36, 0));
    expected.push_back(read(0, 0, 37, 0));
    expected.push_back(read(0, 0, 35, 1));
    expected.push_back(read(0, 0, 35, 2));
    expected.push_back(read(0, 0, 36, 2));
    expected.push_back(read(0, 0, 37, 2));
    expected.push_back(read(0, 0, 35, 3));
    expected.push_back(read(0, 0, 34)); // size of "Rhythm"
    EXPECT_EQ(requests(), expected);
    for (const auto& m : received())
        EXPECT_EQ(m.size(), 12u) << toHex(m);
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_TRUE(m_drive->isListed());
}

TEST_F(DriveTest, listNotifiesOncePerNodeWithTheProgressOfItsFolder) {
    RecordingObserver a, b;
    m_drive->attach(&b);
    m_drive->attach(&a);
    m_drive->attach(&b); // a second registration is no registration
    readList();
    EXPECT_EQ(a.steps, kListProgress);
    EXPECT_EQ(b.steps, kListProgress);
    EXPECT_EQ(a.steps.size(), 48u);
    EXPECT_EQ(std::accumulate(a.steps.begin(), a.steps.end(), 0u), 143u);
    EXPECT_EQ(static_cast<int>(std::accumulate(a.steps.begin(), a.steps.end(), 0u)),
              m_drive->progressTotal());
}

TEST_F(DriveTest, listFillsEverySlotFromTheKeyboard) {
    loadContents();
    readList();
    for (int n = 0; n < 10; ++n) {
        const char d = static_cast<char>('0' + n);
        EXPECT_TRUE(tone(n).isPresent());
        EXPECT_EQ(tone(n).size(), 60u);
        EXPECT_EQ(tone(n).name(), padded(std::string("Tone") + d));
        EXPECT_TRUE(dsp(n).isPresent());
        EXPECT_EQ(dsp(n).size(), 36u);
        EXPECT_EQ(dsp(n).name(), padded(std::string("Dsp") + d));
    }
    for (int b = 0; b < 4; ++b) {
        EXPECT_TRUE(bank(b).isPresent());
        for (int n = 0; n < 4; ++n) {
            ZxData& slot = *bank(b).child(n);
            EXPECT_TRUE(slot.isPresent());
            EXPECT_EQ(slot.size(), 176u);
            const std::string name = {'P',
                                      'r',
                                      'e',
                                      's',
                                      'e',
                                      't',
                                      static_cast<char>('0' + b),
                                      static_cast<char>('1' + n)};
            EXPECT_EQ(slot.name(), name);
        }
    }
    EXPECT_EQ(bank(2).child(3)->name(), "Preset24");

    EXPECT_TRUE(song(0).isPresent());
    EXPECT_EQ(song(0).size(), 300u);
    EXPECT_EQ(song(0).name(), padded("First"));
    EXPECT_FALSE(song(1).isPresent());
    EXPECT_EQ(song(1).size(), 0u);
    EXPECT_EQ(song(1).name(), "Song 1");
    EXPECT_EQ(rhythm(0).name(), padded("Rock"));
    EXPECT_EQ(rhythm(0).size(), 124u);
    EXPECT_TRUE(rhythm(0).isPresent());
    EXPECT_EQ(rhythm(1).name(), "User 1");
    EXPECT_FALSE(rhythm(1).isPresent());
    EXPECT_EQ(rhythm(2).name(), padded("Waltz"));
    EXPECT_EQ(rhythm(2).size(), 64u);
    EXPECT_EQ(rhythm(3).name(), "User 3");
    EXPECT_EQ(rhythm(3).size(), 0u);

    const std::uint32_t free = m_keyboard->freeMemory();
    EXPECT_EQ(free, 21504u - 300 - 124 - 64);
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), static_cast<std::int32_t>(free));
    EXPECT_EQ(songs().size(), free);
    EXPECT_EQ(rhythms().size(), free);
    EXPECT_TRUE(songs().isPresent());
    EXPECT_TRUE(rhythms().isPresent());
    EXPECT_EQ(folder("Tone:").freeSpace(), 0);
}

TEST_F(DriveTest, songThatWasDeletedMeanwhileBecomesEmptyOnTheNextList) {
    loadContents();
    readList();
    ZxData* slot = &song(0);
    m_keyboard->setItemBytes(10, 0, 0, {});
    readList();
    EXPECT_EQ(&song(0), slot); // nodes are overwritten in place
    EXPECT_FALSE(slot->isPresent());
    EXPECT_EQ(slot->size(), 0u);
    EXPECT_EQ(slot->name(), "Song 0");
}

TEST_F(DriveTest, keyboardOfAnotherTypeIsRefusedAfterOneRequest) {
    setFaults([](auto& f) { f.keyboardType = 1; });
    RecordingObserver observer;
    m_drive->attach(&observer);
    EXPECT_EQ(codeOf<ZxKbdDrvException>([&] { readList(); }), 0);
    EXPECT_EQ(received().size(), 1u);
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_FALSE(m_drive->isListed());
    EXPECT_TRUE(observer.steps.empty());
    EXPECT_FALSE(tone(0).isPresent());
    EXPECT_EQ(tone(0).name(), "User 0");
    EXPECT_FALSE(bank(0).child(0)->isPresent());
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), 21504);
}

TEST_F(DriveTest, keyboardFallingSilentInASecondListKeepsWhatWasNotVisited) {
    loadContents();
    readList();
    const std::int32_t oldFree = folder("Song Rhythm:").freeSpace();

    loadContents("N");
    m_keyboard->setItemBytes(10, 0, 0, namedItem(500, 4, "Bigger"));
    // Messages 0-25: type, 20 tone-name halves, DSP 0 and 1, the first half of DSP 2.
    setFaults([](auto& f) { f.silentFrom = 26; });
    m_keyboard->clearLog();
    RecordingObserver observer;
    m_drive->attach(&observer);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(codeOf<ZxSysExException>([&] { readList(); }), 6);
    EXPECT_GE(clock.elapsed(), ZxKbd::kTimeoutMs);
    // Ended by the time-out; a loaded machine (Wine on two cores) makes it seconds late.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(received().size(), 27u);

    EXPECT_TRUE(m_drive->isListed());
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_EQ(observer.steps.size(), 12u); // ten tones, DSP 0 and 1
    EXPECT_EQ(tone(9).name(), padded("NTone9"));
    EXPECT_EQ(dsp(1).name(), padded("NDsp1"));
    EXPECT_EQ(dsp(2).name(), padded("Dsp2"));
    EXPECT_EQ(dsp(9).name(), padded("Dsp9"));
    EXPECT_EQ(song(0).name(), padded("First"));
    EXPECT_EQ(song(0).size(), 300u);
    EXPECT_EQ(rhythm(0).name(), padded("Rock"));
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), oldFree);

    m_keyboard->setFaults({});
    readList();
    EXPECT_EQ(dsp(9).name(), padded("NDsp9"));
    EXPECT_EQ(song(0).name(), padded("Bigger"));
    EXPECT_EQ(song(0).size(), 500u);
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(),
              static_cast<std::int32_t>(m_keyboard->freeMemory()));
}

TEST_F(DriveTest, listAfterARefusedReplySucceeds) {
    setFaults([](auto& f) { f.unexpectedAt = 5; });
    EXPECT_EQ(codeOf<ZxSysExException>([&] { readList(); }), 4);
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_FALSE(m_drive->isListed());
    m_keyboard->setFaults({});
    readList();
    EXPECT_TRUE(m_drive->isListed());
    EXPECT_TRUE(tone(9).isPresent());
}

TEST_F(DriveTest, listOnADeviceThatCannotBeOpenedLeavesNothingHeld) {
    EXPECT_THROW(m_drive->readList(m_in + 50, m_out), std::runtime_error);
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_THROW(m_drive->readList(m_in, m_out + 50), std::runtime_error);
    EXPECT_FALSE(m_drive->link().isOpen());
    readList();
    EXPECT_TRUE(m_drive->isListed());
}

TEST_F(DriveTest, resetForgetsTheListAndBuildsNewNodes) {
    loadContents();
    readList();
    m_drive->reset();
    EXPECT_EQ(m_drive->folderCount(), 4);
    EXPECT_FALSE(m_drive->isListed());
    EXPECT_EQ(m_drive->root().name(), "ZR-7316");
    // New nodes show in what they hold, not in their address: an allocator may well give a new
    // node the old one's place (mingw's does).
    EXPECT_EQ(tone(0).name(), "User 0");
    EXPECT_FALSE(tone(0).isPresent());
    EXPECT_EQ(song(0).name(), "Song 0");
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), 21504);

    RecordingObserver observer;
    m_drive->attach(&observer);
    readList();
    EXPECT_EQ(observer.steps, kListProgress);
    EXPECT_EQ(tone(0).name(), padded("Tone0"));
}

// ---- delete and free memory -----------------------------------------------------------------

TEST_F(DriveTest, deletingSongOneSendsTheDeleteAndAFreeMemoryRequest) {
    loadContents();
    m_keyboard->setItemBytes(10, 1, 0, namedItem(700, 4, "Second"));
    readList();
    EXPECT_TRUE(song(1).isPresent());
    m_keyboard->clearLog();
    m_drive->deleteItem(song(1));
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"));
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));
    EXPECT_TRUE(m_keyboard->itemBytes(10, 1).empty());
    EXPECT_EQ(song(1).name(), "Song 1");
    EXPECT_EQ(song(1).size(), 0u);
    EXPECT_FALSE(song(1).isPresent());
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), 21504 - 300 - 124 - 64);
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_TRUE(m_drive->isListed());
}

TEST_F(DriveTest, deletingRhythmThreeEmptiesItsSlot) {
    loadContents();
    m_keyboard->setItemBytes(11, 3, 0, namedItem(90, 2, "Tango"));
    readList();
    const std::uint32_t songSize = songs().size();
    m_keyboard->clearLog();
    m_drive->deleteItem(rhythm(3));
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 00 21 07 00 00 00 03 00 F7"));
    EXPECT_EQ(received()[1], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));
    EXPECT_EQ(rhythm(3).name(), "User 3");
    EXPECT_EQ(rhythm(3).size(), 0u);
    EXPECT_FALSE(rhythm(3).isPresent());
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(),
              static_cast<std::int32_t>(m_keyboard->freeMemory()));
    EXPECT_EQ(songs().size(), songSize); // the subfolders keep what the list read
}

TEST_F(DriveTest, deletingAToneSendsNothing) {
    loadContents();
    readList();
    m_keyboard->clearLog();
    EXPECT_EQ(codeOf<ZxKbdDrvException>([&] { m_drive->deleteItem(tone(2)); }), 0);
    EXPECT_EQ(codeOf<ZxKbdDrvException>([&] { m_drive->deleteItem(*bank(1).child(1)); }), 0);
    kbxtest::spin(20);
    EXPECT_TRUE(received().empty());
    EXPECT_FALSE(m_drive->link().isOpen());
    EXPECT_TRUE(tone(2).isPresent());
    EXPECT_EQ(tone(2).name(), padded("Tone2"));
}

TEST_F(DriveTest, deleteWhoseFreeMemoryRequestFailsStillEmptiesTheSlot) {
    loadContents();
    readList();
    const std::int32_t oldFree = folder("Song Rhythm:").freeSpace();
    setFaults([](auto& f) { f.noReplyTo = 1; });
    EXPECT_EQ(codeOf<ZxSysExException>([&] { m_drive->deleteItem(song(0)); }), 6);
    EXPECT_TRUE(m_keyboard->itemBytes(10, 0).empty());
    EXPECT_FALSE(song(0).isPresent());
    EXPECT_EQ(song(0).size(), 0u);
    EXPECT_EQ(song(0).name(), "Song 0");
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), oldFree);
    EXPECT_FALSE(m_drive->link().isOpen());
}

TEST_F(DriveTest, freeSongMemoryAsksOnceAndClosesTheLink) {
    loadContents();
    readList();
    m_keyboard->clearLog();
    EXPECT_EQ(m_drive->freeSongMemory(), m_keyboard->freeMemory());
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));
    EXPECT_FALSE(m_drive->link().isOpen());
}

TEST_F(DriveTest, refreshFreeSpaceTalksOnlyForTheSongFolder) {
    loadContents();
    readList();
    m_keyboard->setItemBytes(10, 1, 0, namedItem(1000, 4, "Added"));
    m_keyboard->clearLog();
    m_drive->refreshFreeSpace("Tone:");
    m_drive->refreshFreeSpace("Song Rhythm");
    m_drive->refreshFreeSpace("Nothing:");
    kbxtest::spin(20);
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(folder("Tone:").freeSpace(), 0);

    m_drive->refreshFreeSpace("Song Rhythm:");
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0], hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7"));
    EXPECT_EQ(folder("Song Rhythm:").freeSpace(), 21504 - 300 - 124 - 64 - 1000);
    EXPECT_FALSE(m_drive->link().isOpen());
}

// ---- browsing by path -----------------------------------------------------------------------

using Names = std::vector<std::string>;

TEST_F(DriveTest, searchMatchesEntriesByAttributeMask) {
    EXPECT_EQ(entries("Registration:\\", 4), (Names{"Bank0", "Bank1", "Bank2", "Bank3"}));
    EXPECT_EQ(entries("Tone:\\", 4), Names{});
    EXPECT_EQ(entries("Song Rhythm:\\", 13), (Names{"Song", "Rhythm"}));
    EXPECT_EQ(entries("Song Rhythm:\\Song\\", 9), (Names{"Song 0", "Song 1"}));
    EXPECT_EQ(entries("Song Rhythm:\\Rhythm\\", 13),
              (Names{"User 0", "User 1", "User 2", "User 3"}));
    EXPECT_EQ(entries("Tone:\\", 13).size(), 10u);
    EXPECT_EQ(entries("Tone:\\", 2), Names{});
}

TEST_F(DriveTest, pathsResolveWithOrWithoutTheFinalBackslash) {
    const Names bank0 = {"User 0", "User 1", "User 2", "User 3"};
    EXPECT_EQ(entries("Registration:\\Bank0\\", 9), bank0);
    EXPECT_EQ(entries("Registration:\\Bank0", 9), bank0);
    EXPECT_EQ(entries("Tone:", 13), entries("Tone:\\", 13));
    // A slot name in the tail names nothing below the bank: the bank itself is listed.
    EXPECT_EQ(entries("Registration:\\Bank0\\User 1", 9), bank0);
}

TEST_F(DriveTest, unknownBankListsTheRegistrationFolderItself) {
    EXPECT_EQ(entries("Registration:\\Bank7\\", 13), (Names{"Bank0", "Bank1", "Bank2", "Bank3"}));
}

TEST_F(DriveTest, pathOutsideTheDriveFindsNothingAndLeavesTheSearchAlone) {
    ZxData* entry = &tone(0);
    EXPECT_FALSE(m_drive->findFirst("Nothing:\\", 13, entry));
    EXPECT_EQ(entry, nullptr);
    EXPECT_FALSE(m_drive->findFirst("", 13, entry));
    EXPECT_FALSE(m_drive->findFirst("tone:\\", 13, entry));

    // Inside an open search, a failing findFirst does not disturb it.
    ASSERT_TRUE(m_drive->findFirst("DSP:\\", 13, entry));
    EXPECT_EQ(entry, &dsp(0));
    ZxData* inner = nullptr;
    EXPECT_FALSE(m_drive->findFirst("Nothing:\\", 13, inner));
    ASSERT_TRUE(m_drive->findNext(entry));
    EXPECT_EQ(entry, &dsp(1));
    m_drive->findClose();
}

TEST_F(DriveTest, nestedWalkVisitsSubfoldersAndRestoresTheEnclosingSearch) {
    // An enclosing search shows that the walk leaves the state as it found it.
    ZxData* outer = nullptr;
    ASSERT_TRUE(m_drive->findFirst("Tone:\\", 13, outer));
    EXPECT_EQ(outer, &tone(0));

    Names visited;
    ZxData* entry = nullptr;
    ASSERT_TRUE(m_drive->findFirst("Song Rhythm:\\", 13, entry));
    do {
        visited.push_back(entry->name());
        const std::string path = "Song Rhythm:\\" + entry->name() + "\\";
        ZxData* item = nullptr;
        if (m_drive->findFirst(path, 13, item)) {
            do
                visited.push_back(item->name());
            while (m_drive->findNext(item));
            m_drive->findClose();
        }
    } while (m_drive->findNext(entry));
    m_drive->findClose();
    EXPECT_EQ(visited, (Names{"Song", "Song 0", "Song 1", "Rhythm", "User 0", "User 1", "User 2",
                              "User 3"}));

    ASSERT_TRUE(m_drive->findNext(outer));
    EXPECT_EQ(outer, &tone(1));
    m_drive->findClose();
}

TEST_F(DriveTest, emptyNestedSearchDoesNotDisturbTheWalk) {
    Names banks;
    ZxData* entry = nullptr;
    ASSERT_TRUE(m_drive->findFirst("Registration:\\", 4, entry));
    do {
        banks.push_back(entry->name());
        ZxData* inner = entry;
        EXPECT_FALSE(m_drive->findFirst("Registration:\\" + entry->name() + "\\", 4, inner));
        EXPECT_EQ(inner, nullptr);
    } while (m_drive->findNext(entry));
    m_drive->findClose();
    EXPECT_EQ(banks, (Names{"Bank0", "Bank1", "Bank2", "Bank3"}));
}

TEST_F(DriveTest, hasSubfoldersOnlyForRegistrationAndSongRhythm) {
    EXPECT_TRUE(m_drive->hasSubfolders("Registration:\\"));
    EXPECT_TRUE(m_drive->hasSubfolders("Song Rhythm:\\"));
    EXPECT_TRUE(m_drive->hasSubfolders("Song Rhythm:"));
    EXPECT_FALSE(m_drive->hasSubfolders("Tone:\\"));
    EXPECT_FALSE(m_drive->hasSubfolders("DSP:\\"));
    EXPECT_FALSE(m_drive->hasSubfolders("Registration:\\Bank3\\"));
    EXPECT_FALSE(m_drive->hasSubfolders("Song Rhythm:\\Song\\"));
    EXPECT_FALSE(m_drive->hasSubfolders("Nothing:\\"));
}

TEST_F(DriveTest, searchesSurviveAList) {
    loadContents();
    readList();
    EXPECT_EQ(entries("Song Rhythm:\\Song\\", 9), (Names{padded("First"), "Song 1"}));
    EXPECT_EQ(entries("Registration:\\Bank2\\", 9),
              (Names{"Preset21", "Preset22", "Preset23", "Preset24"}));
}

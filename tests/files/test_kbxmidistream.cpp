// The data-file stream over the keyboard, end to end: the real ports, the real event loop and the
// virtual ZR-7316 on the other side.
#include "devicewatch.h"
#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "loopbackbackend.h"
#include "mididevices.h"
#include "testutil.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <stdexcept>

using kbxtest::hex;
using kbxtest::toHex;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct PositionRecorder : KbxStreamObserver {
    std::vector<std::uint32_t> positions;
    void update(KbxStream& stream) override { positions.push_back(stream.position()); }
};

std::unique_ptr<ZxDataFile> makeItem(std::uint16_t kind, const Bytes& bytes) {
    auto item = std::make_unique<ZxDataFile>(kind);
    item->payload().assign((bytes.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        item->payload()[i / 2] |= static_cast<std::uint16_t>(bytes[i] << (i % 2 ? 0 : 8));
    item->setSize(static_cast<std::uint32_t>(bytes.size()));
    item->refreshName();
    return item;
}

Bytes payloadBytes(const ZxDataFile& item) {
    Bytes out;
    for (std::size_t i = 0; i < item.size(); ++i) {
        const std::uint16_t word = item.payload().at(i / 2);
        out.push_back(static_cast<std::uint8_t>(i % 2 ? word & 0xFF : word >> 8));
    }
    return out;
}

// Bytes that differ from block to block, with an 8-character name at the kind's offset.
Bytes itemBytes(std::size_t size, std::uint16_t kind, const std::string& name) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 128) & 0xFF);
    const int offset = ZxKind::nameOffset(kind);
    if (offset >= 0)
        for (std::size_t i = 0; i < kNameLength; ++i)
            bytes[static_cast<std::size_t>(offset) + i] =
                static_cast<std::uint8_t>(i < name.size() ? name[i] : ' ');
    return bytes;
}

int messageType(const Bytes& message) {
    return message.at(5) >> 4;
}

std::vector<Bytes> ofType(const std::vector<Bytes>& log, int type) {
    std::vector<Bytes> out;
    for (const auto& m : log)
        if (messageType(m) == type)
            out.push_back(m);
    return out;
}

// Parameter requests and writes of the drive, as the keyboard receives them.
const Bytes kFreeMemoryRequest = hex("F0 44 11 01 7F 10 22 1F 00 00 00 F7");

} // namespace

class KbxMidiStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& registry = kbxmidi::DeviceRegistry::instance();
        m_kb = &registry.virtualKeyboard();
        m_kb->setStateFile(QString());
        m_kb->factoryReset();
        m_kb->setFaults({});
        m_kb->setStrict(true);
        m_in = registry.virtualInputNumber();
        m_out = registry.virtualOutputNumber();
        ZxKbdDrv::destroyInstance();
        m_drive = &ZxKbdDrv::instance("ZR-7316");
        relist();
    }

    void TearDown() override {
        m_kb->setFaults({});
        m_kb->setStrict(false);
    }

    // The keyboard met nothing it did not expect (strict mode).
    void expectNothingUnexpected() {
        for (const auto& what : m_kb->unexpected())
            ADD_FAILURE() << what;
    }

    void relist() {
        m_drive->readList(m_in, m_out);
        m_kb->clearLog();
    }

    void setFaults(std::function<void(VirtualZr7316::Faults&)> change) {
        VirtualZr7316::Faults faults;
        change(faults);
        m_kb->setFaults(faults);
    }

    // Every slot of the drive with its folder path ("Tone:", "Registration:\Bank2").
    void forEachSlot(const std::function<void(const std::string&, ZxData&)>& visit) {
        for (int i = 0; i < m_drive->folderCount(); ++i) {
            ZxDataDrive* top = m_drive->folderByName(m_drive->folderName(i));
            for (int c = 0; c < top->childCount(); ++c) {
                ZxData* child = top->child(c);
                if (!(child->attributes() & ZxAttr::Directory)) {
                    visit(top->name(), *child);
                    continue;
                }
                auto* sub = static_cast<ZxDataDrive*>(child);
                for (int s = 0; s < sub->childCount(); ++s)
                    visit(top->name() + "\\" + sub->name(), *sub->child(s));
            }
        }
    }

    std::string pathOf(std::uint16_t kind, int number, int bank = 0) {
        std::string path;
        forEachSlot([&](const std::string& folder, ZxData& slot) {
            if (slot.kind() == kind && slot.number() == number &&
                (kind != ZxKind::Registration || slot.bank() == bank))
                path = folder + "\\" + slot.name();
        });
        EXPECT_FALSE(path.empty());
        return path;
    }

    std::unique_ptr<KbxMidiStream> streamOn(std::uint16_t kind, int number, int bank = 0) {
        return std::make_unique<KbxMidiStream>(pathOf(kind, number, bank), m_in, m_out);
    }

    // Song memory holding exactly the given songs and no rhythms.
    void setSongs(std::size_t song0, std::size_t song1) {
        for (int r = 0; r < VirtualZr7316::kRhythms; ++r)
            m_kb->setItemBytes(ZxKind::Rhythm, r, 0, {});
        m_kb->setItemBytes(ZxKind::Song, 0, 0,
                           song0 ? itemBytes(song0, ZxKind::Song, "OLD0") : Bytes{});
        m_kb->setItemBytes(ZxKind::Song, 1, 0,
                           song1 ? itemBytes(song1, ZxKind::Song, "OLD1") : Bytes{});
        relist();
    }

    VirtualZr7316* m_kb = nullptr;
    ZxKbdDrv* m_drive = nullptr;
    int m_in = 0;
    int m_out = 0;
};

TEST_F(KbxMidiStreamTest, findsSlotsByPathAndNumbersThemPerKind) {
    m_kb->setItemBytes(ZxKind::Dsp, 9, 0, itemBytes(36, ZxKind::Dsp, "Nine")); // not blank
    relist();
    EXPECT_EQ(KbxMidiStream::dataNumber(streamOn(ZxKind::Tone, 3)->slot()), 387);
    EXPECT_EQ(KbxMidiStream::dataNumber(streamOn(ZxKind::Dsp, 9)->slot()), 109);
    EXPECT_EQ(KbxMidiStream::dataNumber(streamOn(ZxKind::Song, 1)->slot()), 1);
    EXPECT_EQ(KbxMidiStream::dataNumber(streamOn(ZxKind::Rhythm, 0)->slot()), 100);

    KbxMidiStream registration("Registration:\\Bank2\\Preset24", m_in, m_out);
    EXPECT_EQ(registration.slot().bank(), 2);
    EXPECT_EQ(registration.slot().number(), 3);
    EXPECT_EQ(KbxMidiStream::dataNumber(registration.slot()), 30);
    EXPECT_EQ(registration.size(), 176u);
    EXPECT_EQ(registration.position(), 0u);
    EXPECT_FALSE(registration.portsOpen());
    EXPECT_TRUE(m_kb->received().empty());
}

TEST_F(KbxMidiStreamTest, refusesPathsThatNameNoSlotWithoutSending) {
    const std::string tone0 = pathOf(ZxKind::Tone, 0);
    const std::string toneName = tone0.substr(tone0.find('\\') + 1);
    for (const std::string& path :
         {std::string("Tone:User 0"), std::string("Tone:\\No Such"), "Tone:x\\" + toneName,
          std::string("Registration:\\Bank7\\Preset01"), std::string("Registration:\\Bank7\\Bank0"),
          std::string("Song Rhythm:\\Song"), std::string("Nowhere:\\User 0")}) {
        try {
            KbxMidiStream stream(path, m_in, m_out);
            ADD_FAILURE() << "accepted " << path;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(m_kb->received().empty());
}

TEST_F(KbxMidiStreamTest, sendsToneAsOneBlockEndedByHandshakeZero) {
    Bytes bytes(60, 0);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[36 + i] = static_cast<std::uint8_t>("TONE3   "[i]);
    auto item = makeItem(ZxKind::Tone, bytes);
    auto stream = streamOn(ZxKind::Tone, 3);
    PositionRecorder recorder;
    stream->attach(&recorder);

    stream->write(*item);

    const auto& received = m_kb->received();
    ASSERT_EQ(received.size(), 2u);
    std::string zeros18, zeros8;
    for (int i = 0; i < 18 * 3; ++i)
        zeros18 += "00 ";
    for (int i = 0; i < 8 * 3; ++i)
        zeros8 += "00 ";
    EXPECT_EQ(toHex(received[0]),
              toHex(hex("F0 44 11 01 7F 42 00 4F 03 03 00 00 1E " + zeros18 +
                        "4F 28 01 45 1C 01 20 66 00 20 40 00 " + zeros8 + "40 F7")));
    EXPECT_EQ(received[0].size(), 105u);
    EXPECT_EQ(toHex(received[1]), toHex(hex("F0 44 11 01 7F 72 00 00 03 03 00 F7")));
    ASSERT_EQ(m_kb->sent().size(), 1u);
    EXPECT_EQ(messageType(m_kb->sent()[0]), 7);
    EXPECT_EQ(m_kb->sent()[0].at(10), 1);

    EXPECT_EQ(recorder.positions, std::vector<std::uint32_t>{60});
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 3), bytes);
    EXPECT_EQ(stream->slot().name(), "TONE3   ");
    EXPECT_TRUE(stream->slot().isPresent());
    EXPECT_EQ(item->number(), 3);
    EXPECT_FALSE(stream->portsOpen());
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, sends300BytesAsBlocksOf128And128And44) {
    const Bytes bytes = itemBytes(300, ZxKind::Rhythm, "RHY300");
    auto item = makeItem(ZxKind::Rhythm, bytes);
    auto stream = streamOn(ZxKind::Rhythm, 2);
    PositionRecorder recorder;
    stream->attach(&recorder);

    stream->write(*item);

    // Rhythm 2 is data number 102 (0x66); block numbers 0, 1, 2; 64, 64 and 22 words.
    const auto blocks = ofType(m_kb->received(), 4);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(toHex(Bytes(blocks[0].begin(), blocks[0].begin() + 13)),
              "F0 44 11 01 7F 4B 00 4F 66 00 00 00 40");
    EXPECT_EQ(toHex(Bytes(blocks[1].begin(), blocks[1].begin() + 13)),
              "F0 44 11 01 7F 4B 00 4F 66 00 01 00 40");
    EXPECT_EQ(toHex(Bytes(blocks[2].begin(), blocks[2].begin() + 13)),
              "F0 44 11 01 7F 4B 00 4F 66 00 02 00 16");
    EXPECT_EQ(blocks[2].size(), 15u + 3 * 22);
    EXPECT_EQ(recorder.positions, (std::vector<std::uint32_t>{128, 256, 300}));
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Rhythm, 2), bytes);

    // Free memory is asked before and after; the end handshake follows the last block.
    const auto& received = m_kb->received();
    ASSERT_EQ(received.size(), 6u);
    EXPECT_EQ(received.front(), kFreeMemoryRequest);
    EXPECT_EQ(toHex(received[4]), "F0 44 11 01 7F 7B 00 00 66 00 00 F7");
    EXPECT_EQ(received.back(), kFreeMemoryRequest);
    EXPECT_EQ(stream->slot().name(), "RHY300  ");
    EXPECT_EQ(m_drive->folderByName("Song Rhythm:")->freeSpace(),
              static_cast<std::int32_t>(m_kb->freeMemory()));
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, sendsExactly256BytesAsTwoFullBlocks) {
    const Bytes bytes = itemBytes(256, ZxKind::Rhythm, "RHY256");
    auto item = makeItem(ZxKind::Rhythm, bytes);
    auto stream = streamOn(ZxKind::Rhythm, 0);
    PositionRecorder recorder;
    stream->attach(&recorder);

    stream->write(*item);

    const auto blocks = ofType(m_kb->received(), 4);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].at(12), 0x40);
    EXPECT_EQ(blocks[1].at(10), 0x01);
    EXPECT_EQ(blocks[1].at(12), 0x40);
    EXPECT_EQ(recorder.positions, (std::vector<std::uint32_t>{128, 256}));
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Rhythm, 0), bytes);
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, refusesItemOfAnotherKindWithoutSending) {
    auto item = makeItem(ZxKind::Dsp, itemBytes(36, ZxKind::Dsp, "HALL"));
    auto stream = streamOn(ZxKind::Tone, 4);
    const std::string before = stream->slot().name();
    const Bytes keyboardBefore = m_kb->itemBytes(ZxKind::Tone, 4);
    try {
        stream->write(*item);
        FAIL() << "sent a DSP setting into a tone slot";
    } catch (const KbxStreamException& e) {
        EXPECT_EQ(e.code(), 1);
    }
    EXPECT_TRUE(m_kb->received().empty());
    EXPECT_EQ(stream->slot().name(), before);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 4), keyboardBefore);
}

TEST_F(KbxMidiStreamTest, refusesSongLargerThanFreeMemoryPlusTheOldSongAndDeletesNothing) {
    setSongs(VirtualZr7316::kSongMemory - 1000 - 100, 100);
    ASSERT_EQ(m_kb->freeMemory(), 1000u);
    const Bytes old1 = m_kb->itemBytes(ZxKind::Song, 1);
    auto item = makeItem(ZxKind::Song, itemBytes(1102, ZxKind::Song, "NEWSONG"));
    auto stream = streamOn(ZxKind::Song, 1);
    try {
        stream->write(*item);
        FAIL() << "sent a song larger than the free memory";
    } catch (const KbxStreamException& e) {
        EXPECT_EQ(e.code(), 2);
    }
    ASSERT_EQ(m_kb->received().size(), 1u);
    EXPECT_EQ(m_kb->received()[0], kFreeMemoryRequest);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), old1);
    EXPECT_TRUE(stream->slot().isPresent());
    EXPECT_EQ(stream->slot().size(), 100u);
}

TEST_F(KbxMidiStreamTest, aSongThatFitsOnlyOnceTheOldOneIsGoneReplacesIt) {
    // 1000 bytes free and the old song's 100: a song of 1100 fits exactly.
    setSongs(VirtualZr7316::kSongMemory - 1000 - 100, 100);
    const Bytes bytes = itemBytes(1100, ZxKind::Song, "EXACTFIT");
    auto item = makeItem(ZxKind::Song, bytes);
    auto stream = streamOn(ZxKind::Song, 1);
    stream->write(*item);
    EXPECT_TRUE(stream->deleteAsked());
    EXPECT_TRUE(stream->committed());
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), bytes);
    EXPECT_EQ(m_kb->freeMemory(), 0u);
    EXPECT_EQ(toHex(m_kb->received()[1]), "F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7");
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, anEmptySongSlotOrARhythmKeepsThePlainMemoryCheck) {
    setSongs(VirtualZr7316::kSongMemory - 1000, 0);
    auto song = makeItem(ZxKind::Song, itemBytes(1002, ZxKind::Song, "TOOBIG"));
    EXPECT_THROW(streamOn(ZxKind::Song, 1)->write(*song), KbxStreamException);

    // A rhythm of 100 in slot 0 does not make room for one of 1002 in its place.
    m_kb->setItemBytes(ZxKind::Song, 0, 0, {});
    m_kb->setItemBytes(ZxKind::Rhythm, 0, 0, itemBytes(100, ZxKind::Rhythm, "OLDBEAT"));
    m_kb->setItemBytes(ZxKind::Song, 0, 0,
                       itemBytes(VirtualZr7316::kSongMemory - 1000 - 100, ZxKind::Song, "BIG"));
    relist();
    ASSERT_EQ(m_kb->freeMemory(), 1000u);
    auto rhythm = makeItem(ZxKind::Rhythm, itemBytes(1002, ZxKind::Rhythm, "NEWBEAT"));
    auto stream = streamOn(ZxKind::Rhythm, 0);
    try {
        stream->write(*rhythm);
        ADD_FAILURE() << "a rhythm was sent past the free memory";
    } catch (const KbxStreamException& e) {
        EXPECT_EQ(e.code(), KbxStreamException::NotEnoughMemory);
    }
    EXPECT_FALSE(stream->deleteAsked());
    EXPECT_EQ(ofType(m_kb->received(), 0).size(), 0u); // nothing deleted
}

TEST_F(KbxMidiStreamTest, deletesOldSongBeforeSendingTheNewOne) {
    setSongs(VirtualZr7316::kSongMemory - 1002 - 100, 100);
    ASSERT_EQ(m_kb->freeMemory(), 1002u);
    const Bytes bytes = itemBytes(1002, ZxKind::Song, "NEWSONG");
    auto item = makeItem(ZxKind::Song, bytes);
    auto stream = streamOn(ZxKind::Song, 1);
    PositionRecorder recorder;
    stream->attach(&recorder);

    stream->write(*item);

    const auto& received = m_kb->received();
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[0], kFreeMemoryRequest);
    EXPECT_EQ(toHex(received[1]), "F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"); // delete song 1
    EXPECT_EQ(received[2], kFreeMemoryRequest);
    const auto blocks = ofType(received, 4);
    ASSERT_EQ(blocks.size(), 8u); // 7 x 128 + 106
    EXPECT_EQ(recorder.positions.back(), 1002u);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Song, 1), bytes);
    EXPECT_EQ(blocks.back().at(12), 53); // words
    EXPECT_EQ(stream->slot().name(), "NEWSONG ");
    EXPECT_EQ(stream->slot().size(), 1002u);
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, importsEveryKindExactlyAsTheKeyboardHoldsIt) {
    const Bytes song = itemBytes(700, ZxKind::Song, "LONGSONG");
    m_kb->setItemBytes(ZxKind::Song, 0, 0, song);
    const Bytes rhythm = itemBytes(90, ZxKind::Rhythm, "BEAT");
    m_kb->setItemBytes(ZxKind::Rhythm, 3, 0, rhythm);
    relist();

    struct Case {
        std::uint16_t kind;
        int number, bank;
        std::string name;
    };
    const Bytes tone = m_kb->itemBytes(ZxKind::Tone, 3);
    const Bytes dsp = m_kb->itemBytes(ZxKind::Dsp, 9);
    const std::vector<Case> cases = {
        {ZxKind::Tone, 3, 0, std::string(tone.begin() + 36, tone.begin() + 44)},
        {ZxKind::Dsp, 9, 0, std::string(dsp.begin(), dsp.begin() + 8)},
        {ZxKind::Registration, 3, 2, "Preset24"},
        {ZxKind::Song, 0, 0, "LONGSONG"},
        {ZxKind::Rhythm, 3, 0, "BEAT    "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = streamOn(c.kind, c.number, c.bank);
        PositionRecorder recorder;
        stream->attach(&recorder);
        ZxDataFile item(ZxKind::Undetermined);
        m_kb->clearLog();

        stream->read(item);

        const Bytes held = m_kb->itemBytes(c.kind, c.number, c.bank);
        EXPECT_EQ(item.kind(), c.kind);
        EXPECT_EQ(item.size(), held.size());
        EXPECT_EQ(payloadBytes(item), held);
        EXPECT_EQ(item.name(), c.name);
        EXPECT_EQ(recorder.positions.size(), (held.size() + 127) / 128);
        EXPECT_EQ(recorder.positions.back(), held.size());
        EXPECT_FALSE(stream->portsOpen());
    }

    // The song's exchange: one data request, then every block answered with handshake 1.
    auto song0 = streamOn(ZxKind::Song, 0);
    ZxDataFile item(ZxKind::Undetermined);
    m_kb->clearLog();
    song0->read(item);
    ASSERT_EQ(m_kb->received().size(), 7u); // request + 6 blocks of 700 bytes
    EXPECT_EQ(toHex(m_kb->received()[0]), "F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    for (std::size_t i = 1; i < 7; ++i)
        EXPECT_EQ(toHex(m_kb->received()[i]), "F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, blockBeyondTheAnnouncedSizeFailsWithoutWritingPastThePayload) {
    m_kb->setItemBytes(ZxKind::Song, 0, 0, itemBytes(100, ZxKind::Song, "SHORT"));
    relist();
    m_kb->setItemBytes(ZxKind::Song, 0, 0, itemBytes(400, ZxKind::Song, "LONGER"));
    auto stream = streamOn(ZxKind::Song, 0);
    ZxDataFile item(ZxKind::Undetermined);
    try {
        stream->read(item);
        FAIL() << "took a block beyond the slot's size";
    } catch (const ZxSysExException& e) {
        EXPECT_EQ(e.code(), 4);
    }
    EXPECT_EQ(item.payload().size(), 50u);
    EXPECT_FALSE(stream->portsOpen());
}

TEST_F(KbxMidiStreamTest, timesOutWhenTheDataRequestGoesUnansweredAndRecovers) {
    setFaults([](auto& f) { f.noReplyTo = 0; });
    auto stream = streamOn(ZxKind::Tone, 1);
    ZxDataFile item(ZxKind::Undetermined);
    QElapsedTimer clock;
    clock.start();
    try {
        stream->read(item);
        FAIL() << "no time-out";
    } catch (const ZxSysExException& e) {
        EXPECT_EQ(e.code(), 6);
    }
    EXPECT_GE(clock.elapsed(), 200);
    // Ended by the time-out; a loaded machine (Wine on two cores) makes it seconds late.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(stream->portsOpen());

    m_kb->setFaults({});
    stream->read(item);
    EXPECT_EQ(payloadBytes(item), m_kb->itemBytes(ZxKind::Tone, 1));
    m_drive->readList(m_in, m_out);
}

TEST_F(KbxMidiStreamTest, deviceReportedGoneEndsATransferAtOnce) {
    // The slot comes from the keyboard's list; the transfer then goes to a device that never
    // answers and is reported gone while the stream waits.
    auto loopback = std::make_shared<kbxmidi::LoopbackBackend>();
    kbxmidi::DeviceRegistry::instance().setTestBackend(loopback);
    KbxMidiStream stream(pathOf(ZxKind::Tone, 1), 0, 0);
    QTimer::singleShot(0, [] { kbxmidi::DeviceWatch::instance().reportRemoved({"Loopback In"}); });
    ZxDataFile item(ZxKind::Undetermined);
    EXPECT_THROW(stream.read(item), kbxmidi::DeviceLost);
    EXPECT_FALSE(stream.portsOpen());
    EXPECT_EQ(loopback->sentMessages().size(), 1u); // the data request, nothing after it
    kbxmidi::DeviceRegistry::instance().setTestBackend(nullptr);
}

TEST_F(KbxMidiStreamTest, keyboardRefusalsDuringReadBecomeCodes) {
    for (auto [status, code] : {std::pair{2, 0}, std::pair{3, 1}, std::pair{5, 2}}) {
        SCOPED_TRACE(status);
        setFaults([status = status](auto& f) {
            f.handshakeAtBlock = 0;
            f.handshakeStatus = static_cast<std::uint8_t>(status);
        });
        auto stream = streamOn(ZxKind::Dsp, 2);
        ZxDataFile item(ZxKind::Undetermined);
        try {
            stream->read(item);
            ADD_FAILURE() << "read succeeded";
        } catch (const ZxSysExException& e) {
            EXPECT_EQ(e.code(), code);
        }
        EXPECT_FALSE(stream->portsOpen());
    }
}

TEST_F(KbxMidiStreamTest, keyboardRefusalsDuringSendBecomeCodes) {
    for (auto [status, code] : {std::pair{2, 0}, std::pair{3, 1}}) {
        SCOPED_TRACE(status);
        setFaults([status = status](auto& f) {
            f.handshakeAtBlock = 1;
            f.handshakeStatus = static_cast<std::uint8_t>(status);
        });
        auto item = makeItem(ZxKind::Registration, itemBytes(176, ZxKind::Registration, ""));
        auto stream = streamOn(ZxKind::Registration, 1, 1);
        PositionRecorder recorder;
        stream->attach(&recorder);
        m_kb->clearLog();
        try {
            stream->write(*item);
            ADD_FAILURE() << "send succeeded";
        } catch (const ZxSysExException& e) {
            EXPECT_EQ(e.code(), code);
        }
        EXPECT_EQ(recorder.positions, std::vector<std::uint32_t>{128});
        EXPECT_EQ(ofType(m_kb->received(), 7).size(), 0u); // no end handshake
        EXPECT_FALSE(stream->portsOpen());
    }
}

TEST_F(KbxMidiStreamTest, resendsABlockAnsweredWithStatusZeroUnderTheSameNumber) {
    setFaults([](auto& f) {
        f.handshakeAtBlock = 1;
        f.handshakeStatus = 0;
        f.handshakeTimes = 1;
    });
    const Bytes bytes = itemBytes(300, ZxKind::Rhythm, "AGAIN");
    auto item = makeItem(ZxKind::Rhythm, bytes);
    auto stream = streamOn(ZxKind::Rhythm, 1);
    PositionRecorder recorder;
    stream->attach(&recorder);

    stream->write(*item);

    const auto blocks = ofType(m_kb->received(), 4);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[1].at(10), 1);
    EXPECT_EQ(blocks[2], blocks[1]); // the same block again, its number not advanced
    EXPECT_EQ(blocks[3].at(10), 2);
    EXPECT_EQ(recorder.positions, (std::vector<std::uint32_t>{128, 256, 300}));
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Rhythm, 1), bytes);
    expectNothingUnexpected();
}

TEST_F(KbxMidiStreamTest, resendsABlockAnsweredWithAnUnknownStatusSixteenTimesAtMost) {
    setFaults([](auto& f) {
        f.handshakeAtBlock = 1;
        f.handshakeStatus = 0;
    });
    auto item = makeItem(ZxKind::Registration, itemBytes(176, ZxKind::Registration, ""));
    auto stream = streamOn(ZxKind::Registration, 0, 3);
    PositionRecorder recorder;
    stream->attach(&recorder);
    try {
        stream->write(*item);
        FAIL() << "a keyboard that never accepts let the send succeed";
    } catch (const ZxSysExException& e) {
        EXPECT_EQ(e.code(), 2);
    }
    const auto blocks = ofType(m_kb->received(), 4);
    ASSERT_EQ(blocks.size(), 1u + 17u); // block 0, then block 1 sent once and again 16 times
    EXPECT_EQ(blocks[0].at(10), 0);
    for (std::size_t i = 1; i < blocks.size(); ++i)
        EXPECT_EQ(blocks[i], blocks[1]) << "copy " << i;
    EXPECT_EQ(blocks[1].at(10), 1);
    EXPECT_EQ(recorder.positions, std::vector<std::uint32_t>{128});
    EXPECT_TRUE(ofType(m_kb->received(), 7).empty());
    EXPECT_FALSE(stream->portsOpen());
}

// Import everything into files, rename one item in its file, send every file back: the keyboard
// holds what it held before, except the new name.
TEST_F(KbxMidiStreamTest, roundTripThroughFilesKeepsTheDataAndCarriesANewName) {
    // Paths find slots by name: give the blank user tones and DSP settings names of their own.
    for (int n = 4; n < 10; ++n) {
        const std::string name = "Blank " + std::to_string(n);
        m_kb->setItemBytes(ZxKind::Tone, n, 0, itemBytes(60, ZxKind::Tone, name));
        m_kb->setItemBytes(ZxKind::Dsp, n, 0, itemBytes(36, ZxKind::Dsp, name));
    }
    relist();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Imported {
        std::uint16_t kind;
        int number, bank;
        QString file;
        Bytes held;
    };
    std::vector<Imported> imported;
    std::vector<std::pair<std::string, ZxData*>> presentSlots;
    forEachSlot([&](const std::string& folder, ZxData& slot) {
        if (slot.isPresent())
            presentSlots.emplace_back(folder + "\\" + slot.name(), &slot);
    });
    ASSERT_GE(presentSlots.size(), 36u);
    for (const auto& [path, slot] : presentSlots) {
        KbxMidiStream stream(path, m_in, m_out);
        ZxDataFile item(ZxKind::Undetermined);
        stream.read(item);
        const QString file = dir.filePath(QString("item%1.kbx").arg(imported.size()));
        KbxFileStream(file, KbxFileStream::Create).write(item);
        imported.push_back({slot->kind(), slot->number(), slot->bank(), file,
                            m_kb->itemBytes(slot->kind(), slot->number(), slot->bank())});
    }

    // A new name for tone 0, written into its file.
    const auto tone0 = std::find_if(imported.begin(), imported.end(), [](const Imported& i) {
        return i.kind == ZxKind::Tone && i.number == 0;
    });
    ASSERT_NE(tone0, imported.end());
    {
        ZxDataFile item(ZxKind::Undetermined);
        KbxFileStream(tone0->file, KbxFileStream::Read).read(item);
        item.setItemName("RENAMED");
        KbxFileStream(tone0->file, KbxFileStream::Create).write(item);
    }

    for (const Imported& i : imported) {
        ZxDataFile item(ZxKind::Undetermined);
        KbxFileStream(i.file, KbxFileStream::Read).read(item);
        KbxMidiStream(pathOf(i.kind, i.number, i.bank), m_in, m_out).write(item);
    }
    relist();

    EXPECT_EQ(m_drive->folderByName("Tone:")->child(0)->name(), "RENAMED ");
    for (const Imported& i : imported) {
        Bytes expected = i.held;
        if (&i == &*tone0)
            for (std::size_t k = 0; k < 8; ++k)
                expected[36 + k] = static_cast<std::uint8_t>("RENAMED "[k]);
        EXPECT_EQ(m_kb->itemBytes(i.kind, i.number, i.bank), expected)
            << "kind " << i.kind << " number " << i.number << " bank " << i.bank;
    }
}

// Blank user tones all carry the same name, so a path cannot tell them apart; the node can.
TEST_F(KbxMidiStreamTest, streamOnASlotNodeAddressesThatSlotWhateverItsName) {
    ZxDataDrive* tones = m_drive->folderByName("Tone:");
    ZxData& tone4 = *tones->child(4);
    ZxData& tone7 = *tones->child(7);
    ASSERT_EQ(tone4.name(), tone7.name());
    const Bytes tone4Before = m_kb->itemBytes(ZxKind::Tone, 4);
    const Bytes bytes = itemBytes(60, ZxKind::Tone, "SEVEN");
    auto item = makeItem(ZxKind::Tone, bytes);

    KbxMidiStream stream(tone7, m_in, m_out);
    EXPECT_EQ(KbxMidiStream::dataNumber(stream.slot()), 391);
    stream.write(*item);

    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 7), bytes);
    EXPECT_EQ(m_kb->itemBytes(ZxKind::Tone, 4), tone4Before);
    EXPECT_EQ(tone7.name(), "SEVEN   ");

    ZxDataFile folder(ZxKind::Tone);
    EXPECT_THROW(KbxMidiStream(*tones, m_in, m_out), std::runtime_error);
    EXPECT_THROW(KbxMidiStream(folder, m_in, m_out), std::runtime_error);
}

TEST_F(KbxMidiStreamTest, decoderFailuresAndSilenceMidTransferCloseThePorts) {
    struct Case {
        const char* what;
        std::function<void(VirtualZr7316::Faults&)> faults;
        bool send;
        int code;
    };
    const std::vector<Case> cases = {
        {"bad checksum in block 1", [](auto& f) { f.badChecksumBlock = 1; }, false, 5},
        {"data request in reply to block request", [](auto& f) { f.unexpectedAt = 1; }, false, 4},
        {"data request in reply to a block", [](auto& f) { f.unexpectedAt = 0; }, true, 4},
        {"silent after block 0", [](auto& f) { f.silentFrom = 1; }, true, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setFaults(c.faults);
        auto stream = streamOn(ZxKind::Registration, 2, 0);
        const Bytes before = m_kb->itemBytes(ZxKind::Registration, 2, 0);
        try {
            if (c.send) {
                auto item =
                    makeItem(ZxKind::Registration, itemBytes(176, ZxKind::Registration, ""));
                stream->write(*item);
            } else {
                ZxDataFile item(ZxKind::Undetermined);
                stream->read(item);
            }
            ADD_FAILURE() << "transfer succeeded";
        } catch (const ZxSysExException& e) {
            EXPECT_EQ(e.code(), c.code);
        }
        EXPECT_FALSE(stream->portsOpen());
        EXPECT_EQ(m_kb->itemBytes(ZxKind::Registration, 2, 0), before);
    }
    // Nothing is left holding the devices: the drive lists again.
    m_kb->setFaults({});
    m_drive->readList(m_in, m_out);
}

// The time-out guards each message from the moment it has left the port, so a keyboard that
// answers every message late but in time gets through a whole transfer.
TEST_F(KbxMidiStreamTest, lateRepliesWithinTheTimeOutAreWaitedFor) {
    setFaults([](auto& f) { f.replyDelayMs = 120; });
    auto stream = streamOn(ZxKind::Registration, 0, 0);
    ZxDataFile item(ZxKind::Undetermined);
    stream->read(item);
    EXPECT_EQ(payloadBytes(item), m_kb->itemBytes(ZxKind::Registration, 0, 0));
    EXPECT_EQ(item.name(), "Preset01");
}

TEST_F(KbxMidiStreamTest, observerSeesEveryMessageOfATransferAndItsTimeOut) {
    struct Trace : ZxExchangeObserver {
        std::vector<Bytes> sentMessages, receivedMessages;
        std::string order;
        void sent(const Bytes& message) override {
            sentMessages.push_back(message);
            order += 's';
        }
        void received(const Bytes& message) override {
            receivedMessages.push_back(message);
            order += 'r';
        }
        void timedOut() override { order += 't'; }
    } trace;
    m_kb->setItemBytes(ZxKind::Song, 0, 0, itemBytes(300, ZxKind::Song, "TRACED"));
    relist();

    auto stream = streamOn(ZxKind::Song, 0);
    stream->setObserver(&trace);
    ZxDataFile item(ZxKind::Undetermined);
    stream->read(item);

    // Request, then each of the three blocks answered; the keyboard's end closes the transfer.
    EXPECT_EQ(trace.order, "srsrsrsr");
    ASSERT_EQ(trace.sentMessages.size(), 4u);
    EXPECT_EQ(toHex(trace.sentMessages[0]), "F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(toHex(trace.sentMessages[i]), "F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_EQ(trace.sentMessages, m_kb->received());
    EXPECT_EQ(trace.receivedMessages, m_kb->sent());
    EXPECT_EQ(toHex(trace.receivedMessages.back()), "F0 44 11 01 7F 7A 00 00 00 00 00 F7");

    setFaults([](auto& f) { f.noReplyTo = 0; });
    trace.order.clear();
    EXPECT_THROW(stream->read(item), ZxSysExException);
    EXPECT_EQ(trace.order, "st");
    EXPECT_FALSE(stream->portsOpen());
    expectNothingUnexpected();
}

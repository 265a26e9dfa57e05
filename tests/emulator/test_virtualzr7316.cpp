// The virtual ZR-7316 driven with raw messages through receive() and its reply sink, inside the
// real Qt event loop. Expected bytes are written out by hand.

#include "testutil.h"
#include "virtualzr7316.h"
#include "zxsysex.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>
#include <string>

using Bytes = std::vector<std::uint8_t>;
using kbxtest::hex;
using kbxtest::toHex;

namespace {

// A host data block, encoded here independently of the code under test: words are pairs of item
// bytes, high byte first, each sent as three 7-bit groups, least significant first.
Bytes block(std::uint8_t kind, int dataNumber, int number, const Bytes& data) {
    Bytes m = {0xF0,
               0x44,
               0x11,
               0x01,
               0x7F,
               std::uint8_t(0x40 | kind),
               0x00,
               0x4F,
               std::uint8_t(dataNumber & 0x7F),
               std::uint8_t(dataNumber >> 7),
               std::uint8_t(number & 0x7F),
               std::uint8_t(number >> 7),
               std::uint8_t(data.size() / 2)};
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const unsigned word = (data[i] << 8) | data[i + 1];
        for (unsigned g : {word & 0x7F, (word >> 7) & 0x7F, word >> 14}) {
            m.push_back(std::uint8_t(g));
            sum += g;
        }
    }
    m.push_back(std::uint8_t((128 - sum % 128) & 0x7F));
    m.push_back(0xF7);
    return m;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t count) {
    return Bytes(b.begin() + from, b.begin() + std::min(b.size(), from + count));
}

// Bytes 0, 1, 2, ... with a name written at offset.
Bytes item(std::size_t size, std::size_t nameAt = 0, const std::string& name = {}) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = std::uint8_t(i * 7 + 3);
    for (std::size_t i = 0; i < name.size(); ++i)
        b[nameAt + i] = std::uint8_t(name[i]);
    return b;
}

const char* kKeyboardType = "F0 44 11 01 7F 10 00 0D 00 00 00 F7";

class VirtualKeyboard : public ::testing::Test {
protected:
    void SetUp() override {
        kb.wipe();
        kb.setStrict(true);
        kb.setReplySink([this](const Bytes& m) { replies.push_back(m); });
    }
    void TearDown() override {
        for (const std::string& u : kb.unexpected())
            ADD_FAILURE() << "keyboard did not expect " << u;
    }

    void send(const std::string& text) { kb.receive(hex(text)); }
    void send(const Bytes& m) { kb.receive(m); }

    // The next reply, or an empty message when none comes within two seconds.
    Bytes next() {
        if (!kbxtest::waitFor([&] { return replies.size() > taken; }))
            return {};
        return replies[taken++];
    }
    // True when no further reply turns up while the loop runs a little.
    bool quiet(int ms = 30) {
        kbxtest::spin(ms);
        return replies.size() == taken;
    }
    std::size_t strictNotes() {
        const std::size_t n = kb.unexpected().size();
        kb.clearLog();
        return n;
    }

    VirtualZr7316 kb;
    std::vector<Bytes> replies;
    std::size_t taken = 0;
};

// ---------------------------------------------------------------------------- parameters

TEST_F(VirtualKeyboard, answersKeyboardTypeRequestWithFourteenBitZero) {
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    EXPECT_EQ(kb.received().size(), 1u);
    EXPECT_EQ(kb.sent().size(), 1u);
}

TEST_F(VirtualKeyboard, neverRepliesFromInsideReceive) {
    send(kKeyboardType);
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(kb.sent().empty());
    EXPECT_FALSE(next().empty());
}

TEST_F(VirtualKeyboard, reportsFreeSongMemory) {
    send("F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 22 1F 00 00 00 00 28 01 00 00 F7"); // 21504
    kb.factoryReset(); // one 600-byte song, one 234-byte rhythm
    send("F0 44 11 01 7F 10 22 1F 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 22 1F 00 00 00 3E 21 01 00 00 F7"); // 20670
}

TEST_F(VirtualKeyboard, answersToneNameInTwoHalves) {
    kb.setItemBytes(2, 3, 0, item(60, 36, "STAR    "));
    send("F0 44 11 01 7F 12 60 1F 03 03 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 02 60 1F 03 03 00 52 02 51 1A 05 F7");
    send("F0 44 11 01 7F 12 61 1F 03 03 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 02 61 1F 03 03 00 20 40 00 01 02 F7");
}

TEST_F(VirtualKeyboard, answersDspNameInTwoHalves) {
    kb.setItemBytes(9, 9, 0, item(36, 0, "Hall Rev"));
    send("F0 44 11 01 7F 19 30 1F 6D 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 09 30 1F 6D 00 00 6C 58 05 43 04 F7");
    send("F0 44 11 01 7F 19 31 1F 6D 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 09 31 1F 6D 00 00 76 4A 49 02 02 F7");
}

TEST_F(VirtualKeyboard, answersSongAndRhythmSizesAndNamesByIndex) {
    kb.setItemBytes(10, 1, 0, item(300, 4, "Waltz   "));
    kb.setItemBytes(11, 2, 0, item(40, 2, "Samba   "));
    send("F0 44 11 01 7F 10 26 1F 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 26 1F 00 00 01 2C 02 00 00 00 F7");
    send("F0 44 11 01 7F 10 27 1F 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 27 1F 00 00 01 74 58 05 3B 05 F7");
    send("F0 44 11 01 7F 10 28 1F 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 28 1F 00 00 01 20 40 00 51 07 F7");
    send("F0 44 11 01 7F 10 23 1F 00 00 02 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 23 1F 00 00 02 28 00 00 00 00 F7");
    send("F0 44 11 01 7F 10 24 1F 00 00 02 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 24 1F 00 00 02 62 5A 05 1B 05 F7");
    send("F0 44 11 01 7F 10 25 1F 00 00 02 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 25 1F 00 00 02 20 40 00 09 06 F7");
}

TEST_F(VirtualKeyboard, emptySongHasSizeZero) {
    send("F0 44 11 01 7F 10 26 1F 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 26 1F 00 00 00 00 00 00 00 00 F7");
}

TEST_F(VirtualKeyboard, unknownParameterIsAnsweredWithZero) {
    send("F0 44 11 01 7F 10 32 0D 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 32 0D 00 00 00 00 00 F7");
    EXPECT_EQ(strictNotes(), 1u);
}

TEST_F(VirtualKeyboard, factoryContentsHoldNamedItems) {
    kb.factoryReset();
    const Bytes tone = kb.itemBytes(2, 0);
    EXPECT_EQ(std::string(tone.begin() + 36, tone.begin() + 44), "Brass 1 ");
    const Bytes dsp = kb.itemBytes(9, 0);
    EXPECT_NE(std::string(dsp.begin(), dsp.begin() + 8), "        ");
    const Bytes song = kb.itemBytes(10, 0);
    ASSERT_GT(song.size(), 256u); // several blocks
    EXPECT_NE(std::string(song.begin() + 4, song.begin() + 12), "        ");
    EXPECT_TRUE(kb.itemBytes(10, 1).empty());
    const Bytes rhythm = kb.itemBytes(11, 0);
    ASSERT_GE(rhythm.size(), 10u);
    EXPECT_EQ(kb.itemBytes(2, 9).size(), 60u);
    EXPECT_EQ(kb.itemBytes(12, 3, 3).size(), 176u);
    EXPECT_EQ(kb.freeMemory(), 21504u - song.size() - rhythm.size());
}

// ---------------------------------------------------------------------------- keyboard sends

TEST_F(VirtualKeyboard, sendsDspAsOneBlockThenHandshakeZero) {
    Bytes dsp = item(36, 0, "STAR    ");
    std::fill(dsp.begin() + 8, dsp.end(), 0);
    dsp[8] = 0xFF, dsp[9] = 0xFF, dsp[10] = 0x12, dsp[11] = 0x34;
    kb.setItemBytes(9, 9, 0, dsp);
    send("F0 44 11 01 7F 59 00 00 6D 00 00 F7");
    EXPECT_EQ(toHex(next()),
              "F0 44 11 01 7F 49 00 4F 6D 00 00 00 12 54 26 01 52 02 01 20 40 00 20 "
              "40 00 7F 7F 03 34 24 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 17 F7");
    send("F0 44 11 01 7F 79 00 00 6D 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 79 00 00 6D 00 00 F7");
    EXPECT_TRUE(quiet());
}

TEST_F(VirtualKeyboard, sendsSongBlockByBlockWaitingForEachHandshake) {
    Bytes song = item(260, 4, "Minuet  ");
    song[256] = 0xAB, song[257] = 0xCD, song[258] = 0x01, song[259] = 0x02;
    kb.setItemBytes(10, 0, 0, song);
    send("F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    EXPECT_EQ(next(), block(10, 0, 0, slice(song, 0, 128)));
    EXPECT_TRUE(quiet());
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_EQ(next(), block(10, 0, 1, slice(song, 128, 128)));
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 4A 00 4F 00 00 02 00 02 4D 57 02 02 02 00 56 F7");
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    EXPECT_TRUE(quiet());
}

TEST_F(VirtualKeyboard, registrationDataNumberIsSixteenPlusFourTimesNumberPlusBank) {
    const Bytes reg = item(176);
    kb.setItemBytes(12, 3, 2, reg);
    send("F0 44 11 01 7F 5C 00 00 1E 00 00 F7"); // 30: bank 2, number 3
    EXPECT_EQ(next(), block(12, 30, 0, slice(reg, 0, 128)));
    send("F0 44 11 01 7F 7C 00 00 1E 00 01 F7");
    EXPECT_EQ(next(), block(12, 30, 1, slice(reg, 128, 48)));
    send("F0 44 11 01 7F 7C 00 00 1E 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7C 00 00 1E 00 00 F7");
}

TEST_F(VirtualKeyboard, refusesEmptySongAndUnknownSlotWithHandshakeTwo) {
    send("F0 44 11 01 7F 5A 00 00 01 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 02 F7");
    send("F0 44 11 01 7F 52 00 00 0A 03 00 F7"); // tone 394 does not exist
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 72 00 00 0A 03 02 F7");
    EXPECT_EQ(strictNotes(), 1u);
}

TEST_F(VirtualKeyboard, hostHandshakeThreeEndsTheSend) {
    kb.setItemBytes(10, 0, 0, item(300, 4, "Minuet  "));
    send("F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    ASSERT_FALSE(next().empty());
    send("F0 44 11 01 7F 7A 00 00 00 00 03 F7");
    EXPECT_TRUE(quiet());
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7"); // too late: the send is over
    EXPECT_TRUE(quiet());
    EXPECT_EQ(strictNotes(), 1u);
}

TEST_F(VirtualKeyboard, otherRequestDuringSendEndsTheSendAndIsAnswered) {
    kb.setItemBytes(10, 0, 0, item(300, 4, "Minuet  "));
    send("F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    ASSERT_FALSE(next().empty());
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_TRUE(quiet());
    EXPECT_EQ(strictNotes(), 2u);
}

// ---------------------------------------------------------------------------- keyboard receives

TEST_F(VirtualKeyboard, receivedSongIsStoredOnlyAfterHandshakeZero) {
    const Bytes song = item(300, 4, "Waltz   ");
    for (int b = 0; b < 3; ++b) {
        send(block(10, 1, b, slice(song, 128 * b, 128)));
        EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 01 F7") << "block " << b;
    }
    EXPECT_TRUE(kb.itemBytes(10, 1).empty());
    EXPECT_EQ(kb.freeMemory(), 21504u);
    send("F0 44 11 01 7F 7A 00 00 01 00 00 F7");
    EXPECT_EQ(kb.itemBytes(10, 1), song);
    EXPECT_EQ(kb.freeMemory(), 21204u);
    EXPECT_TRUE(quiet());
}

TEST_F(VirtualKeyboard, receivedToneReplacesTheSlot) {
    const Bytes tone = item(60, 36, "EPiano  ");
    send(block(2, 384 + 5, 0, tone));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 72 00 00 05 03 01 F7");
    send("F0 44 11 01 7F 72 00 00 05 03 00 F7");
    EXPECT_EQ(kb.itemBytes(2, 5), tone);
}

TEST_F(VirtualKeyboard, corruptStoredByteChangesOneBitOfWhatItCommits) {
    VirtualZr7316::Faults faults;
    faults.corruptStoredByte = 40;
    kb.setFaults(faults);
    const Bytes tone = item(60, 36, "EPiano  ");
    send(block(2, 384 + 5, 0, tone));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 72 00 00 05 03 01 F7");
    send("F0 44 11 01 7F 72 00 00 05 03 00 F7");
    Bytes expected = tone;
    expected[40] ^= 0x01;
    EXPECT_EQ(kb.itemBytes(2, 5), expected);

    // Past the end: the last byte. What the keyboard sends is what it stored.
    faults.corruptStoredByte = 1000;
    kb.setFaults(faults);
    send(block(2, 384 + 6, 0, tone));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 72 00 00 06 03 01 F7");
    send("F0 44 11 01 7F 72 00 00 06 03 00 F7");
    expected = tone;
    expected[59] ^= 0x01;
    EXPECT_EQ(kb.itemBytes(2, 6), expected);
}

TEST_F(VirtualKeyboard, blockFailingChecksumIsAnsweredWithHandshakeThree) {
    const Bytes song = item(300);
    send(block(10, 0, 0, slice(song, 0, 128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    Bytes bad = block(10, 0, 1, slice(song, 128, 128));
    bad[20] ^= 0x01;
    send(bad);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 03 F7");
    send(block(10, 0, 2, slice(song, 256, 44)));
    send("F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    next();
    EXPECT_TRUE(kb.itemBytes(10, 0).empty());
    strictNotes();
}

// A MIDI interface that drops a run of three zero bytes leaves a block whose checksum holds but
// whose word count (byte 12: 7) is one more than the words it carries: the keyboard refuses it
// like a block that fails its checksum, so nothing shifted is ever stored.
TEST_F(VirtualKeyboard, blockShortOfAWordItCountsIsAnsweredWithHandshakeThree) {
    send("F0 44 11 01 7F 4B 00 4F 64 00 00 00 07 10 02 00 65 04 01 74 42 01 20 40 00 20 40 00 "
         "3C 7E 01 52 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7B 00 00 64 00 03 F7");
    EXPECT_TRUE(kb.itemBytes(11, 0).empty());
    EXPECT_EQ(strictNotes(), 1u);
    // The whole block is taken.
    send("F0 44 11 01 7F 4B 00 4F 64 00 00 00 07 10 02 00 65 04 01 74 42 01 20 40 00 20 40 00 "
         "00 00 00 3C 7E 01 52 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7B 00 00 64 00 01 F7");
    send("F0 44 11 01 7F 7B 00 00 64 00 00 F7");
    EXPECT_EQ(toHex(kb.itemBytes(11, 0)), "01 10 42 65 61 74 20 20 20 20 00 00 7F 3C");
}

TEST_F(VirtualKeyboard, transferWithMissingBlockStoresNothing) {
    const Bytes song = item(300);
    send(block(10, 0, 0, slice(song, 0, 128)));
    send(block(10, 0, 2, slice(song, 256, 44)));
    EXPECT_FALSE(next().empty());
    EXPECT_FALSE(next().empty());
    send("F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    EXPECT_TRUE(kb.itemBytes(10, 0).empty());
    EXPECT_EQ(strictNotes(), 2u); // block out of order, transfer incomplete
}

TEST_F(VirtualKeyboard, requestInTheMiddleOfAReceiptAbandonsIt) {
    const Bytes tone = kb.itemBytes(2, 0);
    const Bytes song = item(300);
    send(block(10, 0, 0, slice(song, 0, 128)));
    next();
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    send(block(10, 0, 1, slice(song, 128, 128)));
    next();
    send(block(10, 0, 2, slice(song, 256, 44)));
    next();
    send("F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    EXPECT_TRUE(kb.itemBytes(10, 0).empty()); // block 0 went with the abandoned receipt
    strictNotes();
}

TEST_F(VirtualKeyboard, newBlockZeroStartsTheReceiptAfreshWithoutTheAbandonedBlocks) {
    // A host gives up a 300-byte song after its third block and sends a 100-byte one into the
    // same slot: only the new song's single block may make the item.
    const Bytes abandoned = item(300, 4, "Gone    ");
    for (int b = 0; b < 3; ++b) {
        send(block(10, 0, b, slice(abandoned, 128 * b, 128)));
        EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    }
    const Bytes song = item(100, 4, "Short   ");
    send(block(10, 0, 0, song));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    send("F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    EXPECT_EQ(kb.itemBytes(10, 0), song);
    EXPECT_EQ(kb.freeMemory(), 21504u - 100u);
    EXPECT_EQ(strictNotes(), 1u); // the abandoned receipt
}

TEST_F(VirtualKeyboard, blockZeroSentAgainIsNoRestartWorthANote) {
    // A host that sends block 0 again (its handshake had an unknown status) is not abandoning.
    const Bytes song = item(200, 4, "Again   ");
    send(block(10, 1, 0, slice(song, 0, 128)));
    next();
    send(block(10, 1, 0, slice(song, 0, 128)));
    next();
    send(block(10, 1, 1, slice(song, 128, 128)));
    next();
    send("F0 44 11 01 7F 7A 00 00 01 00 00 F7");
    EXPECT_EQ(kb.itemBytes(10, 1), song);
}

TEST_F(VirtualKeyboard, toneLongerThanItsSlotIsRejected) {
    const Bytes before = kb.itemBytes(2, 0);
    send(block(2, 384, 0, item(128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 72 00 00 00 03 02 F7");
    send("F0 44 11 01 7F 72 00 00 00 03 00 F7");
    EXPECT_EQ(kb.itemBytes(2, 0), before);
    strictNotes();
}

TEST_F(VirtualKeyboard, songBeyondFreeMemoryIsRejected) {
    kb.setItemBytes(11, 0, 0, item(21504 - 200));
    const Bytes song = item(300);
    send(block(10, 1, 0, slice(song, 0, 128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 01 F7");
    send(block(10, 1, 1, slice(song, 128, 128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 02 F7");
    EXPECT_TRUE(kb.itemBytes(10, 1).empty());
    EXPECT_EQ(kb.freeMemory(), 200u);
}

TEST_F(VirtualKeyboard, songBeingReplacedCountsAsFree) {
    kb.setItemBytes(10, 0, 0, item(21000));
    const Bytes song = item(600, 4, "Bigger  ");
    for (int b = 0; b < 5; ++b) {
        send(block(10, 0, b, slice(song, 128 * b, 128)));
        EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 01 F7") << "block " << b;
    }
    send("F0 44 11 01 7F 7A 00 00 00 00 00 F7");
    EXPECT_EQ(kb.itemBytes(10, 0), song);
    EXPECT_EQ(kb.freeMemory(), 21504u - 600u);
    EXPECT_THROW(kb.setItemBytes(11, 0, 0, item(21504 - 600 + 2)), std::invalid_argument);
}

TEST_F(VirtualKeyboard, deletesSongAndRhythmWithoutReply) {
    kb.setItemBytes(10, 1, 0, item(300));
    kb.setItemBytes(11, 2, 0, item(40));
    send("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7");
    EXPECT_TRUE(kb.itemBytes(10, 1).empty());
    send("F0 44 11 01 7F 00 21 07 00 00 00 02 00 F7");
    EXPECT_TRUE(kb.itemBytes(11, 2).empty());
    EXPECT_EQ(kb.freeMemory(), 21504u);
    EXPECT_TRUE(quiet());
    EXPECT_TRUE(kb.sent().empty());
}

TEST_F(VirtualKeyboard, handshakeForAnotherItemIsNotedInStrictMode) {
    send(block(2, 384, 0, item(60)));
    next();
    send("F0 44 11 01 7F 72 00 00 01 03 00 F7"); // tone 385, not 384
    EXPECT_EQ(strictNotes(), 1u);
}

// ---------------------------------------------------------------------------- fault switches

TEST_F(VirtualKeyboard, noReplyToSkipsExactlyThatMessage) {
    VirtualZr7316::Faults f;
    f.noReplyTo = 1;
    kb.setFaults(f);
    for (int i = 0; i < 3; ++i)
        send(kKeyboardType);
    EXPECT_FALSE(next().empty());
    EXPECT_FALSE(next().empty());
    EXPECT_TRUE(quiet());
    EXPECT_EQ(kb.sent().size(), 2u);
}

TEST_F(VirtualKeyboard, silentFromStopsEveryLaterReply) {
    send(kKeyboardType);
    VirtualZr7316::Faults f;
    f.silentFrom = 1; // counted from setFaults
    kb.setFaults(f);
    for (int i = 0; i < 4; ++i)
        send(kKeyboardType);
    EXPECT_FALSE(next().empty()); // the one before setFaults
    EXPECT_FALSE(next().empty()); // message 0 after setFaults
    EXPECT_TRUE(quiet());
}

TEST_F(VirtualKeyboard, replyDelayHoldsTheReply) {
    VirtualZr7316::Faults f;
    f.replyDelayMs = 250;
    kb.setFaults(f);
    QElapsedTimer clock;
    clock.start();
    send(kKeyboardType);
    EXPECT_FALSE(next().empty());
    EXPECT_GE(clock.elapsed(), 250);
    // Ended by the time-out; a loaded machine (Wine on two cores) makes it seconds late.
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(VirtualKeyboard, reportsTheKeyboardTypeOfTheFault) {
    VirtualZr7316::Faults f;
    f.keyboardType = 5;
    kb.setFaults(f);
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 05 00 F7");
}

TEST_F(VirtualKeyboard, badChecksumBlockSpoilsOnlyThatBlock) {
    const Bytes song = item(300);
    kb.setItemBytes(10, 0, 0, song);
    VirtualZr7316::Faults f;
    f.badChecksumBlock = 1;
    kb.setFaults(f);
    send("F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    EXPECT_EQ(next(), block(10, 0, 0, slice(song, 0, 128)));
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    Bytes spoilt = block(10, 0, 1, slice(song, 128, 128));
    spoilt[spoilt.size() - 2] = (spoilt[spoilt.size() - 2] + 1) & 0x7F;
    EXPECT_EQ(next(), spoilt);
}

TEST_F(VirtualKeyboard, dropZeroWordBlockSendsTheBlockWithoutItsFirstZeroWord) {
    kb.setItemBytes(11, 0, 0, hex("01 10 42 65 61 74 20 20 20 20 00 00 7F 3C"));
    kb.setItemBytes(11, 1, 0, hex("01 10 42 65 61 74 20 20 20 20 7F 3C"));
    VirtualZr7316::Faults f;
    f.dropZeroWordBlock = 0;
    kb.setFaults(f);
    send("F0 44 11 01 7F 5B 00 00 64 00 00 F7");
    // Word count 7, six words; the zero word's three bytes are gone, the checksum (52) holds.
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 4B 00 4F 64 00 00 00 07 10 02 00 65 04 01 74 42 01 "
                             "20 40 00 20 40 00 3C 7E 01 52 F7");
    send("F0 44 11 01 7F 7B 00 00 64 00 03 F7");
    EXPECT_TRUE(quiet());
    // A block without a zero word goes out whole.
    send("F0 44 11 01 7F 5B 00 00 65 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 4B 00 4F 65 00 00 00 06 10 02 00 65 04 01 74 42 01 "
                             "20 40 00 20 40 00 3C 7E 01 52 F7");
}

TEST_F(VirtualKeyboard, handshakeFaultWhileReceivingRefusesThatBlock) {
    VirtualZr7316::Faults f;
    f.handshakeAtBlock = 1;
    f.handshakeStatus = 3;
    kb.setFaults(f);
    const Bytes song = item(300);
    send(block(10, 1, 0, slice(song, 0, 128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 01 F7");
    send(block(10, 1, 1, slice(song, 128, 128)));
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 01 00 03 F7");
    send("F0 44 11 01 7F 7A 00 00 01 00 00 F7");
    EXPECT_TRUE(kb.itemBytes(10, 1).empty());
    strictNotes();
}

TEST_F(VirtualKeyboard, handshakeFaultStrikesAsOftenAsAsked) {
    VirtualZr7316::Faults f;
    f.handshakeAtBlock = 0;
    f.handshakeStatus = 0; // the host sends the block again
    f.handshakeTimes = 2;
    kb.setFaults(f);
    const Bytes tone = item(60, 36, "Again   ");
    for (const char* answer : {"00", "00", "01"}) {
        send(block(2, 384, 0, tone));
        EXPECT_EQ(toHex(next()), std::string("F0 44 11 01 7F 72 00 00 00 03 ") + answer + " F7");
    }
    send("F0 44 11 01 7F 72 00 00 00 03 00 F7");
    EXPECT_EQ(kb.itemBytes(2, 0), tone);
}

TEST_F(VirtualKeyboard, handshakeFaultWhileSendingReplacesTheBlock) {
    kb.setItemBytes(10, 0, 0, item(300));
    VirtualZr7316::Faults f;
    f.handshakeAtBlock = 1;
    f.handshakeStatus = 2;
    kb.setFaults(f);
    send("F0 44 11 01 7F 5A 00 00 00 00 00 F7");
    ASSERT_EQ(next().size(), 207u);
    send("F0 44 11 01 7F 7A 00 00 00 00 01 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 7A 00 00 00 00 02 F7");
    EXPECT_TRUE(quiet());
}

TEST_F(VirtualKeyboard, unexpectedAtAnswersWithADataRequest) {
    VirtualZr7316::Faults f;
    f.unexpectedAt = 1;
    kb.setFaults(f);
    send(kKeyboardType);
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 50 00 00 00 00 00 F7");
}

TEST_F(VirtualKeyboard, wireSpeedQueuesRepliesInOrder) {
    kb.setItemBytes(10, 0, 0, item(40));
    VirtualZr7316::Faults f;
    f.wireSpeed = true;
    kb.setFaults(f);
    QElapsedTimer clock;
    clock.start();
    send(kKeyboardType);
    send("F0 44 11 01 7F 10 26 1F 00 00 00 F7");
    send(kKeyboardType);
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 26 1F 00 00 00 28 00 00 00 00 F7");
    EXPECT_EQ(toHex(next()), "F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7");
    EXPECT_GE(clock.nsecsElapsed(), (14 + 17 + 14) * 320000LL); // 320 us a byte, one at a time
}

// ---------------------------------------------------------------------------- with the host codec

TEST_F(VirtualKeyboard, hostCodecRoundTripsASongThroughTheKeyboard) {
    const Bytes bytes = item(300, 4, "Codec   ");
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        words.push_back(std::uint16_t((bytes[i] << 8) | bytes[i + 1]));
    ZxSysExAddress address;
    address.kindCode = 10;
    address.dataNumber = 1;
    address.words = &words;
    ZxSysExEncoder encoder;
    encoder.setModelCode(kModelCode);
    encoder.setFixedByte(kFixedByte);
    encoder.setAddress(address);
    ZxSysExDecoder decoder;
    decoder.setAddress(address);
    Bytes out;

    encoder.setType(ZxSysExType::DataBlock);
    for (int b = 0; b < 3; ++b) {
        encoder.setBlockNumber(std::uint16_t(b));
        encoder.setBlockLength(std::uint8_t(b < 2 ? 128 : 44));
        out.clear();
        encoder.encode(out);
        send(out);
        decoder.decode(next());
        EXPECT_EQ(decoder.type(), ZxSysExType::Handshake);
        EXPECT_EQ(decoder.status(), ZxSysExStatus::Accepted);
    }
    encoder.setType(ZxSysExType::Handshake);
    encoder.setStatus(ZxSysExStatus::End);
    out.clear();
    encoder.encode(out);
    send(out);
    ASSERT_EQ(kb.itemBytes(10, 1), bytes);

    std::vector<std::uint16_t> read(words.size());
    encoder.setType(ZxSysExType::DataRequest);
    for (;;) {
        out.clear();
        encoder.encode(out);
        send(out);
        decoder.decode(next());
        if (decoder.type() != ZxSysExType::DataBlock)
            break;
        std::copy(decoder.words().begin(), decoder.words().end(),
                  read.begin() + 64 * decoder.blockNumber());
        encoder.setType(ZxSysExType::Handshake);
        encoder.setStatus(ZxSysExStatus::Accepted);
    }
    EXPECT_EQ(decoder.type(), ZxSysExType::Handshake);
    EXPECT_EQ(decoder.status(), ZxSysExStatus::End);
    EXPECT_EQ(read, words);
}

// ---------------------------------------------------------------------------- robustness

TEST_F(VirtualKeyboard, ignoresMessagesItCannotTake) {
    send("F0 44 11 01 7F 10 00 F7");             // too short
    send("F0 43 11 01 7F 10 00 0D 00 00 00 F7"); // another maker
    send("F0 44 12 01 7F 10 00 0D 00 00 00 F7"); // another model
    send("F0 44 11 01 7F 10 00 8D 00 00 00 F7"); // status byte inside
    send("F0 44 11 01 7F 7A 00 00 00 00 F7");    // handshake without status
    send("F0 44 11 01 7F 20 00 00 00 00 00 F7"); // no such type
    send("F0 44 11 01 7F 70 00 00 00 00 00 F7"); // handshake with no transfer
    EXPECT_TRUE(quiet());
    EXPECT_EQ(strictNotes(), 7u);
}

TEST_F(VirtualKeyboard, survivesRandomMessages) {
    kb.setStrict(false);
    std::mt19937 random(7316);
    for (int i = 0; i < 3000; ++i) {
        Bytes m = hex("F0 44 11 01 7F");
        const std::size_t length = random() % 40;
        for (std::size_t j = 0; j < length; ++j)
            m.push_back(std::uint8_t(random() % (j == 0 ? 0x80 : 0x81)));
        m.push_back(0xF7);
        send(m);
    }
    kbxtest::spin(20);
    EXPECT_LE(kb.freeMemory(), 21504u);
}

// ---------------------------------------------------------------------------- state file

class VirtualKeyboardState : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("state/kbd.json")); }
};

TEST_F(VirtualKeyboardState, committedItemsAndDeletesSurviveARestart) {
    const Bytes song = item(300, 4, "Kept    ");
    {
        VirtualZr7316 kb;
        kb.setStateFile(path());
        EXPECT_FALSE(QFile::exists(path())); // nothing written before a change
        int replies = 0;
        kb.setReplySink([&](const Bytes&) { ++replies; });
        for (int b = 0; b < 3; ++b)
            kb.receive(block(10, 1, b, slice(song, 128 * b, 128)));
        ASSERT_TRUE(kbxtest::waitFor([&] { return replies == 3; }));
        EXPECT_FALSE(QFile::exists(path()));
        kb.receive(hex("F0 44 11 01 7F 7A 00 00 01 00 00 F7"));
        kb.receive(hex("F0 44 11 01 7F 00 21 07 00 00 00 00 00 F7")); // rhythm 0
        EXPECT_TRUE(QFile::exists(path()));
    }
    VirtualZr7316 again;
    again.setStateFile(path());
    EXPECT_EQ(again.itemBytes(10, 1), song);
    EXPECT_TRUE(again.itemBytes(11, 0).empty());
    EXPECT_EQ(again.itemBytes(2, 0), VirtualZr7316().itemBytes(2, 0)); // factory tone kept
}

TEST_F(VirtualKeyboardState, missingFileGivesFactoryContents) {
    VirtualZr7316 kb;
    kb.wipe();
    kb.setStateFile(path());
    EXPECT_EQ(kb.stateFile(), path());
    EXPECT_FALSE(kb.itemBytes(10, 0).empty());
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(VirtualKeyboardState, corruptFileIsKeptAsideAndFactoryContentsUsed) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("state"))));
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ \"format\": \"Virtual ZR-7316 memory\", \"tones\": [ 12");
    }
    VirtualZr7316 kb;
    kb.wipe();
    kb.setStateFile(path());
    EXPECT_EQ(kb.itemBytes(10, 0), VirtualZr7316().itemBytes(10, 0));
    EXPECT_FALSE(QFile::exists(path()));
    QFile bad(path() + QStringLiteral(".bad"));
    ASSERT_TRUE(bad.open(QIODevice::ReadOnly));
    EXPECT_TRUE(bad.readAll().startsWith("{ \"format\""));
}

TEST_F(VirtualKeyboardState, fileWithAnItemOfTheWrongSizeIsRefused) {
    {
        VirtualZr7316 kb;
        kb.setStateFile(path());
        kb.setItemBytes(10, 1, 0, item(100));
    }
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    f.close();
    QJsonArray tones = o[QStringLiteral("tones")].toArray();
    tones[0] = QStringLiteral("0102");
    o[QStringLiteral("tones")] = tones;
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QJsonDocument(o).toJson());
    f.close();

    VirtualZr7316 kb;
    kb.setStateFile(path());
    EXPECT_TRUE(kb.itemBytes(10, 1).empty()); // factory, not the file
    EXPECT_EQ(kb.itemBytes(2, 0).size(), 60u);
    EXPECT_TRUE(QFile::exists(path() + QStringLiteral(".bad")));
}

TEST_F(VirtualKeyboardState, defaultFileLivesInTheApplicationDataFolder) {
    QStandardPaths::setTestModeEnabled(true);
    const QString app = QCoreApplication::applicationName();
    const QString file = VirtualZr7316::defaultStateFile();
    EXPECT_TRUE(file.contains(QStringLiteral("/Tovanel/KbxMan/"))) << file.toStdString();
    EXPECT_EQ(QCoreApplication::applicationName(), app);
    QStandardPaths::setTestModeEnabled(false);
}

} // namespace

// kbxman and kbxtool --virtual (or two kbxtools) each run a keyboard on one state file: neither
// may lose what the other committed.
TEST_F(VirtualKeyboardState, twoKeyboardsOnOneFileKeepEachOthersChanges) {
    VirtualZr7316 window;
    window.setStateFile(path());
    window.setItemBytes(10, 0, 0, item(300, 4, "Mine    ")); // written: both start from it
    VirtualZr7316 tool;
    tool.setStateFile(path());
    std::vector<Bytes> windowReplies;
    window.setReplySink([&](const Bytes& m) { windowReplies.push_back(m); });
    int toolReplies = 0;
    tool.setReplySink([&](const Bytes&) { ++toolReplies; });

    // The tool deletes song 0; the window then lists: song 0 is gone for it too.
    tool.receive(hex("F0 44 11 01 7F 00 20 07 00 00 00 00 00 F7"));
    window.receive(hex("F0 44 11 01 7F 10 26 1F 00 00 00 F7")); // size of song 0
    ASSERT_TRUE(kbxtest::waitFor([&] { return windowReplies.size() == 1; }));
    EXPECT_EQ(toHex(windowReplies[0]), "F0 44 11 01 7F 00 26 1F 00 00 00 00 00 00 00 00 F7");

    // The window sends a tone; the tool's next request still finds the song deleted and the tone.
    const Bytes tone = item(60, 36, "Shared  ");
    window.receive(block(2, 384 + 3, 0, tone));
    ASSERT_TRUE(kbxtest::waitFor([&] { return windowReplies.size() == 2; }));
    window.receive(hex("F0 44 11 01 7F 72 00 00 03 03 00 F7"));
    tool.receive(hex(kKeyboardType));
    ASSERT_TRUE(kbxtest::waitFor([&] { return toolReplies == 1; }));
    EXPECT_EQ(tool.itemBytes(2, 3), tone);
    EXPECT_TRUE(tool.itemBytes(10, 0).empty());

    VirtualZr7316 later;
    later.setStateFile(path());
    EXPECT_EQ(later.itemBytes(2, 3), tone);
    EXPECT_TRUE(later.itemBytes(10, 0).empty());
}

// A change the other keyboard commits while this one receives an item is kept when it commits.
TEST_F(VirtualKeyboardState, commitReadsTheFileAgainUnderItsLock) {
    VirtualZr7316 first;
    first.setStateFile(path());
    first.setItemBytes(11, 1, 0, item(40, 2, "Beat    "));
    VirtualZr7316 second;
    second.setStateFile(path());
    int replies = 0;
    first.setReplySink([&](const Bytes&) { ++replies; });
    const Bytes tone = item(60, 36, "During  ");
    first.receive(block(2, 384 + 7, 0, tone)); // the transfer starts from the old memory
    ASSERT_TRUE(kbxtest::waitFor([&] { return replies == 1; }));
    second.receive(hex("F0 44 11 01 7F 00 21 07 00 00 00 01 00 F7")); // rhythm 1 deleted
    first.receive(hex("F0 44 11 01 7F 72 00 00 07 03 00 F7"));
    VirtualZr7316 later;
    later.setStateFile(path());
    EXPECT_EQ(later.itemBytes(2, 7), tone);
    EXPECT_TRUE(later.itemBytes(11, 1).empty());
}

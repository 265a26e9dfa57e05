// The words of the MIDI monitor and kbxtool --trace: every message type of the protocol, in both
// directions, and every fault a received message can carry, against literal byte strings.
#include "testutil.h"
#include "zxwords.h"

#include <gtest/gtest.h>

using kbxtest::hex;

namespace {

std::string words(const std::string& bytes) {
    return zxwords::describe(hex(bytes));
}

TEST(ZxWords, namesEveryRequestOfTheLink) {
    EXPECT_EQ(words("F0 44 11 01 7F 10 00 0D 00 00 00 F7"), "keyboard-type request");
    EXPECT_EQ(words("F0 44 11 01 7F 10 22 1F 00 00 00 F7"), "free-memory request");
    EXPECT_EQ(words("F0 44 11 01 7F 10 23 1F 00 00 02 F7"), "rhythm-size request, rhythm 2");
    EXPECT_EQ(words("F0 44 11 01 7F 10 24 1F 00 00 02 F7"),
              "rhythm-name request, rhythm 2, characters 1-4");
    EXPECT_EQ(words("F0 44 11 01 7F 10 25 1F 00 00 02 F7"),
              "rhythm-name request, rhythm 2, characters 5-8");
    EXPECT_EQ(words("F0 44 11 01 7F 10 26 1F 00 00 01 F7"), "song-size request, song 1");
    EXPECT_EQ(words("F0 44 11 01 7F 10 27 1F 00 00 00 F7"),
              "song-name request, song 0, characters 1-4");
    EXPECT_EQ(words("F0 44 11 01 7F 10 28 1F 00 00 00 F7"),
              "song-name request, song 0, characters 5-8");
    // Tone 3: kind 2, data number 387; DSP 7: kind 9, data number 107.
    EXPECT_EQ(words("F0 44 11 01 7F 12 60 1F 03 03 00 F7"),
              "tone-name request, tone 3, characters 1-4");
    EXPECT_EQ(words("F0 44 11 01 7F 19 31 1F 6B 00 00 F7"),
              "DSP-name request, DSP 7, characters 5-8");
    // The deletes are parameter values (width 8, two groups) that the keyboard does not answer.
    EXPECT_EQ(words("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"),
              "parameter value: 1 (delete song 1)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 21 07 00 00 00 03 00 F7"),
              "parameter value: 3 (delete rhythm 3)");
    EXPECT_EQ(words("F0 44 11 01 7F 10 41 1F 00 00 05 F7"),
              "parameter request: parameter 65, kind 0, number 0, index 5");
}

TEST(ZxWords, givesTheValueOfEveryReply) {
    EXPECT_EQ(words("F0 44 11 01 7F 00 00 0D 00 00 00 00 00 F7"),
              "parameter value: 0 (keyboard type)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 22 1F 00 00 00 44 22 01 00 00 F7"),
              "parameter value: 20804 (free memory in bytes)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 26 1F 00 00 01 00 28 00 00 00 F7"),
              "parameter value: 5120 (size of song 1 in bytes)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 23 1F 00 00 03 00 00 00 00 00 F7"),
              "parameter value: 0 (size of rhythm 3 in bytes)");
    // A name chunk: four characters, the first in the most significant byte.
    EXPECT_EQ(words("F0 44 11 01 7F 00 24 1F 00 00 02 52 02 51 1A 05 F7"),
              "parameter value: \"STAR\" (name of rhythm 2, characters 1-4)");
    EXPECT_EQ(words("F0 44 11 01 7F 02 61 1F 03 03 00 20 40 00 01 02 F7"),
              "parameter value: \"    \" (name of tone 3, characters 5-8)");
    // Half-width katakana are shown as such; a zero byte ends the chunk early.
    EXPECT_EQ(words("F0 44 11 01 7F 00 27 1F 00 00 00 32 63 02 00 00 F7"),
              "parameter value: \"\uFF71\uFF72\" (name of song 0, characters 1-4)");
}

TEST(ZxWords, describesTheBlockTransfer) {
    EXPECT_EQ(words("F0 44 11 01 7F 5A 00 00 00 00 00 F7"), "data request, song 0");
    EXPECT_EQ(words("F0 44 11 01 7F 5B 00 00 66 00 00 F7"), "data request, rhythm 2");
    // Registration bank 2, number 1: data number 16 + 4 x 1 + 2.
    EXPECT_EQ(words("F0 44 11 01 7F 5C 00 00 16 00 00 F7"), "data request, registration 2:1");
    // The words 0x0000, 0xFFFF, 0x1234 as block 3 of song 0.
    EXPECT_EQ(words("F0 44 11 01 7F 4A 00 4F 00 00 03 00 03 00 00 00 7F 7F 03 34 24 00 27 F7"),
              "data block 3, 6 bytes, song 0");
    EXPECT_EQ(words("F0 44 11 01 7F 72 00 00 03 03 01 F7"), "handshake 1 (accepted)");
    EXPECT_EQ(words("F0 44 11 01 7F 7A 00 00 00 00 00 F7"), "handshake 0 (end of transfer)");
    EXPECT_EQ(words("F0 44 11 01 7F 7A 00 00 00 00 02 F7"), "handshake 2 (rejected)");
    EXPECT_EQ(words("F0 44 11 01 7F 7A 00 00 00 00 03 F7"), "handshake 3 (error)");
    EXPECT_EQ(words("F0 44 11 01 7F 7A 00 00 00 00 05 F7"), "handshake 5 (unknown status)");
}

TEST(ZxWords, saysWhatIsWrongWithAMessageTheDecoderRefuses) {
    // Checksum 0x28 instead of 0x27; a word-count byte that disagrees with the words carried.
    EXPECT_EQ(words("F0 44 11 01 7F 4A 00 4F 00 00 03 00 03 00 00 00 7F 7F 03 34 24 00 28 F7"),
              "data block 3, 6 bytes, song 0, bad checksum");
    EXPECT_EQ(words("F0 44 11 01 7F 4A 00 4F 00 00 03 00 04 00 00 00 7F 7F 03 34 24 00 27 F7"),
              "data block 3, 6 bytes, song 0, word count 4 but 3 words");
    EXPECT_EQ(words("F0 44 11 01 7F 4A 00 4F 00 00 00 00 01 00 00 27 F7"),
              "data block, malformed (17 bytes, not whole words)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 22 1F 00 00 00 44 F7"),
              "parameter value, cut short (13 of 17 bytes)");
    EXPECT_EQ(words("F0 44 11 01 7F 7A 00 00 00 00 F7"), "handshake, cut short");
    EXPECT_EQ(words("F0 44 11 01 7F 60 00 00 00 00 00 F7"), "message of unknown type 6");
    EXPECT_EQ(words("F0 44 11 01 7F F7"), "message too short for its header (6 bytes)");
    EXPECT_EQ(words("F0 41 10 42 12 F7"), "message of another maker (manufacturer 41)");
    EXPECT_EQ(words("F0 44 11 01 7F 00 00"), "System Exclusive message without its end (F7)");
    EXPECT_EQ(words("90 3C 7F"), "not a System Exclusive message");
    EXPECT_EQ(words(""), "not a System Exclusive message");
    EXPECT_EQ(words("F0 44 11 02 7F 00 00 0D 00 00 00 01 00 F7"),
              "parameter value: 1 (keyboard type), model code 1102");
}

TEST(ZxWords, namesItemsAndBytes) {
    EXPECT_EQ(zxwords::item(2, 384), "tone 0");
    EXPECT_EQ(zxwords::item(12, 16 + 4 * 3 + 3), "registration 3:3");
    EXPECT_EQ(zxwords::item(2, 5), "kind 2, number 5"); // below the kind's first number
    EXPECT_EQ(zxwords::item(0, 0), "kind 0, number 0");
    EXPECT_EQ(zxwords::hex(hex("F0 44 0a F7")), "F0 44 0A F7");
    EXPECT_EQ(zxwords::hex({}), "");
}

} // namespace

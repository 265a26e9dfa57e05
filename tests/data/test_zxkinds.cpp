// The table of kinds: every text the user sees and every number a transfer uses, per kind,
// against the literal values of the screens, the command line and the protocol.
#include "zxkinds.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct Row {
    std::uint16_t code;
    std::string word, shortWord, title, listType, propertyType, filePrefix;
    int nameOffset;
    int listImage;
};

} // namespace

TEST(ZxKindsTest, everyKindCarriesItsTextsByteForByte) {
    // The list's "Registraion" and the dialog's "Regstration" are the screens' own spellings.
    const std::vector<Row> expected = {
        {2, "tone", "tone", "Tone", "Tone", "Tone", "TON_", 36, 6},
        {9, "dsp", "dsp", "DSP", "DSP", "DSP", "DSP_", 0, 7},
        {10, "song", "song", "Song", "Song", "Song", "SNG_", 4, 9},
        {11, "rhythm", "rhythm", "Rhythm", "Rhythm", "Rhythm", "RHY_", 2, 10},
        {12, "registration", "reg", "Registration", "Registraion", "Regstration", "REG_", -1, 8},
    };
    ASSERT_EQ(ZxKind::table().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Row& want = expected[i];
        const ZxKindInfo& row = ZxKind::table()[i];
        SCOPED_TRACE(want.word);
        EXPECT_EQ(row.code, want.code);
        EXPECT_EQ(row.word, want.word);
        EXPECT_EQ(row.shortWord, want.shortWord);
        EXPECT_EQ(row.title, want.title);
        EXPECT_EQ(row.listType, want.listType);
        EXPECT_EQ(row.propertyType, want.propertyType);
        EXPECT_EQ(row.filePrefix, want.filePrefix);
        EXPECT_EQ(row.nameOffset, want.nameOffset);
        EXPECT_EQ(row.listImage, want.listImage);
        EXPECT_EQ(ZxKind::info(want.code), &row);
        EXPECT_TRUE(ZxKind::isDataKind(want.code));
        EXPECT_EQ(ZxKind::nameOffset(want.code), want.nameOffset);
    }
}

TEST(ZxKindsTest, dataNumbersFollowEachKindsRule) {
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Tone, 0, 0), 384);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Tone, 0, 9), 393);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Dsp, 0, 2), 102);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Song, 0, 1), 1);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Rhythm, 0, 3), 103);
    // Registration: 16 + 4 x number + bank.
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Registration, 0, 0), 16);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Registration, 2, 3), 30);
    EXPECT_EQ(ZxKind::dataNumber(ZxKind::Registration, 3, 3), 31);
}

TEST(ZxKindsTest, otherCodesHaveNoRow) {
    for (std::uint16_t code : {0, 1, 3, 8, 13, 0xFFFF}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(ZxKind::info(code), nullptr);
        EXPECT_FALSE(ZxKind::isDataKind(code));
        EXPECT_EQ(ZxKind::nameOffset(code), -1);
        EXPECT_EQ(ZxKind::dataNumber(code, 1, 1), 0);
    }
}

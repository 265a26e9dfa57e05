// Keyboard texts at the window's edge: code page 932 single bytes, and file names made on import.
#include "kbdtext.h"
#include "zxdata.h"

#include <gtest/gtest.h>

using kbxapp::importFileName;
using kbxapp::kbdText;

TEST(KbdText, showsAsciiAndHalfWidthKatakanaAndMarksOtherBytes) {
    EXPECT_EQ(kbdText("User 0"), QString("User 0"));
    // 0xB1 0xDD: half-width A and N; 0xA1 and 0xDF are the ends of the range.
    EXPECT_EQ(kbdText("\xB1\xDD\xA1\xDF"), QString::fromUtf8("ｱﾝ｡ﾟ"));
    EXPECT_EQ(kbdText(std::string("\x80\xA0\xE0\xFF", 4)), QString("____"));
}

TEST(KbdText, importNameHasKindPrefixNameWithBlanksAndExtension) {
    EXPECT_EQ(importFileName(ZxKind::Tone, "ABC     "), QString("TON_ABC     .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Dsp, "Hall 1  "), QString("DSP_Hall 1  .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, "Song 0  "), QString("SNG_Song 0  .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Rhythm, "ABC     "), QString("RHY_ABC     .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Registration, "Preset01"), QString("REG_Preset01.kbx"));
    EXPECT_EQ(importFileName(0x0042, "ABC     "), QString("ABC     .kbx"));
}

TEST(KbdText, importNameReplacesWhatFileNamesDoNotAllow) {
    EXPECT_EQ(importFileName(ZxKind::Rhythm, "a\\b/c:d*"), QString("RHY_a_b_c_d_.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Rhythm, "?\"<>|..."), QString("RHY______....kbx"));
    EXPECT_EQ(importFileName(ZxKind::Tone, std::string("\x01\x1F\x7F\t\n x\0", 8)),
              QString("TON______ x_.kbx"));
    // Katakana stays; a byte without a single-byte character does not.
    EXPECT_EQ(importFileName(ZxKind::Tone, "\xB1\x81     x"),
              QString::fromUtf8("TON_ｱ_     x.kbx"));
}

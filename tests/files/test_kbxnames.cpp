// Names from the keyboard become texts and file names that stay inside their folder.
#include "kbxnames.h"
#include "zxdata.h"

#include <gtest/gtest.h>

using namespace kbxnames;

TEST(KbxNames, importNameKeepsBlanksAndAddsPrefixByKind) {
    EXPECT_EQ(importFileName(ZxKind::Rhythm, "ABC     "), QStringLiteral("RHY_ABC     .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Tone, "Brass 1 "), QStringLiteral("TON_Brass 1 .kbx"));
    EXPECT_EQ(importFileName(ZxKind::Dsp, "x"), QStringLiteral("DSP_x.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, "x"), QStringLiteral("SNG_x.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Registration, "Preset01"), QStringLiteral("REG_Preset01.kbx"));
    EXPECT_EQ(importFileName(0x30, "x"), QStringLiteral("x.kbx"));
}

TEST(KbxNames, importNameNeverLeavesTheFolder) {
    EXPECT_EQ(importFileName(ZxKind::Song, "../../x"), QStringLiteral("SNG_.._.._x.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, "a\\b:c*d?"), QStringLiteral("SNG_a_b_c_d_.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, "\"<>|"), QStringLiteral("SNG_____.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, std::string("a\x01\x1F\x7F", 4)),
              QStringLiteral("SNG_a___.kbx"));
    // 0x80-0xA0 and 0xE0-0xFF have no single-byte character.
    EXPECT_EQ(importFileName(ZxKind::Song, "\x80\xA0\xE0\xFF"), QStringLiteral("SNG_____.kbx"));
    EXPECT_EQ(importFileName(ZxKind::Song, ".."), QStringLiteral("SNG_...kbx"));
}

TEST(KbxNames, halfWidthKatakanaRoundTrips) {
    const std::string bytes = "\xB1\xB2\xDE";
    const QString text = keyboardText(bytes);
    EXPECT_EQ(text, QString::fromUtf16(u"\uFF71\uFF72\uFF9E"));
    EXPECT_EQ(keyboardBytes(text), bytes);
    EXPECT_EQ(importFileName(ZxKind::Tone, bytes),
              QString::fromUtf16(u"TON_\uFF71\uFF72\uFF9E.kbx"));
    EXPECT_EQ(keyboardText("\x81"), QStringLiteral("_"));
    EXPECT_FALSE(keyboardBytes(QStringLiteral("\u00e9")).has_value());
}

TEST(KbxNames, typedNamesKeepOnlyBlankToBrace) {
    EXPECT_EQ(itemName(QStringLiteral("a~b}")), "a_b}");
    EXPECT_EQ(itemName(QString::fromUtf16(u"\u00e9\U0001F600x")), "__x");
    EXPECT_EQ(itemName(QStringLiteral(" \t")), " _");
}

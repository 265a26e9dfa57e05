// The data tree: header bytes, attribute bits, names in payload and header, folder ownership.
#include "testutil.h"
#include "zxdata.h"

#include <gtest/gtest.h>

using kbxtest::hex;

namespace {

std::vector<std::uint8_t> headerBytes(const ZxData& node, std::size_t from, std::size_t count) {
    return {node.header().begin() + static_cast<std::ptrdiff_t>(from),
            node.header().begin() + static_cast<std::ptrdiff_t>(from + count)};
}

std::vector<std::uint8_t> wholeHeader(const ZxData& node) {
    return headerBytes(node, 0, 64);
}

// A payload of n bytes whose words are all distinct, so a write to the wrong word shows.
std::vector<std::uint16_t> patternPayload(std::size_t bytes) {
    std::vector<std::uint16_t> words(bytes / 2);
    for (std::size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<std::uint16_t>(0xA000 + i);
    return words;
}

} // namespace

TEST(ZxDataTest, newNodeCarriesSignatureKindAndZeroedFields) {
    ZxData node(ZxKind::Song);
    EXPECT_EQ(wholeHeader(node), hex("56 45 4C 4D 4F 20 4D 75 73 69 63 20 4C 69 62 00"
                                     "00 00 00 00 00 00 00 0A"
                                     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                     "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                     "00 00 00 00 00 00 00 00"));
    EXPECT_EQ(node.attributes(), 1);
    EXPECT_EQ(node.name(), "");
    EXPECT_FALSE(node.isPresent());
    EXPECT_EQ(node.number(), 0);
    EXPECT_EQ(node.kind(), 10);
    EXPECT_EQ(node.size(), 0u);
}

TEST(ZxDataTest, sizeKindAndModelCodeAreBigEndianInTheHeader) {
    ZxData node(ZxKind::Undetermined);
    EXPECT_EQ(headerBytes(node, 22, 2), hex("FF FF"));
    node.setSize(0x1234);
    EXPECT_EQ(headerBytes(node, 16, 4), hex("00 00 12 34"));
    EXPECT_EQ(node.size(), 0x1234u);
    node.setSize(0xA1B2C3D4);
    EXPECT_EQ(headerBytes(node, 16, 4), hex("A1 B2 C3 D4"));
    EXPECT_EQ(node.size(), 0xA1B2C3D4u);
    node.setModelCode(0x1101);
    EXPECT_EQ(headerBytes(node, 20, 2), hex("11 01"));
    node.setKind(ZxKind::Registration);
    EXPECT_EQ(headerBytes(node, 20, 4), hex("11 01 00 0C"));
    EXPECT_EQ(node.kind(), 12);
}

TEST(ZxDataTest, attributeBitsTellTheClasses) {
    ZxData plain(ZxKind::Tone);
    ZxDataDrive drive(ZxKind::Tone);
    ZxDataDirectory directory(ZxKind::Registration);
    ZxDataFile file(ZxKind::Undetermined);
    EXPECT_EQ(plain.attributes(), 1);
    EXPECT_EQ(drive.attributes(), 3);
    EXPECT_EQ(directory.attributes(), 5);
    EXPECT_EQ(file.attributes(), 9);
    EXPECT_NE(directory.attributes() & ZxAttr::Directory, 0);
    EXPECT_EQ(drive.attributes() & ZxAttr::Directory, 0);
    EXPECT_EQ(directory.attributes() & ZxAttr::Drive, 0);
}

TEST(ZxDataTest, nameOffsetsAndDataKinds) {
    EXPECT_EQ(ZxKind::nameOffset(2), 36);
    EXPECT_EQ(ZxKind::nameOffset(9), 0);
    EXPECT_EQ(ZxKind::nameOffset(10), 4);
    EXPECT_EQ(ZxKind::nameOffset(11), 2);
    EXPECT_EQ(ZxKind::nameOffset(12), -1);
    EXPECT_EQ(ZxKind::nameOffset(13), -1);
    EXPECT_EQ(ZxKind::nameOffset(0xFFFF), -1);
    EXPECT_EQ(ZxKind::nameOffset(0), -1);
    for (std::uint16_t k : {2, 9, 10, 11, 12})
        EXPECT_TRUE(ZxKind::isDataKind(k)) << k;
    for (std::uint16_t k : {0, 1, 3, 8, 13, 0xFFFF})
        EXPECT_FALSE(ZxKind::isDataKind(k)) << k;
}

TEST(ZxDataFileTest, toneNameGoesIntoWordsEighteenToTwentyOne) {
    ZxDataFile item(ZxKind::Tone);
    item.payload() = patternPayload(60);
    auto expected = item.payload();
    expected[18] = 0x4142;
    expected[19] = 0x4320;
    expected[20] = 0x2020;
    expected[21] = 0x2020;

    item.setItemName("ABC");
    EXPECT_EQ(item.payload(), expected);
    EXPECT_EQ(item.name(), "ABC");
    item.refreshName();
    EXPECT_EQ(item.name(), "ABC     ");
}

TEST(ZxDataFileTest, eachPayloadKindUsesItsOwnNameOffset) {
    struct Case {
        std::uint16_t kind;
        std::size_t firstWord;
        std::size_t bytes;
    };
    for (const Case c :
         {Case{ZxKind::Dsp, 0, 36}, Case{ZxKind::Song, 2, 100}, Case{ZxKind::Rhythm, 1, 20}}) {
        ZxDataFile item(c.kind);
        item.payload() = patternPayload(c.bytes);
        auto expected = item.payload();
        expected[c.firstWord] = 0x5345;     // "SE"
        expected[c.firstWord + 1] = 0x5155; // "QU"
        expected[c.firstWord + 2] = 0x454E; // "EN"
        expected[c.firstWord + 3] = 0x4345; // "CE"
        item.setItemName("SEQUENCE");
        EXPECT_EQ(item.payload(), expected) << "kind " << c.kind;
        item.setItemName("x");
        item.refreshName();
        EXPECT_EQ(item.name(), "x       ") << "kind " << c.kind;
    }
}

TEST(ZxDataFileTest, registrationNameIsStoredPairSwappedInTheHeader) {
    ZxDataFile item(ZxKind::Registration);
    item.setItemName("Preset01");
    EXPECT_EQ(headerBytes(item, 24, 8), hex("72 50 73 65 74 65 31 30")); // r P s e t e 1 0
    EXPECT_EQ(headerBytes(item, 32, 32), std::vector<std::uint8_t>(32, 0));
    EXPECT_TRUE(item.payload().empty());
    item.setItemName("zzz");
    item.refreshName();
    EXPECT_EQ(item.name(), "zzz     ");
    item.setItemName("Preset01");
    item.refreshName();
    EXPECT_EQ(item.name(), "Preset01");
}

TEST(ZxDataFileTest, shortRegistrationNameIsBlankPaddedBeforeSwapping) {
    ZxDataFile item(ZxKind::Registration);
    item.setItemName("ABC");
    EXPECT_EQ(headerBytes(item, 24, 8), hex("42 41 20 43 20 20 20 20"));
}

TEST(ZxDataFileTest, bytesAboveSevenBitsSurviveTheRoundTrip) {
    // Half-width katakana names: a signed char must not smear into the other byte of a word.
    const std::string name = "\xB1\xB2\xB3\xDE\x7F\x80\xFF\x41";
    ZxDataFile tone(ZxKind::Tone);
    tone.payload() = patternPayload(60);
    tone.setItemName(name);
    EXPECT_EQ(tone.payload()[18], 0xB1B2);
    EXPECT_EQ(tone.payload()[19], 0xB3DE);
    EXPECT_EQ(tone.payload()[20], 0x7F80);
    EXPECT_EQ(tone.payload()[21], 0xFF41);
    tone.refreshName();
    EXPECT_EQ(tone.name(), name);

    ZxDataFile reg(ZxKind::Registration);
    reg.setItemName(name);
    EXPECT_EQ(headerBytes(reg, 24, 8), hex("B2 B1 DE B3 80 7F 41 FF"));
    reg.refreshName();
    EXPECT_EQ(reg.name(), name);
}

TEST(ZxDataFileTest, emptyPayloadGetsTheNameTextOnly) {
    ZxDataFile item(ZxKind::Tone);
    const auto before = wholeHeader(item);
    item.setItemName("ABC");
    EXPECT_EQ(item.name(), "ABC");
    EXPECT_TRUE(item.payload().empty());
    EXPECT_EQ(wholeHeader(item), before);
}

TEST(ZxDataFileTest, kindsWithoutNameFieldLeaveTheDataAndTheNameAlone) {
    for (std::uint16_t kind : {ZxKind::Undetermined, ZxKind::DriveRoot, std::uint16_t{0}}) {
        ZxDataFile item(kind);
        item.payload() = patternPayload(60);
        const auto payload = item.payload();
        const auto header = wholeHeader(item);
        item.setItemName("ABC");
        EXPECT_EQ(item.payload(), payload);
        EXPECT_EQ(wholeHeader(item), header);
        EXPECT_EQ(item.name(), "ABC");
        item.refreshName();
        EXPECT_EQ(item.name(), "ABC") << "kind " << kind;
    }
}

TEST(ZxDataFileTest, nameLongerThanEightCharactersKeepsTheFirstEight) {
    ZxDataFile tone(ZxKind::Tone);
    tone.payload() = patternPayload(60);
    const auto after = tone.payload()[22];
    tone.setItemName("ABCDEFGHIJ");
    EXPECT_EQ(tone.name(), "ABCDEFGH");
    EXPECT_EQ(tone.payload()[21], 0x4748);
    EXPECT_EQ(tone.payload()[22], after);

    ZxDataFile reg(ZxKind::Registration);
    reg.setItemName("ABCDEFGHIJ");
    EXPECT_EQ(headerBytes(reg, 24, 10), hex("42 41 44 43 46 45 48 47 00 00"));
}

TEST(ZxDataFileTest, payloadEndingInsideTheNameFieldIsNeitherOverrunNorGrown) {
    // A 40-byte tone holds only words 18 and 19 of its name field.
    ZxDataFile item(ZxKind::Tone);
    item.payload() = patternPayload(40);
    item.setItemName("ABCDEFGH");
    ASSERT_EQ(item.payload().size(), 20u);
    EXPECT_EQ(item.payload()[18], 0x4142);
    EXPECT_EQ(item.payload()[19], 0x4344);
    item.refreshName();
    EXPECT_EQ(item.name(), "ABCD    ");

    // Ending before the field: nothing to read, the name is all blanks.
    item.payload() = patternPayload(36);
    item.refreshName();
    EXPECT_EQ(item.name(), std::string(8, ' '));
    item.payload().clear();
    item.refreshName();
    EXPECT_EQ(item.name(), std::string(8, ' '));
}

TEST(ZxDataFileTest, copyAttributesFromRegistrationSlotWritesItsNameIntoTheHeader) {
    ZxData slot(ZxKind::Registration);
    slot.setName("Preset12");
    slot.setSize(176);
    slot.setBank(2);
    slot.setNumber(3);
    slot.setPresent();
    slot.setModelCode(0x1101);

    ZxDataFile item(ZxKind::Undetermined);
    item.copyAttributes(slot);
    EXPECT_EQ(item.kind(), 12);
    EXPECT_EQ(item.size(), 176u);
    EXPECT_EQ(item.name(), "Preset12");
    EXPECT_EQ(headerBytes(item, 16, 16), hex("00 00 00 B0 00 00 00 0C 72 50 73 65 74 65 32 31"));
    // Bank, number, present flag and model code stay the item's own.
    EXPECT_EQ(item.bank(), 0);
    EXPECT_EQ(item.number(), 0);
    EXPECT_FALSE(item.isPresent());
}

TEST(ZxDataFileTest, copyAttributesFromSongSlotTakesTheNameFromTheOwnPayload) {
    ZxData slot(ZxKind::Song);
    slot.setName("SlotName");
    slot.setSize(12);
    ZxDataFile item(ZxKind::Undetermined);
    item.payload() = {0x0000, 0x0000, 0x4D59, 0x534F, 0x4E47, 0x2020}; // "MYSONG  " at byte 4
    item.copyAttributes(slot);
    EXPECT_EQ(item.kind(), 10);
    EXPECT_EQ(item.size(), 12u);
    EXPECT_EQ(item.name(), "MYSONG  ");
}

TEST(ZxDataFileTest, copyAttributesFromNodeWithoutNameFieldKeepsTheName) {
    ZxDataDrive root(ZxKind::DriveRoot);
    root.setName("ZR-7316");
    ZxDataFile item(ZxKind::Tone);
    item.setItemName("Mine");
    item.copyAttributes(root);
    EXPECT_EQ(item.kind(), 13);
    EXPECT_EQ(item.name(), "Mine");
}

namespace {

int g_destroyed = 0;

struct CountedSlot : ZxData {
    using ZxData::ZxData;
    ~CountedSlot() override { ++g_destroyed; }
};

struct CountedFolder : ZxDataDirectory {
    using ZxDataDirectory::ZxDataDirectory;
    ~CountedFolder() override { ++g_destroyed; }
};

} // namespace

TEST(ZxDataDriveTest, childrenKeepInsertionOrderAndSpaceIsComputed) {
    ZxDataDrive drive(ZxKind::Song);
    EXPECT_EQ(drive.childCount(), 0);
    EXPECT_EQ(drive.freeSpace(), 0);
    EXPECT_EQ(drive.capacity(), 0);
    for (int i = 0; i < 3; ++i) {
        auto slot = std::make_unique<ZxData>(ZxKind::Song);
        slot->setNumber(i);
        drive.addChild(std::move(slot));
    }
    ASSERT_EQ(drive.childCount(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drive.child(i)->number(), i);
    drive.setCapacity(21504);
    drive.setFreeSpace(20000);
    EXPECT_EQ(drive.usedSpace(), 1504);
}

TEST(ZxDataDriveTest, containsDirectoryLooksForBitFourAmongTheChildren) {
    ZxDataDrive slotsOnly(ZxKind::Tone);
    slotsOnly.addChild(std::make_unique<ZxData>(ZxKind::Tone));
    slotsOnly.addChild(std::make_unique<ZxDataDrive>(ZxKind::Tone)); // bit 2 only
    EXPECT_FALSE(slotsOnly.containsDirectory());

    ZxDataDrive banks(ZxKind::Registration);
    banks.addChild(std::make_unique<ZxData>(ZxKind::Registration));
    banks.addChild(std::make_unique<ZxDataDirectory>(ZxKind::Registration));
    EXPECT_TRUE(banks.containsDirectory());
}

TEST(ZxDataDriveTest, destroyingTheRootDestroysEveryNodeOnce) {
    g_destroyed = 0;
    {
        auto root = std::make_unique<ZxDataDrive>(ZxKind::DriveRoot);
        auto top = std::make_unique<ZxDataDrive>(ZxKind::Registration);
        for (int b = 0; b < 4; ++b) {
            auto bank = std::make_unique<CountedFolder>(ZxKind::Registration);
            for (int n = 0; n < 4; ++n)
                bank->addChild(std::make_unique<CountedSlot>(ZxKind::Registration));
            top->addChild(std::move(bank));
        }
        root->addChild(std::move(top));
        root->addChild(std::make_unique<CountedSlot>(ZxKind::Tone));
    }
    EXPECT_EQ(g_destroyed, 4 + 16 + 1);
}

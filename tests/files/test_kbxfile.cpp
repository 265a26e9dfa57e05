// The data-file format: signature recognition, reading a file image into an item, writing an item
// as a file image, and the committed corpus of valid and invalid files.
#include "kbxfile.h"
#include "testutil.h"
#include "zxexception.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using kbxtest::hex;

namespace {

// "00 00 ... 00", n bytes, for the long zero runs of a header or payload.
std::string zeros(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += "00 ";
    return s;
}

const std::string kSig = "56 45 4C 4D 4F 20 4D 75 73 69 63 20 4C 69 62 00 ";

// Expects parse to refuse the bytes with code 0 and to leave the item exactly as it was.
void expectRefused(const std::vector<std::uint8_t>& bytes) {
    ZxDataFile item(ZxKind::Tone);
    item.payload() = {0x1111, 0x2222};
    item.setItemName("Keep");
    item.setSize(4);
    const ZxHeader header = item.header();
    try {
        kbxfile::parse(bytes, item);
        ADD_FAILURE() << "accepted " << kbxtest::toHex(bytes);
    } catch (const KbxStreamException& e) {
        EXPECT_EQ(e.code(), 0);
    }
    EXPECT_EQ(item.header(), header);
    EXPECT_EQ(item.payload(), (std::vector<std::uint16_t>{0x1111, 0x2222}));
    EXPECT_EQ(item.name(), "Keep");
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::filesystem::path> corpusFiles(const char* folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(KBX_CORPUS_DIR) / folder)) {
        if (entry.path().extension() == ".kbx")
            files.push_back(entry.path());
    }
    return files;
}

} // namespace

TEST(KbxFileSignatureTest, acceptsTheSignatureWhateverFollows) {
    const auto bytes = hex(kSig + zeros(6) + "00 00" + zeros(40));
    EXPECT_TRUE(kbxfile::hasSignature(bytes.data(), bytes.size()));
    ZxDataFile item(ZxKind::Undetermined);
    item.setItemName("Before");
    kbxfile::parse(bytes, item); // kind 0: accepted, no name field
    EXPECT_EQ(item.kind(), 0);
    EXPECT_EQ(item.name(), "Before");
    EXPECT_TRUE(item.payload().empty());
}

TEST(KbxFileSignatureTest, rejectsBlankInsteadOfTheZeroByte) {
    const auto bytes = hex("56 45 4C 4D 4F 20 4D 75 73 69 63 20 4C 69 62 20" + zeros(48));
    EXPECT_FALSE(kbxfile::hasSignature(bytes.data(), bytes.size()));
    expectRefused(bytes);
}

TEST(KbxFileSignatureTest, rejectsOneLetterInAnotherCase) {
    const auto bytes = hex("56 45 4C 4D 4F 20 6D 75 73 69 63 20 4C 69 62 00" + zeros(48));
    EXPECT_FALSE(kbxfile::hasSignature(bytes.data(), bytes.size()));
    expectRefused(bytes);
}

TEST(KbxFileSignatureTest, looksOnlyAtTheBytesItIsGiven) {
    const auto bytes = hex(kSig);
    EXPECT_TRUE(kbxfile::hasSignature(bytes.data(), 16));
    EXPECT_FALSE(kbxfile::hasSignature(bytes.data(), 15));
    EXPECT_FALSE(kbxfile::hasSignature(bytes.data(), 0));
}

TEST(KbxFileParseTest, readsToneHeaderPayloadWordsAndName) {
    const auto bytes =
        hex(kSig + "00 00 00 3C 11 01 00 02" + zeros(40) + //
            "01 02 03 04" + zeros(32) + "41 42 43 20 20 20 20 20" + zeros(14) + "FE DC");
    ZxDataFile item(ZxKind::Undetermined);
    kbxfile::parse(bytes, item);
    EXPECT_EQ(item.kind(), 2);
    EXPECT_EQ(item.size(), 60u);
    EXPECT_TRUE(std::equal(item.header().begin(), item.header().end(), bytes.begin()));
    ASSERT_EQ(item.payload().size(), 30u);
    EXPECT_EQ(item.payload()[0], 0x0102);
    EXPECT_EQ(item.payload()[1], 0x0304);
    EXPECT_EQ(item.payload()[18], 0x4142);
    EXPECT_EQ(item.payload()[29], 0xFEDC);
    EXPECT_EQ(item.name(), "ABC     ");
}

TEST(KbxFileParseTest, registrationOfExactlySixtyFourBytesHasEmptyPayloadAndHeaderName) {
    const auto bytes = hex(kSig + "00 00 00 00 11 01 00 0C 72 50 73 65 74 65 31 30" + zeros(32));
    ZxDataFile item(ZxKind::Undetermined);
    item.payload() = {1, 2, 3};
    kbxfile::parse(bytes, item);
    EXPECT_TRUE(item.payload().empty());
    EXPECT_EQ(item.kind(), 12);
    EXPECT_EQ(item.name(), "Preset01");
}

TEST(KbxFileParseTest, payloadIsEveryByteAfterTheHeaderEvenBeyondTheSize) {
    const auto bytes = hex(kSig + "00 00 00 02 00 00 00 0B" + zeros(40) + "AA BB CC DD EE FF");
    ZxDataFile item(ZxKind::Undetermined);
    kbxfile::parse(bytes, item);
    EXPECT_EQ(item.payload(), (std::vector<std::uint16_t>{0xAABB, 0xCCDD, 0xEEFF}));
}

TEST(KbxFileParseTest, oddPayloadKeepsItsLastByteAsHighByteOfTheLastWord) {
    const auto bytes = hex(kSig + "00 00 00 03 00 00 00 0B" + zeros(40) + "01 02 03");
    ZxDataFile item(ZxKind::Undetermined);
    kbxfile::parse(bytes, item);
    EXPECT_EQ(item.payload(), (std::vector<std::uint16_t>{0x0102, 0x0300}));
    EXPECT_EQ(kbxfile::serialize(item), bytes);
}

TEST(KbxFileParseTest, refusesFilesShorterThanTheHeader) {
    expectRefused({});
    expectRefused(hex(kSig));
    expectRefused(hex(kSig + "00 00 00 00 00 00 00 02" + zeros(39))); // 63 bytes
}

TEST(KbxFileParseTest, refusesSizeFieldPromisingMoreThanTheFileHolds) {
    expectRefused(hex(kSig + "00 00 00 3C 11 01 00 02" + zeros(40) + zeros(59)));
    expectRefused(hex(kSig + "FF FF FF FF 11 01 00 0A" + zeros(40) + zeros(16)));
    expectRefused(hex(kSig + "00 00 00 01 00 00 00 0C" + zeros(40)));
}

TEST(KbxFileParseTest, otherKindKeepsThePreviousNameText) {
    const auto bytes = hex(kSig + "00 00 00 02 00 00 00 0D" + zeros(40) + "41 42");
    ZxDataFile item(ZxKind::Tone);
    item.setItemName("Old");
    kbxfile::parse(bytes, item);
    EXPECT_EQ(item.kind(), 13);
    EXPECT_EQ(item.name(), "Old");
}

TEST(KbxFileSerializeTest, toneOfSixtyBytesNamedAbcIsThisFile) {
    ZxDataFile item(ZxKind::Tone);
    item.payload().assign(30, 0);
    item.setSize(60);
    item.setItemName("ABC");
    EXPECT_EQ(kbxfile::serialize(item),
              hex(kSig + "00 00 00 3C 00 00 00 02" + zeros(40) + //
                  zeros(36) + "41 42 43 20 20 20 20 20" + zeros(16)));
}

TEST(KbxFileSerializeTest, registrationNamePreset01LandsPairSwappedAtOffset24) {
    ZxDataFile item(ZxKind::Registration);
    item.payload().assign(88, 0x5A5A);
    item.setSize(176);
    item.setItemName("Preset01");
    const auto bytes = kbxfile::serialize(item);
    ASSERT_EQ(bytes.size(), 240u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 16, bytes.begin() + 40),
              hex("00 00 00 B0 00 00 00 0C 72 50 73 65 74 65 31 30" + zeros(8)));
    EXPECT_EQ(bytes[64], 0x5A);
}

TEST(KbxFileSerializeTest, writesOnlyTheSizeFieldsShareOfThePayload) {
    ZxDataFile item(ZxKind::Dsp);
    for (std::uint16_t i = 0; i < 20; ++i)
        item.payload().push_back(static_cast<std::uint16_t>(0x0100 * (2 * i) + 2 * i + 1));
    item.setSize(36);
    const auto bytes = kbxfile::serialize(item);
    ASSERT_EQ(bytes.size(), 100u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 94, bytes.end()), hex("1E 1F 20 21 22 23"));
}

TEST(KbxFileSerializeTest, sizeBeyondThePayloadIsFilledWithZeroBytes) {
    // An odd size received as whole words is one byte short; nothing is read past the payload.
    ZxDataFile item(ZxKind::Song);
    item.payload() = {0x0102, 0x0304};
    item.setSize(5);
    const auto bytes = kbxfile::serialize(item);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 64, bytes.end()), hex("01 02 03 04 00"));
}

TEST(KbxFileSerializeTest, renamingBetweenTwoWritesChangesOnlyTheNameField) {
    ZxDataFile item(ZxKind::Song);
    for (std::uint16_t i = 0; i < 150; ++i)
        item.payload().push_back(static_cast<std::uint16_t>(i * 0x0101 + 0x1000));
    item.setSize(300);
    item.setItemName("First");
    const auto first = kbxfile::serialize(item);
    item.setItemName("Second");
    const auto second = kbxfile::serialize(item);
    ASSERT_EQ(first.size(), 364u);
    ASSERT_EQ(second.size(), 364u);
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i >= 68 && i < 76)
            continue;
        EXPECT_EQ(first[i], second[i]) << "offset " << i;
    }
    EXPECT_EQ(std::vector<std::uint8_t>(first.begin() + 68, first.begin() + 76),
              hex("46 69 72 73 74 20 20 20"));
    EXPECT_EQ(std::vector<std::uint8_t>(second.begin() + 68, second.begin() + 76),
              hex("53 65 63 6F 6E 64 20 20"));
}

TEST(KbxFileSerializeTest, writtenItemReadsBackIntoAnUndeterminedItem) {
    ZxDataFile original(ZxKind::Rhythm);
    for (std::uint16_t i = 0; i < 37; ++i)
        original.payload().push_back(static_cast<std::uint16_t>(0xF00F ^ (i * 977)));
    original.setSize(74);
    original.setModelCode(0x1101);
    original.setItemName("Beat\xB1");
    original.refreshName();

    ZxDataFile copy(ZxKind::Undetermined);
    kbxfile::parse(kbxfile::serialize(original), copy);
    EXPECT_EQ(copy.header(), original.header());
    EXPECT_EQ(copy.payload(), original.payload());
    EXPECT_EQ(copy.name(), "Beat\xB1   ");
    EXPECT_EQ(copy.name(), original.name());
}

TEST(KbxFileCorpusTest, everyValidFileParsesAndWritesBackItsOwnBytes) {
    const auto files = corpusFiles("valid");
    ASSERT_GE(files.size(), 10u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const auto bytes = readAll(path);
        ZxDataFile item(ZxKind::Undetermined);
        ASSERT_NO_THROW(kbxfile::parse(bytes, item));
        if (ZxKind::isDataKind(item.kind())) {
            EXPECT_EQ(item.name().size(), 8u);
        }
        const auto written = kbxfile::serialize(item);
        ASSERT_EQ(written.size(), 64 + item.size());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), bytes.begin()));
    }
}

TEST(KbxFileCorpusTest, everyInvalidFileIsRefusedWithCodeZero) {
    const auto files = corpusFiles("invalid");
    ASSERT_GE(files.size(), 8u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        expectRefused(readAll(path));
    }
}

TEST(KbxFileCorpusTest, namedCorpusFilesCarryTheirNames) {
    const std::filesystem::path valid = std::filesystem::path(KBX_CORPUS_DIR) / "valid";
    const std::pair<const char*, const char*> cases[] = {
        {"tone_abc.kbx", "ABC     "},
        {"tone_katakana_name.kbx", "\xB1\xB2\xB3\xDE    "},
        {"dsp_hall.kbx", "Hall 2  "},
        {"registration_preset01.kbx", "Preset01"},
        {"registration_header_only.kbx", "Reg     "},
        {"song_300.kbx", "MYSONG  "},
        {"rhythm_odd_length.kbx", "Odd     "},
    };
    for (const auto& [file, name] : cases) {
        ZxDataFile item(ZxKind::Undetermined);
        kbxfile::parse(readAll(valid / file), item);
        EXPECT_EQ(item.name(), name) << file;
    }
}

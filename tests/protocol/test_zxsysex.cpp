// The System Exclusive codec against literal byte strings.
#include "testutil.h"
#include "zxsysex.h"

#include <gtest/gtest.h>
#include <stdexcept>

using kbxtest::hex;
using Bytes = std::vector<std::uint8_t>;

namespace {

ZxSysExEncoder makeEncoder(std::uint8_t type) {
    ZxSysExEncoder e;
    e.setModelCode(kModelCode);
    e.setFixedByte(kFixedByte);
    e.setType(type);
    return e;
}

Bytes encoded(ZxSysExEncoder& e) {
    Bytes out;
    e.encode(out);
    return out;
}

int codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ZxSysExException& e) {
        return e.code();
    }
    return -1;
}

} // namespace

TEST(SysExEncoder, startsAsTenBytesWithManufacturerAndZeros) {
    ZxSysExEncoder e;
    EXPECT_EQ(e.message(), hex("F0 44 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(e.type(), 0);
    EXPECT_EQ(e.status(), 0);
}

TEST(SysExEncoder, encodesKeyboardTypeRequest) {
    auto e = makeEncoder(ZxSysExType::ParamRequest);
    ZxSysExAddress a;
    ZxSysExParam p;
    p.number = 0;
    p.width = 14;
    p.indexLength = 1;
    e.setAddress(a);
    e.setParam(p);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7"));
}

TEST(SysExEncoder, encodesToneNameRequestWithDataNumberInSevenBitHalves) {
    auto e = makeEncoder(ZxSysExType::ParamRequest);
    ZxSysExAddress a{2, 0, 387, nullptr};
    ZxSysExParam p;
    p.number = 96;
    p.width = 32;
    e.setAddress(a);
    e.setParam(p);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 12 60 1F 03 03 00 F7"));
}

TEST(SysExEncoder, encodesThirtyTwoBitValueInFiveGroups) {
    auto e = makeEncoder(ZxSysExType::ParamValue);
    ZxSysExAddress a;
    ZxSysExParam p;
    p.number = 34;
    p.width = 32;
    p.value = 0x12345;
    e.setAddress(a);
    e.setParam(p);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 00 22 1F 00 00 00 45 46 04 00 00 F7"));

    p.value = 0xFFFFFFFF;
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 00 22 1F 00 00 00 7F 7F 7F 7F 0F F7"));
}

TEST(SysExEncoder, groupCountFollowsValueWidth) {
    auto e = makeEncoder(ZxSysExType::ParamValue);
    ZxSysExAddress a;
    ZxSysExParam p;
    e.setAddress(a);
    e.setParam(p);
    const std::pair<int, std::size_t> cases[] = {{1, 1},  {7, 1},  {8, 2},  {14, 2}, {15, 3},
                                                 {21, 3}, {22, 4}, {28, 4}, {29, 5}, {32, 5}};
    for (auto [width, groups] : cases) {
        p.width = static_cast<std::uint8_t>(width);
        EXPECT_EQ(encoded(e).size(), 11 + 1 + groups) << "width " << width;
    }
}

TEST(SysExEncoder, layoutByteCarriesIndexLengthAndWidth) {
    auto e = makeEncoder(ZxSysExType::ParamRequest);
    ZxSysExAddress a;
    ZxSysExParam p;
    p.number = 0x05;
    p.width = 8;
    p.indexLength = 3;
    p.index = {0x01, 0x02, 0x03, 0x04};
    e.setAddress(a);
    e.setParam(p);
    // (3-1)*32 + (8-1) = 0x47; only the first three index bytes travel.
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 10 05 47 00 00 01 02 03 F7"));
}

TEST(SysExEncoder, songDeleteIsParameterValueWithNumberInValue) {
    auto e = makeEncoder(ZxSysExType::ParamValue);
    ZxSysExAddress a;
    ZxSysExParam p;
    p.number = 32;
    p.width = 8;
    p.value = 1;
    e.setAddress(a);
    e.setParam(p);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 00 20 07 00 00 00 01 00 F7"));
}

TEST(SysExEncoder, encodesDataBlockWordsAndChecksum) {
    auto e = makeEncoder(ZxSysExType::DataBlock);
    std::vector<std::uint16_t> words = {0x0000, 0xFFFF, 0x1234};
    ZxSysExAddress a{2, 6, 387, &words};
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(6);
    EXPECT_EQ(encoded(e),
              hex("F0 44 11 01 7F 42 00 4F 03 03 00 00 03 00 00 00 7F 7F 03 34 24 00 27 F7"));
}

TEST(SysExEncoder, emptyDataBlockIsFifteenBytesWithZeroChecksum) {
    auto e = makeEncoder(ZxSysExType::DataBlock);
    std::vector<std::uint16_t> words;
    ZxSysExAddress a{10, 0, 1, &words};
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(0);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 4A 00 4F 01 00 00 00 00 00 F7"));
}

TEST(SysExEncoder, blockNumberSelectsWordsAndSpansTwoBytes) {
    auto e = makeEncoder(ZxSysExType::DataBlock);
    std::vector<std::uint16_t> words(201 * 64 + 1, 0);
    words[200 * 64] = 0x0081; // first word of block 200
    ZxSysExAddress a{10, 0, 0, &words};
    e.setAddress(a);
    e.setBlockNumber(200);
    e.setBlockLength(2);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 4A 00 4F 00 00 48 01 01 01 01 00 7E F7"));
}

TEST(SysExEncoder, fullBlockIsTheLongestMessage) {
    auto e = makeEncoder(ZxSysExType::DataBlock);
    std::vector<std::uint16_t> words(64, 0xFFFF);
    ZxSysExAddress a{10, 0, 0, &words};
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(128);
    EXPECT_EQ(encoded(e).size(), kLongestMessage);
}

TEST(SysExEncoder, blockPastTheWordsIsARangeErrorAndAppendsNothing) {
    auto e = makeEncoder(ZxSysExType::DataBlock);
    std::vector<std::uint16_t> words(10, 0);
    ZxSysExAddress a{10, 0, 0, &words};
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(22); // 11 words, one too many
    Bytes out = {0xAA};
    EXPECT_THROW(e.encode(out), std::out_of_range);
    EXPECT_EQ(out, hex("AA"));
}

TEST(SysExEncoder, encodesDataRequestAndHandshakes) {
    ZxSysExAddress a{11, 0, 103, nullptr};
    auto e = makeEncoder(ZxSysExType::DataRequest);
    e.setAddress(a);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 5B 00 00 67 00 00 F7"));

    e.setType(ZxSysExType::Handshake);
    e.setStatus(1);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 7B 00 00 67 00 01 F7"));
    e.setStatus(0x83); // only seven bits travel
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 7B 00 00 67 00 03 F7"));
}

TEST(SysExEncoder, reusedEncoderRewritesPayloadBetweenTypes) {
    ZxSysExAddress a{2, 60, 387, nullptr};
    std::vector<std::uint16_t> words(30, 0x0101);
    a.words = &words;
    auto e = makeEncoder(ZxSysExType::DataBlock);
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(60);
    EXPECT_EQ(encoded(e).size(), 15u + 90u);
    e.setType(ZxSysExType::Handshake);
    e.setStatus(0);
    EXPECT_EQ(encoded(e), hex("F0 44 11 01 7F 72 00 00 03 03 00 F7"));
}

TEST(SysExEncoder, refusesTypesThatDoNotExistAndAppendsNothing) {
    for (std::uint8_t t : {2, 3, 6, 8, 15}) {
        auto e = makeEncoder(t);
        ZxSysExAddress a;
        e.setAddress(a);
        Bytes out;
        EXPECT_EQ(codeOf([&] { e.encode(out); }), 4) << int(t);
        EXPECT_TRUE(out.empty());
    }
}

TEST(SysExEncoder, neverClearsTheCallersBytes) {
    auto e = makeEncoder(ZxSysExType::DataRequest);
    ZxSysExAddress a;
    e.setAddress(a);
    Bytes out = {0x01};
    e.encode(out);
    EXPECT_EQ(out, hex("01 F0 44 11 01 7F 50 00 00 00 00 00 F7"));
}

TEST(SysExDecoder, decodesParameterValueIntoRecords) {
    ZxSysExDecoder d;
    ZxSysExAddress a;
    ZxSysExParam p;
    d.setAddress(a);
    d.setParam(p);
    d.decode(hex("F0 44 11 01 7F 00 22 1F 00 00 00 45 46 04 00 00 F7"));
    EXPECT_EQ(d.type(), 0);
    EXPECT_EQ(d.value(), 0x12345u);
    EXPECT_EQ(p.value, 0x12345u);
    EXPECT_EQ(p.number, 34);
    EXPECT_EQ(p.width, 32);
    EXPECT_EQ(p.indexLength, 1);

    d.decode(hex("F0 44 11 01 7F 02 60 1F 03 03 05 7F 7F 7F 7F 0F F7"));
    EXPECT_EQ(d.value(), 0xFFFFFFFFu);
    EXPECT_EQ(a.kindCode, 2);
    EXPECT_EQ(a.dataNumber, 387);
    EXPECT_EQ(p.index[0], 5);
}

TEST(SysExDecoder, decodesDataBlockWordsAndBlockNumber) {
    ZxSysExDecoder d;
    ZxSysExAddress a;
    d.setAddress(a);
    d.decode(hex("F0 44 11 01 7F 42 00 4F 03 03 48 01 03 00 00 00 7F 7F 03 34 24 00 27 F7"));
    EXPECT_EQ(d.type(), 4);
    EXPECT_EQ(d.words(), (std::vector<std::uint16_t>{0x0000, 0xFFFF, 0x1234}));
    EXPECT_EQ(d.blockNumber(), 200);
    EXPECT_EQ(d.blockLength(), 6);
}

TEST(SysExDecoder, emptyDataBlockGivesNoWords) {
    ZxSysExDecoder d;
    d.decode(hex("F0 44 11 01 7F 4A 00 4F 01 00 00 00 00 00 F7"));
    EXPECT_TRUE(d.words().empty());
}

TEST(SysExDecoder, anyChangedPayloadByteFailsTheChecksum) {
    const Bytes block =
        hex("F0 44 11 01 7F 42 00 4F 03 03 00 00 03 00 00 00 7F 7F 03 34 24 00 27 F7");
    for (std::size_t i = 13; i < block.size() - 2; ++i) {
        Bytes changed = block;
        changed[i] ^= 0x01;
        ZxSysExDecoder d;
        EXPECT_EQ(codeOf([&] { d.decode(changed); }), 5) << "byte " << i;
    }
}

TEST(SysExDecoder, aWordCountThatDisagreesWithTheWordsIsABadBlock) {
    // Three words announced, the zero word's three bytes dropped on the way: the checksum still
    // holds, the block must not.
    ZxSysExDecoder d;
    EXPECT_EQ(codeOf([&] {
                  d.decode(hex("F0 44 11 01 7F 42 00 4F 03 03 48 01 03 7F 7F 03 34 24 00 27 F7"));
              }),
              5);
    // More words than announced.
    EXPECT_EQ(codeOf([&] {
                  d.decode(hex(
                      "F0 44 11 01 7F 42 00 4F 03 03 48 01 02 00 00 00 7F 7F 03 34 24 00 27 F7"));
              }),
              5);
    d.decode(hex("F0 44 11 01 7F 42 00 4F 03 03 48 01 03 00 00 00 7F 7F 03 34 24 00 27 F7"));
    EXPECT_EQ(d.words().size(), 3u);
}

TEST(SysExDecoder, decodesHandshakeStatusOnly) {
    ZxSysExDecoder d;
    ZxSysExParam p;
    d.setParam(p);
    d.decode(hex("F0 44 11 01 7F 00 22 1F 00 00 00 07 00 00 00 00 F7"));
    d.decode(hex("F0 44 11 01 7F 72 00 00 03 03 02 F7"));
    EXPECT_EQ(d.type(), 7);
    EXPECT_EQ(d.status(), 2);
    EXPECT_EQ(d.value(), 7u); // a handshake leaves the last value alone
}

TEST(SysExDecoder, refusesTypesTheKeyboardNeverSends) {
    ZxSysExDecoder d;
    ZxSysExAddress a;
    d.setAddress(a);
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 10 00 0D 00 00 00 F7")); }), 4);
    EXPECT_EQ(d.type(), 1); // type, kind and number are already written
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 5B 00 00 67 00 00 F7")); }), 4);
    EXPECT_EQ(a.kindCode, 11);
    EXPECT_EQ(a.dataNumber, 103);
}

TEST(SysExDecoder, shortParameterValueIsNoDatasAndKeepsOldValue) {
    ZxSysExDecoder d;
    ZxSysExParam p;
    d.setParam(p);
    d.decode(hex("F0 44 11 01 7F 00 22 1F 00 00 00 45 46 04 00 00 F7"));
    // Index length 4 announced, message ends after two bytes.
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 00 22 7F 00 00 01 F7")); }), 3);
    EXPECT_EQ(p.indexLength, 4);
    EXPECT_EQ(p.value, 0x12345u);
    EXPECT_EQ(d.value(), 0x12345u);
    // Value groups cut short: width 32 needs five groups, two arrive.
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 00 22 1F 00 00 00 45 46 F7")); }), 3);
}

TEST(SysExDecoder, neverReadsPastShortOrRaggedMessages) {
    ZxSysExDecoder d;
    ZxSysExAddress a;
    ZxSysExParam p;
    d.setAddress(a);
    d.setParam(p);
    EXPECT_EQ(codeOf([&] { d.decode({}); }), 4);
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 F7")); }), 4);
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 70 00 00 00 F7")); }), 4);
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 70 00 00 00 00 F7")); }), 4);
    // Data block whose payload is not whole three-byte groups.
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 42 00 4F 00 00 00 00 01 01 00 7F F7")); }),
              4);
    EXPECT_EQ(codeOf([&] { d.decode(hex("F0 44 11 01 7F 42 00 4F 00 00 00 F7")); }), 4);
}

TEST(SysExCodec, encodedMessagesDecodeBack) {
    std::vector<std::uint16_t> words;
    for (int i = 0; i < 64; ++i)
        words.push_back(static_cast<std::uint16_t>(i * 1031));
    ZxSysExAddress a{10, 128, 1, &words};
    auto e = makeEncoder(ZxSysExType::DataBlock);
    e.setAddress(a);
    e.setBlockNumber(0);
    e.setBlockLength(128);
    ZxSysExDecoder d;
    ZxSysExAddress back;
    d.setAddress(back);
    d.decode(encoded(e));
    EXPECT_EQ(d.words(), words);
    EXPECT_EQ(back.kindCode, 10);
    EXPECT_EQ(back.dataNumber, 1);
    EXPECT_EQ(d.blockLength(), 128);
}

#include "zxwords.h"

#include "zxkinds.h"
#include "zxsysex.h"

#include <cstdio>

namespace zxwords {
namespace {

// The layout of every message: F0 44, model code (2), fixed byte, type and kind, two
// type-specific bytes, data number (2), payload, F7.
constexpr std::size_t kHeader = 10;

// Parameter numbers of the keyboard's parameter table, as the link asks them.
enum Param : std::uint8_t {
    KeyboardType = 0,
    SongDelete = 32,
    RhythmDelete = 33,
    FreeMemory = 34,
    RhythmSize = 35,
    RhythmName = 36, // and 37
    SongSize = 38,
    SongName = 39, // and 40
    DspName = 48,  // and 49
    ToneName = 96, // and 97
};

std::string number(std::uint32_t n) {
    return std::to_string(n);
}

std::string hexByte(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

// One name chunk's characters: four to a value, the first in the most significant byte, a zero
// byte ending the chunk early; shown as the keyboard's single-byte characters, in quotes.
std::string chunk(std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
        if (byte == 0)
            break;
        bytes.insert(bytes.begin(), byte);
    }
    std::string text = "\"";
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b < 0x7F) {
            text += static_cast<char>(b);
        } else if (b >= 0xA1 && b <= 0xDF) {
            // Half-width katakana, U+FF61-U+FF9F, in UTF-8.
            const unsigned u = 0xFF61u + (b - 0xA1u);
            text += static_cast<char>(0xE0 | (u >> 12));
            text += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            text += '_';
        }
    }
    return text + '"';
}

// What a parameter is about, for the parameter numbers of the link's requests; a name's two
// halves carry characters rather than a number.
struct ParamMeaning {
    std::string request; // "song-name request, song 1, characters 1-4"
    std::string value;   // "name of song 1, characters 1-4"
    bool name = false;
};

ParamMeaning meaning(std::uint8_t param, std::uint8_t kind, std::int32_t dataNumber,
                     std::uint8_t index, std::uint32_t value) {
    const auto nameHalf = [&](std::uint8_t first, const char* what, const std::string& of) {
        const std::string half = param == first ? "characters 1-4" : "characters 5-8";
        return ParamMeaning{std::string(what) + "-name request, " + of + ", " + half,
                            "name of " + of + ", " + half, true};
    };
    const std::string song = "song " + number(index);
    const std::string rhythm = "rhythm " + number(index);
    switch (param) {
    case KeyboardType:
        return {"keyboard-type request", "keyboard type"};
    case SongDelete:
        return {"song-delete request", "delete song " + number(value)};
    case RhythmDelete:
        return {"rhythm-delete request", "delete rhythm " + number(value)};
    case FreeMemory:
        return {"free-memory request", "free memory in bytes"};
    case RhythmSize:
        return {"rhythm-size request, " + rhythm, "size of " + rhythm + " in bytes"};
    case RhythmName:
    case RhythmName + 1:
        return nameHalf(RhythmName, "rhythm", rhythm);
    case SongSize:
        return {"song-size request, " + song, "size of " + song + " in bytes"};
    case SongName:
    case SongName + 1:
        return nameHalf(SongName, "song", song);
    case DspName:
    case DspName + 1:
        return nameHalf(DspName, "DSP", item(kind, dataNumber));
    case ToneName:
    case ToneName + 1:
        return nameHalf(ToneName, "tone", item(kind, dataNumber));
    default: {
        const std::string what = "parameter " + number(param) + ", " + item(kind, dataNumber) +
                                 ", index " + number(index);
        return {"parameter request: " + what, what};
    }
    }
}

std::string parameter(const std::vector<std::uint8_t>& m, bool isValue) {
    const std::uint8_t param = m[6];
    const std::size_t indexLength = ((m[7] >> 5) & 3u) + 1;
    const int width = (m[7] & 0x1F) + 1;
    const std::size_t groups = static_cast<std::size_t>((width + 6) / 7);
    const std::size_t needed = kHeader + indexLength + (isValue ? groups : 0) + 1;
    const char* type = isValue ? "parameter value" : "parameter request";
    if (m.size() < needed)
        return std::string(type) + ", cut short (" + number(static_cast<std::uint32_t>(m.size())) +
               " of " + number(static_cast<std::uint32_t>(needed)) + " bytes)";
    const auto kind = static_cast<std::uint8_t>(m[5] & 0x0F);
    const std::int32_t dataNumber = (m[9] & 0x7F) * 128 + (m[8] & 0x7F);
    std::uint32_t value = 0;
    for (std::size_t i = 0; isValue && i < groups; ++i)
        value |= static_cast<std::uint32_t>(m[kHeader + indexLength + i] & 0x7F) << (7 * i);
    const ParamMeaning said = meaning(param, kind, dataNumber, m[kHeader], value);
    if (!isValue)
        return said.request;
    return "parameter value: " + (said.name ? chunk(value) : number(value)) + " (" + said.value +
           ")";
}

std::string dataBlock(const std::vector<std::uint8_t>& m) {
    // Block number (2), word count (1), three bytes a word, checksum, F7.
    if (m.size() < kHeader + 5 || (m.size() - kHeader - 5) % 3 != 0)
        return "data block, malformed (" + number(static_cast<std::uint32_t>(m.size())) +
               " bytes, not whole words)";
    const std::size_t words = (m.size() - kHeader - 5) / 3;
    const std::uint32_t block = (m[11] & 0x7Fu) * 128 + (m[10] & 0x7Fu);
    std::string text =
        "data block " + number(block) + ", " + number(static_cast<std::uint32_t>(2 * words)) +
        " bytes, " +
        item(static_cast<std::uint8_t>(m[5] & 0x0F), (m[9] & 0x7F) * 128 + (m[8] & 0x7F));
    if (m[12] != words)
        text += ", word count " + number(m[12]) + " but " +
                number(static_cast<std::uint32_t>(words)) + " words";
    unsigned sum = 0;
    for (std::size_t i = kHeader + 3; i < m.size() - 1; ++i)
        sum += m[i]; // the words and the checksum byte: 0 modulo 128 when intact
    if ((sum & 0x7F) != 0)
        text += ", bad checksum";
    return text;
}

std::string handshake(std::uint8_t status) {
    const char* what = "unknown status";
    switch (status) {
    case ZxSysExStatus::End:
        what = "end of transfer";
        break;
    case ZxSysExStatus::Accepted:
        what = "accepted";
        break;
    case ZxSysExStatus::Rejected:
        what = "rejected";
        break;
    case ZxSysExStatus::Error:
        what = "error";
        break;
    default:
        break;
    }
    return "handshake " + number(status) + " (" + what + ")";
}

} // namespace

std::string item(std::uint8_t kindCode, std::int32_t dataNumber) {
    const std::string other =
        "kind " + number(kindCode) + ", number " + number(static_cast<std::uint32_t>(dataNumber));
    const ZxKindInfo* row = ZxKind::info(kindCode);
    if (!row || dataNumber < row->dataNumberBase || row->numberStep <= 0)
        return other;
    const std::int32_t rest = dataNumber - row->dataNumberBase;
    const std::int32_t n = rest / row->numberStep;
    const char* word = kindCode == ZxKind::Dsp ? "DSP" : row->word;
    if (row->bankStep == 0)
        return rest % row->numberStep == 0 ? std::string(word) + " " + number(n) : other;
    const std::int32_t bank = (rest % row->numberStep) / row->bankStep;
    return std::string(word) + " " + number(bank) + ":" + number(n);
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += hexByte(b);
    }
    return text;
}

std::string describe(const std::vector<std::uint8_t>& m) {
    if (m.empty() || m.front() != 0xF0)
        return "not a System Exclusive message";
    if (m.size() < 2 || m.back() != 0xF7)
        return "System Exclusive message without its end (F7)";
    if (m[1] != 0x44)
        return "message of another maker (manufacturer " + hexByte(m[1]) + ")";
    if (m.size() < kHeader + 1)
        return "message too short for its header (" + number(static_cast<std::uint32_t>(m.size())) +
               " bytes)";
    std::string text;
    switch (m[5] >> 4) {
    case ZxSysExType::ParamValue:
        text = parameter(m, true);
        break;
    case ZxSysExType::ParamRequest:
        text = parameter(m, false);
        break;
    case ZxSysExType::DataBlock:
        text = dataBlock(m);
        break;
    case ZxSysExType::DataRequest:
        text = "data request, " +
               item(static_cast<std::uint8_t>(m[5] & 0x0F), (m[9] & 0x7F) * 128 + (m[8] & 0x7F));
        break;
    case ZxSysExType::Handshake:
        text = m.size() < kHeader + 2 ? "handshake, cut short" : handshake(m[10]);
        break;
    default:
        text = "message of unknown type " + number(m[5] >> 4u);
        break;
    }
    // Another model answering is worth seeing at once.
    if (m[2] != (kModelCode >> 8) || m[3] != (kModelCode & 0xFF))
        text += ", model code " + hexByte(m[2]) + hexByte(m[3]);
    return text;
}

} // namespace zxwords

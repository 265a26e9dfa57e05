// Arbitrary bytes as one message into the words of the MIDI monitor and kbxtool --trace: any
// program on a published port can send anything, and the monitor shows each message as it comes.
// The words must never crash, never grow with the message (one line of the monitor, however
// long the message), and always be valid UTF-8 (the window shows them as they are). The first
// bytes also name an item by any kind code and data number.
#include "zxwords.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Longer than any message's words can be: the longest is a data block's with every remark and
// numbers of twenty digits.
constexpr std::size_t kLongestWords = 200;

bool validUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size())
            return false; // cut off inside the character
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode are not UTF-8.
        static const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> message(data, data + size);

    const std::string words = zxwords::describe(message);
    require(!words.empty());
    require(words.size() <= kLongestWords);
    require(validUtf8(words));

    // The bytes beside the words: two digits and a blank each, no blank after the last.
    require(zxwords::hex(message).size() == (size ? 3 * size - 1 : 0));

    if (size >= 5) {
        std::int32_t number;
        std::memcpy(&number, data + 1, sizeof number);
        const std::string item = zxwords::item(data[0], number);
        require(!item.empty() && item.size() <= kLongestWords && validUtf8(item));
    }
    return 0;
}

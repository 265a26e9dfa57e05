#include "kbxfile.h"

#include "zxexception.h"

#include <algorithm>
#include <cstring>

namespace kbxfile {

namespace {

std::uint32_t sizeField(const std::uint8_t* header) {
    return std::uint32_t{header[16]} << 24 | std::uint32_t{header[17]} << 16 |
           std::uint32_t{header[18]} << 8 | std::uint32_t{header[19]};
}

} // namespace

bool hasSignature(const std::uint8_t* bytes, std::size_t count) {
    // The characters up to the first zero byte must be exactly the text: 15 bytes, then a zero.
    return count >= sizeof(kSignature) && std::memcmp(bytes, kSignature, sizeof(kSignature)) == 0;
}

bool isDataFile(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileLength) {
    // A size field beyond the file's end would make a reader invent the missing payload.
    return count >= kHeaderSize && fileLength >= kHeaderSize && hasSignature(bytes, count) &&
           sizeField(bytes) <= fileLength - kHeaderSize;
}

void parse(const std::vector<std::uint8_t>& bytes, ZxDataFile& item) {
    // Everything is checked before the item is touched, so a refused file leaves it as it was.
    if (!isDataFile(bytes.data(), bytes.size(), bytes.size()))
        throw KbxStreamException(KbxStreamException::NotKbxFile);
    const std::size_t payloadBytes = bytes.size() - kHeaderSize;

    std::copy_n(bytes.begin(), kHeaderSize, item.header().begin());

    // The payload is every byte after the header, not only the size field's share; an odd last
    // byte becomes the high byte of a last word whose low byte is zero.
    auto& words = item.payload();
    words.assign((payloadBytes + 1) / 2, 0);
    const std::uint8_t* p = bytes.data() + kHeaderSize;
    for (std::size_t i = 0; i < payloadBytes; ++i) {
        if (i % 2 == 0)
            words[i / 2] = static_cast<std::uint16_t>(p[i] << 8);
        else
            words[i / 2] = static_cast<std::uint16_t>(words[i / 2] | p[i]);
    }

    item.refreshName();
}

std::vector<std::uint8_t> serialize(const ZxDataFile& item) {
    const std::uint32_t size = item.size();
    const auto& words = item.payload();
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + size);
    out.insert(out.end(), item.header().begin(), item.header().end());
    // A file always holds exactly the size field's payload bytes, so that it reads back as a
    // data file; bytes the payload does not reach (an odd size received as whole words, or a
    // size set ahead of the data) are written as zero rather than taken from beyond the data.
    for (std::uint32_t i = 0; i < size; ++i) {
        const std::size_t w = i / 2;
        const std::uint16_t word = w < words.size() ? words[w] : 0;
        out.push_back(static_cast<std::uint8_t>(i % 2 == 0 ? word >> 8 : word & 0xFF));
    }
    return out;
}

} // namespace kbxfile

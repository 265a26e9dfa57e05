#pragma once
// The ".kbx" data-file format: a 64-byte header (the node header, byte for byte) followed by the
// payload, words big-endian. Standard library only.

#include "zxdata.h"

#include <cstdint>
#include <vector>

namespace kbxfile {

// The largest data file: the header and the whole song memory.
inline constexpr std::size_t kLargestFile = kHeaderSize + 21504;

// True when the bytes begin with the 15-character signature and a zero byte.
bool hasSignature(const std::uint8_t* bytes, std::size_t count);

// True when a file of fileLength bytes that begins with these bytes (its first count bytes, the
// header or less) is a data file: the signature, a whole header, and a size field that the
// payload fills.
bool isDataFile(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileLength);

// Loads a whole file's bytes into the item: header replaced, payload = bytes after the header
// (an odd last byte becomes the high byte of the last word), name refreshed from the data.
// Throws KbxStreamException 0, leaving the item unchanged, when the bytes are not a data file:
// no signature, shorter than the header, or a size field promising more than the file holds.
void parse(const std::vector<std::uint8_t>& bytes, ZxDataFile& item);

// The file image of the item: header, then the first size() payload bytes.
std::vector<std::uint8_t> serialize(const ZxDataFile& item);

} // namespace kbxfile

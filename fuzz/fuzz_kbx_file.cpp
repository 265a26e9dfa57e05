// Arbitrary bytes as a data file: parsing never reads past them and refuses only with code 0,
// leaving the item untouched; whatever parses writes back as its own first 64 + size bytes and
// parses again to the same header and payload.
#include "kbxfile.h"
#include "zxexception.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);

    ZxDataFile item(ZxKind::Undetermined);
    item.setItemName("Before");
    const ZxHeader before = item.header();
    try {
        kbxfile::parse(bytes, item);
    } catch (const KbxStreamException& e) {
        if (e.code() != 0 || item.header() != before || item.name() != "Before" ||
            !item.payload().empty())
            std::abort();
        return 0;
    }
    if (!kbxfile::hasSignature(bytes.data(), bytes.size()))
        std::abort();
    if (item.payload().size() != (size - kHeaderSize + 1) / 2)
        std::abort();
    if (ZxKind::isDataKind(item.kind()) && item.name().size() != kNameLength)
        std::abort();

    const std::vector<std::uint8_t> written = kbxfile::serialize(item);
    if (written.size() != kHeaderSize + item.size() ||
        !std::equal(written.begin(), written.end(), bytes.begin()))
        std::abort();

    ZxDataFile again(ZxKind::Undetermined);
    kbxfile::parse(written, again); // a written file is always a data file
    if (again.header() != item.header() || kbxfile::serialize(again) != written)
        std::abort();
    return 0;
}

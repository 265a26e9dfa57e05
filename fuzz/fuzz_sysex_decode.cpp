// Arbitrary bytes into the decoder: it may refuse them, but must never read past them. A data
// block that decodes is encoded again and must come back as the same words.
#include "zxsysex.h"

#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> in(data, data + size);
    ZxSysExDecoder decoder;
    ZxSysExAddress address;
    ZxSysExParam param;
    decoder.setAddress(address);
    decoder.setParam(param);
    try {
        decoder.decode(in);
    } catch (const ZxSysExException&) {
        return 0;
    }
    (void)decoder.blockNumber();
    (void)decoder.blockLength();
    if (decoder.type() == ZxSysExType::DataBlock && decoder.words().size() <= 127) {
        std::vector<std::uint16_t> words = decoder.words();
        for (auto& w : words)
            w &= 0xFFFF;
        ZxSysExAddress again{address.kindCode, 0, 0, &words};
        ZxSysExEncoder encoder;
        encoder.setType(ZxSysExType::DataBlock);
        encoder.setAddress(again);
        encoder.setBlockNumber(0);
        encoder.setBlockLength(static_cast<std::uint8_t>(words.size() * 2));
        std::vector<std::uint8_t> out;
        encoder.encode(out);
        ZxSysExDecoder check;
        check.decode(out);
        if (check.words() != words)
            std::abort();
    }
    return 0;
}

// Arbitrary bytes as the virtual keyboard's state file: what loads is a keyboard a real one could
// be (fixed sizes right, songs and rhythms within the song memory), and writes back to a file
// that loads to the same memory.
#include "zr7316memory.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<zr7316::Memory> memory = zr7316::Memory::fromJson(text);
    if (!memory)
        return 0;
    if (memory->freeMemory() > zr7316::kSongMemory)
        std::abort();
    for (int n = 0; n < 10; ++n) {
        if (memory->item(2, n, 0)->size() != 60 || memory->item(9, n, 0)->size() != 36)
            std::abort();
    }
    for (int bank = 0; bank < 4; ++bank)
        for (int n = 0; n < 4; ++n)
            if (memory->item(12, n, bank)->size() != 176)
                std::abort();
    const QByteArray written = memory->toJson();
    const std::optional<zr7316::Memory> again = zr7316::Memory::fromJson(written);
    if (!again || again->toJson() != written)
        std::abort();
    return 0;
}

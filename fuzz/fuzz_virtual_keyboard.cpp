// Arbitrary sequences of System Exclusive messages sent to the virtual keyboard (kbxtool emulate
// publishes it on a MIDI port where any program can send it anything): it never crashes, its
// song memory never goes past its size, and afterwards it still answers a well-formed
// keyboard-type request with type 0.
#include "virtualzr7316.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kTypeRequest = {0xF0, 0x44, 0x11, 0x01, 0x7F, 0x10, 0x00, 0x0D, 0x00, 0x00, 0x00, 0xF7};
const Bytes kTypeReply = {0xF0, 0x44, 0x11, 0x01, 0x7F, 0x00, 0x00,
                          0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    VirtualZr7316 keyboard;
    std::vector<Bytes> replies;
    keyboard.setReplySink([&replies](const Bytes& m) { replies.push_back(m); });

    // The input cut into messages at each 0xF7; each framed as a System Exclusive message, as
    // the port delivers only whole ones.
    Bytes message{0xF0};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xF7 || message.size() >= 256) {
            message.push_back(0xF7);
            keyboard.receive(message);
            message.assign(1, 0xF0);
        } else {
            message.push_back(data[i] & 0x7F);
        }
    }
    if (keyboard.freeMemory() > 21504)
        std::abort();

    replies.clear();
    keyboard.receive(kTypeRequest);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        QCoreApplication::processEvents();
        for (const Bytes& reply : replies)
            if (reply == kTypeReply)
                return 0;
    }
    std::abort(); // no answer to a well-formed request after what came before
}

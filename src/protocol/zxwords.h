#pragma once
// What a message of the keyboard protocol means, in words, for the MIDI monitor and kbxtool's
// trace: "free-memory request", "parameter value: 20804 (free memory in bytes)",
// "data block 3, 128 bytes, song 0", "handshake 1 (accepted)". Any byte string gets words, also
// one the decoder refuses: those say what is wrong with it ("bad checksum", "cut short").
// The words are the protocol's own terms, the same in every language, like the bytes beside them.

#include <cstdint>
#include <string>
#include <vector>

namespace zxwords {

std::string describe(const std::vector<std::uint8_t>& message);

// The item a kind code and data number address: "tone 3", "DSP 7", "song 0", "rhythm 2",
// "registration 2:1" (bank 2, number 1); "kind 0, number 0" for anything else.
std::string item(std::uint8_t kindCode, std::int32_t dataNumber);

// The bytes as upper-case hex pairs separated by blanks: "F0 44 11 01".
std::string hex(const std::vector<std::uint8_t>& bytes);

} // namespace zxwords

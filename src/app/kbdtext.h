#pragma once
// Keyboard-side texts are single bytes of code page 932. The window shows them as QString and
// makes file names of them here, at its edge.

#include <QString>
#include <cstdint>
#include <string>

namespace kbxapp {

// One character per byte: below 0x80 ASCII, 0xA1-0xDF half-width katakana (U+FF61-U+FF9F),
// "_" for any other byte (it has no single-byte character).
QString kbdText(const std::string& bytes);

// The file name an imported item gets: a prefix by kind ("TON_", "DSP_", "SNG_", "RHY_",
// "REG_"), the 8-character name with its blanks, ".kbx". Characters that file names do not
// allow (\ / : * ? " < > |, control characters) and bytes without a character become "_", so
// the name never leaves the folder it is written to.
QString importFileName(std::uint16_t kind, const std::string& name);

} // namespace kbxapp

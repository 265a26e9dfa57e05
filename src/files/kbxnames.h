#pragma once
// Keyboard-side texts at the edge of the host: item names are single bytes of code page 932.
// Shared by the window and kbxtool, so both show names and make file names the same way.

#include <QChar>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace kbxnames {

// The character of a keyboard-side byte: ASCII below 0x80, half-width katakana (U+FF61-U+FF9F)
// for 0xA1-0xDF; no character for the other bytes.
std::optional<QChar> cp932Char(std::uint8_t byte);

// Keyboard-side bytes as text; a byte without a character shows as "_". Nothing is trimmed.
QString keyboardText(const std::string& bytes);

// The bytes of a text typed by the user when every character has a single byte; nothing
// otherwise.
std::optional<std::string> keyboardBytes(const QString& text);

// "TON_", "DSP_", "SNG_", "RHY_", "REG_"; empty for other codes.
QString filePrefix(std::uint16_t kind);

// The file name an import gives an item: prefix, the 8-character name with its blanks, ".kbx".
// Characters that file names do not allow on Windows or Linux (\ / : * ? " < > | and control
// characters) and bytes without a character become "_", so the name never leaves the folder it
// is made in.
QString importFileName(std::uint16_t kind, const std::string& name);

// A name typed for a data item: every character below the blank or above "}" becomes "_"; one
// byte per character typed.
std::string itemName(const QString& typed);

} // namespace kbxnames

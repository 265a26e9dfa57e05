#pragma once
// Texts at kbxtool's edge: keyboard-side bytes shown as code page 932 single-byte characters, the
// file names an import makes, names typed for a data item, kind names.

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace kbxcli {

// The character of a keyboard-side byte: ASCII below 0x80, half-width katakana (U+FF61-U+FF9F)
// for 0xA1-0xDF; no character for the other bytes.
std::optional<QChar> cp932Char(std::uint8_t byte);

// Keyboard-side bytes as text; a byte without a character shows as "_". Nothing is trimmed.
QString keyboardText(const std::string& bytes);

// The bytes of a text typed by the user, when every character has a single byte (the inverse of
// keyboardText for text without "_" substitutions); nothing otherwise.
std::optional<std::string> keyboardBytes(const QString& text);

// The file name an import gives an item: the kind's prefix (TON_, DSP_, SNG_, RHY_, REG_, none for
// other codes), the 8-character name with its blanks, ".kbx". Characters that file names do not
// allow on Windows or Linux (\ / : * ? " < > | and control characters) and bytes without a
// character become "_", so the name never leaves the folder it is made in.
QString importFileName(std::uint16_t kind, const std::string& name);
QString filePrefix(std::uint16_t kind);

// A name typed for a data item, as the property dialog takes it: every character below the blank
// or above "}" becomes "_". The result has one byte per character typed.
std::string itemName(const QString& typed);

// "tone", "dsp", "song", "rhythm", "registration"; "unknown" for any other code.
QString kindName(std::uint16_t kind);
// The kind as a person reads it: "Tone", "DSP", ...; other codes in hex.
QString kindTitle(std::uint16_t kind);

} // namespace kbxcli

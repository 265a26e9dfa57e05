#pragma once
// Texts at kbxtool's edge. Keyboard-side names and import file names come from the unit the window
// shares (kbxnames); kind names for the command line are kbxtool's own.

#include "kbxnames.h"

#include <QString>
#include <cstdint>

namespace kbxcli {

using kbxnames::cp932Char;
using kbxnames::filePrefix;
using kbxnames::importFileName;
using kbxnames::itemName;
using kbxnames::keyboardBytes;
using kbxnames::keyboardText;

// "tone", "dsp", "song", "rhythm", "registration"; "unknown" for any other code.
QString kindName(std::uint16_t kind);
// The kind as a person reads it: "Tone", "DSP", ...; other codes in hex.
QString kindTitle(std::uint16_t kind);

} // namespace kbxcli

#pragma once
// Texts at kbxtool's edge. Keyboard-side names and import file names come from the unit the window
// shares (kbxnames); kind names for the command line are kbxtool's own.

#include "common/msgstr.h"
#include "files/kbxnames.h"

#include <QJsonObject>
#include <exception>
#include <stdexcept>
#include <string>

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

// Control characters would move a terminal's cursor; a person sees "_" instead.
QString printable(QString text);
// A keyboard-side name in double quotes, printable.
QString quotedName(const std::string& name);
QString absoluteNative(const QString& path);
// The host's general failure, with its text.
std::runtime_error generalError(const QString& text);
// {"class", "code", "message"} of a failure.
QJsonObject errorObject(const ErrorReport& report);

} // namespace kbxcli

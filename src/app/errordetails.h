#pragma once
// What an error box says below the message table's text: the specifics of one failure, which the
// table's short texts leave out ("No KBX file" - which file? "Not enough memory" - how much?).

#include <QString>
#include <cstdint>
#include <exception>
#include <optional>

class MsgStr;
class ZxData;

namespace kbxapp {

// What the action was working on when it failed; what is unknown stays empty.
struct FailureContext {
    QString sourceFile;                          // the data file being sent or read
    const ZxData* slot = nullptr;                // the keyboard slot of the action
    std::optional<std::uint32_t> freeSongMemory; // as the keyboard's folder last reported it
};

// The informative line for a failure, in the table's language; empty when there is nothing to
// add. "No KBX file" names the file, "Data type is different" the two kinds, "Not enough memory"
// the bytes needed and free, "MIDI Timeout" what to check.
QString informativeLine(const MsgStr& messages, std::exception_ptr error,
                        const FailureContext& context);

// A kind's word in the table's language ("Tone", "トーン"); the code in hex for an unknown one.
QString kindWord(const MsgStr& messages, std::uint16_t kind);

} // namespace kbxapp

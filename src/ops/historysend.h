#pragma once
// A kept item sent into a slot other than its own, of the same kind: the history window's
// "Send to slot" and a drag of an entry onto a keyboard slot.

#include "history.h"
#include "keyboard.h"

namespace kbxops {

// Sends the item before of entry id into slot (a short form of the entry's kind), recorded as a
// restore. Lists the keyboard first unless its drive is listed. Throws std::runtime_error (in
// the user's language) for an unknown id, an entry without an item, or a slot that does not
// exist or holds another kind.
HistoryEntry restoreEntryTo(Keyboard& keyboard, History& history, qint64 id, const QString& slot);

} // namespace kbxops

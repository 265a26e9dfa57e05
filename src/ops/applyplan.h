#pragma once
// Carries out a restore plan the user has seen: only the slots it names change. Song memory is
// shared, so the songs and rhythms the plan replaces or empties are deleted first; then the
// backup's items are sent in the plan's (the drive's) order.

#include "backup.h"
#include "restoreplan.h"

namespace kbxops {

// Every backup file is read before the keyboard is touched (one that cannot be read fails its
// slot, the others go on); the keyboard is listed afresh. A cancel stops between items: the
// result says cancelled and names what was not reached (ZxCancelledException during the list,
// before anything changed).
RestoreResult applyRestorePlan(Keyboard& keyboard, const RestorePlan& plan, const MsgStr& messages,
                               const RestoreCallbacks& callbacks = {});

} // namespace kbxops

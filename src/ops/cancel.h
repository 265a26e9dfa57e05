#pragma once
// Cancelling a keyboard action, for both front ends: make a Cancellation per action, keep a
// CancelScope on it while the action runs, and call cancel() from the Cancel button, Esc or a
// signal. The action stops at its next message boundary with ZxCancelledException, its ports
// closed; a use case that stops between items (backup, restore) says so in its result instead.

#include "zxcancel.h"
#include "zxexception.h"

namespace kbxops {

using Cancellation = ZxCancellation;
using CancelScope = ZxCancellation::Scope;

} // namespace kbxops

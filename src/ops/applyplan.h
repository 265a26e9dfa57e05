#pragma once
// A restore's changes to the keyboard, one path for kbxtool's restore of a whole backup and the
// window's restore of the plan the user has seen. Song memory is shared, so the songs and rhythms
// the restore replaces or empties are deleted first; then the backup's items are sent in the
// drive's order. Every delete and send is a change of operation restore, kept, recorded and
// verified as the keyboard's safety net asks.

#include "backup.h"
#include "restoreplan.h"
#include "slotref.h"

#include <memory>
#include <vector>

class ZxDataFile;

namespace kbxops {

// One slot a restore changes.
struct RestoreItem {
    QString slot; // short form
    SlotAddress address;
    QString file;                     // as the result names it; empty: the slot is to be emptied
    std::unique_ptr<ZxDataFile> data; // the backup's item, read before the keyboard is touched
    // Failed already (its file could not be read): keeps its number, the slot stays as it is.
    bool failed = false;
};

// Lists the keyboard and changes the items' slots; items are in the drive's order, and each
// change's progress steps carry its item's number among them. A song or
// rhythm emptied to make room counts, with the item that fills it, as one change (one history
// entry); when that item does not come in after all (its send failed, or the restore was
// cancelled first) the old one is put back. An item that fails is added to result.failed (and
// told to callbacks.failed) and the others go on. A cancel stops between items: result says
// cancelled and names what was not reached; during the list it throws ZxCancelledException
// before anything changed.
void carryOutRestore(Keyboard& keyboard, std::vector<RestoreItem>& items, const MsgStr& messages,
                     const RestoreCallbacks& callbacks, RestoreResult& result);

// Carries out a restore plan: only the slots it names change. Every backup file is read before
// the keyboard is touched (one that cannot be read fails its slot, the others go on); the
// keyboard is listed afresh.
RestoreResult applyRestorePlan(Keyboard& keyboard, const RestorePlan& plan, const MsgStr& messages,
                               const RestoreCallbacks& callbacks = {});

} // namespace kbxops

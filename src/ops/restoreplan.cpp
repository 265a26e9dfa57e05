#include "restoreplan.h"

#include "compare.h"
#include "manifest.h"
#include "slotref.h"
#include "zxkbddrv.h"

namespace kbxops {

RestorePlan planRestore(Keyboard& keyboard, const QString& dir, bool sendUnchanged) {
    RestorePlan plan;
    const Manifest manifest = readManifest(dir);
    plan.backupComplete = manifest.complete;
    const Side backup = sideOfBackup(dir, &plan.skipped);
    keyboard.list();
    // A slot whose file cannot be restored is neither unchanged nor absent: it is skipped.
    const auto namedByFile = [&manifest](const QString& slot) {
        for (const auto& entry : manifest.files) {
            const ShortFormParse parsed = parseShortForm(entry.second);
            if (parsed.status == ShortFormParse::Valid && shortForm(parsed.address) == slot)
                return true;
        }
        return false;
    };

    for (const SlotEntry& s : slotsOf(keyboard.drive().root())) {
        const QString slot = shortForm(addressOf(*s.node));
        std::optional<PlannedItem> now;
        if (s.node->isPresent())
            now = PlannedItem{s.node->name(), s.node->size(), {}};
        const SideItem* wanted = nullptr;
        for (const auto& [backupSlot, item] : backup.items)
            if (backupSlot == slot)
                wanted = &item;
        if (wanted) {
            const bool same = now && now->name == wanted->name && now->size == wanted->size;
            if (same && !sendUnchanged) {
                ++plan.unchanged;
                continue;
            }
            plan.changes.push_back(
                PlannedChange{slot, now, PlannedItem{wanted->name, wanted->size, wanted->file}});
        } else if (manifest.empty.contains(slot)) {
            if (now)
                plan.changes.push_back(PlannedChange{slot, now, std::nullopt});
            else
                ++plan.unchanged; // empty on both sides
        } else if (!namedByFile(slot)) {
            ++plan.absent;
        } // else: its file is skipped, and plan.skipped says why
    }
    return plan;
}

} // namespace kbxops

#pragma once
// Jobs of many items, for the window's several-at-once commands: import several slots into a
// folder, send several data files into slots of their kind, delete several songs and rhythms.
// Each item is one change of its own, through the safety net as a single one is; the progress
// steps carry the item's number among them. An item that fails is reported and the others go on;
// a cancel stops the item under way (its put-back done) and leaves the rest unreached, as does
// the loss of the keyboard's device.

#include "ops/keyboard.h"
#include "ops/slotref.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace kbxops {

enum class BatchKind { Send, Import, Delete };

struct BatchFailure {
    QString item; // as a person names it: "Song 2", or the file that found no slot
    QString reason;
};

struct BatchResult {
    BatchKind kind = BatchKind::Send;
    int count = 0; // the items asked for
    int done = 0;
    std::vector<BatchFailure> failed;
    QStringList notDone; // not reached: cancelled, or the keyboard's device gone
    bool cancelled = false;
    bool deviceLost = false;
    std::vector<ImportedFile> imported; // an import's files, in the order of the slots
    std::vector<SlotAddress> changed;   // the slots a send or delete changed
};

// What the user reads at the end: "3 of 4 items sent; Song 2: REASON" (in the user's language).
QString batchSummary(const BatchResult& result);

// Where several files go, by their kinds, in the drive's order (slots as slotsOf lists them).
// Songs and rhythms take the empty slots of their kind from start on, then from the first;
// tones, DSP settings and registrations (never empty) the slots of their kind from start on,
// which must be of that kind. A file that finds no slot gets none.
std::vector<std::optional<SlotAddress>> placeFiles(const std::vector<SlotEntry>& slots,
                                                   const std::vector<std::uint16_t>& kinds,
                                                   const std::optional<SlotAddress>& start);

// Reads every file before the keyboard is asked anything (a file that cannot be read fails its
// item), places them (placeFiles), and sends them one by one.
BatchResult sendFiles(Keyboard& keyboard, const QStringList& paths,
                      const std::optional<SlotAddress>& start);
// Imports the slots into folder; names the job has given already get a number.
BatchResult importSlots(Keyboard& keyboard, const std::vector<SlotAddress>& slots,
                        const QString& folder);
// Deletes the songs and rhythms in the slots; any other kind fails its item.
BatchResult removeSlots(Keyboard& keyboard, const std::vector<SlotAddress>& slots);

} // namespace kbxops

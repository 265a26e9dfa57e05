#pragma once
// How the use cases tell their caller how far they are: one observer for the window's progress
// bar and kbxtool's terminal bar alike.

#include <cstdint>

namespace kbxops {

// One step of an operation: a list of the keyboard, or one item's transfer or deletion.
struct Step {
    enum Kind { List, Send, Import, Delete } kind = List;
    // What makes the whole: the drive's progress total for a list, the item's bytes for a
    // transfer, 0 for a delete.
    std::uint32_t total = 0;
    // Within a job of many items (backup, restore): the item's number from 1, and the count.
    int index = 0;
    int count = 0;
};

class Progress {
public:
    virtual ~Progress() = default;
    virtual void begin(const Step& step) = 0;
    // How much of the step's total is done.
    virtual void advanceTo(std::uint32_t done) = 0;
    virtual void end() = 0;
};

} // namespace kbxops

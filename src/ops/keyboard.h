#pragma once
// The keyboard's use cases, written once for the window and kbxtool: list, import a slot into a
// folder, send an item or a file into a slot, delete a slot. A Keyboard is the drive with the two
// devices to use, the caller's progress observer and the safety net's settings; it is cheap and
// made per action. Failures are the layers' exceptions, unchanged, or a NotedException around one
// that says what the safety net did about it.
//
// The safety net: before a change removes or replaces an item, the item is read from the slot
// and kept in the history (a failure there stops the change before anything has changed); a song
// whose slot was emptied by a send that then failed is sent back at once; a sent item can be read
// back and compared.

#include "midi/mididevices.h"
#include "msgstr.h"
#include "ops/history.h"
#include "ops/progress.h"
#include "ops/slotref.h"
#include "settings.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class ZxData;
class ZxDataFile;
class ZxKbdDrv;

namespace kbxops {

// The MIDI devices of kbxman's settings: (0, 0) before the first start has stored any. Throws
// std::runtime_error (in the user's language, naming the value) when the stored values are
// malformed or cannot be read.
struct Devices {
    int input = 0;
    int output = 0;
};
Devices storedDevices();

// The two ports a Keyboard talks through: numbers as the lists hold them at each opening, or
// references bound to one device each for a whole action (KeyboardAction).
struct Ports {
    kbxmidi::DeviceRef input;
    kbxmidi::DeviceRef output;
    Ports() = default;
    Ports(Devices devices) // NOLINT(google-explicit-constructor): a pair of numbers is a choice too
        : input(devices.input)
        , output(devices.output) {}
    Ports(kbxmidi::DeviceRef in, kbxmidi::DeviceRef out)
        : input(std::move(in))
        , output(std::move(out)) {}
};

// A data file an import has written.
struct ImportedFile {
    QString path;     // absolute, with the platform's separators
    QString fileName; // within the folder
    std::uint16_t kind = 0;
    std::uint32_t size = 0;
    std::string name; // the item's name, keyboard-side bytes
    // Where the file that held another item under the same name went (the desktop's trash);
    // empty when nothing was replaced or the old file held the same bytes.
    QString trashed;
};

// Before a file is replaced: a file at path whose bytes differ from the new ones goes to the
// desktop's trash (its new place is returned; empty when there was no such file or it held the
// same bytes). Throws std::runtime_error (in the user's language) when it cannot be moved, so
// that nothing is replaced unseen.
QString moveAsideIfDifferent(const QString& path, const std::vector<std::uint8_t>& bytes);

// File names one job has given, compared without regard to case (two items of one kind may carry
// the same name, and a folder on Windows does not tell "A" from "a").
class TakenNames {
public:
    // The name itself if not taken yet, else "NAME (2).kbx", "NAME (3).kbx", ...; marks it taken.
    QString claim(const QString& fileName);

private:
    std::set<QString> m_taken;
};

// What a change keeps and checks: kbxman's preferences, kbxtool's --no-history and --verify.
// Nothing unless asked: a Keyboard made without it does what the described program did.
struct Safety {
    History* history = nullptr; // keeps what a change replaces (not owned); nullptr: nothing
    bool verifySend = false;    // read a single send back and compare it byte for byte
    bool verifyRestore = false; // the same for the sends of a restore and of an undo
    // false: a change is still recorded, with the name and size of what it replaced but no
    // copy, so that undo names it instead of reverting an older change.
    bool keepCopies = true;
};
// The safety net kbxman's preferences ask for, keeping into history.
Safety safetyFromPreferences(const KbxSettings::Safety& preferences, History* history);

// One change to a slot, and what it belongs to.
struct Change {
    Operation operation = Operation::Send;
    qint64 undoes = 0; // an undo: the entry it reverts, marked undone when the undo is done
    int index = 0;     // within a job of many items (restore): the item's number from 1
    int count = 0;
    qint64 group = 0; // the history's group of a change of many slots (History::beginGroup)
};

// A change failed and the item it replaced could not be put back: the history alone keeps it,
// and the note says where.
class NotPutBackException : public NotedException {
public:
    using NotedException::NotedException;
};

// Whether a failure is the loss of the action's device (also under a note of what was done
// about it): a job of many items stops there, since every later item would fail alike.
bool isDeviceLost(std::exception_ptr failure);
// Whether a failure is a cancel, also under a note of what was put right after it.
bool isCancel(std::exception_ptr failure);

// A change under way: its history entry (pending until settled; 0 when nothing is recorded) and
// the item the slot held (nullptr when nothing was kept).
struct PendingChange {
    qint64 id = 0;
    std::unique_ptr<ZxDataFile> before;
    std::optional<ItemRecord> beforeRecord;
};

// A slot as the keyboard's list describes it after an action.
struct SlotState {
    SlotAddress address;
    std::string path; // "Song Rhythm:\Song\Minuet  ", keyboard-side bytes
    std::string name;
    std::uint32_t size = 0;
    bool present = false;
};

// The state of a listed slot.
SlotState stateOf(const SlotEntry& entry);

// What a send did: the slot afterwards and its history entry (0: nothing recorded).
struct SendResult {
    SlotState slot;
    qint64 entry = 0;
};

// What a delete did: the slot afterwards, whether it held an item, and the history entry.
struct DeleteResult {
    SlotState slot;
    bool deleted = false;
    qint64 entry = 0;
};

class Keyboard {
public:
    Keyboard(ZxKbdDrv& drive, Ports ports, Progress* progress = nullptr,
             const Safety& safety = Safety{});

    ZxKbdDrv& drive() { return m_drive; }
    const Ports& ports() const { return m_ports; }
    const Safety& safety() const { return m_safety; }
    void setSafety(const Safety& safety) { m_safety = safety; }

    // Reads the keyboard's contents into the drive's tree.
    void list();

    // The use cases by slot address, for both front ends: the keyboard is listed first when it
    // has not been, and a slot the keyboard does not have is refused (std::runtime_error).
    SlotState slotState(const SlotAddress& address);
    // An empty slot is refused before the keyboard is asked for it: it would only refuse.
    ImportedFile importSlot(const SlotAddress& address, const QString& folder);
    // The file is read before the keyboard is asked anything.
    SendResult sendFile(const QString& path, const SlotAddress& address);
    // Only songs and user rhythms can be deleted; deleting an empty slot changes nothing.
    DeleteResult remove(const SlotAddress& address);
    // The node of the slot at address in the drive's tree, the keyboard listed first when it has
    // not been; null when the keyboard has no such slot.
    ZxData* listedSlot(const SlotAddress& address);

    // Imports the item in the slot into a data file in folder, named by the item's kind and name
    // (with taken, a name the job has given already gets a number instead). A file of that name
    // that holds other bytes goes to the trash first; the new one replaces it atomically. The
    // folder must take a file before the keyboard is asked anything. The slot is addressed by
    // its node: names repeat within a folder.
    ImportedFile importSlot(ZxData& slot, const QString& folder, TakenNames* taken = nullptr,
                            int index = 0, int count = 0);

    // Sends the item into the slot; afterwards the slot's node describes it. With a history, the
    // item the slot held is kept first and the change recorded (the entry's id is returned, 0
    // when nothing is recorded). A song send that fails after the old song was deleted sends the
    // old song back and throws NotedException saying so (or that the history keeps it). With
    // verification on for the operation, the slot is read back: a difference throws
    // KbxStreamException VerifyMismatch, and the history keeps the old item.
    void send(ZxDataFile& item, ZxData& slot, int index = 0, int count = 0);
    qint64 send(ZxDataFile& item, ZxData& slot, const Change& change);
    // Reads the data file at path and sends its item into the slot; the file is read before the
    // keyboard is asked anything. Returns the item sent.
    std::unique_ptr<ZxDataFile> sendFile(const QString& path, ZxData& slot);

    // Deletes the song or rhythm in the slot; with a history, the item is kept first.
    void remove(ZxData& slot);
    qint64 remove(ZxData& slot, const Change& change);

    // A job that must make room in the shared song memory before it sends anything (a restore)
    // empties the song or rhythm slots first: vacate() deletes the item in the slot that item is
    // to replace, with a history recording the change at once as the replacement it is (kept
    // first, the entry pending); fill() then sends item into it and settles the entry, and
    // abandon() puts the old item back when the job will not fill the slot after all. A fill
    // that fails puts the old item back as a song send does (NotedException saying so). When the
    // old item cannot go back, the entry says the slot was left empty and NotPutBackException
    // names where the history keeps it. Without a history nothing is kept and nothing goes back.
    PendingChange vacate(ZxData& slot, const ZxDataFile& item, const Change& change);
    qint64 fill(ZxDataFile& item, ZxData& slot, const Change& change, PendingChange& vacancy);
    void abandon(ZxData& slot, const Change& change, PendingChange& vacancy,
                 std::exception_ptr why);

    // Whether a change of this operation reads its item back.
    bool verifies(Operation operation) const;

private:
    std::unique_ptr<ZxDataFile> readSlot(ZxData& slot, int index, int count);
    PendingChange prepare(ZxData& slot, const Change& change, const ZxDataFile* after);
    bool sendBack(PendingChange& pending, ZxData& slot, const Change& change);
    [[noreturn]] void putBack(std::exception_ptr failure, PendingChange& pending, ZxData& slot,
                              const Change& change);
    [[noreturn]] void notPutBack(std::exception_ptr failure, PendingChange& pending,
                                 const ZxData& slot);
    void verify(const ZxDataFile& sent, ZxData& slot, const Change& change);
    qint64 sendChange(ZxDataFile& item, ZxData& slot, const Change& change, PendingChange* vacancy);
    qint64 removeChange(ZxData& slot, const Change& change);
    void deleteFor(ZxData& slot, const Change& change, PendingChange& pending, bool vacating);
    ImportedFile importInto(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                            int count);

    ZxKbdDrv& m_drive;
    Ports m_ports;
    Progress* m_progress;
    Safety m_safety;
};

} // namespace kbxops

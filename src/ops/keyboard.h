#pragma once
// The keyboard's use cases, written once for the window and kbxtool: list, import a slot into a
// folder, send an item or a file into a slot, delete a slot. A Keyboard is the drive with the two
// devices to use and the caller's progress observer; it is cheap and made per action. Failures are
// the layers' exceptions, unchanged.

#include "ops/progress.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
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

class Keyboard {
public:
    Keyboard(ZxKbdDrv& drive, Devices devices, Progress* progress = nullptr);

    ZxKbdDrv& drive() { return m_drive; }
    Devices devices() const { return m_devices; }

    // Reads the keyboard's contents into the drive's tree.
    void list();

    // Imports the item in the slot into a data file in folder, named by the item's kind and name
    // (with taken, a name the job has given already gets a number instead). A file of that name
    // that holds other bytes goes to the trash first; the new one replaces it atomically. The
    // folder must take a file before the keyboard is asked anything. The slot is addressed by
    // its node: names repeat within a folder.
    ImportedFile importSlot(ZxData& slot, const QString& folder, TakenNames* taken = nullptr,
                            int index = 0, int count = 0);

    // Sends the item into the slot; afterwards the slot's node describes it.
    void send(ZxDataFile& item, ZxData& slot, int index = 0, int count = 0);
    // Reads the data file at path and sends its item into the slot; the file is read before the
    // keyboard is asked anything. Returns the item sent.
    std::unique_ptr<ZxDataFile> sendFile(const QString& path, ZxData& slot);

    // Deletes the song or rhythm in the slot.
    void remove(ZxData& slot);

private:
    ImportedFile importInto(ZxData& slot, const QString& folder, TakenNames* taken, int index,
                            int count);

    ZxKbdDrv& m_drive;
    Devices m_devices;
    Progress* m_progress;
};

} // namespace kbxops

#pragma once
// What the fault tests share: the virtual keyboard with known contents, the user's operations
// done as the window and kbxtool do them, and snapshots of a local folder, of the drive's tree and
// of the keyboard's memory, so that a test can say exactly what a failure may leave changed.

#include "zxdata.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class KbxMidiStream;
class VirtualZr7316;
class ZxKbdDrv;

namespace faultkit {

using Bytes = std::vector<std::uint8_t>;

// An item of `size` bytes that differ from block to block, the name at the kind's offset (blank
// padded, or exactly the 8 bytes given).
Bytes namedItem(std::size_t size, std::uint16_t kind, const std::string& name, int seed = 0);

// A data item holding the bytes, as a file would give it.
std::unique_ptr<ZxDataFile> makeItem(std::uint16_t kind, const Bytes& bytes);

// Every entry below a folder, hidden ones included: relative path -> contents ("<dir>" for a
// folder). Two equal snapshots mean no file was created, removed, renamed or changed.
using FolderSnapshot = std::map<QString, QByteArray>;
FolderSnapshot snapshotFolder(const QString& path);
std::string describeDifference(const FolderSnapshot& before, const FolderSnapshot& after);

// One node of the drive's tree as the window shows it.
struct NodeState {
    std::string name;
    std::uint32_t size = 0;
    bool present = false;
    std::int32_t freeSpace = 0;
    bool operator==(const NodeState&) const = default;
};
// Keyed by what the node is, not by its name (names change): "tone 3", "reg 2/1", "song 0",
// "rhythm 3", and the folders by their names ("Tone:", "Bank2", "Song", "Song Rhythm:").
using TreeSnapshot = std::map<std::string, NodeState>;
TreeSnapshot snapshotTree(ZxKbdDrv& drive);
std::string describe(const NodeState& node);
// Adds a test failure for each node that differs.
void expectTree(const TreeSnapshot& actual, const TreeSnapshot& expected);

// The key of a slot in a TreeSnapshot.
std::string slotKey(std::uint16_t kind, int number, int bank = 0);

// The keyboard's memory, every slot: key as in TreeSnapshot -> bytes.
using MemorySnapshot = std::map<std::string, Bytes>;
MemorySnapshot snapshotMemory(const VirtualZr7316& keyboard);

// The slot node of the drive's tree.
ZxData& slotOf(ZxKbdDrv& drive, std::uint16_t kind, int number, int bank = 0);

// Import as the window and kbxtool do it: read the slot through a stream on its node into an
// item of no kind yet, sized by the stream, then write the item with a file stream in create
// mode into the folder under the import file name. The stream is left in `stream`, so a test
// can look at its ports after a failure. Returns the file's path.
QString importSlot(ZxData& slot, int in, int out, const QString& folder,
                   std::unique_ptr<KbxMidiStream>& stream);

// Send as the window and kbxtool do it: read the file into an item of no kind yet, sized by the
// file stream, and write it through a stream on the slot's node.
void sendFile(const QString& file, ZxData& slot, int in, int out,
              std::unique_ptr<KbxMidiStream>& stream);

// Writes the item to a data file (create mode).
void writeFile(const QString& path, ZxDataFile& item);

} // namespace faultkit

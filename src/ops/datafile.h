#pragma once
// Data files on the computer's side: reading one, writing one (atomically: a failure leaves the
// old file or none, never a truncated one), and changing the name of the item inside one. The
// window's property dialog, the import and kbxtool all go through these.

#include <QString>
#include <memory>
#include <string>

class ZxDataFile;

namespace kbxops {

// The item of a data file, its name taken from the data. Throws KbxStreamException NotKbxFile for
// a file that is not a data file, std::runtime_error naming the file when it cannot be read.
std::unique_ptr<ZxDataFile> readDataFile(const QString& path);

// Writes the item as a data file, replacing any file of that name atomically.
void writeDataFile(const QString& path, ZxDataFile& item);

// The bytes a typed name is stored as: a text with half-width katakana that all have their
// single byte maps back to those bytes; anything else is made storable character by character
// ("_" below the blank and above "}"). Not cut to the name's length.
std::string storableName(const QString& typed);

enum class RenameResult {
    Renamed,
    Unchanged, // the item already has that name; the file is not written
    NoName,    // the item's kind carries no name
};

// Gives the item in the file at path a new name (the first 8 characters of storableName, padded
// with blanks) and writes the file. The old name as shown (kbxnames::keyboardText), given back
// unchanged, is Unchanged, whatever its bytes. On any failure the file and the item keep the old
// name. Throws std::runtime_error (in the user's language) for an item whose data is too short to
// hold its name, and what writeDataFile throws.
RenameResult renameDataFile(const QString& path, ZxDataFile& item, const QString& newName);

} // namespace kbxops

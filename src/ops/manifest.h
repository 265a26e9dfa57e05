#pragma once
// A backup folder's manifest.json, read: which file goes into which slot (by short form), which
// song and rhythm slots were empty. Everything in it is outside input (a folder someone sent
// you): nothing here trusts a name, a slot or a number it holds.

#include <QString>
#include <QStringList>
#include <map>
#include <utility>
#include <vector>

namespace kbxops {

struct Manifest {
    QString directory;                              // the backup's folder
    QString path;                                   // its manifest.json
    QString model;                                  // empty when the manifest names none
    std::vector<std::pair<QString, QString>> files; // file name within the folder, slot
    QStringList empty;                              // slots the backup leaves empty
    // Written by newer backups only (an older manifest reads with these empty and complete).
    std::map<QString, QString> sha256; // file name -> lower-case hex
    QString created;                   // ISO 8601, UTC
    QString program;                   // "kbxman 0.1.0"
    bool complete = true;              // false: a cancelled backup
    QStringList notDone;               // slots a cancelled backup did not reach
};

// Reads DIR/manifest.json; a path that names a manifest.json file is taken as its folder.
// Throws std::runtime_error for a folder without a readable manifest, a document that is not a
// manifest, or one of another model.
Manifest readManifest(const QString& dirOrManifest);

// The same from the manifest's text, for a backup in directory.
Manifest parseManifest(const QByteArray& json, const QString& directory);

// A manifest entry must name a file in the backup's own folder, nothing above or beside it.
bool isPlainFileName(const QString& name);
// A plain name whose file is in directory: a symbolic link counts only if it leads to a file
// inside the folder, never to one outside it.
bool isBackupFile(const QString& directory, const QString& name);

// Why an entry of a manifest is left out (restore, compare, the restore's preview), in the
// user's language. other: the file that names the same slot (SlotTwice).
enum class ManifestFault {
    NotInFolder,
    NoSuchSlot,
    SlotTwice,
    Sha256Mismatch,
    NotSongOrRhythm,
    NotDataFile
};
QString manifestFaultText(ManifestFault fault, const QString& other = {});

} // namespace kbxops

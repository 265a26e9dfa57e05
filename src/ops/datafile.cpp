#include "datafile.h"

#include "kbxfilestream.h"
#include "kbxnames.h"
#include "msgstr.h"
#include "zxdata.h"

#include <QDir>
#include <algorithm>
#include <stdexcept>

namespace kbxops {

std::unique_ptr<ZxDataFile> readDataFile(const QString& path) {
    auto item = std::make_unique<ZxDataFile>(ZxKind::Undetermined);
    KbxFileStream stream(path, KbxFileStream::Read);
    item->setSize(stream.size());
    stream.read(*item);
    item->refreshName();
    return item;
}

void writeDataFile(const QString& path, ZxDataFile& item) {
    KbxFileStream stream(path, KbxFileStream::Create);
    stream.write(item);
}

std::string storableName(const QString& typed) {
    // Half-width katakana are the only characters beyond ASCII that a name can hold; a text that
    // shows them as stored keeps their bytes, anything else goes character by character.
    if (const auto bytes = kbxnames::keyboardBytes(typed)) {
        if (std::any_of(bytes->begin(), bytes->end(),
                        [](char c) { return static_cast<std::uint8_t>(c) >= 0x80; }))
            return *bytes;
    }
    return kbxnames::itemName(typed);
}

RenameResult renameDataFile(const QString& path, ZxDataFile& item, const QString& newName) {
    if (!ZxKind::isDataKind(item.kind()))
        return RenameResult::NoName;
    const std::string oldName = item.name();
    // The name as shown, given back unedited, keeps every byte it has.
    QString shown = kbxnames::keyboardText(oldName);
    if (newName.leftJustified(kNameLength, u' ') == shown)
        return RenameResult::Unchanged;
    std::string name = storableName(newName);
    name.resize(kNameLength, ' ');
    if (name == oldName)
        return RenameResult::Unchanged;

    item.setItemName(name);
    // The name must have reached the data, or the file would be rewritten with the old one.
    item.refreshName();
    if (item.name() != name) {
        item.setItemName(oldName);
        item.refreshName();
        throw std::runtime_error(localText("\"%1\" is too short to hold a name",
                                           "「%1」のデータは短すぎて名前を入れられません")
                                     .arg(QDir::toNativeSeparators(path))
                                     .toStdString());
    }
    try {
        writeDataFile(path, item);
    } catch (...) {
        // The file still holds the old name; so must the item that stands for it.
        item.setItemName(oldName);
        item.refreshName();
        throw;
    }
    return RenameResult::Renamed;
}

} // namespace kbxops

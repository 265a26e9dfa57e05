#include "faultkit.h"

#include "kbxfilestream.h"
#include "kbxmidistream.h"
#include "kbxnames.h"
#include "virtualzr7316.h"
#include "zxkbddrv.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <stdexcept>

namespace faultkit {

Bytes namedItem(std::size_t size, std::uint16_t kind, const std::string& name, int seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] =
            static_cast<std::uint8_t>((i * 7 + i / 128 + static_cast<std::size_t>(seed)) & 0x7F);
    const int offset = ZxKind::nameOffset(kind);
    if (offset >= 0)
        for (std::size_t i = 0; i < kNameLength; ++i)
            bytes[static_cast<std::size_t>(offset) + i] =
                static_cast<std::uint8_t>(i < name.size() ? name[i] : ' ');
    return bytes;
}

std::unique_ptr<ZxDataFile> makeItem(std::uint16_t kind, const Bytes& bytes) {
    auto item = std::make_unique<ZxDataFile>(kind);
    item->payload().assign((bytes.size() + 1) / 2, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        item->payload()[i / 2] |= static_cast<std::uint16_t>(bytes[i] << (i % 2 ? 0 : 8));
    item->setSize(static_cast<std::uint32_t>(bytes.size()));
    item->refreshName();
    return item;
}

FolderSnapshot snapshotFolder(const QString& path) {
    FolderSnapshot snapshot;
    const QDir root(path);
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString relative = root.relativeFilePath(it.filePath());
        if (it.fileInfo().isDir()) {
            snapshot[relative] = QByteArrayLiteral("<dir>");
            continue;
        }
        QFile file(it.filePath());
        snapshot[relative] =
            file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
    }
    return snapshot;
}

std::string describeDifference(const FolderSnapshot& before, const FolderSnapshot& after) {
    std::ostringstream out;
    for (const auto& [name, contents] : before) {
        const auto it = after.find(name);
        if (it == after.end())
            out << "removed: " << name.toStdString() << "\n";
        else if (it->second != contents)
            out << "changed: " << name.toStdString() << " (" << contents.size() << " -> "
                << it->second.size() << " bytes)\n";
    }
    for (const auto& [name, contents] : after)
        if (!before.count(name))
            out << "created: " << name.toStdString() << " (" << contents.size() << " bytes)\n";
    return out.str();
}

namespace {

const char* kindWord(std::uint16_t kind) {
    switch (kind) {
    case ZxKind::Tone:
        return "tone";
    case ZxKind::Dsp:
        return "dsp";
    case ZxKind::Registration:
        return "reg";
    case ZxKind::Song:
        return "song";
    case ZxKind::Rhythm:
        return "rhythm";
    default:
        return "kind?";
    }
}

NodeState stateOf(const ZxData& node) {
    NodeState state{node.name(), node.size(), node.isPresent(), 0};
    if (node.attributes() & (ZxAttr::Drive | ZxAttr::Directory))
        state.freeSpace = static_cast<const ZxDataDrive&>(node).freeSpace();
    return state;
}

void walk(const ZxDataDrive& folder, TreeSnapshot& snapshot) {
    for (int i = 0; i < folder.childCount(); ++i) {
        const ZxData& child = *folder.child(i);
        const bool isFolder =
            (child.attributes() & ZxAttr::Directory) || (child.attributes() & ZxAttr::Drive);
        if (isFolder) {
            snapshot[child.name()] = stateOf(child);
            walk(static_cast<const ZxDataDrive&>(child), snapshot);
        } else {
            snapshot[slotKey(child.kind(), child.number(), child.bank())] = stateOf(child);
        }
    }
}

} // namespace

std::string slotKey(std::uint16_t kind, int number, int bank) {
    std::string key = std::string(kindWord(kind)) + ' ';
    if (kind == ZxKind::Registration)
        key += std::to_string(bank) + '/';
    return key + std::to_string(number);
}

TreeSnapshot snapshotTree(ZxKbdDrv& drive) {
    TreeSnapshot snapshot;
    walk(drive.root(), snapshot);
    return snapshot;
}

std::string describe(const NodeState& node) {
    std::ostringstream out;
    out << "\"" << node.name << "\" size " << node.size << (node.present ? " present" : " absent")
        << " free " << node.freeSpace;
    return out.str();
}

void expectTree(const TreeSnapshot& actual, const TreeSnapshot& expected) {
    std::set<std::string> keys;
    for (const auto& entry : actual)
        keys.insert(entry.first);
    for (const auto& entry : expected)
        keys.insert(entry.first);
    for (const std::string& key : keys) {
        const auto a = actual.find(key);
        const auto e = expected.find(key);
        if (a == actual.end() || e == expected.end()) {
            ADD_FAILURE() << key << (a == actual.end() ? " missing from the tree" : " unexpected");
            continue;
        }
        if (!(a->second == e->second))
            ADD_FAILURE() << key << ": " << describe(a->second) << ", expected "
                          << describe(e->second);
    }
}

MemorySnapshot snapshotMemory(const VirtualZr7316& keyboard) {
    MemorySnapshot memory;
    for (int n = 0; n < VirtualZr7316::kTones; ++n)
        memory[slotKey(ZxKind::Tone, n)] = keyboard.itemBytes(ZxKind::Tone, n);
    for (int n = 0; n < VirtualZr7316::kDsps; ++n)
        memory[slotKey(ZxKind::Dsp, n)] = keyboard.itemBytes(ZxKind::Dsp, n);
    for (int b = 0; b < VirtualZr7316::kBanks; ++b)
        for (int n = 0; n < VirtualZr7316::kRegistrationsPerBank; ++n)
            memory[slotKey(ZxKind::Registration, n, b)] =
                keyboard.itemBytes(ZxKind::Registration, n, b);
    for (int n = 0; n < VirtualZr7316::kSongs; ++n)
        memory[slotKey(ZxKind::Song, n)] = keyboard.itemBytes(ZxKind::Song, n);
    for (int n = 0; n < VirtualZr7316::kRhythms; ++n)
        memory[slotKey(ZxKind::Rhythm, n)] = keyboard.itemBytes(ZxKind::Rhythm, n);
    return memory;
}

namespace {

ZxData* findSlot(const ZxDataDrive& folder, std::uint16_t kind, int number, int bank) {
    for (int i = 0; i < folder.childCount(); ++i) {
        ZxData* child = folder.child(i);
        if (child->attributes() & (ZxAttr::Drive | ZxAttr::Directory)) {
            if (ZxData* found =
                    findSlot(static_cast<const ZxDataDrive&>(*child), kind, number, bank))
                return found;
        } else if (child->kind() == kind && child->number() == number &&
                   (kind != ZxKind::Registration || child->bank() == bank)) {
            return child;
        }
    }
    return nullptr;
}

} // namespace

ZxData& slotOf(ZxKbdDrv& drive, std::uint16_t kind, int number, int bank) {
    ZxData* slot = findSlot(drive.root(), kind, number, bank);
    if (!slot)
        throw std::logic_error("no slot " + slotKey(kind, number, bank));
    return *slot;
}

QString importSlot(ZxData& slot, int in, int out, const QString& folder,
                   std::unique_ptr<KbxMidiStream>& stream) {
    ZxDataFile item(ZxKind::Undetermined);
    stream = std::make_unique<KbxMidiStream>(slot, in, out);
    item.setSize(stream->size());
    stream->read(item);
    const QString path = QDir(folder).filePath(kbxnames::importFileName(item.kind(), item.name()));
    KbxFileStream file(path, KbxFileStream::Create);
    file.write(item);
    return path;
}

void sendFile(const QString& file, ZxData& slot, int in, int out,
              std::unique_ptr<KbxMidiStream>& stream) {
    ZxDataFile item(ZxKind::Undetermined);
    {
        KbxFileStream source(file, KbxFileStream::Read);
        item.setSize(source.size());
        source.read(item);
    }
    stream = std::make_unique<KbxMidiStream>(slot, in, out);
    stream->write(item);
}

void writeFile(const QString& path, ZxDataFile& item) {
    KbxFileStream file(path, KbxFileStream::Create);
    file.write(item);
}

} // namespace faultkit

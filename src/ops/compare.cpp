#include "compare.h"

#include "data/zxlayout.h"

#include "datafile.h"
#include "kbxfile.h"
#include "manifest.h"
#include "slotref.h"
#include "zxkbddrv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <map>

namespace kbxops {

namespace {

// The short forms of every slot, in the drive's order.
std::vector<QString> layoutOrder() {
    static const std::vector<QString> order = [] {
        std::vector<QString> shortForms;
        for (const ZxSlotLayout& s : ZxLayout::slotTable())
            shortForms.push_back(shortForm(SlotAddress{s.kind, s.number, s.bank}));
        return shortForms;
    }();
    return order;
}

} // namespace

Side sideOfBackup(const QString& dir, QStringList* skipped) {
    const Manifest manifest = readManifest(dir);
    Side side;
    side.label = QDir::toNativeSeparators(QFileInfo(manifest.directory).absoluteFilePath());
    std::map<QString, SideItem> bySlot;
    const std::vector<QString> order = layoutOrder();
    for (const auto& entry : manifest.files) {
        // Named, not bound: a lambda below takes them (clang does not capture bindings).
        const QString& file = entry.first;
        const QString& slotText = entry.second;
        const ShortFormParse parsed = parseShortForm(slotText);
        const QString slot =
            parsed.status == ShortFormParse::Valid ? shortForm(parsed.address) : QString();
        const auto why = [&](const QString& reason) {
            if (skipped)
                skipped->append(QStringLiteral("%1 -> %2: %3").arg(file, slotText, reason));
        };
        if (!isBackupFile(manifest.directory, file)) {
            why(manifestFaultText(ManifestFault::NotInFolder));
            continue;
        }
        if (slot.isEmpty() || std::find(order.begin(), order.end(), slot) == order.end()) {
            why(manifestFaultText(ManifestFault::NoSuchSlot));
            continue;
        }
        if (bySlot.count(slot)) {
            why(manifestFaultText(ManifestFault::SlotTwice, bySlot[slot].file));
            continue;
        }
        const QString path = QDir(manifest.directory).filePath(file);
        try {
            std::unique_ptr<ZxDataFile> item = readDataFile(path);
            std::vector<std::uint8_t> bytes = kbxfile::serialize(*item);
            // A newer backup names each file's SHA-256: a file changed since is not the item
            // the backup took.
            const auto sum = manifest.sha256.find(file);
            if (sum != manifest.sha256.end() &&
                QString::fromLatin1(
                    QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                        static_cast<qsizetype>(bytes.size())),
                                             QCryptographicHash::Sha256)
                        .toHex()) != sum->second) {
                why(manifestFaultText(ManifestFault::Sha256Mismatch));
                continue;
            }
            SideItem read;
            read.name = item->name();
            read.size = item->size();
            read.file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
            read.bytes = std::move(bytes);
            bySlot[slot] = std::move(read);
        } catch (const std::exception& error) {
            why(QString::fromUtf8(error.what()));
        } catch (...) {
            why(manifestFaultText(ManifestFault::NotDataFile));
        }
    }
    for (const QString& slot : order) {
        auto it = bySlot.find(slot);
        if (it != bySlot.end())
            side.items.emplace_back(slot, std::move(it->second));
    }
    return side;
}

Side sideOfKeyboard(Keyboard& keyboard) {
    keyboard.list();
    Side side;
    side.label = QStringLiteral("keyboard");
    for (const SlotEntry& s : slotsOf(keyboard.drive().root())) {
        if (!s.node->isPresent())
            continue;
        SideItem item;
        item.name = s.node->name();
        item.size = s.node->size();
        side.items.emplace_back(shortForm(addressOf(*s.node)), std::move(item));
    }
    return side;
}

std::vector<SlotComparison> compareSides(const Side& a, const Side& b) {
    const auto find = [](const Side& side, const QString& slot) -> const SideItem* {
        for (const auto& [s, item] : side.items)
            if (s == slot)
                return &item;
        return nullptr;
    };
    std::vector<SlotComparison> result;
    for (const QString& slot : layoutOrder()) {
        const SideItem* left = find(a, slot);
        const SideItem* right = find(b, slot);
        if (!left && !right)
            continue;
        SlotComparison c;
        c.slot = slot;
        if (left)
            c.a = *left;
        if (right)
            c.b = *right;
        if (!right)
            c.state = SlotComparison::OnlyA;
        else if (!left)
            c.state = SlotComparison::OnlyB;
        else {
            const bool bothFiles = !left->file.isEmpty() && !right->file.isEmpty();
            const bool same = left->name == right->name && left->size == right->size &&
                              (!bothFiles || left->bytes == right->bytes);
            c.state = same ? SlotComparison::Equal : SlotComparison::Different;
        }
        result.push_back(std::move(c));
    }
    return result;
}

QString stateWord(SlotComparison::State state) {
    switch (state) {
    case SlotComparison::Equal:
        return QStringLiteral("equal");
    case SlotComparison::Different:
        return QStringLiteral("different");
    case SlotComparison::OnlyA:
        return QStringLiteral("only-a");
    case SlotComparison::OnlyB:
        return QStringLiteral("only-b");
    }
    return {};
}

} // namespace kbxops

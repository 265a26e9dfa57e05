// Arbitrary bytes as a backup's manifest.json (a restore of a folder someone sent you): the
// reader refuses what is not a manifest with std::runtime_error and nothing else, and no entry it
// lets through as a plain file name reaches outside the backup's folder; every slot it names
// either parses as a short form of the layout or is refused by the short-form parser.
#include "manifest.h"
#include "slotref.h"

#include <QDir>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString folder = QStringLiteral("/backup/folder");
    kbxops::Manifest manifest;
    try {
        manifest = kbxops::parseManifest(json, folder);
    } catch (const std::runtime_error&) {
        return 0;
    }
    for (const auto& [file, slot] : manifest.files) {
        if (kbxops::isPlainFileName(file)) {
            const QString path = QDir::cleanPath(QDir(folder).filePath(file));
            if (!path.startsWith(folder + u'/') || path.mid(folder.size() + 1).contains(u'/'))
                std::abort();
        }
        const kbxops::ShortFormParse parsed = kbxops::parseShortForm(slot);
        if (parsed.status == kbxops::ShortFormParse::Valid &&
            kbxops::parseShortForm(kbxops::shortForm(parsed.address)).address != parsed.address)
            std::abort();
    }
    return 0;
}

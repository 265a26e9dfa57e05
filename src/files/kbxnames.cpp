#include "kbxnames.h"

#include "zxdata.h"

#include <QList>

namespace kbxnames {

std::optional<QChar> cp932Char(std::uint8_t byte) {
    if (byte < 0x80)
        return QChar(static_cast<char16_t>(byte));
    if (byte >= 0xA1 && byte <= 0xDF)
        return QChar(static_cast<char16_t>(0xFF61 + (byte - 0xA1)));
    return std::nullopt;
}

QString keyboardText(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char c : bytes)
        text.append(cp932Char(static_cast<std::uint8_t>(c)).value_or(QChar(u'_')));
    return text;
}

std::optional<std::string> keyboardBytes(const QString& text) {
    std::string bytes;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80)
            bytes.push_back(static_cast<char>(u));
        else if (u >= 0xFF61 && u <= 0xFF9F)
            bytes.push_back(static_cast<char>(0xA1 + (u - 0xFF61)));
        else
            return std::nullopt;
    }
    return bytes;
}

QString filePrefix(std::uint16_t kind) {
    const ZxKindInfo* row = ZxKind::info(kind);
    return row ? QString::fromLatin1(row->filePrefix) : QString();
}

QString importFileName(std::uint16_t kind, const std::string& name) {
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString safe;
    for (const char c : name) {
        const auto byte = static_cast<std::uint8_t>(c);
        const std::optional<QChar> ch = cp932Char(byte);
        if (!ch || byte < 0x20 || byte == 0x7F || forbidden.contains(*ch))
            safe.append(u'_');
        else
            safe.append(*ch);
    }
    return filePrefix(kind) + safe + QStringLiteral(".kbx");
}

std::string itemName(const QString& typed) {
    std::string name;
    // Code points, not UTF-16 units: one typed character is one character of the name.
    for (const char32_t u : typed.toUcs4())
        name.push_back(u < 32 || u > 125 ? '_' : static_cast<char>(u));
    return name;
}

} // namespace kbxnames

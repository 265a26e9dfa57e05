#include "clitext.h"

#include "zxdata.h"

namespace kbxcli {

QString kindName(std::uint16_t kind) {
    const ZxKindInfo* row = ZxKind::info(kind);
    return row ? QString::fromLatin1(row->word) : QStringLiteral("unknown");
}

QString kindTitle(std::uint16_t kind) {
    if (const ZxKindInfo* row = ZxKind::info(kind))
        return QString::fromLatin1(row->title);
    return QStringLiteral("unknown kind 0x%1").arg(kind, 4, 16, QChar(u'0'));
}

} // namespace kbxcli

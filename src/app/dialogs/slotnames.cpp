#include "slotnames.h"

#include "common/msgstr.h"
#include "data/zxdata.h"
#include "data/zxkinds.h"
#include "files/kbxnames.h"

#include <algorithm>

namespace kbxapp {

namespace {

QString kindTitle(std::uint16_t kind) {
    const ZxKindInfo* row = ZxKind::info(kind);
    if (!row)
        return QStringLiteral("0x%1").arg(kind, 4, 16, QLatin1Char('0'));
    return MsgStr().isJapanese() ? QString::fromUtf8(row->wordJa) : QString::fromLatin1(row->title);
}

} // namespace

int slotNumber(const ZxData& slot) {
    return slot.number() + 1;
}

QString slotTitle(const kbxops::SlotAddress& address) {
    // Registrations are numbered within their bank, as the banks' folders show them.
    if (address.kind == ZxKind::Registration)
        return QStringLiteral("%1 Bank%2-%3")
            .arg(kindTitle(address.kind))
            .arg(address.bank)
            .arg(address.number + 1);
    return QStringLiteral("%1 %2").arg(kindTitle(address.kind)).arg(address.number + 1);
}

QString slotTitle(const QString& shortForm) {
    const kbxops::ShortFormParse parse = kbxops::parseShortForm(shortForm);
    return parse.status == kbxops::ShortFormParse::Valid ? slotTitle(parse.address) : shortForm;
}

QString slotTitle(const ZxData& slot) {
    return slotTitle(kbxops::addressOf(slot));
}

bool isBlankName(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == ' ' || c == '\0'; });
}

QString itemName(const std::string& bytes) {
    if (isBlankName(bytes))
        return localText("(no name)", "(名前なし)");
    return kbxnames::keyboardText(bytes).trimmed();
}

QString itemInSlot(const ZxData& slot) {
    return localText("\"%1\" (%2)", "「%1」(%2)").arg(itemName(slot.name()), slotTitle(slot));
}

} // namespace kbxapp

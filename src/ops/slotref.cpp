#include "slotref.h"

#include "kbxnames.h"

#include <QRegularExpression>

namespace kbxops {

namespace {

bool isFolder(const ZxData& node) {
    return (node.attributes() & (ZxAttr::Drive | ZxAttr::Directory)) != 0;
}

void collect(const ZxDataDrive& folder, const std::string& path, std::vector<FolderEntry>* folders,
             std::vector<SlotEntry>* slotList) {
    for (int i = 0; i < folder.childCount(); ++i) {
        ZxData* child = folder.child(i);
        if (isFolder(*child)) {
            auto* sub = static_cast<ZxDataDrive*>(child);
            const std::string subPath = path.empty() ? sub->name() : path + '\\' + sub->name();
            if (folders)
                folders->push_back({sub, subPath});
            collect(*sub, subPath, folders, slotList);
        } else if (slotList) {
            slotList->push_back({child, path, path + '\\' + child->name()});
        }
    }
}

} // namespace

ShortFormParse parseShortForm(const QString& text) {
    static const QRegularExpression start(QStringLiteral("^(tone|dsp|song|rhythm|reg):[^\\\\/]*$"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression single(QStringLiteral("^(tone|dsp|song|rhythm):(\\d{1,3})$"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reg(QStringLiteral("^reg:(\\d{1,3}):(\\d{1,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    ShortFormParse result;
    if (!start.match(text).hasMatch())
        return result;
    result.status = ShortFormParse::Invalid;
    if (const auto m = single.match(text); m.hasMatch()) {
        const QString word = m.captured(1).toLower();
        for (const ZxKindInfo& row : ZxKind::table())
            if (word == QLatin1String(row.shortWord))
                result.address.kind = row.code;
        result.address.number = m.captured(2).toInt();
        result.status = ShortFormParse::Valid;
    } else if (const auto r = reg.match(text); r.hasMatch()) {
        result.address.kind = ZxKind::Registration;
        result.address.bank = r.captured(1).toInt();
        result.address.number = r.captured(2).toInt();
        result.status = ShortFormParse::Valid;
    }
    return result;
}

QString shortForm(const SlotAddress& address) {
    const ZxKindInfo* row = ZxKind::info(address.kind);
    if (!row)
        return QStringLiteral("kind%1:%2").arg(address.kind).arg(address.number);
    const QString word = QString::fromLatin1(row->shortWord);
    if (address.kind == ZxKind::Registration)
        return QStringLiteral("%1:%2:%3").arg(word).arg(address.bank).arg(address.number);
    return QStringLiteral("%1:%2").arg(word).arg(address.number);
}

SlotAddress addressOf(const ZxData& slot) {
    SlotAddress a;
    a.kind = slot.kind();
    a.number = slot.number();
    a.bank = slot.kind() == ZxKind::Registration ? slot.bank() : 0;
    return a;
}

std::vector<FolderEntry> foldersOf(const ZxDataDrive& root) {
    std::vector<FolderEntry> folders;
    collect(root, {}, &folders, nullptr);
    return folders;
}

std::vector<SlotEntry> slotsOf(const ZxDataDrive& root) {
    std::vector<SlotEntry> slotList;
    collect(root, {}, nullptr, &slotList);
    return slotList;
}

const SlotEntry* findSlot(const std::vector<SlotEntry>& slotList, const SlotAddress& address) {
    for (const SlotEntry& s : slotList)
        if (addressOf(*s.node) == address)
            return &s;
    return nullptr;
}

const SlotEntry* findSlot(const std::vector<SlotEntry>& slotList, const QString& text) {
    const ShortFormParse parsed = parseShortForm(text);
    if (parsed.status == ShortFormParse::Valid)
        return findSlot(slotList, parsed.address);
    if (parsed.status == ShortFormParse::Invalid)
        return nullptr;

    if (const std::optional<std::string> bytes = kbxnames::keyboardBytes(text)) {
        for (const SlotEntry& s : slotList)
            if (s.path == *bytes)
                return &s;
    }
    QString wanted = text;
    if (!wanted.contains(u'\\'))
        wanted.replace(u'/', u'\\');
    // Ignoring case, then also the blanks that pad a name to 8 characters ("Song 1" for
    // "Song 1  "): each pass gives the one slot it matches, or nothing when it matches several.
    const auto trailingBlanksChopped = [](QString path) {
        while (path.endsWith(u' '))
            path.chop(1);
        return path;
    };
    for (const bool chopBlanks : {false, true}) {
        const QString want = chopBlanks ? trailingBlanksChopped(wanted) : wanted;
        const SlotEntry* found = nullptr;
        bool ambiguous = false;
        for (const SlotEntry& s : slotList) {
            QString shown = kbxnames::keyboardText(s.path);
            if (chopBlanks)
                shown = trailingBlanksChopped(shown);
            if (shown.compare(want, Qt::CaseInsensitive) != 0)
                continue;
            ambiguous = found != nullptr;
            found = &s;
        }
        if (ambiguous)
            return nullptr;
        if (found)
            return found;
    }
    return nullptr;
}

} // namespace kbxops

#include "kbdtext.h"

#include "zxdata.h"

namespace kbxapp {

namespace {

const QChar kNoCharacter = u'_';

QChar charOf(unsigned char byte) {
    if (byte < 0x80)
        return QChar(byte);
    if (byte >= 0xA1 && byte <= 0xDF)
        return QChar(0xFF61 + (byte - 0xA1));
    return kNoCharacter;
}

bool allowedInFileName(unsigned char byte) {
    if (byte < 0x20 || byte == 0x7F)
        return false;
    switch (byte) {
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return false;
    default:
        return true;
    }
}

QString kindPrefix(std::uint16_t kind) {
    switch (kind) {
    case ZxKind::Tone:
        return QStringLiteral("TON_");
    case ZxKind::Dsp:
        return QStringLiteral("DSP_");
    case ZxKind::Song:
        return QStringLiteral("SNG_");
    case ZxKind::Rhythm:
        return QStringLiteral("RHY_");
    case ZxKind::Registration:
        return QStringLiteral("REG_");
    default:
        return {};
    }
}

} // namespace

QString kbdText(const std::string& bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (char c : bytes)
        text += charOf(static_cast<unsigned char>(c));
    return text;
}

QString importFileName(std::uint16_t kind, const std::string& name) {
    QString text = kindPrefix(kind);
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        text += allowedInFileName(byte) ? charOf(byte) : kNoCharacter;
    }
    return text + QStringLiteral(".kbx");
}

} // namespace kbxapp

#include "clitext.h"

#include "zxdata.h"

namespace kbxcli {

QString kindName(std::uint16_t kind) {
    switch (kind) {
    case ZxKind::Tone:
        return QStringLiteral("tone");
    case ZxKind::Dsp:
        return QStringLiteral("dsp");
    case ZxKind::Song:
        return QStringLiteral("song");
    case ZxKind::Rhythm:
        return QStringLiteral("rhythm");
    case ZxKind::Registration:
        return QStringLiteral("registration");
    default:
        return QStringLiteral("unknown");
    }
}

QString kindTitle(std::uint16_t kind) {
    switch (kind) {
    case ZxKind::Tone:
        return QStringLiteral("Tone");
    case ZxKind::Dsp:
        return QStringLiteral("DSP");
    case ZxKind::Song:
        return QStringLiteral("Song");
    case ZxKind::Rhythm:
        return QStringLiteral("Rhythm");
    case ZxKind::Registration:
        return QStringLiteral("Registration");
    default:
        return QStringLiteral("unknown kind 0x%1").arg(kind, 4, 16, QChar(u'0'));
    }
}

} // namespace kbxcli

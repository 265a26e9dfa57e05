#include "cli/clitext.h"

#include <QDir>
#include <QFileInfo>

#include "data/zxdata.h"
#include "protocol/zxexception.h"

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

QString printable(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'_';
    return text;
}

QString quotedName(const std::string& name) {
    return u'"' + printable(keyboardText(name)) + u'"';
}

QString absoluteNative(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

std::runtime_error generalError(const QString& text) {
    return std::runtime_error(text.toStdString());
}

QJsonObject errorObject(const ErrorReport& report) {
    QJsonObject error;
    error.insert(QStringLiteral("class"), QString::fromStdString(report.className));
    error.insert(QStringLiteral("code"), report.code ? QJsonValue(*report.code) : QJsonValue());
    error.insert(QStringLiteral("message"), QString::fromStdString(report.message));
    return error;
}

} // namespace kbxcli

#include "deviceselect.h"

#include <QStringList>

namespace kbxcli {

DeviceMatch matchDevice(const QString& text, const std::vector<std::string>& names) {
    DeviceMatch match;
    const int count = static_cast<int>(names.size());
    bool isNumber = false;
    const int number = text.trimmed().toInt(&isNumber);
    if (isNumber && number >= 0 && number < count) {
        match.number = number;
        return match;
    }
    if (text.isEmpty()) {
        match.error = QStringLiteral("an empty device name matches every device");
        return match;
    }
    QList<int> containing;
    for (int i = 0; i < count; ++i) {
        const QString name = QString::fromStdString(names[static_cast<std::size_t>(i)]);
        if (name.compare(text, Qt::CaseInsensitive) == 0) {
            match.number = i;
            return match;
        }
        if (name.contains(text, Qt::CaseInsensitive))
            containing.append(i);
    }
    if (containing.size() == 1) {
        match.number = containing.front();
        return match;
    }
    if (containing.isEmpty() && isNumber) {
        match.error = QStringLiteral("there is no device number %1").arg(text.trimmed());
    } else if (containing.isEmpty()) {
        match.error = QStringLiteral("no device name contains \"%1\"").arg(text);
    } else {
        QStringList which;
        for (const int i : containing)
            which.append(QStringLiteral("%1 (%2)").arg(i).arg(
                QString::fromStdString(names[static_cast<std::size_t>(i)])));
        match.error = QStringLiteral("\"%1\" matches several devices: %2")
                          .arg(text, which.join(QStringLiteral(", ")));
    }
    return match;
}

QString deviceListing(const std::vector<std::string>& names) {
    if (names.empty())
        return QStringLiteral("  (none)\n");
    QString out;
    for (std::size_t i = 0; i < names.size(); ++i)
        out += QStringLiteral("  %1  %2\n").arg(i, 2).arg(QString::fromStdString(names[i]));
    return out;
}

} // namespace kbxcli

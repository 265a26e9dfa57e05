#include "appicons.h"

#include <QApplication>
#include <QFile>
#include <QStyle>

// Resources of a static library must be registered by name.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kbxapp {

namespace {

void ensureResources() {
    static const bool registered = [] {
        registerIconResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QIcon standard(QStyle::StandardPixmap pixmap) {
    return QApplication::style()->standardIcon(pixmap);
}

// Stand-ins from the style while an image is missing from the resources.
QIcon fallbackToolbarIcon(int index) {
    static const QStyle::StandardPixmap pixmaps[] = {
        QStyle::SP_FileDialogListView, QStyle::SP_FileDialogDetailedView,
        QStyle::SP_FileDialogListView, QStyle::SP_FileDialogDetailedView,
        QStyle::SP_BrowserReload,      QStyle::SP_ArrowUp,
        QStyle::SP_ComputerIcon,       QStyle::SP_ArrowDown,
        QStyle::SP_TrashIcon};
    return index >= 0 && index < 9 ? standard(pixmaps[index]) : QIcon();
}

QIcon fallbackKbdIcon(int index) {
    switch (index) {
    case 0:
    case 1:
        return standard(QStyle::SP_DriveHDIcon);
    case 2:
    case 3:
        return standard(QStyle::SP_DirClosedIcon);
    case 4:
        return standard(QStyle::SP_DirOpenIcon);
    case 11:
        return standard(QStyle::SP_ComputerIcon);
    default:
        return standard(QStyle::SP_FileIcon);
    }
}

} // namespace

QIcon toolbarIcon(int index) {
    ensureResources();
    const QString path = QStringLiteral(":/icons/toolbar/%1.png").arg(index);
    return QFile::exists(path) ? QIcon(path) : fallbackToolbarIcon(index);
}

QIcon kbdIcon(int index) {
    ensureResources();
    const QString small = QStringLiteral(":/icons/kbd/%1.png").arg(index);
    const QString large = QStringLiteral(":/icons/kbd/%1@32.png").arg(index);
    if (!QFile::exists(small))
        return fallbackKbdIcon(index);
    QIcon icon;
    icon.addFile(small, QSize(16, 16));
    if (QFile::exists(large))
        icon.addFile(large, QSize(32, 32));
    return icon;
}

QIcon kbdTreeIcon(int image, int selectedImage) {
    if (image == selectedImage)
        return kbdIcon(image);
    const QIcon normal = kbdIcon(image);
    const QIcon selected = kbdIcon(selectedImage);
    QIcon icon;
    for (const QSize size : {QSize(16, 16), QSize(32, 32)}) {
        icon.addPixmap(normal.pixmap(size), QIcon::Normal);
        icon.addPixmap(selected.pixmap(size), QIcon::Selected);
    }
    return icon;
}

QIcon appIcon() {
    ensureResources();
    const QString path = QStringLiteral(":/icons/app.png");
    return QFile::exists(path) ? QIcon(path) : standard(QStyle::SP_ComputerIcon);
}

} // namespace kbxapp

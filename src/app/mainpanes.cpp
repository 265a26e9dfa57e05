// The two panes of the main window: the local tree and list above, the keyboard tree and list
// below.
#include "mainform.h"

#include "ui_mainform.h"
#include <QHash>

#include "appicons.h"
#include "kbxnames.h"
#include "platform.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QTreeWidget>
#include <algorithm>

namespace {

// Keyboard tree nodes carry their data node and their text in the drive's bytes.
constexpr int kNodeDataRole = Qt::UserRole;
constexpr int kNodeBytesRole = Qt::UserRole + 1;

const QChar kKbdSeparator = u'\\';

enum KbdImage {
    ImgTopFolder = 0,
    ImgTopFolderListed = 1,
    ImgFolderAbsent = 2,
    ImgFolderPresent = 3,
    ImgFolderSelected = 4,
    ImgEmptySlot = 5,
    // 6-10: the kinds' images, by the table of kinds (ZxKindInfo::listImage)
    ImgKeyboard = 11,
};

QVariant nodeVariant(ZxData* node) {
    return QVariant::fromValue(reinterpret_cast<quintptr>(node));
}

ZxData* nodeOf(const QVariant& value) {
    return reinterpret_cast<ZxData*>(value.value<quintptr>());
}

QString withSeparator(QString text, QChar separator) {
    if (!text.endsWith(separator))
        text += separator;
    return text;
}

void sortByName(QFileInfoList& entries) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        return collator.compare(a.fileName(), b.fileName()) < 0;
    });
}

// Type word and image of a present slot, by kind.
bool slotLook(std::uint16_t kind, QString& type, int& image) {
    const ZxKindInfo* row = ZxKind::info(kind);
    if (!row)
        return false;
    type = QString::fromLatin1(row->listType);
    image = row->listImage;
    return true;
}

} // namespace

// ---- Paths ----

QString TPcLinkForm::GetNodePath(QTreeWidgetItem* node) const {
    if (!node)
        return {};
    const QChar separator =
        node->treeWidget() == m_ui->KbdDirView ? kKbdSeparator : QDir::separator();
    QString path = node->text(0);
    for (QTreeWidgetItem* ancestor = node->parent(); ancestor; ancestor = ancestor->parent())
        path = withSeparator(ancestor->text(0), separator) + path;
    if (path.startsWith(ModelName))
        path.remove(0, ModelName.size() + 1);
    return withSeparator(path, separator);
}

std::string TPcLinkForm::GetKbdNodePath(QTreeWidgetItem* node) const {
    if (!node)
        return {};
    auto bytesOf = [](QTreeWidgetItem* item) {
        return item->data(0, kNodeBytesRole).toByteArray().toStdString();
    };
    auto withBackslash = [](std::string text) {
        if (text.empty() || text.back() != '\\')
            text += '\\';
        return text;
    };
    std::string path = bytesOf(node);
    for (QTreeWidgetItem* ancestor = node->parent(); ancestor; ancestor = ancestor->parent())
        path = withBackslash(bytesOf(ancestor)) + path;
    const std::string model = ModelName.toStdString();
    if (path.compare(0, model.size(), model) == 0)
        path.erase(0, std::min(path.size(), model.size() + 1));
    return withBackslash(path);
}

ZxData* TPcLinkForm::KbdNodeData(QTreeWidgetItem* node) {
    return node ? nodeOf(node->data(0, kNodeDataRole)) : nullptr;
}

ZxData* TPcLinkForm::KbdItemData(int row) const {
    return row >= 0 && row < m_ui->KbdFileView->count() ? nodeOf(m_ui->KbdFileView->itemData(row))
                                                        : nullptr;
}

// ---- Local tree ----

void TPcLinkForm::SetupLocalDirView() {
    QTreeWidget* tree = m_ui->LocalDirView;
    ++m_expandingDetached;
    tree->clear();
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
        auto* node = new QTreeWidgetItem(tree, {root});
        node->setIcon(0, m_iconProvider->icon(QFileIconProvider::Drive));
        // Removable drives are not probed until the user opens them.
        const bool hasChildren = !kbxapp::isRemovableDrive(root) && HasSubDirs(root);
        node->setChildIndicatorPolicy(hasChildren
                                          ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
    --m_expandingDetached;

    if (DefaultDir.isEmpty())
        return;
    QString dir = QDir::toNativeSeparators(QFileInfo(DefaultDir).absoluteFilePath());
    dir = withSeparator(dir, QDir::separator());
    QTreeWidgetItem* driveNode = nullptr;
    for (int i = 0; i < tree->topLevelItemCount() && !driveNode; ++i) {
        if (dir.startsWith(tree->topLevelItem(i)->text(0)))
            driveNode = tree->topLevelItem(i);
    }
    if (!driveNode)
        return;
    ++m_expandingDetached;
    QTreeWidgetItem* node = FindLocalNode(dir, driveNode);
    if (node) {
        for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
            p->setExpanded(true);
        tree->setCurrentItem(node);
    }
    --m_expandingDetached;
}

QTreeWidgetItem* TPcLinkForm::FindLocalNode(const QString& path, QTreeWidgetItem* node) {
    if (!node)
        return nullptr;
    const QString own = withSeparator(node->text(0), QDir::separator());
    if (!path.startsWith(own))
        return nullptr;
    const QString rest = path.mid(own.size());
    if (rest.isEmpty())
        return node;
    AddLocalSubDirs(node);
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (rest.startsWith(child->text(0) + QDir::separator()) &&
            QFileInfo(GetNodePath(child)).isDir())
            return FindLocalNode(rest, child);
    }
    return node;
}

void TPcLinkForm::AddLocalSubDirs(QTreeWidgetItem* node) {
    if (!node)
        return;
    ++m_expandingDetached;
    qDeleteAll(node->takeChildren());
    const QString path = GetNodePath(node);
    QFileInfoList entries =
        QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    sortByName(entries);
    for (const QFileInfo& entry : entries) {
        auto* child = new QTreeWidgetItem(node, {entry.fileName()});
        child->setIcon(0, m_iconProvider->icon(entry));
        child->setChildIndicatorPolicy(
            HasSubDirs(withSeparator(QDir::toNativeSeparators(entry.absoluteFilePath()),
                                     QDir::separator()))
                ? QTreeWidgetItem::ShowIndicator
                : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
    --m_expandingDetached;
}

bool TPcLinkForm::HasSubDirs(const QString& path) const {
    QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
    return it.hasNext();
}

void TPcLinkForm::LocalDirViewChange(QTreeWidgetItem* node) {
    if (node)
        AddLocalSubDirs(node);
    ListLocalFiles(node);
}

void TPcLinkForm::LocalDirViewExpanding(QTreeWidgetItem* node) {
    if (m_expandingDetached > 0 || !node)
        return;
    AddLocalSubDirs(node);
}

void TPcLinkForm::LocalDirViewCollapsed(QTreeWidgetItem* node) {
    // A selection hidden inside a collapsed folder moves up to it, so that reading the folder
    // again on its next expansion never deletes the selected node.
    QTreeWidgetItem* current = m_ui->LocalDirView->currentItem();
    for (QTreeWidgetItem* p = current ? current->parent() : nullptr; p; p = p->parent()) {
        if (p == node) {
            m_ui->LocalDirView->setCurrentItem(node);
            return;
        }
    }
}

// ---- Local list ----

QString TPcLinkForm::LocalSizeText(qint64 bytes) {
    const qint64 kilobytes = std::max<qint64>(bytes / 1024, 1);
    return QString::number(kilobytes) + QStringLiteral("KB");
}

QString TPcLinkForm::LocalTypeName(const QFileInfo& info) const {
    if (info.isDir())
        return m_mimeDatabase->mimeTypeForName(QStringLiteral("inode/directory")).comment();
    const QMimeType type = m_mimeDatabase->mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    if (!type.isDefault())
        return type.comment();
    // What the desktop shows for an unregistered extension, such as our own ".kbx".
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? tr("File") : tr("%1 File").arg(suffix.toUpper());
}

void TPcLinkForm::ListLocalFiles(QTreeWidgetItem* node) {
    FileListView* list = m_ui->LocalFileView;
    list->clear();
    if (!node)
        return;
    QFileInfoList entries =
        QDir(GetNodePath(node))
            .entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    sortByName(entries);
    // The type name follows from the extension, and Qt's lookup is slow (it compiles patterns
    // for every name): ask once per extension in a listing, which makes a folder of 100,000
    // files three times faster.
    QHash<QString, QString> typeBySuffix;
    for (const QFileInfo& entry : entries) {
        const QString suffix = entry.isDir() ? QString() : entry.completeSuffix();
        QString type;
        if (suffix.isEmpty()) {
            type = LocalTypeName(entry);
        } else {
            auto known = typeBySuffix.constFind(suffix);
            if (known == typeBySuffix.cend())
                known = typeBySuffix.insert(suffix, LocalTypeName(entry));
            type = *known;
        }
        list->addItem(m_iconProvider->icon(entry), entry.fileName(),
                      {type, entry.isDir() ? QString() : LocalSizeText(entry.size())});
    }
}

void TPcLinkForm::LocalFileViewChange(int) {}

bool TPcLinkForm::SelectTreeChild(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i) {
        if (node->child(i)->text(0) == text) {
            ++m_expandingDetached;
            node->setExpanded(true);
            node->treeWidget()->setCurrentItem(node->child(i));
            --m_expandingDetached;
            return true;
        }
    }
    return false;
}

bool TPcLinkForm::OpenLocalFolder(int row) {
    QTreeWidgetItem* node = m_ui->LocalDirView->currentItem();
    if (!node || row < 0 || row >= m_ui->LocalFileView->count())
        return false;
    const QString text = m_ui->LocalFileView->itemText(row);
    if (!QFileInfo(GetNodePath(node) + text).isDir())
        return false;
    if (SelectTreeChild(node, text))
        return true;
    // Made after the tree read this level (the list is read again on every activation, the
    // tree is not): read the level again rather than stay in the folder above.
    AddLocalSubDirs(node);
    return SelectTreeChild(node, text);
}

void TPcLinkForm::LocalFileViewDblClick(int row) {
    OpenLocalFolder(row);
}

void TPcLinkForm::LocalFileViewBtnsClick(int tag) {
    m_ui->LocalFileView->setViewStyle(tag);
}

// ---- Keyboard tree ----

void TPcLinkForm::SetupKbdDirView() {
    QTreeWidget* tree = m_ui->KbdDirView;
    m_ui->KbdFileView->clear();
    tree->clear();
    auto* root = new QTreeWidgetItem(tree, {ModelName});
    root->setData(0, kNodeBytesRole, ModelName.toLatin1());
    root->setIcon(0, kbxapp::kbdIcon(ImgKeyboard));
    const int folderImage = KbdDrv->isListed() ? ImgTopFolderListed : ImgTopFolder;
    for (int i = 0; i < KbdDrv->folderCount(); ++i) {
        const std::string name = KbdDrv->folderName(i);
        auto* node = new QTreeWidgetItem(root, {kbxnames::keyboardText(name) + kKbdSeparator});
        node->setData(0, kNodeBytesRole, QByteArray::fromStdString(name + '\\'));
        node->setData(0, kNodeDataRole, nodeVariant(KbdDrv->folderByName(name)));
        node->setIcon(0, kbxapp::kbdIcon(folderImage));
        node->setChildIndicatorPolicy(KbdDrv->hasSubfolders(name)
                                          ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        AddKbdSubDirs(node);
    }
    root->setExpanded(true);
    if (root->childCount() > 0)
        tree->setCurrentItem(root->child(0));
}

void TPcLinkForm::AddKbdSubDirs(QTreeWidgetItem* node) {
    const std::string path = GetKbdNodePath(node);
    ZxData* entry = nullptr;
    if (!KbdDrv->findFirst(path, ZxAttr::Directory, entry))
        return;
    do {
        if (!(entry->attributes() & ZxAttr::Directory))
            continue;
        auto* child = new QTreeWidgetItem(node, {kbxnames::keyboardText(entry->name())});
        child->setData(0, kNodeBytesRole, QByteArray::fromStdString(entry->name()));
        child->setData(0, kNodeDataRole, nodeVariant(entry));
        child->setIcon(0, entry->isPresent()
                              ? kbxapp::kbdTreeIcon(ImgFolderPresent, ImgFolderSelected)
                              : kbxapp::kbdIcon(ImgFolderAbsent));
        const bool hasChildren = KbdDrv->hasSubfolders(path + entry->name());
        child->setChildIndicatorPolicy(hasChildren
                                           ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        if (hasChildren)
            AddKbdSubDirs(child);
    } while (KbdDrv->findNext(entry));
    KbdDrv->findClose();
}

void TPcLinkForm::KbdDirViewChange(QTreeWidgetItem* node) {
    ListKbdFiles(node);
}

void TPcLinkForm::KbdDirViewExpanding(QTreeWidgetItem*) {}

// ---- Keyboard list ----

void TPcLinkForm::ListKbdFiles(QTreeWidgetItem* node) {
    FileListView* list = m_ui->KbdFileView;
    list->clear();
    if (node) {
        ZxData* entry = nullptr;
        if (KbdDrv->findFirst(GetKbdNodePath(node), ZxAttr::Node | ZxAttr::Directory | ZxAttr::File,
                              entry)) {
            do {
                const QString name = kbxnames::keyboardText(entry->name());
                if (entry->attributes() & ZxAttr::Directory) {
                    list->addItem(
                        kbxapp::kbdIcon(entry->isPresent() ? ImgFolderPresent : ImgFolderAbsent),
                        name, {QString::fromStdString(Messages->GetFolderTypeMsg(0)), QString()},
                        nodeVariant(entry));
                    continue;
                }
                QString type;
                int image = ImgEmptySlot;
                if (entry->isPresent() && slotLook(entry->kind(), type, image)) {
                    list->addItem(kbxapp::kbdIcon(image), name,
                                  {type, QString::number(entry->size())}, nodeVariant(entry));
                } else {
                    list->addItem(kbxapp::kbdIcon(ImgEmptySlot), name, {}, nodeVariant(entry));
                }
            } while (KbdDrv->findNext(entry));
            KbdDrv->findClose();
        }
    }
    const QByteArray text = node ? node->data(0, kNodeBytesRole).toByteArray() : QByteArray();
    const bool deletable = (text == "Song" || text == "Rhythm") && KbdDrv->isListed();
    m_ui->DeleteAction->setEnabled(deletable);
    m_ui->KbdDeleteItem->setEnabled(deletable);
}

void TPcLinkForm::KbdFileViewDblClick(int row) {
    QTreeWidgetItem* node = m_ui->KbdDirView->currentItem();
    ZxData* entry = KbdItemData(row);
    if (!node || !entry || !(entry->attributes() & ZxAttr::Directory))
        return;
    SelectTreeChild(node, m_ui->KbdFileView->itemText(row));
}

void TPcLinkForm::KbdFileViewBtnsClick(int tag) {
    m_ui->KbdFileView->setViewStyle(tag);
}

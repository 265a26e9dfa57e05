#include "kbdpane.h"

#include "app/dialogs/slotnames.h"
#include "appicons.h"
#include "filelistview.h"
#include "kbxnames.h"
#include "msgstr.h"
#include "panetree.h"
#include "zxdata.h"
#include "zxkbddrv.h"

#include <QButtonGroup>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

using kbxapp::withSeparator;

namespace {

// Tree nodes carry their data node and their text in the drive's bytes.
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

KbdPane::KbdPane(QTreeWidget* tree, FileListView* list,
                 const std::array<QToolButton*, 4>& viewButtons, ZxKbdDrv& drive,
                 const QString& modelName, const MsgStr& messages, QObject* parent)
    : QObject(parent)
    , m_tree(tree)
    , m_list(list)
    , m_viewButtons(viewButtons)
    , m_drive(drive)
    , m_modelName(modelName)
    , m_messages(messages) {
    auto* group = new QButtonGroup(this);
    group->setObjectName(QStringLiteral("KbdViewBtns"));
    for (int tag = 0; tag < int(m_viewButtons.size()); ++tag) {
        m_viewButtons[tag]->setIcon(kbxapp::toolbarIcon(tag));
        group->addButton(m_viewButtons[tag], tag);
    }
    connect(group, &QButtonGroup::idClicked, this, &KbdPane::KbdFileViewBtnsClick);

    // "No." counts a folder's slots from 1; it comes after the described columns.
    m_list->setColumns({tr("Name"), tr("Type"), tr("Size(byte)"), tr("No.")}, {193, 100, 100, 44},
                       {2, 3});
    m_tree->setIconSize(QSize(16, 16));
    // Deep folders scroll sideways instead of being cut off.
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { KbdDirViewChange(current); });
    connect(m_tree, &QTreeWidget::itemExpanded, this, &KbdPane::KbdDirViewExpanding);
    connect(m_list, &FileListView::itemDoubleClicked, this, &KbdPane::KbdFileViewDblClick);
    connect(m_list, &FileListView::returnPressed, this, &KbdPane::KbdFileViewReturnPressed);
}

// ---- Paths and data ----

QString KbdPane::GetNodePath(QTreeWidgetItem* node) const {
    if (!node)
        return {};
    QString path = node->text(0);
    for (QTreeWidgetItem* ancestor = node->parent(); ancestor; ancestor = ancestor->parent())
        path = withSeparator(ancestor->text(0), kKbdSeparator) + path;
    if (path.startsWith(m_modelName))
        path.remove(0, m_modelName.size() + 1);
    return withSeparator(path, kKbdSeparator);
}

std::string KbdPane::GetKbdNodePath(QTreeWidgetItem* node) const {
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
    const std::string model = m_modelName.toStdString();
    if (path.compare(0, model.size(), model) == 0)
        path.erase(0, std::min(path.size(), model.size() + 1));
    return withBackslash(path);
}

ZxData* KbdPane::KbdNodeData(QTreeWidgetItem* node) {
    return node ? nodeOf(node->data(0, kNodeDataRole)) : nullptr;
}

ZxData* KbdPane::KbdItemData(int row) const {
    return row >= 0 && row < m_list->count() ? nodeOf(m_list->itemData(row)) : nullptr;
}

ZxData* KbdPane::SelectedSlot(OperateException::Code none, OperateException::Code notSlot) const {
    const int row = m_list->selectedRow();
    if (!m_tree->currentItem() || row < 0)
        throw OperateException(none);
    ZxData* slot = KbdItemData(row);
    // A folder entry is no place for data: its path would find the folder node as a "slot",
    // and its number would address the song or rhythm numbered like the folder.
    if (!slot || (slot->attributes() & ZxAttr::Directory))
        throw OperateException(notSlot);
    return slot;
}

// ---- Tree ----

void KbdPane::SetupKbdDirView() {
    m_list->clear();
    m_tree->clear();
    auto* root = new QTreeWidgetItem(m_tree, {m_modelName});
    root->setData(0, kNodeBytesRole, m_modelName.toLatin1());
    root->setIcon(0, kbxapp::kbdIcon(ImgKeyboard));
    const int folderImage = m_drive.isListed() ? ImgTopFolderListed : ImgTopFolder;
    for (int i = 0; i < m_drive.folderCount(); ++i) {
        const std::string name = m_drive.folderName(i);
        auto* node = new QTreeWidgetItem(root, {kbxnames::keyboardText(name) + kKbdSeparator});
        node->setData(0, kNodeBytesRole, QByteArray::fromStdString(name + '\\'));
        node->setData(0, kNodeDataRole, nodeVariant(m_drive.folderByName(name)));
        node->setIcon(0, kbxapp::kbdIcon(folderImage));
        node->setChildIndicatorPolicy(m_drive.hasSubfolders(name)
                                          ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        AddKbdSubDirs(node);
    }
    root->setExpanded(true);
    if (root->childCount() > 0)
        m_tree->setCurrentItem(root->child(0));
}

void KbdPane::AddKbdSubDirs(QTreeWidgetItem* node) {
    const std::string path = GetKbdNodePath(node);
    ZxData* entry = nullptr;
    if (!m_drive.findFirst(path, ZxAttr::Directory, entry))
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
        const bool hasChildren = m_drive.hasSubfolders(path + entry->name());
        child->setChildIndicatorPolicy(hasChildren
                                           ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        if (hasChildren)
            AddKbdSubDirs(child);
    } while (m_drive.findNext(entry));
    m_drive.findClose();
}

void KbdPane::KbdDirViewChange(QTreeWidgetItem* node) {
    ListKbdFiles(node);
}

void KbdPane::KbdDirViewExpanding(QTreeWidgetItem*) {}

// ---- List ----

void KbdPane::ListKbdFiles(QTreeWidgetItem* node) {
    m_list->clear();
    if (node) {
        ZxData* entry = nullptr;
        if (m_drive.findFirst(GetKbdNodePath(node), ZxAttr::Node | ZxAttr::Directory | ZxAttr::File,
                              entry)) {
            do {
                QString name = kbxnames::keyboardText(entry->name());
                if (entry->attributes() & ZxAttr::Directory) {
                    m_list->addItem(
                        kbxapp::kbdIcon(entry->isPresent() ? ImgFolderPresent : ImgFolderAbsent),
                        name, {QString::fromStdString(m_messages.GetFolderTypeMsg(0)), QString()},
                        nodeVariant(entry));
                    continue;
                }
                // A name of blanks alone would leave an item without a label among others.
                const bool blank = kbxapp::isBlankName(entry->name());
                if (blank)
                    name = kbxapp::itemName(entry->name());
                const QString number = QString::number(kbxapp::slotNumber(*entry));
                QString type;
                int image = ImgEmptySlot;
                int row = -1;
                if (entry->isPresent() && slotLook(entry->kind(), type, image)) {
                    row = m_list->addItem(kbxapp::kbdIcon(image), name,
                                          {type, QString::number(entry->size()), number},
                                          nodeVariant(entry));
                } else {
                    row = m_list->addItem(kbxapp::kbdIcon(ImgEmptySlot), name,
                                          {QString(), QString(), number}, nodeVariant(entry));
                }
                if (blank)
                    m_list->model()->item(row, 0)->setForeground(
                        m_list->palette().brush(QPalette::Disabled, QPalette::Text));
            } while (m_drive.findNext(entry));
            m_drive.findClose();
        }
    }
    const QByteArray text = node ? node->data(0, kNodeBytesRole).toByteArray() : QByteArray();
    Q_EMIT deletableChanged((text == "Song" || text == "Rhythm") && m_drive.isListed());
}

void KbdPane::KbdFileViewDblClick(int row) {
    QTreeWidgetItem* node = m_tree->currentItem();
    ZxData* entry = KbdItemData(row);
    if (!node || !entry || !(entry->attributes() & ZxAttr::Directory))
        return;
    kbxapp::selectTreeChild(node, m_list->itemText(row));
}

void KbdPane::KbdFileViewReturnPressed(int row) {
    ZxData* entry = KbdItemData(row);
    if (!entry)
        return;
    if (entry->attributes() & ZxAttr::Directory)
        KbdFileViewDblClick(row);
    else
        Q_EMIT propertiesRequested();
}

// ---- The user's place ----

KbdPane::Place KbdPane::CurrentPlace() const {
    Place place;
    QList<QTreeWidgetItem*> pending;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        pending << m_tree->topLevelItem(i);
    while (!pending.isEmpty()) {
        QTreeWidgetItem* node = pending.takeFirst();
        if (node->isExpanded())
            place.expanded << GetNodePath(node);
        for (int i = 0; i < node->childCount(); ++i)
            pending << node->child(i);
    }
    if (QTreeWidgetItem* current = m_tree->currentItem()) {
        place.current = GetNodePath(current);
        place.row = m_list->selectedRow();
    }
    return place;
}

void KbdPane::RestorePlace(const Place& place) {
    QTreeWidgetItem* current = nullptr;
    QList<QTreeWidgetItem*> pending;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i)
        pending << m_tree->topLevelItem(i);
    while (!pending.isEmpty()) {
        QTreeWidgetItem* node = pending.takeFirst();
        const QString path = GetNodePath(node);
        node->setExpanded(place.expanded.contains(path));
        if (!current && path == place.current)
            current = node;
        for (int i = 0; i < node->childCount(); ++i)
            pending << node->child(i);
    }
    if (!current)
        return;
    if (current != m_tree->currentItem())
        m_tree->setCurrentItem(current); // lists the folder
    if (place.row >= 0 && place.row < m_list->count())
        m_list->setSelectedRow(place.row);
}

void KbdPane::SetupKbdDirViewKeepingPlace() {
    const Place place = CurrentPlace();
    SetupKbdDirView();
    RestorePlace(place);
}

void KbdPane::RelistKeepingSelection() {
    const int row = m_list->selectedRow();
    ListKbdFiles(m_tree->currentItem());
    if (row >= 0 && row < m_list->count())
        m_list->setSelectedRow(row);
}

QString KbdPane::SelectedItemText() const {
    const int row = m_list->selectedRow();
    return row >= 0 ? m_list->itemText(row).trimmed() : QString();
}

void KbdPane::KbdFileViewBtnsClick(int tag) {
    m_list->setViewStyle(tag);
}

void KbdPane::SelectViewStyle(int tag) {
    m_viewButtons[tag]->setChecked(true);
    KbdFileViewBtnsClick(tag);
}

#include "localpane.h"

#include "appicons.h"
#include "common/msgstr.h"
#include "filelistview.h"
#include "ops/datafile.h"
#include "panetree.h"
#include "platform.h"
#include "zxdata.h"

#include <QButtonGroup>
#include <QCollator>
#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QScrollBar>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>

// A list item carries the data file read for its properties.
Q_DECLARE_METATYPE(std::shared_ptr<ZxDataFile>)

using kbxapp::withSeparator;

namespace {

void sortByName(QFileInfoList& entries) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) {
        return collator.compare(a.fileName(), b.fileName()) < 0;
    });
}

} // namespace

LocalPane::LocalPane(QTreeWidget* tree, FileListView* list,
                     const std::array<QToolButton*, 4>& viewButtons, QObject* parent)
    : QObject(parent)
    , m_tree(tree)
    , m_list(list)
    , m_viewButtons(viewButtons)
    // The shell's icons come from the provider; the list picks the size per view style.
    , m_iconProvider(std::make_unique<QFileIconProvider>())
    , m_mimeDatabase(std::make_unique<QMimeDatabase>()) {
    auto* group = new QButtonGroup(this);
    group->setObjectName(QStringLiteral("LocalViewBtns"));
    for (int tag = 0; tag < int(m_viewButtons.size()); ++tag) {
        m_viewButtons[tag]->setIcon(kbxapp::toolbarIcon(tag));
        group->addButton(m_viewButtons[tag], tag);
    }
    connect(group, &QButtonGroup::idClicked, this, &LocalPane::LocalFileViewBtnsClick);

    m_list->setColumns({tr("Name"), tr("Type"), tr("Size"), tr("Modified")}, {200, 100, 100, 130},
                       {2});
    // "Expand all" would read every folder of the disk below the node, one level at a time.
    m_tree->installEventFilter(this);
    // Deep folders scroll sideways instead of being cut off.
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    m_tree->setIconSize(QSize(16, 16));

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { LocalDirViewChange(current); });
    connect(m_tree, &QTreeWidget::itemExpanded, this, &LocalPane::LocalDirViewExpanding);
    connect(m_tree, &QTreeWidget::itemCollapsed, this, &LocalPane::LocalDirViewCollapsed);
    connect(m_list, &FileListView::currentRowChanged, this, &LocalPane::LocalFileViewChange);
    connect(m_list, &FileListView::itemDoubleClicked, this, &LocalPane::LocalFileViewDblClick);
    connect(m_list, &FileListView::returnPressed, this, &LocalPane::LocalFileViewReturnPressed);
}

LocalPane::~LocalPane() = default;

bool LocalPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tree && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Asterisk)
        return true;
    return QObject::eventFilter(watched, event);
}

QString LocalPane::GetNodePath(QTreeWidgetItem* node) const {
    if (!node)
        return {};
    QString path = node->text(0);
    for (QTreeWidgetItem* ancestor = node->parent(); ancestor; ancestor = ancestor->parent())
        path = withSeparator(ancestor->text(0), QDir::separator()) + path;
    return withSeparator(path, QDir::separator());
}

// ---- Tree ----

void LocalPane::SetupLocalDirView(const QString& defaultDir) {
    ++m_expandingDetached;
    m_tree->clear();
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
        auto* node = new QTreeWidgetItem(m_tree, {root});
        node->setIcon(0, m_iconProvider->icon(QFileIconProvider::Drive));
        // Removable drives are not probed until the user opens them.
        const bool hasChildren = !kbxapp::isRemovableDrive(root) && HasSubDirs(root);
        node->setChildIndicatorPolicy(hasChildren
                                          ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
    --m_expandingDetached;
    SelectLocalFolder(defaultDir);
}

void LocalPane::SelectLocalFolder(const QString& defaultDir) {
    if (defaultDir.isEmpty())
        return;
    QString dir = QDir::toNativeSeparators(QFileInfo(defaultDir).absoluteFilePath());
    dir = withSeparator(dir, QDir::separator());
    QTreeWidgetItem* driveNode = nullptr;
    for (int i = 0; i < m_tree->topLevelItemCount() && !driveNode; ++i) {
        if (dir.startsWith(m_tree->topLevelItem(i)->text(0)))
            driveNode = m_tree->topLevelItem(i);
    }
    if (!driveNode)
        return;
    ++m_expandingDetached;
    QTreeWidgetItem* node = FindLocalNode(dir, driveNode);
    if (node) {
        for (QTreeWidgetItem* p = node->parent(); p; p = p->parent())
            p->setExpanded(true);
        m_tree->setCurrentItem(node);
    }
    --m_expandingDetached;
}

QTreeWidgetItem* LocalPane::FindLocalNode(const QString& path, QTreeWidgetItem* node) {
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

void LocalPane::AddLocalSubDirs(QTreeWidgetItem* node) {
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

bool LocalPane::HasSubDirs(const QString& path) const {
    QDirIterator it(path, QDir::Dirs | QDir::NoDotAndDotDot);
    return it.hasNext();
}

void LocalPane::LocalDirViewChange(QTreeWidgetItem* node) {
    if (node)
        AddLocalSubDirs(node);
    ListLocalFiles(node);
}

void LocalPane::LocalDirViewExpanding(QTreeWidgetItem* node) {
    if (m_expandingDetached > 0 || !node)
        return;
    AddLocalSubDirs(node);
}

void LocalPane::LocalDirViewCollapsed(QTreeWidgetItem* node) {
    // A selection hidden inside a collapsed folder moves up to it, so that reading the folder
    // again on its next expansion never deletes the selected node.
    QTreeWidgetItem* current = m_tree->currentItem();
    for (QTreeWidgetItem* p = current ? current->parent() : nullptr; p; p = p->parent()) {
        if (p == node) {
            m_tree->setCurrentItem(node);
            return;
        }
    }
}

bool LocalPane::SelectTreeChild(QTreeWidgetItem* node, const QString& text) {
    ++m_expandingDetached;
    const bool found = kbxapp::selectTreeChild(node, text);
    --m_expandingDetached;
    return found;
}

void LocalPane::ScrollToCurrent() {
    if (QTreeWidgetItem* node = m_tree->currentItem()) {
        m_tree->scrollToItem(node, QAbstractItemView::PositionAtCenter);
        m_tree->horizontalScrollBar()->setValue(0);
    }
}

// ---- List ----

QString LocalPane::LocalSizeText(qint64 bytes) {
    // Exact, as the keyboard list shows its sizes: a send is judged by the byte.
    return QLocale(QLocale::English).toString(bytes);
}

QString LocalPane::LocalTypeName(const QFileInfo& info) const {
    if (info.isDir())
        return m_mimeDatabase->mimeTypeForName(QStringLiteral("inode/directory")).comment();
    const QMimeType type = m_mimeDatabase->mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    if (!type.isDefault())
        return type.comment();
    // What the desktop shows for an unregistered extension, such as our own ".kbx".
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? tr("File") : tr("%1 File").arg(suffix.toUpper());
}

void LocalPane::ListLocalFiles(QTreeWidgetItem* node) {
    m_list->clear();
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
        m_list->addItem(m_iconProvider->icon(entry), entry.fileName(),
                        {type, entry.isDir() ? QString() : LocalSizeText(entry.size()),
                         QLocale().toString(entry.lastModified(), QLocale::ShortFormat)});
    }
}

void LocalPane::RefreshLocalFiles() {
    const int selected = m_list->selectedRow();
    const QString selectedText = selected >= 0 ? m_list->itemText(selected) : QString();
    ListLocalFiles(m_tree->currentItem());
    // Keep the user's selection across the refresh (it runs on every activation).
    if (!selectedText.isEmpty())
        SelectItem(selectedText);
}

bool LocalPane::SelectItem(const QString& text) {
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->itemText(row) == text) {
            m_list->setSelectedRow(row);
            return true;
        }
    }
    return false;
}

void LocalPane::LocalFileViewChange(int) {}

bool LocalPane::IsFolderItem(int row) const {
    QTreeWidgetItem* node = m_tree->currentItem();
    return node && row >= 0 && row < m_list->count() &&
           QFileInfo(GetNodePath(node) + m_list->itemText(row)).isDir();
}

void LocalPane::LocalFileViewReturnPressed(int row) {
    if (IsFolderItem(row))
        OpenLocalFolder(row);
    else if (row >= 0 && row < m_list->count())
        Q_EMIT propertiesRequested();
}

bool LocalPane::OpenLocalFolder(int row) {
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node || row < 0 || row >= m_list->count())
        return false;
    const QString text = m_list->itemText(row);
    if (!QFileInfo(GetNodePath(node) + text).isDir())
        return false;
    if (SelectTreeChild(node, text))
        return true;
    // Made after the tree read this level (the list is read again on every activation, the
    // tree is not): read the level again rather than stay in the folder above.
    AddLocalSubDirs(node);
    return SelectTreeChild(node, text);
}

std::shared_ptr<ZxDataFile> LocalPane::ItemDataFile(int row) {
    std::shared_ptr<ZxDataFile> file = m_list->itemData(row).value<std::shared_ptr<ZxDataFile>>();
    const QString text = m_list->itemText(row);
    const QString path = GetNodePath(m_tree->currentItem()) + text;
    if (!file && text.endsWith(QStringLiteral(".kbx"), Qt::CaseSensitive) &&
        !QFileInfo(path).isDir()) {
        file = kbxops::readDataFile(path);
        m_list->setItemData(row, QVariant::fromValue(file));
    }
    return file;
}

void LocalPane::LocalFileViewDblClick(int row) {
    OpenLocalFolder(row);
}

void LocalPane::LocalFileViewBtnsClick(int tag) {
    m_list->setViewStyle(tag);
}

void LocalPane::SelectViewStyle(int tag) {
    m_viewButtons[tag]->setChecked(true);
    LocalFileViewBtnsClick(tag);
}

// ---- Showing a given place ----

bool LocalPane::ShowFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    SelectLocalFolder(folder);
    const QString wanted =
        withSeparator(QDir::toNativeSeparators(QDir::cleanPath(folder)), QDir::separator());
    if (ShownFolder() != wanted)
        return false;
    return info.isDir() || SelectItem(info.fileName());
}

QString LocalPane::ShownFolder() const {
    return GetNodePath(m_tree->currentItem());
}

QString LocalPane::SelectedPath() const {
    const int row = m_list->selectedRow();
    return row >= 0 && m_tree->currentItem() ? ShownFolder() + m_list->itemText(row) : QString();
}

// ---- The small file manager ----

namespace {

// A name the user typed for an entry of the shown folder: one level, nothing above it.
QString nameProblem(const QString& name) {
    if (name.trimmed().isEmpty())
        return localText("A name is needed.", "名前を入力してください。");
    if (name.contains(QLatin1Char('/')) || name.contains(QDir::separator()) ||
        name == QStringLiteral(".") || name == QStringLiteral(".."))
        return localText("\"%1\" cannot be a name: it must not contain a folder separator.",
                         "「%1」は名前に使えません。フォルダーの区切り文字は使えません。")
            .arg(name);
    return {};
}

} // namespace

void LocalPane::ReloadSelecting(const QString& name) {
    if (QTreeWidgetItem* node = m_tree->currentItem())
        AddLocalSubDirs(node); // a folder made, renamed or removed changes the tree as well
    ListLocalFiles(m_tree->currentItem());
    if (!name.isEmpty())
        SelectItem(name);
}

QString LocalPane::RenameItem(int row, const QString& newName) {
    if (row < 0 || row >= m_list->count() || !m_tree->currentItem())
        return {};
    const QString oldName = m_list->itemText(row);
    if (newName == oldName)
        return {};
    if (QString problem = nameProblem(newName); !problem.isEmpty())
        return problem;
    const QString folder = ShownFolder();
    // Never over an entry that is there: rename is not a way to replace a file.
    if (QFileInfo::exists(folder + newName) && oldName.compare(newName, Qt::CaseInsensitive) != 0)
        return localText("\"%1\" exists already.", "「%1」は既にあります。").arg(newName);
    if (!QDir(folder).rename(oldName, newName))
        return localText("\"%1\" cannot be renamed to \"%2\".",
                         "「%1」の名前を「%2」に変更できません。")
            .arg(oldName, newName);
    ReloadSelecting(newName);
    return {};
}

QString LocalPane::TrashItem(int row) {
    if (row < 0 || row >= m_list->count() || !m_tree->currentItem())
        return {};
    const QString name = m_list->itemText(row);
    if (!QFile::moveToTrash(ShownFolder() + name))
        return localText("\"%1\" cannot be moved to the trash.", "「%1」をごみ箱に移動できません。")
            .arg(name);
    ReloadSelecting(QString());
    // The entry that took its place, so that the next Del goes on down the list.
    if (m_list->count() > 0)
        m_list->setSelectedRow(std::min(row, m_list->count() - 1));
    return {};
}

QString LocalPane::MakeFolder(const QString& name) {
    if (!m_tree->currentItem())
        return {};
    if (QString problem = nameProblem(name); !problem.isEmpty())
        return problem;
    const QString folder = ShownFolder();
    if (QFileInfo::exists(folder + name))
        return localText("\"%1\" exists already.", "「%1」は既にあります。").arg(name);
    if (!QDir(folder).mkdir(name))
        return localText("The folder \"%1\" cannot be made.", "フォルダー「%1」を作成できません。")
            .arg(name);
    ReloadSelecting(name);
    return {};
}

bool LocalPane::GoUp() {
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node || !node->parent())
        return false;
    const QString from = node->text(0);
    m_tree->setCurrentItem(node->parent());
    SelectItem(from);
    return true;
}

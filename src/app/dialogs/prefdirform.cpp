#include "prefdirform.h"

#include "platform.h"
#include "ui_prefdirform.h"

#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QChar kSeparator = QDir::separator();

QString withSeparator(QString path) {
    if (!path.endsWith(kSeparator))
        path += kSeparator;
    return path;
}

// Folders only; hidden and system entries are not listed (QDir leaves them out unless asked).
constexpr QDir::Filters kFolders = QDir::Dirs | QDir::NoDotAndDotDot;

// Keeps the tree's handlers off while the dialog itself changes the tree.
class Detached {
public:
    explicit Detached(int& counter)
        : m_counter(counter) {
        ++m_counter;
    }
    ~Detached() { --m_counter; }
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

private:
    int& m_counter;
};

} // namespace

TDirBrowseForm::TDirBrowseForm(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TDirBrowseForm>())
    , m_icons(std::make_unique<QFileIconProvider>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    resize(324, 466);

    connect(m_ui->OkBtn, &QPushButton::clicked, this, &TDirBrowseForm::OkBtnClick);
    connect(m_ui->CancelBtn, &QPushButton::clicked, this, &TDirBrowseForm::CancelBtnClick);
    connect(m_ui->DirView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { DirViewChange(current); });
    connect(m_ui->DirView, &QTreeWidget::itemExpanded, this, &TDirBrowseForm::DirViewExpanding);
    FormCreate();
}

TDirBrowseForm::~TDirBrowseForm() = default;

void TDirBrowseForm::FormCreate() {
    const Detached detached(m_handlersDetached);
    m_ui->DirView->clear();
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
        auto* node = new QTreeWidgetItem(m_ui->DirView, QStringList{root});
        node->setIcon(0, m_icons->icon(drive));
        // As in the main window's tree: removable drives are not probed until opened, so a
        // floppy or card reader is never spun up just to draw an expansion button.
        const bool probe = !kbxapp::isRemovableDrive(root);
        node->setChildIndicatorPolicy(probe && HasSubDirs(root)
                                          ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
}

QString TDirBrowseForm::GetNodePath(const QTreeWidgetItem* node) const {
    QString path = node->text(0);
    for (const QTreeWidgetItem* above = node->parent(); above; above = above->parent())
        path = withSeparator(above->text(0)) + path;
    return withSeparator(path);
}

bool TDirBrowseForm::HasSubDirs(const QString& path) const {
    return QDirIterator(path, kFolders).hasNext();
}

void TDirBrowseForm::AddSubDirs(QTreeWidgetItem* node) {
    const QString path = GetNodePath(node);
    // Sorted as the system's own folder listings show them, not in the file system's raw order.
    const QFileInfoList folders =
        QDir(path).entryInfoList(kFolders, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& folder : folders) {
        auto* child = new QTreeWidgetItem(node, QStringList{folder.fileName()});
        child->setIcon(0, m_icons->icon(folder));
        child->setChildIndicatorPolicy(HasSubDirs(path + folder.fileName())
                                           ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    }
}

void TDirBrowseForm::ReadSubDirs(QTreeWidgetItem* node) {
    // Removing children may move the current item; that must not read folders again from here.
    const Detached detached(m_handlersDetached);
    // Reading a folder again replaces its subtree. A selection inside it (left there when the
    // folder was collapsed) is found again by its path, so reopening an ancestor keeps it.
    QTreeWidget* view = m_ui->DirView;
    QString kept;
    for (const QTreeWidgetItem* p = view->currentItem(); p; p = p->parent()) {
        if (p->parent() == node) {
            kept = GetNodePath(view->currentItem()).mid(GetNodePath(node).size());
            break;
        }
    }
    qDeleteAll(node->takeChildren());
    if (kept.isEmpty()) {
        AddSubDirs(node);
        return;
    }
    // The walk reads the node and each folder on the way down.
    QTreeWidgetItem* found = FindNode(withSeparator(node->text(0)) + kept, node);
    for (QTreeWidgetItem* p = found ? found->parent() : nullptr; p && p != node; p = p->parent())
        p->setExpanded(true);
    view->setCurrentItem(found ? found : node);
}

QTreeWidgetItem* TDirBrowseForm::FindNode(const QString& path, QTreeWidgetItem* node) {
    const QString own = withSeparator(node->text(0));
    if (!path.startsWith(own))
        return nullptr;
    const QString rest = path.mid(own.size());
    if (rest.isEmpty())
        return node;
    ReadSubDirs(node);
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (rest.startsWith(withSeparator(child->text(0))) && QFileInfo(GetNodePath(child)).isDir())
            return FindNode(rest, child);
    }
    // A folder that no longer exists: its deepest existing ancestor.
    return node;
}

void TDirBrowseForm::SetDirectory(const QString& dir) {
    m_directory = dir;
    if (dir.isEmpty())
        return;
    const QString path = withSeparator(QDir::toNativeSeparators(dir));

    QTreeWidget* view = m_ui->DirView;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        QTreeWidgetItem* drive = view->topLevelItem(i);
        if (!path.startsWith(withSeparator(drive->text(0))))
            continue;
        const Detached detached(m_handlersDetached);
        QTreeWidgetItem* found = FindNode(path, drive);
        if (!found)
            return;
        for (QTreeWidgetItem* above = found->parent(); above; above = above->parent())
            above->setExpanded(true);
        view->setCurrentItem(found);
        view->scrollToItem(found);
        return;
    }
}

void TDirBrowseForm::DirViewChange(QTreeWidgetItem* node) {
    if (m_handlersDetached > 0 || !node)
        return;
    ReadSubDirs(node);
}

void TDirBrowseForm::DirViewExpanding(QTreeWidgetItem* node) {
    if (m_handlersDetached > 0 || !node)
        return;
    ReadSubDirs(node);
}

void TDirBrowseForm::OkBtnClick() {
    if (const QTreeWidgetItem* node = m_ui->DirView->currentItem())
        m_directory = GetNodePath(node);
    accept();
}

void TDirBrowseForm::CancelBtnClick() {
    reject();
}

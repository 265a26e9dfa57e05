#pragma once
// TDirBrowseForm: the folder chooser of the preference dialog. A tree of the computer's drives
// whose folders are read one level at a time, when a node is opened or selected; hidden and
// system folders are left out.

#include <QDialog>
#include <QString>
#include <memory>

class QFileIconProvider;
class QTreeWidgetItem;

namespace Ui {
class TDirBrowseForm;
}

class TDirBrowseForm : public QDialog {
    Q_OBJECT
public:
    explicit TDirBrowseForm(QWidget* parent = nullptr);
    ~TDirBrowseForm() override;

    // Hands in the directory and selects its deepest folder that the tree can reach.
    void SetDirectory(const QString& dir);
    // After OK the selected folder's path with a final separator; otherwise the one handed in.
    QString GetDirectory() const { return m_directory; }

    // The node's path: its ancestors joined with the native separator, one separator at the end.
    QString GetNodePath(const QTreeWidgetItem* node) const;

public Q_SLOTS:
    void OkBtnClick();
    void CancelBtnClick();
    void DirViewChange(QTreeWidgetItem* node);
    void DirViewExpanding(QTreeWidgetItem* node);

private:
    void FormCreate();
    void AddSubDirs(QTreeWidgetItem* node);
    void ReadSubDirs(QTreeWidgetItem* node);
    bool HasSubDirs(const QString& path) const;
    QTreeWidgetItem* FindNode(const QString& path, QTreeWidgetItem* node);

    std::unique_ptr<Ui::TDirBrowseForm> m_ui;
    std::unique_ptr<QFileIconProvider> m_icons;
    QString m_directory;
    int m_handlersDetached = 0; // > 0 while the tree's change and expansion handlers are off
};

#pragma once
// What the two panes' trees share: paths that end in their separator, and opening a child.

#include <QString>
#include <QTreeWidget>

namespace kbxapp {

inline QString withSeparator(QString text, QChar separator) {
    if (!text.endsWith(separator))
        text += separator;
    return text;
}

// Expands the node and selects its child with the text; false when it has none.
inline bool selectTreeChild(QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; i < node->childCount(); ++i) {
        if (node->child(i)->text(0) == text) {
            node->setExpanded(true);
            node->treeWidget()->setCurrentItem(node->child(i));
            return true;
        }
    }
    return false;
}

} // namespace kbxapp

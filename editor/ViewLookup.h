#pragma once

#include <QString>
#include <QVariant>

class QListWidget;
class QListWidgetItem;
class QTreeWidget;
class QTreeWidgetItem;

// The lookups of the tree and list views. Nodes (items) are walked by index from 0, a
// tree's depth first; one matches when its text (column 0) equals text, unless text is
// empty, and its data (Qt::UserRole of column 0) equals data, unless data is invalid.
// The first match, or null.
QTreeWidgetItem* findTreeNode(const QTreeWidget* view, const QString& text, const QVariant& data);
QListWidgetItem* findListItem(const QListWidget* view, const QString& text, const QVariant& data);
// A report list: the top-level rows of a tree widget.
QTreeWidgetItem* findListItem(const QTreeWidget* view, const QString& text, const QVariant& data);

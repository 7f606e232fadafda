#include "editor/ViewLookup.h"

#include <QListWidget>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

bool matches(const QString& itemText, const QVariant& itemData, const QString& text,
             const QVariant& data) {
    if (!text.isEmpty() && itemText != text)
        return false;
    return !data.isValid() || itemData == data;
}

} // namespace

QTreeWidgetItem* findTreeNode(const QTreeWidget* view, const QString& text, const QVariant& data) {
    if (!view)
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(view)); *it; ++it) {
        QTreeWidgetItem* item = *it;
        if (matches(item->text(0), item->data(0, Qt::UserRole), text, data))
            return item;
    }
    return nullptr;
}

QListWidgetItem* findListItem(const QListWidget* view, const QString& text, const QVariant& data) {
    if (!view)
        return nullptr;
    for (int i = 0; i < view->count(); ++i) {
        QListWidgetItem* item = view->item(i);
        if (matches(item->text(), item->data(Qt::UserRole), text, data))
            return item;
    }
    return nullptr;
}

QTreeWidgetItem* findListItem(const QTreeWidget* view, const QString& text, const QVariant& data) {
    if (!view)
        return nullptr;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = view->topLevelItem(i);
        if (matches(item->text(0), item->data(0, Qt::UserRole), text, data))
            return item;
    }
    return nullptr;
}

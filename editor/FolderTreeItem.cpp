#include "editor/FolderTreeItem.h"

#include "editor/FolderImages.h"

FolderTreeItem::FolderTreeItem(QTreeWidget* view) : QTreeWidgetItem(view) {
    setData(FOLDERID_INVALID);
    setImageIndex(0);
}

FolderTreeItem::FolderTreeItem(QTreeWidgetItem* parent) : QTreeWidgetItem(parent) {
    setData(FOLDERID_INVALID);
    setImageIndex(0);
}

FolderTreeNode* FolderTreeItem::addChild() {
    return new FolderTreeItem(static_cast<QTreeWidgetItem*>(this));
}

void FolderTreeItem::setCaption(const std::string& caption) {
    setText(0, QString::fromStdString(caption));
}

STOREFOLDERID FolderTreeItem::data() const {
    return idOf(this);
}

void FolderTreeItem::setData(STOREFOLDERID id) {
    QTreeWidgetItem::setData(0, Qt::UserRole, QVariant::fromValue<uint>(id));
}

void FolderTreeItem::setImageIndex(int index) {
    QTreeWidgetItem::setData(0, ImageRole, index);
    setIcon(0, FolderImages::folder(index));
}

void FolderTreeItem::setSelectedIndex(int) {
    // The tree shows the same picture for a selected node.
}

int FolderTreeItem::imageIndex() const {
    return QTreeWidgetItem::data(0, ImageRole).toInt();
}

STOREFOLDERID FolderTreeItem::idOf(const QTreeWidgetItem* item) {
    if (!item)
        return FOLDERID_INVALID;
    bool ok = false;
    uint id = item->data(0, Qt::UserRole).toUInt(&ok);
    return ok ? id : FOLDERID_INVALID;
}

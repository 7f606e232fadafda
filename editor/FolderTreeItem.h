#pragma once

#include "mail/FolderTreeNode.h"

#include <QTreeWidgetItem>

// A node of a folder chooser's tree as fillFolderTree fills it: the folder id in
// Qt::UserRole, the image index in FolderTreeItem::ImageRole and the icon drawn for it.
class FolderTreeItem : public QTreeWidgetItem, public FolderTreeNode {
public:
    static constexpr int ImageRole = Qt::UserRole + 1;

    explicit FolderTreeItem(QTreeWidget* view);
    explicit FolderTreeItem(QTreeWidgetItem* parent);

    using QTreeWidgetItem::addChild;
    using QTreeWidgetItem::data;
    using QTreeWidgetItem::setData;

    FolderTreeNode* addChild() override;
    void setCaption(const std::string& caption) override;
    STOREFOLDERID data() const override;
    void setData(STOREFOLDERID id) override;
    void setImageIndex(int index) override;
    void setSelectedIndex(int index) override;

    int imageIndex() const;
    // The id an item of a folder tree carries (any item, not only ours).
    static STOREFOLDERID idOf(const QTreeWidgetItem* item);
};

#pragma once

#include "platform/Store.h"

#include <string>

// One node of a folder chooser's tree, as fillFolderTree fills it. The Qt tree view
// implements it over its items; tests implement it over a plain tree.
class FolderTreeNode {
public:
    // A new last child; owned by this node.
    virtual FolderTreeNode* addChild() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual STOREFOLDERID data() const = 0;
    virtual void setData(STOREFOLDERID id) = 0;
    virtual void setImageIndex(int index) = 0;
    virtual void setSelectedIndex(int index) = 0;

protected:
    ~FolderTreeNode() = default;
};

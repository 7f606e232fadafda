#include "MailTestSupport.h"

FolderTreeNode* TestTreeNode::addChild() {
    children.push_back(std::make_unique<TestTreeNode>(FOLDERID_INVALID));
    return children.back().get();
}

std::string TestTreeNode::dump(int depth) const {
    std::string out;
    for (const auto& child : children) {
        out += std::string(2 * depth, ' ') + child->caption + " " + std::to_string(child->image) +
               "/" + std::to_string(child->selected) + "\n";
        out += child->dump(depth + 1);
    }
    return out;
}

#pragma once

#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "platform/Store.h"
#include "mail/FolderTreeNode.h"
#include "tests/support/LogRecorder.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TempMaildir.h"

#include <memory>
#include <string>
#include <vector>

// The mail tests' temporary store: messages delivered by their content.
class TempStore {
public:
    const std::string& root() const { return maildir.root; }
    // The folder's directory ("" is the inbox, else e.g. ".Work").
    std::string folderPath(const std::string& dirName = "") const {
        return maildir.folder(dirName);
    }
    // Delivers a message into new/ as a delivery agent does; its modification time is
    // received when given. Returns the file's path.
    std::string deliver(const std::string& content, const std::string& dirName = "",
                        const FILETIME* received = nullptr) {
        return maildir.deliverMail(content, dirName, received);
    }
    // Copies a file of the test corpus (tests/data/mail/<name>) into the folder.
    std::string deliverCorpus(const std::string& name, const std::string& dirName = "") {
        return maildir.deliverCorpus(name, dirName);
    }

private:
    TempMaildir maildir;
};

// A plain tree for fillFolderTree.
class TestTreeNode final : public FolderTreeNode {
public:
    explicit TestTreeNode(STOREFOLDERID id = FOLDERID_ROOT) : id(id) {}

    FolderTreeNode* addChild() override;
    void setCaption(const std::string& text) override { caption = text; }
    STOREFOLDERID data() const override { return id; }
    void setData(STOREFOLDERID value) override { id = value; }
    void setImageIndex(int index) override { image = index; }
    void setSelectedIndex(int index) override { selected = index; }

    // The tree as indented lines "caption image/selected".
    std::string dump(int depth = 0) const;

    STOREFOLDERID id;
    std::string caption;
    int image = -1, selected = -1;
    std::vector<std::unique_ptr<TestTreeNode>> children;
};

#include "mail/StoreAccess.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <poll.h>

namespace {

const TestTreeNode* childCaptioned(const TestTreeNode& node, const std::string& caption) {
    for (const auto& child : node.children)
        if (child->caption == caption)
            return child.get();
    return nullptr;
}

std::string connectError(const std::string& root) {
    try {
        connectStore(root);
    } catch (const ComException& e) {
        EXPECT_TRUE(FAILED(e.hr()));
        return e.what();
    }
    return "<no error>";
}

class StoreAccess : public testing::Test {
protected:
    void SetUp() override {
        connection = connectStore(temp.root());
        store = connection.store.get();
    }

    TempStore temp;
    StoreConnection connection;
    IStoreNamespace* store = nullptr;
};

TEST_F(StoreAccess, ConnectOpensTheInboxOfTheRoot) {
    ASSERT_TRUE(connection.store);
    ASSERT_TRUE(connection.inbox);
    STOREFOLDERID inboxId = FOLDERID_INVALID;
    for (const FOLDERPROPS& props : subFolders(store, FOLDERID_ROOT))
        if (props.sfType == FOLDER_INBOX)
            inboxId = props.dwFolderId;
    EXPECT_NE(inboxId, FOLDERID_INVALID);
    EXPECT_EQ(folderIdOf(connection.inbox.get()), inboxId);
    EXPECT_EQ(folderIdOf(openInbox(store).get()), inboxId);
}

TEST(StoreConnection, FailuresNameTheirStep) {
    TempStore temp;
    std::filesystem::create_directories(temp.root());
    std::ofstream(temp.root() + "/plain-file") << "not a directory";
    EXPECT_EQ(connectError(temp.root() + "/plain-file/Maildir"), "CoCreateInstance error");
    EXPECT_EQ(connectError(""), "CoCreateInstance error");
    // The folder table cannot be locked: the store exists but does not initialise.
    std::filesystem::create_directories(temp.root() + "/brevalo-folders.lock");
    EXPECT_EQ(connectError(temp.root()), "IStoreNamespace::Initialize");
}

TEST_F(StoreAccess, OpenFolderOfAnUnknownIdIsEmptyNotRaised) {
    EXPECT_FALSE(openFolder(store, 987654));
    STOREFOLDERID work = findOrCreateFolder(store, FOLDERID_ROOT, "Work", true);
    com_ptr<IStoreFolder> folder = openFolder(store, work);
    ASSERT_TRUE(folder);
    EXPECT_EQ(folderIdOf(folder.get()), work);
}

TEST_F(StoreAccess, FindOrCreateIsCaseSensitiveAndCreatesTheExactName) {
    STOREFOLDERID work = findOrCreateFolder(store, FOLDERID_ROOT, "Work", true);
    ASSERT_NE(work, FOLDERID_INVALID);
    EXPECT_EQ(findOrCreateFolder(store, FOLDERID_ROOT, "Work", false), work);
    EXPECT_EQ(findOrCreateFolder(store, FOLDERID_ROOT, "work", false), FOLDERID_INVALID);
    EXPECT_EQ(findOrCreateFolder(store, FOLDERID_ROOT, "Wor", false), FOLDERID_INVALID);

    STOREFOLDERID lower = findOrCreateFolder(store, FOLDERID_ROOT, "work", true);
    ASSERT_NE(lower, FOLDERID_INVALID);
    EXPECT_NE(lower, work);
    std::vector<std::string> names;
    for (const FOLDERPROPS& props : subFolders(store, FOLDERID_ROOT))
        names.push_back(props.szName);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Work"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "work"), 1);
    // Found again rather than made twice.
    EXPECT_EQ(findOrCreateFolder(store, FOLDERID_ROOT, "work", true), lower);
}

TEST_F(StoreAccess, FindOrCreateLooksOnlyAtDirectChildren) {
    STOREFOLDERID parent = findOrCreateFolder(store, FOLDERID_ROOT, "Sorted", true);
    STOREFOLDERID child = findOrCreateFolder(store, parent, "Invoices", true);
    EXPECT_EQ(findOrCreateFolder(store, FOLDERID_ROOT, "Invoices", false), FOLDERID_INVALID);
    EXPECT_EQ(findOrCreateFolder(store, parent, "Invoices", false), child);
    // Names with the characters the disk layout escapes come back unchanged.
    STOREFOLDERID dotted = findOrCreateFolder(store, parent, "a.b/c \xC3\xA9", true);
    EXPECT_EQ(findOrCreateFolder(store, parent, "a.b/c \xC3\xA9", false), dotted);
}

TEST_F(StoreAccess, FindOrCreateUnderAnUnknownParentRaises) {
    EXPECT_THROW(findOrCreateFolder(store, 987654, "x", true), ComException);
}

TEST_F(StoreAccess, FillFolderTreeOnALeafAddsNothing) {
    STOREFOLDERID leaf = findOrCreateFolder(store, FOLDERID_ROOT, "Leaf", true);
    TestTreeNode node(leaf);
    EXPECT_EQ(fillFolderTree(store, &node), &node);
    EXPECT_TRUE(node.children.empty());
}

TEST_F(StoreAccess, FillFolderTreeAddsEveryFolderDepthFirst) {
    STOREFOLDERID work = findOrCreateFolder(store, FOLDERID_ROOT, "Work", true);
    STOREFOLDERID projects = findOrCreateFolder(store, work, "Projects", true);
    findOrCreateFolder(store, projects, "Old", true);
    findOrCreateFolder(store, FOLDERID_ROOT, "Trash", true);
    temp.deliver("Subject: one\n\nbody\n");
    temp.deliver("Subject: two\n\nbody\n");
    temp.deliver("Subject: three\n\nbody\n");
    temp.deliver("Subject: w\n\nbody\n", ".Work");

    TestTreeNode root;
    fillFolderTree(store, &root);
    const TestTreeNode* inbox = childCaptioned(root, "Inbox (3)");
    ASSERT_TRUE(inbox) << root.dump();
    EXPECT_EQ(inbox->image, 1); // special type 0 + 1
    EXPECT_EQ(inbox->selected, 1);
    const TestTreeNode* trash = childCaptioned(root, "Trash (0)");
    ASSERT_TRUE(trash) << root.dump();
    EXPECT_EQ(trash->image, FOLDER_DELETED + 1);
    const TestTreeNode* workNode = childCaptioned(root, "Work (1)");
    ASSERT_TRUE(workNode) << root.dump();
    EXPECT_EQ(workNode->id, work);
    EXPECT_EQ(workNode->image, 0);
    EXPECT_EQ(workNode->selected, 0);
    const TestTreeNode* projectsNode = childCaptioned(*workNode, "Projects (0)");
    ASSERT_TRUE(projectsNode) << root.dump();
    EXPECT_EQ(projectsNode->id, projects);
    ASSERT_EQ(projectsNode->children.size(), 1u);
    EXPECT_EQ(projectsNode->children[0]->caption, "Old (0)");
    EXPECT_TRUE(projectsNode->children[0]->children.empty());

    // Children come in the store's order.
    std::vector<FOLDERPROPS> order = subFolders(store, FOLDERID_ROOT);
    ASSERT_EQ(order.size(), root.children.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(root.children[i]->id, order[i].dwFolderId);
}

// Another program removes a folder while the program runs: clear failures or empty
// results, never a crash.
TEST_F(StoreAccess, FolderRemovedBehindTheProgramsBack) {
    STOREFOLDERID gone = findOrCreateFolder(store, FOLDERID_ROOT, "Gone", true);
    findOrCreateFolder(store, gone, "Child", true);
    com_ptr<IStoreFolder> held = openFolder(store, gone);
    ASSERT_TRUE(held);
    std::filesystem::remove_all(temp.folderPath(".Gone"));
    std::filesystem::remove_all(temp.folderPath(".Gone.Child"));

    auto survives = [](auto call) {
        try {
            call();
        } catch (const ComException& e) {
            EXPECT_TRUE(FAILED(e.hr()));
        }
    };
    survives([&] { openFolder(store, gone); });
    survives([&] { findOrCreateFolder(store, gone, "Child", false); });
    survives([&] { folderIdOf(held.get()); });
    survives([&] { messageUid(held.get(), 1); });
    TestTreeNode root;
    survives([&] { fillFolderTree(store, &root); });
    // The inbox and the rest of the store work on.
    EXPECT_NE(findOrCreateFolder(store, FOLDERID_ROOT, "Still", true), FOLDERID_INVALID);
    EXPECT_TRUE(openInbox(store));
}

TEST_F(StoreAccess, MessageFileVanishingAfterListingGivesAnEmptyUidOrAClearError) {
    std::string path = temp.deliver("Subject: vanishing\n\nbody\n");
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    ASSERT_EQ(connection.inbox->GetFirstMessage(0, 0, 0, &props, &handle), S_OK);
    MESSAGEID id = props.dwMessageId;
    connection.inbox->FreeMessageProps(&props);
    connection.inbox->GetMessageClose(handle);
    std::filesystem::remove(path);
    com_ptr<IMimeMessage> message;
    EXPECT_TRUE(FAILED(connection.inbox->OpenMessage(id, message.out())));
    std::string uid = messageUid(connection.inbox.get(), id); // logged when it fails
    EXPECT_TRUE(uid.empty() || uid.size() == 16);
}

class RecordingSink : public INotifySink {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
        posted.emplace_back(message, wParam);
    }
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> posted;
};

TEST_F(StoreAccess, RegisteredWindowHearsOfArrivals) {
    RecordingSink window;
    ASSERT_TRUE(registerFolderWindow(connection.inbox.get(), &window));
    temp.deliver("Subject: arrives\n\nbody\n");
    pollfd fd{store->NotificationHandle(), POLLIN, 0};
    for (int i = 0; i < 200 && window.posted.empty(); ++i) {
        poll(&fd, 1, 10);
        store->DispatchNotifications();
    }
    ASSERT_FALSE(window.posted.empty());
    EXPECT_EQ(window.posted[0].first, WM_NEWMSGS);
    EXPECT_TRUE(unregisterFolderWindow(connection.inbox.get(), &window));
    // Not registered (any more): the store answers E_FAIL, which is no error.
    EXPECT_FALSE(unregisterFolderWindow(connection.inbox.get(), &window));
    EXPECT_FALSE(registerFolderWindow(connection.inbox.get(), nullptr));
}

MESSAGEID firstMessageId(IStoreFolder* folder) {
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(folder->GetFirstMessage(0, 0, 0, &props, &handle), S_OK);
    MESSAGEID id = props.dwMessageId;
    folder->FreeMessageProps(&props);
    folder->GetMessageClose(handle);
    return id;
}

TEST_F(StoreAccess, MessageUidIsTheReceivedTimeInMemoryOrder) {
    FILETIME received{0x12345678u, 0x01C5ABCDu};
    temp.deliver("Subject: uid\n\nbody\n", "", &received);
    EXPECT_EQ(messageUid(connection.inbox.get(), firstMessageId(connection.inbox.get())),
              "78563412CDABC501");
}

TEST_F(StoreAccess, MessageUidOfAnUnknownMessageIsEmptyAndLogged) {
    LogRecorder log;
    EXPECT_EQ(messageUid(connection.inbox.get(), 4242), "");
    std::string prefix = "f->GetMessageProps(4242) FAIL 0x";
    std::string suffix = " for folder " + std::to_string(folderIdOf(connection.inbox.get()));
    bool logged = false;
    for (const std::string& line : log.lines())
        if (line.rfind(prefix, 0) == 0 && line.size() > suffix.size() &&
            line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
            logged = true;
    EXPECT_TRUE(logged);
}

} // namespace

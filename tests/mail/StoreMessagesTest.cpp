#include "mail/StoreMessages.h"

#include "util/ComException.h"
#include "mail/StoreAccess.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The learning messages of the net from a real store: a folder "Learn" with two messages.
class StoreMessagesTest : public testing::Test {
protected:
    void SetUp() override {
        connection = connectStore(temp.root());
        learn = std::to_string(
            findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Learn", true));
        FILETIME received = fileTimeFromUnix(1700000100);
        temp.deliver("From: Ann Example <ann@example.org>\nSubject: Offer\n\nBuy now\n", ".Learn",
                     &received);
        temp.deliver("From: bob@example.org\n\nNo subject\n", ".Learn");
        messages = StoreMessages::of(connection.store.get());
    }

    TempStore temp;
    StoreConnection connection;
    std::string learn;
    MessageSourcePtr messages;
};

TEST_F(StoreMessagesTest, ListsFindsAndReadsTheFolderInStoreOrder) {
    std::vector<MessageSummary> listed = messages->listFolder(learn);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].subject, "Offer");
    EXPECT_EQ(listed[0].from, "Ann Example");
    EXPECT_EQ(fileTimeTicks(listed[0].received), fileTimeTicks(fileTimeFromUnix(1700000100)));
    EXPECT_EQ(listed[1].subject, "");
    EXPECT_EQ(listed[1].from, "bob@example.org");
    EXPECT_EQ(std::stoul(listed[1].id), std::stoul(listed[0].id) + 1);

    std::optional<MessageSummary> found =
        messages->findMessage(learn, static_cast<std::uint32_t>(std::stoul(listed[1].id)));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->from, "bob@example.org");
    EXPECT_FALSE(messages->findMessage(learn, 9999));
    EXPECT_FALSE(messages->findMessage("9999", 1));

    EXPECT_EQ(messages->messageText(learn, listed[0].id, {}), "Buy now\r\n");
    EXPECT_NE(messages->holdFolder(learn), nullptr);
    EXPECT_EQ(messages->holdFolder("9999"), nullptr);
}

// What names no id gives nothing at once; what names one the store lacks is an error.
TEST_F(StoreMessagesTest, TextsOfIdsThatAreNoneAreEmptyAndOfMissingOnesRaise) {
    EXPECT_EQ(messages->messageText("abc", "1", {}), "");
    EXPECT_EQ(messages->messageText(learn, "-1", {}), "");
    EXPECT_TRUE(messages->listFolder("abc").empty());
    EXPECT_THROW(messages->messageText(learn, "9999", {}), ComException);
    EXPECT_THROW(messages->messageText("9999", "1", {}), ComException);
    EXPECT_EQ(StoreMessages::of(nullptr), nullptr);
}

TEST_F(StoreMessagesTest, DefaultFoldersAreMadeOnceAndFoundAfterwards) {
    std::string made = messages->defaultFolder("Brevalo", "Learning set");
    STOREFOLDERID main =
        findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Brevalo", false);
    ASSERT_NE(main, FOLDERID_INVALID);
    EXPECT_EQ(made, std::to_string(
                        findOrCreateFolder(connection.store.get(), main, "Learning set", false)));
    EXPECT_EQ(messages->defaultFolder("Brevalo", "Learning set"), made);
}

} // namespace

#include "mail/LearningSetFollower.h"

#include "MailTestSupport.h"
#include "core/MemoryMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// Which message a notification names.
enum class Names { First, Third, Unknown, Folder };

struct FollowCase {
    const char* name;
    std::uint32_t message;
    Names names;
    LearningSetFollower::Change::Kind kind;
    const char* entry; // the subject of the entry added or removed, "" for none
    int count;         // the learning set's size afterwards
};

void PrintTo(const FollowCase& value, std::ostream* out) {
    *out << value.name;
}

// A net over a learning folder of two messages ("First", "Second") in memory; a third
// message ("Third") is in the folder but not yet in the learning set.
class Following : public testing::Test {
protected:
    void SetUp() override {
        folder = messages->addFolder();
        first = messages->add(folder, {"", "First", "", {}}, "one");
        messages->add(folder, {"", "Second", "", {}}, "two");
        net = new Net(store.root() + "/zelko.ini", messages);
        net->setLearnFolder(folder);
        net->loadLearningSet();
        third = messages->add(folder, {"", "Third", "", {}}, "three");
        follower.follow(net);
    }

    LearningSetFollower::Notification notification(std::uint32_t message, Names names) const {
        const std::string* id = names == Names::First    ? &first
                                : names == Names::Third  ? &third
                                : names == Names::Folder ? &folder
                                                         : nullptr;
        return {message, id ? static_cast<std::uint32_t>(std::stoul(*id)) : 9999u};
    }

    std::vector<std::string> subjects() const {
        std::vector<std::string> names;
        for (int f = 0; f < net->fileCount(); ++f)
            names.push_back(net->getFile(f)->getName());
        return names;
    }

    TempStore store; // the net file's folder
    std::shared_ptr<MemoryMessages> messages = std::make_shared<MemoryMessages>();
    std::string folder, first, third;
    ref_ptr<Net> net;
    LearningSetFollower follower;
};

class Follow : public Following, public testing::WithParamInterface<FollowCase> {};

TEST_P(Follow, ChangesTheLearningSetAsTheStoreSays) {
    const FollowCase& c = GetParam();
    LearningSetFollower::Change change = follower.receive(notification(c.message, c.names));
    EXPECT_EQ(change.kind, c.kind);
    EXPECT_EQ(change.entry ? change.entry->getName() : std::string(), c.entry);
    EXPECT_EQ(net->fileCount(), c.count);
}

using Kind = LearningSetFollower::Change::Kind;

INSTANTIATE_TEST_SUITE_P(
    Notifications, Follow,
    testing::Values(
        FollowCase{"new_message_is_appended", WM_NEWMSGS, Names::Third, Kind::Added, "Third", 3},
        FollowCase{"new_message_the_folder_lacks_adds_nothing", WM_NEWMSGS, Names::Unknown,
                   Kind::Nothing, "", 2},
        FollowCase{"removed_message_goes", WM_DELETEMSGS, Names::First, Kind::Removed, "First", 1},
        FollowCase{"removal_of_a_message_not_in_the_set_changes_nothing", WM_DELETEMSGS,
                   Names::Unknown, Kind::Nothing, "", 2},
        FollowCase{"removed_folder_is_handed_to_the_owner", WM_DELETEFOLDER, Names::Folder,
                   Kind::FolderRemoved, "", 2},
        FollowCase{"read_marks_change_nothing", WM_MARKEDASREAD, Names::First, Kind::Nothing, "",
                   2}),
    [](const testing::TestParamInfo<FollowCase>& info) { return std::string(info.param.name); });

// During a learning run nothing changes; afterwards every notification is handed back in
// the order it came.
TEST_F(Following, HeldBackNotificationsComeBackInOrder) {
    follower.holdBack();
    EXPECT_EQ(follower.receive(notification(WM_NEWMSGS, Names::Third)).kind, Kind::Nothing);
    EXPECT_EQ(follower.receive(notification(WM_DELETEMSGS, Names::First)).kind, Kind::Nothing);
    EXPECT_EQ(follower.heldCount(), 2);
    EXPECT_EQ(subjects(), (std::vector<std::string>{"First", "Second"}));

    std::vector<LearningSetFollower::Notification> waiting = follower.release();
    EXPECT_FALSE(follower.holdingBack());
    EXPECT_EQ(follower.heldCount(), 0);
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(follower.receive(waiting[0]).kind, Kind::Added);
    EXPECT_EQ(follower.receive(waiting[1]).kind, Kind::Removed);
    EXPECT_EQ(subjects(), (std::vector<std::string>{"Second", "Third"}));
}

// The store keeps a removed message's id only for a while: it is read when posted.
TEST(LearningSetFollowerRead, TakesThePointedToIdAtOnce) {
    MESSAGEID removed = 3000000000u;
    std::optional<LearningSetFollower::Notification> read =
        LearningSetFollower::read(WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&removed));
    removed = 1;
    ASSERT_TRUE(read);
    EXPECT_EQ(read->id, 3000000000u);
    EXPECT_FALSE(LearningSetFollower::read(WM_DELETEMSGS, 0));
    EXPECT_EQ(LearningSetFollower::read(WM_NEWMSGS, 42)->id, 42u);
}

} // namespace

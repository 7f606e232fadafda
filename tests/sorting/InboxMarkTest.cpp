// The inbox mark: mail that arrived while no sorter ran is sorted at the next start, the
// inbox of the very first start stays as it is, and a message arriving during the
// catch-up is sorted once.

#include "tests/sorting/SortingWorld.h"

#include "util/DateTime.h"
#include "sorting/InboxMark.h"
#include "sorting/Journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <poll.h>

namespace fs = std::filesystem;
using Subjects = std::vector<std::string>;

namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// New-message notifications, queued as the command-line tool queues them.
class NewMessages : public INotifySink {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
        if (message == WM_NEWMSGS)
            ids.push_back(static_cast<MESSAGEID>(wParam));
    }
    std::vector<MESSAGEID> ids;
};

// Dispatches the store's notifications until the sink has heard of the message; the
// limit only keeps a broken store from hanging the test.
bool announced(IStoreNamespace* store, NewMessages& sink, MESSAGEID id) {
    for (int round = 0; round < 100; ++round) {
        if (std::find(sink.ids.begin(), sink.ids.end(), id) != sink.ids.end())
            return true;
        pollfd fd{store->NotificationHandle(), POLLIN, 0};
        if (poll(&fd, 1, 10000) <= 0)
            return false;
        store->DispatchNotifications();
    }
    return false;
}

TEST(InboxMark, CatchUpSortsWhatArrivedWhileStoppedAndOnlyOnce) {
    SortingWorld world;
    IStoreFolder* inbox = world.connection.inbox.get();
    std::string file = world.dir + "/state/brevalo/inbox-seen";
    LogRecorder log;

    // The very first start: the inbox is the person's, nothing in it is touched.
    MESSAGEID old = world.deliver(mailText("Before the first start", "An invoice."));
    {
        InboxMark first(file, world.store.root());
        EXPECT_TRUE(first.catchUp(inbox).empty());
        EXPECT_EQ(first.stored(), old);
    }
    // While no sorter runs, one message arrives; another during the next start, after
    // its registration and before its catch-up lists the inbox. That one stays in the
    // inbox (no stimulation matches it), so its notification follows the catch-up.
    MESSAGEID stopped = world.deliver(mailText("While stopped", "An invoice."));
    NewMessages sink;
    ASSERT_TRUE(registerFolderWindow(inbox, &sink));
    MESSAGEID during = world.deliver(mailText("During the start", "Nothing to see."));
    InboxMark mark(file, world.store.root() + "/"); // the same store, spelled otherwise
    SorterContext context{world.connection.store.get(), inbox, world.net.get(), &mark};
    std::vector<MESSAGEID> caughtUp = mark.catchUp(inbox);
    EXPECT_EQ(caughtUp, (std::vector<MESSAGEID>{stopped, during}));
    for (MESSAGEID id : caughtUp)
        onStoreNotify(context, WM_NEWMSGS, id, 0);

    // The notification of the message the catch-up took is dropped; a later one sorts.
    ASSERT_TRUE(announced(world.connection.store.get(), sink, during));
    MESSAGEID after = world.deliver(mailText("After the start", "An invoice."));
    ASSERT_TRUE(announced(world.connection.store.get(), sink, after));
    for (MESSAGEID id : sink.ids)
        onStoreNotify(context, WM_NEWMSGS, id, 0);
    unregisterFolderWindow(inbox, &sink);

    EXPECT_EQ(world.inboxSubjects(), (Subjects{"Before the first start", "During the start"}));
    EXPECT_EQ(world.folderSubjects("Invoices"), (Subjects{"After the start", "While stopped"}));
    EXPECT_EQ(log.count("ZELKO: jobvariant 1"), 2);
    EXPECT_EQ(
        log.count("ZELKO: no stimulation matches 'During the start', leaving it in the inbox"), 1);
    EXPECT_EQ(
        log.count("ZELKO: message " + std::to_string(during) + " was sorted at start already"), 1);
    EXPECT_TRUE(world.errors.empty()) << testing::PrintToString(world.errors);
    // The file follows within a second, or at the end; never ahead of what was looked at.
    ASSERT_GE(mark.stored().value_or(0), stopped);
    ASSERT_LE(mark.stored().value_or(0), after);
    mark.flush();
    EXPECT_FALSE(mark.unsaved());
    EXPECT_EQ(mark.stored(), after);
    EXPECT_EQ(fileText(file),
              std::to_string(after) + " " + fs::canonical(world.store.root()).string() + "\n");

    // The next start finds nothing new.
    InboxMark next(file, world.store.root());
    EXPECT_TRUE(next.catchUp(inbox).empty());
}

// What the state file holds for this store ("ROOT" stands for its path).
struct MarkFileCase {
    const char* name;
    const char* content; // null: no file
    std::optional<MESSAGEID> stored;
};

class InboxMarkFile : public testing::TestWithParam<MarkFileCase> {};

TEST_P(InboxMarkFile, OnlyACompleteLineOfThisStoreIsItsMark) {
    const MarkFileCase& c = GetParam();
    TempStore temp;
    std::string root = fs::canonical(temp.root()).string();
    std::string file = fs::path(temp.root()).parent_path().string() + "/inbox-seen";
    std::string content;
    if (c.content) {
        content = c.content;
        for (std::size_t at; (at = content.find("ROOT")) != std::string::npos;)
            content.replace(at, 4, root);
        std::ofstream(file, std::ios::binary) << content;
    }
    InboxMark mark(file, temp.root());
    EXPECT_EQ(mark.stored(), c.stored);

    // Raising the mark keeps the other stores' lines.
    mark.lookedAt(c.stored.value_or(0) + 5);
    EXPECT_EQ(mark.stored(), c.stored.value_or(0) + 5);
    std::string after = fileText(file);
    bool others = c.content && std::string(c.content).find("/other") != std::string::npos;
    EXPECT_EQ(after.find("3 /other/Maildir\n") != std::string::npos, others) << after;
    EXPECT_EQ(after.back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Contents, InboxMarkFile,
    testing::Values(MarkFileCase{"no_file", nullptr, std::nullopt},
                    MarkFileCase{"empty", "", std::nullopt},
                    MarkFileCase{"this_store", "12 ROOT\n", 12},
                    MarkFileCase{"other_store_only", "3 /other/Maildir\n", std::nullopt},
                    MarkFileCase{"among_others", "3 /other/Maildir\n40 ROOT\n", 40},
                    MarkFileCase{"torn_last_line", "12 ROOT", std::nullopt},
                    MarkFileCase{"not_a_number", "x12 ROOT\n", std::nullopt},
                    MarkFileCase{"beyond_the_ids", "4294967295 ROOT\n", std::nullopt},
                    MarkFileCase{"garbage_before", "\x01\x02 junk\n\n9 ROOT\n", 9}),
    [](const testing::TestParamInfo<MarkFileCase>& info) { return std::string(info.param.name); });

TEST(InboxMark, StateFileThatCannotBeReadIsLeftAlone) {
    TempStore temp;
    std::string file = fs::path(temp.root()).parent_path().string() + "/inbox-seen";
    fs::create_directories(file + "/inside"); // a folder where the file should be
    temp.deliver(mailText("Mine", "An invoice."));
    com_ptr<IStoreNamespace> store;
    ASSERT_EQ(createStoreNamespace(temp.root(), store.out()), S_OK);
    ASSERT_EQ(store->Initialize(nullptr, 1), S_OK);
    com_ptr<IStoreFolder> inbox = openInbox(store.get());
    InboxMark mark(file, temp.root());
    EXPECT_TRUE(mark.catchUp(inbox.get()).empty()); // as on a first start: nothing touched
    mark.lookedAt(40);
    mark.flush();
    EXPECT_FALSE(mark.stored());
    EXPECT_TRUE(fs::is_directory(file + "/inside"));
}

// A damaged mark is said, and the catch-up sorts what came after the journal's last line.
class DamagedInboxMark : public testing::TestWithParam<MarkFileCase> {};

TEST_P(DamagedInboxMark, CatchesUpWhatCameAfterTheJournalsLastLine) {
    SortingWorld world;
    std::string file = world.dir + "/inbox-seen";
    if (GetParam().content)
        std::ofstream(file, std::ios::binary) << GetParam().content;
    else
        fs::create_directories(file + "/inside");
    FILETIME before = fileTimeFromUnix(1700000000), after = fileTimeFromUnix(1700000200);
    world.store.deliver(mailText("Old", "An invoice."), "", &before);
    world.store.deliver(mailText("New", "An invoice."), "", &after);
    Journal journal(world.dir + "/journal.jsonl");
    Journal::Entry last;
    last.time = Journal::formatTime(1700000100);
    last.action = "left";
    std::string error;
    ASSERT_TRUE(journal.append(last, error)) << error;
    LogRecorder log;
    IStoreFolder* inbox = world.connection.inbox.get();
    std::vector<MESSAGEID> ids = InboxMark(file, world.store.root()).catchUp(inbox, &journal);
    ASSERT_EQ(ids.size(), 1u);
    MESSAGEPROPS props;
    ASSERT_EQ(inbox->GetMessageProps(ids[0], 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "New");
    inbox->FreeMessageProps(&props);
    EXPECT_TRUE(log.contains("is damaged"));
}

INSTANTIATE_TEST_SUITE_P(Contents, DamagedInboxMark,
                         testing::Values(MarkFileCase{"folder", nullptr, {}},
                                         MarkFileCase{"empty", "", {}},
                                         MarkFileCase{"torn_line", "12 /x", {}},
                                         MarkFileCase{"not_a_number", "x12 /x\n", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

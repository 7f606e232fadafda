#include "tests/sorting/SortingWorld.h"

#include "sorting/Journal.h"
#include "sorting/SortUndo.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;
using Outcome = SortUndo::Outcome;

namespace {

// A world whose sorter writes a journal beside the store.
struct JournalWorld : SortingWorld {
    JournalWorld() : journalFile(dir + "/state/journal.jsonl"), log(journalFile) { journal = &log; }
    SortUndo::Result undo(const Journal::Entry& entry) {
        SortUndo undo(connection.store.get(), rootTargetFolderId(net.get()), log);
        return undo.undo({entry}).front();
    }
    // Every inbox message arrives (again), as at a sorter's start.
    void arriveAll() {
        for (MESSAGEID id : messageIds(connection.inbox.get()))
            arrive(id);
    }
    std::string journalFile;
    Journal log;
};

// Renames and removals under these prefixes fail as in a folder the person may not write.
std::vector<std::string> unwritable;
bool refused(const std::string& path) {
    for (const std::string& prefix : unwritable)
        if (path.rfind(prefix, 0) == 0)
            return errno = EACCES, true;
    return false;
}

} // namespace

// Three arrivals: moved into two folders, left for lack of evidence, answered. Undo of
// the moved one brings it back exactly once, takes its copies away, and the sorter then
// leaves it where the person put it.
TEST(Undo, JournalOfThreeDecisionsAndUndoOfTheMovedOne) {
    JournalWorld world;
    world.arrive(world.deliver(
        mailText("Trip", "A flight and an invoice.", "Message-ID: <trip@example.org>\n")));
    world.arrive(world.deliver(mailText("Watches", "Cheap watches.")));
    world.net->setJobVariant(3);
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));

    std::vector<Journal::Entry> entries = world.log.all();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].action, "moved");
    EXPECT_EQ(entries[0].messageId, "<trip@example.org>");
    EXPECT_EQ(entries[0].from, "Ann Smith <ann@example.org>");
    ASSERT_EQ(entries[0].folders.size(), 2u);
    EXPECT_EQ(entries[0].folders[1].name, "Travel");
    ASSERT_EQ(entries[0].copies.size(), 2u);
    for (const Journal::Copy& copy : entries[0].copies)
        EXPECT_EQ(world.folderFiles(copy.folder)[0], copy.file) << copy.folder; // Trip came first
    EXPECT_EQ(entries[1].action, "left");
    EXPECT_EQ(entries[1].reason, "no stimulation matches");
    EXPECT_TRUE(entries[1].copies.empty());
    EXPECT_EQ(entries[2].action, "answered");
    EXPECT_EQ(entries[2].recipients, Texts{"ann@example.org"});

    SortUndo::Result result = world.undo(entries[0]);
    EXPECT_EQ(result.outcome, Outcome::MovedBack) << result.text;
    EXPECT_EQ(result.copiesRemoved, 2);
    EXPECT_FALSE(result.mailSent);
    EXPECT_EQ(world.inboxSubjects(), (Texts{"Trip", "Watches"}));
    EXPECT_EQ(world.folderSubjects("Invoices"), Texts{"Bill"});
    EXPECT_EQ(world.folderSubjects("Travel"), Texts{});
    EXPECT_EQ(world.log.last(1)[0].action, "undone");

    world.net->setJobVariant(1);
    world.arriveAll();
    EXPECT_EQ(world.inboxSubjects(), (Texts{"Trip", "Watches"}));
    EXPECT_EQ(world.undo(entries[0]).outcome, Outcome::NotFound);
    EXPECT_EQ(world.inboxSubjects(), (Texts{"Trip", "Watches"}));

    result = world.undo(entries[2]);
    EXPECT_EQ(result.outcome, Outcome::MovedBack) << result.text;
    EXPECT_TRUE(result.mailSent);
    EXPECT_NE(result.text.find("cannot be unsent"), std::string::npos) << result.text;
    EXPECT_EQ(world.undo(entries[1]).outcome, Outcome::NothingToUndo);
    EXPECT_EQ(world.inboxSubjects(), (Texts{"Bill", "Trip", "Watches"}));
}

// When the inbox already holds the message (put back by hand), nothing is moved and only
// its copies go: it is left once.
TEST(Undo, MessageAlreadyInTheInboxLosesOnlyItsCopies) {
    JournalWorld world;
    world.arrive(world.deliver(mailText("Trip", "A flight and an invoice.")));
    Journal::Entry moved = world.log.last(1).front();
    ASSERT_EQ(moved.copies.size(), 2u);
    fs::path copy;
    for (const auto& file : fs::recursive_directory_iterator(world.store.root()))
        if (file.path().filename() == moved.copies[0].file)
            copy = file.path();
    ASSERT_FALSE(copy.empty());
    fs::copy_file(copy, fs::path(world.store.root()) / "cur" / moved.copies[0].file);

    SortUndo::Result result = world.undo(moved);
    EXPECT_EQ(result.outcome, Outcome::AlreadyInInbox) << result.text;
    EXPECT_EQ(result.copiesRemoved, 2);
    EXPECT_EQ(world.inboxSubjects(), Texts{"Trip"});
    EXPECT_EQ(world.folderSubjects("Invoices"), Texts{});
}

// A message that could not be sorted gets a "failed" line with the error; it stayed in
// the inbox, so undo has nothing to take back.
TEST(Undo, FailureIsJournalledWithItsError) {
    JournalWorld world;
    world.net->setDestFolder("999999");
    world.arrive(world.deliver(mailText("Trip", "A flight and an invoice.")));
    EXPECT_EQ(world.errors.size(), 1u);
    std::vector<Journal::Entry> entries = world.log.all();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].action, "failed");
    EXPECT_NE(entries[0].reason.find("folder 999999"), std::string::npos) << entries[0].reason;
    EXPECT_EQ(entries[0].folders.size(), 2u);
    EXPECT_TRUE(entries[0].copies.empty());
    EXPECT_EQ(world.undo(entries[0]).outcome, Outcome::NothingToUndo);
    EXPECT_EQ(world.inboxSubjects(), Texts{"Trip"});
}

// A failed undo journals nothing and leaves the decision open, so the next undo finishes
// it: once when the inbox refused the message, once when a folder copy would not go.
TEST(Undo, FailedUndoIsNotJournaledAndTheNextOneFinishes) {
    JournalWorld world;
    world.arrive(world.deliver(mailText("Trip", "A flight and an invoice.")));
    Journal::Entry moved = world.log.last(1).front();
    std::string root = world.store.root();
    sysCalls().rename = [](const char* from, const char* to) {
        return refused(to) ? -1 : ::rename(from, to);
    };
    sysCalls().unlink = [](const char* path) { return refused(path) ? -1 : ::unlink(path); };
    for (const std::vector<std::string>& folders :
         {std::vector<std::string>{root + "/new/", root + "/cur/"}, {root + "/."}}) {
        unwritable = folders;
        SortUndo::Result result = world.undo(moved);
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_NE(result.text.find(std::strerror(EACCES)), std::string::npos) << result.text;
        EXPECT_EQ(world.log.last(1).front().action, "moved") << result.text;
    }
    resetSysCalls();
    EXPECT_EQ(world.folderSubjects("Travel"), Texts{"Trip"});
    SortUndo::Result result = world.undo(moved);
    EXPECT_EQ(result.outcome, Outcome::AlreadyInInbox) << result.text;
    EXPECT_EQ(world.folderSubjects("Travel"), Texts{});
    EXPECT_EQ(world.inboxSubjects(), Texts{"Trip"});
    EXPECT_EQ(world.log.last(1).front().action, "undone");
}

// Undo that cannot journal what it did stops there; the messages it moved stay listed as
// moved back, beyond the journal's rotation, and a folder named twice is emptied once.
TEST(Undo, StopsWhenTheJournalCannotBeWrittenAndTheMoveBackOutlivesTheJournal) {
    JournalWorld world;
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));
    world.arrive(world.deliver(mailText("Trip", "A flight and an invoice.")));
    std::vector<Journal::Entry> entries = world.log.all();
    EXPECT_EQ(world.undo(entries[1]).outcome, Outcome::MovedBack);
    entries[0].copies.push_back(entries[0].copies[0]);
    fs::rename(world.journalFile, world.journalFile + ".1");
    fs::create_directory(world.journalFile); // no line can be appended
    SortUndo undo(world.connection.store.get(), rootTargetFolderId(world.net.get()), world.log);
    std::vector<SortUndo::Result> results = undo.undo(entries);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].unjournaled);
    EXPECT_EQ(results[0].copiesRemoved, 1) << results[0].text;
    fs::remove(world.journalFile);
    fs::remove(world.journalFile + ".1"); // rotated away
    world.arriveAll();
    EXPECT_EQ(world.inboxSubjects(), (Texts{"Bill", "Trip"}));
}

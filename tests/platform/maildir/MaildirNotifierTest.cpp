#include "platform/maildir/MaildirNotifier.h"

#include "util/Log.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Note {
    std::uint32_t message;
    std::uint32_t id;
    bool operator==(const Note& other) const { return message == other.message && id == other.id; }
};

std::ostream& operator<<(std::ostream& out, const Note& note) {
    return out << note.message << ":" << note.id;
}

// A sink as the command-line tool has it: it queues what it is told.
class RecordingSink : public INotifySink {
public:
    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t) override {
        bool direct = message == WM_NEWMSGS || message == WM_DELETEFOLDER;
        notes.push_back(Note{message, direct ? static_cast<std::uint32_t>(wParam)
                                             : *reinterpret_cast<const MESSAGEID*>(wParam)});
    }
    std::vector<Note> notes;
};

class MaildirNotify : public testing::Test {
protected:
    void SetUp() override {
        store = dir.open();
        inbox = openFolderById(store.get(), inboxId(store.get()));
        setLogToStderr(false);
    }
    void TearDown() override { setLogToStderr(true); }

    // Dispatches until the sink holds count notes or nothing more comes for a while.
    void pump(RecordingSink& sink, size_t count, int quietMs = 5000) {
        while (sink.notes.size() < count) {
            pollfd fd{store->NotificationHandle(), POLLIN, 0};
            if (poll(&fd, 1, quietMs) <= 0)
                return;
            ASSERT_EQ(store->DispatchNotifications(), S_OK);
        }
    }
    // Dispatches whatever is queued now (for checking that nothing is announced).
    void drain() {
        pollfd fd{store->NotificationHandle(), POLLIN, 0};
        while (poll(&fd, 1, 100) > 0)
            ASSERT_EQ(store->DispatchNotifications(), S_OK);
    }

    TempMaildir dir;
    com_ptr<IStoreNamespace> store;
    com_ptr<IStoreFolder> inbox;
    RecordingSink sink;
};

TEST_F(MaildirNotify, ArrivalByRenameAnnouncesTheNewId) {
    TempMaildir::deliver(dir.root, "cur", "old.M1P1.h:2,S", TempMaildir::message("old"));
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);
    TempMaildir::deliver(dir.root, "new", "new.M1P1.h", TempMaildir::message("new"));
    pump(sink, 1);
    ASSERT_EQ(sink.notes, (std::vector<Note>{{WM_NEWMSGS, 2}}));
    MESSAGEPROPS props;
    ASSERT_EQ(inbox->GetMessageProps(2, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "new");
}

TEST_F(MaildirNotify, FileWrittenInPlaceIsAnnouncedOnlyWhenComplete) {
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);
    std::string path = dir.root + "/new/inplace.M1P1.h";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    std::string text = TempMaildir::message("written in place");
    ASSERT_EQ(write(fd, text.data(), 20), 20);
    drain();
    EXPECT_TRUE(sink.notes.empty());
    ASSERT_EQ(write(fd, text.data() + 20, text.size() - 20),
              static_cast<ssize_t>(text.size() - 20));
    close(fd);
    pump(sink, 1);
    ASSERT_EQ(sink.notes, (std::vector<Note>{{WM_NEWMSGS, 1}}));
    MESSAGEPROPS props;
    ASSERT_EQ(inbox->GetMessageProps(1, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "written in place");
}

TEST_F(MaildirNotify, DeletionMoveAndFlagChanges) {
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", TempMaildir::message("a"), 1700000000);
    TempMaildir::deliver(dir.root, "cur", "b.M1P1.h:2,S", TempMaildir::message("b"), 1700000001);
    TempMaildir::deliver(dir.root, "cur", "c.M1P1.h:2,", TempMaildir::message("c"), 1700000002);
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);

    fs::rename(dir.root + "/new/a.M1P1.h", dir.root + "/cur/a.M1P1.h:2,");
    pump(sink, 1);
    fs::rename(dir.root + "/cur/b.M1P1.h:2,S", dir.root + "/cur/b.M1P1.h:2,");
    pump(sink, 2);
    fs::rename(dir.root + "/cur/c.M1P1.h:2,", dir.root + "/cur/c.M1P1.h:2,S");
    pump(sink, 3);
    MESSAGEID id = 3;
    MESSAGEIDLIST list{12, 1, &id};
    ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr), S_OK);
    pump(sink, 4);
    EXPECT_EQ(sink.notes, (std::vector<Note>{{WM_MARKEDASREAD, 1},
                                             {WM_MARKEDASUNREAD, 2},
                                             {WM_MARKEDASREAD, 3},
                                             {WM_DELETEMSGS, 3}}));
}

TEST_F(MaildirNotify, FolderRemovalAndUnregistering) {
    STOREFOLDERID id = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Learn", 0, &id), S_OK);
    auto folder = openFolderById(store.get(), id);
    EXPECT_EQ(folder->RegisterNotification(0, nullptr), E_FAIL);
    ASSERT_EQ(folder->RegisterNotification(0, &sink), S_OK);
    EXPECT_EQ(folder->RegisterNotification(0, &sink), S_OK); // once is enough
    TempMaildir::deliver(dir.root + "/.Learn", "new", "l.M1P1.h", TempMaildir::message("l"));
    pump(sink, 1);
    fs::remove_all(dir.root + "/.Learn");
    // Depending on when the dispatch runs, the message's own deletion may be told first.
    while (sink.notes.back().message != WM_DELETEFOLDER) {
        size_t before = sink.notes.size();
        pump(sink, before + 1);
        ASSERT_GT(sink.notes.size(), before) << "no WM_DELETEFOLDER";
    }
    EXPECT_EQ(sink.notes.front(), (Note{WM_NEWMSGS, 1}));
    EXPECT_EQ(sink.notes.back(), (Note{WM_DELETEFOLDER, id}));
    if (sink.notes.size() == 3) {
        EXPECT_EQ(sink.notes[1], (Note{WM_DELETEMSGS, 1}));
    }
    EXPECT_LE(sink.notes.size(), 3u);
    EXPECT_EQ(folder->UnregisterNotification(0, &sink), S_OK);
    EXPECT_EQ(folder->UnregisterNotification(0, &sink), E_FAIL);

    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);
    ASSERT_EQ(inbox->UnregisterNotification(0, &sink), S_OK);
    sink.notes.clear();
    TempMaildir::deliver(dir.root, "new", "quiet.M1P1.h", TempMaildir::message("q"));
    drain();
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(MaildirNotify, OneSinkOnTwoFolderObjectsHearsOnce) {
    auto second = openFolderById(store.get(), inboxId(store.get()));
    RecordingSink other;
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);
    ASSERT_EQ(second->RegisterNotification(0, &sink), S_OK);
    ASSERT_EQ(second->RegisterNotification(0, &other), S_OK);
    TempMaildir::deliver(dir.root, "new", "x.M1P1.h", TempMaildir::message("x"));
    pump(sink, 1);
    EXPECT_EQ(sink.notes.size(), 1u);
    EXPECT_EQ(other.notes.size(), 1u);
    second.reset(); // its registrations end with it
    TempMaildir::deliver(dir.root, "new", "y.M1P1.h", TempMaildir::message("y"));
    pump(sink, 2);
    EXPECT_EQ(sink.notes.size(), 2u);
    EXPECT_EQ(other.notes.size(), 1u);
}

// More arrivals than the kernel's queue holds (16384 events by default): every message
// must still be announced, each once.
TEST_F(MaildirNotify, QueueOverflowStillAnnouncesEveryArrival) {
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);
    std::ifstream limitFile("/proc/sys/fs/inotify/max_queued_events");
    size_t limit = 16384;
    limitFile >> limit;
    if (limit > 100000)
        GTEST_SKIP() << "inotify queue too large to overflow here";
    // Each file made in place costs two events (create, close).
    size_t count = limit / 2 + 500;
    bool overflowed = false;
    setLogSink([&](const std::string& line) {
        overflowed |= line.find("inotify queue overflow") != std::string::npos;
    });
    for (size_t i = 0; i < count; ++i) {
        int fd = open((dir.root + "/new/o" + std::to_string(i) + ".M1P1.h").c_str(),
                      O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, "Subject: o\n\n", 12), 12);
        close(fd);
    }
    pump(sink, count);
    drain();
    std::set<MESSAGEID> ids;
    for (const Note& note : sink.notes) {
        EXPECT_EQ(note.message, WM_NEWMSGS);
        ids.insert(note.id);
    }
    EXPECT_EQ(sink.notes.size(), count);
    EXPECT_EQ(ids.size(), count);
    setLogSink({});
    EXPECT_TRUE(overflowed);
}

// Only the files the events name are looked at: a move out of the folder to another one
// (which needs a listing to tell apart from a rename), a move in, and two renames of one
// file before the dispatch, which must keep its id.
TEST_F(MaildirNotify, MovesAcrossFoldersAndRenamesBeforeTheDispatch) {
    STOREFOLDERID otherId = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Other", 0, &otherId), S_OK);
    std::string other = dir.root + "/.Other";
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", TempMaildir::message("a"), 1700000000);
    TempMaildir::deliver(dir.root, "cur", "b.M1P1.h:2,", TempMaildir::message("b"), 1700000001);
    TempMaildir::deliver(other, "cur", "c.M1P1.h:2,S", TempMaildir::message("c"));
    ASSERT_EQ(inbox->RegisterNotification(0, &sink), S_OK);

    fs::rename(dir.root + "/new/a.M1P1.h", other + "/cur/a.M1P1.h:2,");
    pump(sink, 1);
    EXPECT_EQ(sink.notes, (std::vector<Note>{{WM_DELETEMSGS, 1}}));

    fs::rename(other + "/cur/c.M1P1.h:2,S", dir.root + "/cur/c.M1P1.h:2,S");
    pump(sink, 2);
    ASSERT_EQ(sink.notes.size(), 2u);
    EXPECT_EQ(sink.notes[1], (Note{WM_NEWMSGS, 3}));

    fs::rename(dir.root + "/cur/b.M1P1.h:2,", dir.root + "/cur/b.M1P1.h:2,F");
    fs::rename(dir.root + "/cur/b.M1P1.h:2,F", dir.root + "/cur/b.M1P1.h:2,FS");
    pump(sink, 3);
    drain();
    ASSERT_EQ(sink.notes.size(), 3u);
    EXPECT_EQ(sink.notes[2], (Note{WM_MARKEDASREAD, 2}));
    MESSAGEPROPS props;
    ASSERT_EQ(inbox->GetMessageProps(2, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "b");
    EXPECT_EQ(messageIds(inbox.get()), (std::vector<MESSAGEID>{2, 3}));
}

} // namespace

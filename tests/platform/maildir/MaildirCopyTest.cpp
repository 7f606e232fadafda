#include "platform/maildir/MaildirFolder.h"

#include "util/Log.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "tests/platform/maildir/SysCallLog.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string baseOf(const std::string& name) {
    return name.substr(0, name.find(':'));
}

// All message files of a folder (new/ and cur/) by unique base name -> count.
std::map<std::string, int> basesIn(const std::string& folderPath) {
    std::map<std::string, int> bases;
    for (const char* sub : {"new", "cur"}) {
        for (const auto& name : TempMaildir::files(folderPath + "/" + sub))
            ++bases[baseOf(name)];
    }
    return bases;
}

class MaildirCopy : public testing::Test {
protected:
    void SetUp() override {
        store = dir.open();
        inbox = openFolderById(store.get(), inboxId(store.get()));
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Target", 0, &targetId), S_OK);
        target = openFolderById(store.get(), targetId);
        targetPath = dir.root + "/.Target";
        setLogToStderr(false);
        setLogSink([this](const std::string& line) { log.push_back(line); });
    }
    void TearDown() override {
        resetSysCalls();
        setLogSink({});
        setLogToStderr(true);
    }
    HRESULT copy(MESSAGEID id) {
        MESSAGEIDLIST list{12, 1, &id};
        return inbox->CopyMoveMessages(target.get(), &list, 0, 2, nullptr);
    }
    HRESULT remove(MESSAGEID id) {
        MESSAGEIDLIST list{12, 1, &id};
        return inbox->DeleteMessages(&list, 0, nullptr);
    }
    bool logged(const std::string& text) const {
        for (const auto& line : log) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }

    TempMaildir dir;
    com_ptr<IStoreNamespace> store;
    com_ptr<IStoreFolder> inbox, target;
    STOREFOLDERID targetId = 0;
    std::string targetPath;
    std::vector<std::string> log;
};

TEST_F(MaildirCopy, KeepsNameFlagsAndModificationTime) {
    std::string source = TempMaildir::deliver(dir.root, "cur", "1.M1P1.h:2,FS",
                                              TempMaildir::message("keep"), 1600000000);
    ASSERT_EQ(messageIds(inbox.get()).size(), 1u);
    ASSERT_EQ(copy(1), S_OK);
    std::string copied = targetPath + "/cur/1.M1P1.h:2,FS";
    ASSERT_TRUE(fs::exists(copied));
    EXPECT_TRUE(fs::exists(source));
    EXPECT_EQ(readFile(copied), readFile(source));
    EXPECT_EQ(fs::last_write_time(copied), fs::last_write_time(source));
    EXPECT_TRUE(TempMaildir::files(targetPath + "/tmp").empty());
    EXPECT_EQ(messageIds(target.get()), (std::vector<MESSAGEID>{1}));
    MESSAGEPROPS props;
    ASSERT_EQ(target->GetMessageProps(1, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "keep");
}

TEST_F(MaildirCopy, NewMessageStaysNew) {
    TempMaildir::deliver(dir.root, "new", "2.M1P1.h", TempMaildir::message("n"));
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_TRUE(fs::exists(targetPath + "/new/2.M1P1.h"));
}

TEST_F(MaildirCopy, CopyOfAnEarlierInterruptedRunIsNotMadeTwice) {
    TempMaildir::deliver(dir.root, "cur", "3.M1P1.h:2,S", TempMaildir::message("once"));
    // The earlier run got the copy into the target before it died; a mail program has
    // marked it there since.
    TempMaildir::deliver(targetPath, "cur", "3.M1P1.h:2,RS", TempMaildir::message("once"));
    ASSERT_EQ(copy(1), S_OK);
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_EQ(basesIn(targetPath), (std::map<std::string, int>{{"3.M1P1.h", 1}}));
}

// The copy is durable before CopyMoveMessages says it is done: the target folder's
// directory is fsynced after the rename into it, so a crash cannot take the copy back once
// the source may be deleted.
TEST_F(MaildirCopy, FolderIsSyncedAfterTheRenameOfTheCopy) {
    for (const char* subdir : {"new", "cur"}) {
        std::string name = std::string("5.M1P1.") + subdir + (subdir[0] == 'c' ? ":2,S" : "");
        TempMaildir::deliver(dir.root, subdir, name, TempMaildir::message("durable"));
        std::vector<MESSAGEID> ids = messageIds(inbox.get());
        ASSERT_FALSE(ids.empty());
        SysCallLog calls;
        ASSERT_EQ(copy(ids.back()), S_OK);
        std::string copied = targetPath + "/" + subdir + "/" + name;
        int renamed = calls.last("rename " + copied);
        ASSERT_GE(renamed, 0) << testing::PrintToString(calls.calls());
        EXPECT_GT(calls.last("fsync " + targetPath + "/" + subdir), renamed)
            << testing::PrintToString(calls.calls());
    }
}

// Several copies in one call: every copy's file is synced before the first rename, so
// a crash never leaves a renamed copy whose bytes or link were not yet on disk.
TEST_F(MaildirCopy, EveryCopyOfACallIsSyncedBeforeAnyIsRenamed) {
    for (int n = 0; n < 24; ++n)
        TempMaildir::deliver(dir.root, "new", std::to_string(n) + ".M1P1.h",
                             TempMaildir::message("group"));
    std::vector<MESSAGEID> ids = messageIds(inbox.get());
    ASSERT_EQ(ids.size(), 24u);
    SysCallLog calls;
    MESSAGEIDLIST list{12, static_cast<std::uint32_t>(ids.size()), ids.data()};
    ASSERT_EQ(inbox->CopyMoveMessages(target.get(), &list, 0, 2, nullptr), S_OK);
    std::vector<std::string> all = calls.calls();
    std::size_t synced = 0, firstRename = all.size(), lastRename = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].rfind("rename " + targetPath + "/new/", 0) == 0) {
            firstRename = std::min(firstRename, i);
            lastRename = i;
        } else if (all[i].rfind("fsync " + targetPath + "/tmp/", 0) == 0) {
            EXPECT_LT(i, firstRename) << all[i];
            ++synced;
        }
    }
    EXPECT_EQ(synced, ids.size()) << testing::PrintToString(all);
    EXPECT_GT(calls.last("fsync " + targetPath + "/new"), static_cast<int>(lastRename));
    EXPECT_EQ(basesIn(targetPath).size(), ids.size());
    EXPECT_TRUE(TempMaildir::files(targetPath + "/tmp").empty());
}

struct CopyNameCase {
    const char* label;
    std::string subdir;
    std::string sourceName;
    std::string sourceKeywords; // the folders' dovecot-keywords ("" for none)
    std::string targetKeywords;
    std::string copyName;
};

class MaildirCopyName : public MaildirCopy, public testing::WithParamInterface<CopyNameCase> {};

TEST_P(MaildirCopyName, LeavesOutWhatNamesTheMessageInTheSourceFolderAlone) {
    const CopyNameCase& c = GetParam();
    std::map<std::string, std::string> tables{{dir.root, c.sourceKeywords},
                                              {targetPath, c.targetKeywords}};
    for (const auto& [folder, table] : tables)
        if (!table.empty())
            std::ofstream(folder + "/dovecot-keywords") << table;
    TempMaildir::deliver(dir.root, c.subdir, c.sourceName, TempMaildir::message("name"));
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_EQ(TempMaildir::files(targetPath + "/" + c.subdir),
              std::vector<std::string>{c.copyName});
    for (const auto& [folder, table] : tables) {
        if (table.empty())
            EXPECT_FALSE(fs::exists(folder + "/dovecot-keywords")) << folder;
        else
            EXPECT_EQ(readFile(folder + "/dovecot-keywords"), table) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, MaildirCopyName,
    testing::Values(
        CopyNameCase{"plain_name_and_flags_kept", "cur", "1.M1P1.h:2,FS", "", "", "1.M1P1.h:2,FS"},
        CopyNameCase{"mbsync_uid_left_out", "cur", "1.2_3.h,U=17:2,RS", "", "", "1.2_3.h:2,RS"},
        CopyNameCase{"mbsync_uid_left_out_in_new", "new", "1.2_3.h,U=4", "", "", "1.2_3.h"},
        CopyNameCase{"keyword_named_alike_kept", "cur", "1.h,S=9:2,Sa", "0 $Label1\n",
                     "0 $Label1\n1 $Junk\n", "1.h,S=9:2,Sa"},
        CopyNameCase{"keyword_read_otherwise_dropped", "cur", "1.h:2,Sab", "0 $Label1\n1 $Work\n",
                     "0 $Junk\n1 $Work\n", "1.h:2,Sb"},
        CopyNameCase{"keyword_the_target_lacks_dropped", "cur", "1.h:2,Fa", "0 $Label1\n", "",
                     "1.h:2,F"},
        CopyNameCase{"letters_no_table_names_kept", "cur", "1.h:2,Sa", "", "", "1.h:2,Sa"}),
    [](const testing::TestParamInfo<CopyNameCase>& info) { return std::string(info.param.label); });

TEST_F(MaildirCopy, CopyMbsyncNumberedSinceIsNotMadeTwice) {
    TempMaildir::deliver(dir.root, "cur", "8.1_1.h,U=17:2,S", TempMaildir::message("once"));
    ASSERT_EQ(copy(1), S_OK);
    // mbsync numbers the copy in the target before an interrupted run copies it again.
    fs::rename(targetPath + "/cur/8.1_1.h:2,S", targetPath + "/cur/8.1_1.h,U=1:2,S");
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_EQ(TempMaildir::files(targetPath + "/cur"), std::vector<std::string>{"8.1_1.h,U=1:2,S"});
    EXPECT_EQ(messageIds(target.get()), (std::vector<MESSAGEID>{1}));
}

TEST_F(MaildirCopy, FallsBackToCopyingBytesWhenNoHardLinkIsPossible) {
    std::string source = TempMaildir::deliver(dir.root, "cur", "4.M1P1.h:2,",
                                              TempMaildir::message("bytes"), 1600000000);
    sysCalls().link = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    ASSERT_EQ(copy(1), S_OK);
    std::string copied = targetPath + "/cur/4.M1P1.h:2,";
    EXPECT_EQ(readFile(copied), readFile(source));
    EXPECT_NE(fs::hard_link_count(copied), 2u);
    EXPECT_EQ(fs::last_write_time(copied), fs::last_write_time(source));
    EXPECT_TRUE(logged("link(" + dir.root + "/cur/4.M1P1.h:2,"));
}

struct Failure {
    const char* label;
    void (*inject)();
    const char* call;
    int error;
};

class MaildirCopyFailure : public MaildirCopy, public testing::WithParamInterface<Failure> {};

TEST_P(MaildirCopyFailure, LeavesTheSourceAndNoHalfCopy) {
    std::string source =
        TempMaildir::deliver(dir.root, "cur", "5.M1P1.h:2,S", TempMaildir::message("safe"));
    ASSERT_EQ(messageIds(inbox.get()).size(), 1u);
    GetParam().inject();
    EXPECT_EQ(copy(1), hresultFromErrno(GetParam().error));
    resetSysCalls();
    EXPECT_TRUE(fs::exists(source));
    EXPECT_TRUE(basesIn(targetPath).empty());
    EXPECT_TRUE(TempMaildir::files(targetPath + "/tmp").empty());
    EXPECT_TRUE(logged(std::string(GetParam().call) + "(")) << GetParam().call;
    EXPECT_TRUE(logged(std::string("failed: ") + strerror(GetParam().error)));
    // Once the disk has room again, the copy goes through.
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_EQ(basesIn(targetPath).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Injected, MaildirCopyFailure,
    testing::Values(Failure{"rename_disk_full",
                            [] {
                                sysCalls().rename = [](const char*, const char*) {
                                    errno = ENOSPC;
                                    return -1;
                                };
                            },
                            "rename", ENOSPC},
                    Failure{"write_disk_full_without_links",
                            [] {
                                sysCalls().link = [](const char*, const char*) {
                                    errno = EXDEV;
                                    return -1;
                                };
                                sysCalls().write = [](int, const void*, size_t) -> ssize_t {
                                    errno = ENOSPC;
                                    return -1;
                                };
                            },
                            "write", ENOSPC},
                    Failure{"fsync_io_error",
                            [] {
                                sysCalls().fsync = [](int) {
                                    errno = EIO;
                                    return -1;
                                };
                            },
                            "fsync", EIO}),
    [](const testing::TestParamInfo<Failure>& info) { return std::string(info.param.label); });

TEST_F(MaildirCopy, DeleteRemovesTheFileOnly) {
    TempMaildir::deliver(dir.root, "new", "6.M1P1.h", TempMaildir::message("a"));
    TempMaildir::deliver(dir.root, "new", "7.M1P1.h", TempMaildir::message("b"));
    ASSERT_EQ(messageIds(inbox.get()).size(), 2u);
    // Another program moves and marks it first: the id still finds it.
    fs::rename(dir.root + "/new/6.M1P1.h", dir.root + "/cur/6.M1P1.h:2,S");
    ASSERT_EQ(remove(1), S_OK);
    EXPECT_EQ(TempMaildir::files(dir.root + "/cur"), std::vector<std::string>{});
    EXPECT_EQ(messageIds(inbox.get()), (std::vector<MESSAGEID>{2}));
    EXPECT_EQ(remove(1), hresultFromErrno(ENOENT));
    EXPECT_TRUE(logged("DeleteMessages(1) failed: no such message in " + dir.root));
}

TEST_F(MaildirCopy, TargetOfAnotherKindIsRefused) {
    TempMaildir::deliver(dir.root, "new", "8.M1P1.h", TempMaildir::message("a"));
    EXPECT_EQ(copy(1), S_OK);
    MESSAGEID id = 1;
    MESSAGEIDLIST list{12, 1, &id};
    EXPECT_EQ(inbox->CopyMoveMessages(nullptr, &list, 0, 2, nullptr), E_POINTER);
    TempMaildir other;
    auto otherStore = other.open();
    auto foreign = openFolderById(otherStore.get(), inboxId(otherStore.get()));
    EXPECT_EQ(inbox->CopyMoveMessages(foreign.get(), &list, 0, 2, nullptr), E_INVALIDARG);
}

// A process sorting messages (copy, then delete) is killed at random moments and started
// again: no message may ever be lost, none may be copied twice, no content may change.
TEST_F(MaildirCopy, KillDuringCopyAndDeleteLosesNothing) {
    const int count = 120;
    std::map<std::string, std::string> contents;
    for (int i = 0; i < count; ++i) {
        std::string name = "k" + std::to_string(i) + ".M1P1.h";
        std::string text =
            TempMaildir::message("kill " + std::to_string(i)) + std::string(i * 37, 'z');
        TempMaildir::deliver(dir.root, i % 2 ? "new" : "cur", i % 2 ? name : name + ":2,S", text,
                             1600000000 + i);
        contents[name] = text;
    }
    auto sorter = [&](int ready) {
        com_ptr<IStoreNamespace> own;
        if (createStoreNamespace(dir.root, own.out()) != S_OK)
            _exit(2);
        com_ptr<IStoreFolder> from, to;
        if (own->OpenFolder(inboxId(own.get()), 0, from.out()) != S_OK ||
            own->OpenFolder(targetId, 0, to.out()) != S_OK)
            _exit(2);
        (void)!write(ready, "r", 1);
        for (MESSAGEID id : messageIds(from.get())) {
            MESSAGEIDLIST list{12, 1, &id};
            if (from->CopyMoveMessages(to.get(), &list, 0, 2, nullptr) != S_OK ||
                from->DeleteMessages(&list, 0, nullptr) != S_OK)
                _exit(3);
        }
        _exit(0);
    };
    auto check = [&](int round) {
        auto inInbox = basesIn(dir.root);
        auto inTarget = basesIn(targetPath);
        for (const auto& [name, text] : contents) {
            ASSERT_TRUE(inInbox.count(name) || inTarget.count(name))
                << name << " lost in round " << round;
            ASSERT_LE(inTarget[name], 1) << name << " copied twice";
        }
        for (const char* sub : {"new", "cur"}) {
            for (const auto& file : TempMaildir::files(targetPath + "/" + sub))
                ASSERT_EQ(readFile(targetPath + "/" + sub + "/" + file), contents.at(baseOf(file)))
                    << file;
        }
    };
    std::mt19937 random(20261207);
    for (int round = 0; round < 12; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(pipeFds[0]);
            sorter(pipeFds[1]);
        }
        close(pipeFds[1]);
        char byte = 0;
        (void)!read(pipeFds[0], &byte, 1);
        close(pipeFds[0]);
        usleep(random() % 4000);
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));
        check(round);
    }
    // Finish the work without interruption.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        sorter(-1);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    check(99);
    EXPECT_TRUE(basesIn(dir.root).empty());
    EXPECT_EQ(basesIn(targetPath).size(), contents.size());
}

// The store keeps each folder's ids after the folder objects are released; what another
// process did in between (an arrival with its new id, a deletion, a folder removed and
// made again) must still be seen, and a remembered copy must never stand in for a file
// that is gone.
TEST_F(MaildirCopy, KeptIdsFollowAnotherProcesssChanges) {
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", TempMaildir::message("a"), 1700000000);
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", TempMaildir::message("b"), 1700000001);
    ASSERT_EQ(messageIds(inbox.get()), (std::vector<MESSAGEID>{1, 2}));
    ASSERT_EQ(copy(1), S_OK);
    STOREFOLDERID inboxFolder = inboxId(store.get());
    inbox.reset();
    target.reset();

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        com_ptr<IStoreNamespace> other;
        if (createStoreNamespace(dir.root, other.out()) != S_OK)
            _exit(1);
        com_ptr<IStoreFolder> folder;
        if (other->OpenFolder(inboxFolder, 0, folder.out()) != S_OK)
            _exit(2);
        TempMaildir::deliver(dir.root, "new", "c.M1P1.h", TempMaildir::message("c"));
        MESSAGEID gone = 2;
        MESSAGEIDLIST list{12, 1, &gone};
        if (messageIds(folder.get()).size() != 3 ||
            folder->DeleteMessages(&list, 0, nullptr) != S_OK)
            _exit(3);
        fs::remove_all(targetPath);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    inbox = openFolderById(store.get(), inboxFolder);
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(inbox->OpenMessage(3, message.out()), S_OK);
    EXPECT_NE(inbox->OpenMessage(2, message.out()), S_OK);
    FOLDERPROPS props;
    ASSERT_EQ(inbox->GetFolderProps(0, &props), S_OK);
    EXPECT_EQ(props.cMessage, 2u);
    EXPECT_EQ(messageIds(inbox.get()), (std::vector<MESSAGEID>{1, 3}));

    com_ptr<IStoreFolder> missing;
    EXPECT_NE(store->OpenFolder(targetId, 0, missing.out()), S_OK);
    STOREFOLDERID again = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Target", 0, &again), S_OK);
    target = openFolderById(store.get(), again);
    ASSERT_EQ(copy(1), S_OK);
    EXPECT_EQ(basesIn(targetPath), (std::map<std::string, int>{{"a.M1P1.h", 1}}));
    EXPECT_EQ(messageIds(target.get()).size(), 1u);
}

// Folder records keep their counts through this process's own copies and deletions
// (which update the kept counts instead of listing the folder again).
TEST_F(MaildirCopy, CountsFollowOwnCopiesAndDeletions) {
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", TempMaildir::message("a"), 1700000000);
    TempMaildir::deliver(dir.root, "cur", "b.M1P1.h:2,S", TempMaildir::message("b"), 1700000001);
    TempMaildir::deliver(dir.root, "cur", "c.M1P1.h:2,", TempMaildir::message("c"), 1700000002);
    auto counts = [](IStoreFolder* folder) {
        FOLDERPROPS props;
        EXPECT_EQ(folder->GetFolderProps(0, &props), S_OK);
        return std::make_pair(props.cMessage, props.cUnread);
    };
    EXPECT_EQ(counts(inbox.get()), std::make_pair(3u, 2u));
    EXPECT_EQ(counts(target.get()), std::make_pair(0u, 0u));
    for (MESSAGEID id : {1u, 2u, 3u}) {
        ASSERT_EQ(copy(id), S_OK);
        ASSERT_EQ(remove(id), S_OK);
        EXPECT_EQ(counts(target.get()), std::make_pair(id, id == 1 ? 1u : id - 1))
            << "after message " << id;
        EXPECT_EQ(counts(inbox.get()).first, 3 - id);
    }
    EXPECT_EQ(counts(inbox.get()), std::make_pair(0u, 0u));
    EXPECT_EQ(counts(target.get()), std::make_pair(3u, 2u));
}

} // namespace

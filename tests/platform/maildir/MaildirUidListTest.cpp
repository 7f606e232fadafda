#include "platform/maildir/MaildirUidList.h"

#include "platform/maildir/MaildirSysCalls.h"
#include "tests/platform/maildir/SysCallLog.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::map<std::string, MESSAGEID> idsByBase(MaildirUidList& list) {
    std::map<std::string, MESSAGEID> ids;
    for (const auto& m : list.messages())
        ids[m.fileName.substr(0, m.fileName.find(':'))] = m.id;
    return ids;
}

TEST(MaildirUidList, IdsInOrderOfArrival) {
    TempMaildir dir;
    dir.open();
    // Name order and arrival order differ: the older file gets the smaller id.
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000000);
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x", 1700000500);
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list),
              (std::map<std::string, MESSAGEID>{{"a.M1P1.h", 2}, {"b.M1P1.h", 1}}));
}

TEST(MaildirUidList, IdsStableAcrossRestartMoveAndFlagChange) {
    TempMaildir dir;
    dir.open();
    for (int i = 0; i < 5; ++i)
        TempMaildir::deliver(dir.root, "new", "m" + std::to_string(i) + ".M1P1.h", "x",
                             1700000000 + i);
    std::map<std::string, MESSAGEID> before;
    {
        MaildirUidList list(dir.root);
        ASSERT_EQ(list.sync(), S_OK);
        before = idsByBase(list);
    }
    // Another program: moves two to cur/ and marks one of them, deletes one.
    fs::rename(dir.root + "/new/m1.M1P1.h", dir.root + "/cur/m1.M1P1.h:2,");
    fs::rename(dir.root + "/new/m3.M1P1.h", dir.root + "/cur/m3.M1P1.h:2,RS");
    fs::remove(dir.root + "/new/m4.M1P1.h");
    TempMaildir::deliver(dir.root, "new", "m5.M1P1.h", "x", 1700000100);

    MaildirUidList restarted(dir.root);
    ASSERT_EQ(restarted.sync(), S_OK);
    auto after = idsByBase(restarted);
    for (const char* base : {"m0.M1P1.h", "m1.M1P1.h", "m2.M1P1.h", "m3.M1P1.h"})
        EXPECT_EQ(after.at(base), before.at(base)) << base;
    EXPECT_FALSE(after.count("m4.M1P1.h"));
    EXPECT_EQ(after.at("m5.M1P1.h"), 6u); // never the deleted message's 5
    MaildirMessage found;
    ASSERT_TRUE(restarted.find(before.at("m3.M1P1.h"), &found));
    EXPECT_EQ(found.subdir, "cur");
    EXPECT_EQ(found.fileName, "m3.M1P1.h:2,RS");
}

// mbsync gives a message it has not numbered yet its ",U=<uid>" by renaming the file: the
// message, and so its id (the learning set holds it), stays the same.
TEST(MaildirUidList, IdsStableWhenMbsyncNumbersTheFiles) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "cur", "a.M1P1.h:2,S", "x", 1700000000);
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000001);
    // Written by a version that kept the uid in the base.
    std::ofstream(dir.root + "/" + MaildirUidList::fileName) << "brevalo-uidlist 1 8\n"
                                                             << "7 c.1_1.h,U=3\n";
    TempMaildir::deliver(dir.root, "cur", "c.1_1.h,U=3:2,F", "x", 1700000002);
    std::map<std::string, MESSAGEID> before;
    {
        MaildirUidList list(dir.root);
        ASSERT_EQ(list.sync(), S_OK);
        before = idsByBase(list);
    }
    EXPECT_EQ(before.at("c.1_1.h,U=3"), 7u);
    fs::rename(dir.root + "/cur/a.M1P1.h:2,S", dir.root + "/cur/a.M1P1.h,U=1:2,S");
    fs::rename(dir.root + "/new/b.M1P1.h", dir.root + "/new/b.M1P1.h,U=2");
    MaildirUidList restarted(dir.root);
    ASSERT_EQ(restarted.sync(), S_OK);
    EXPECT_EQ(idsByBase(restarted),
              (std::map<std::string, MESSAGEID>{{"a.M1P1.h,U=1", before.at("a.M1P1.h")},
                                                {"b.M1P1.h,U=2", before.at("b.M1P1.h")},
                                                {"c.1_1.h,U=3", 7}}));
}

TEST(MaildirUidList, DamagedFileNeverLeadsToReuse) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x");
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x");
    std::ofstream(dir.root + "/brevalo-uidlist")
        << "garbage header\nnonsense\n0 zero\n41 a.M1P1.h\n-3 b.M1P1.h\n";
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list),
              (std::map<std::string, MESSAGEID>{{"a.M1P1.h", 41}, {"b.M1P1.h", 42}}));
}

struct HeaderlessCase {
    const char* name;
    const char* content;
};

void PrintTo(const HeaderlessCase& value, std::ostream* out) {
    *out << value.name;
}

class HeaderlessFile : public testing::TestWithParam<HeaderlessCase> {};

// A file without a complete first line (left empty, or torn while its header was
// written) gets its header before any record: else the next reader takes the first
// record for the header and gives that message another id.
TEST_P(HeaderlessFile, GetsItsHeaderAndEveryReaderTheSameIds) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x", 1700000000);
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000001);
    std::ofstream(dir.root + "/brevalo-uidlist") << GetParam().content;
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    std::map<std::string, MESSAGEID> ids{{"a.M1P1.h", 1}, {"b.M1P1.h", 2}};
    EXPECT_EQ(idsByBase(list), ids);
    MaildirUidList other(dir.root);
    ASSERT_EQ(other.sync(), S_OK);
    EXPECT_EQ(idsByBase(other), ids);
}

INSTANTIATE_TEST_SUITE_P(MaildirUidList, HeaderlessFile,
                         testing::Values(HeaderlessCase{"empty", ""},
                                         HeaderlessCase{"torn_header", "brevalo-uidl"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MaildirUidList, FailedWriteLeavesTheOldFile) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x");
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    std::stringstream before;
    before << std::ifstream(dir.root + "/brevalo-uidlist").rdbuf();
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x");
    sysCalls().write = [](int, const void*, size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    };
    EXPECT_EQ(list.sync(), hresultFromErrno(ENOSPC));
    resetSysCalls();
    std::stringstream after;
    after << std::ifstream(dir.root + "/brevalo-uidlist").rdbuf();
    EXPECT_EQ(after.str(), before.str());
    EXPECT_FALSE(fs::exists(dir.root + "/brevalo-uidlist.tmp"));
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list).at("b.M1P1.h"), 2u);
}

// Two readers of one folder (as two programs): each sees the ids the other gave, even
// when its own copy of the file's ids is still in memory.
TEST(MaildirUidList, ReadersAgreeWhileTheFileChangesUnderThem) {
    TempMaildir dir;
    dir.open();
    MaildirUidList first(dir.root), second(dir.root);
    for (int i = 0; i < 20; ++i) {
        TempMaildir::deliver(dir.root, "new", "r" + std::to_string(i) + ".M1P1.h", "x");
        MaildirUidList& assigner = i % 2 ? first : second;
        MaildirUidList& other = i % 2 ? second : first;
        ASSERT_EQ(assigner.sync(), S_OK);
        ASSERT_EQ(other.sync(), S_OK);
        EXPECT_EQ(idsByBase(assigner), idsByBase(other)) << "after delivery " << i;
        if (i % 5 == 4)
            fs::remove(dir.root + "/new/r" + std::to_string(i - 2) + ".M1P1.h");
    }
    EXPECT_EQ(idsByBase(first).at("r19.M1P1.h"), 20u);
}

// Two processes list the same folder while a third keeps delivering: every message must
// end with one id, and no id may name two messages in either process's view.
TEST(MaildirUidList, TwoProcessesNeverGiveOneIdToTwoMessages) {
    TempMaildir dir;
    dir.open();
    const int perWriter = 300;
    auto run = [&](int role) {
        if (role == 0) {
            for (int i = 0; i < perWriter; ++i)
                TempMaildir::deliver(
                    dir.root, "new",
                    "w" + std::to_string(i) + ".M1P" + std::to_string(getpid()) + ".h", "x");
            return;
        }
        MaildirUidList list(dir.root);
        std::ofstream out(dir.root + "/../seen-" + std::to_string(role));
        // Until every delivery is seen, however the three are scheduled.
        for (size_t seen = 0; seen < static_cast<size_t>(perWriter);) {
            if (list.sync() != S_OK)
                _exit(3);
            auto messages = list.messages();
            seen = messages.size();
            for (const auto& m : messages)
                out << m.id << ' ' << m.fileName << '\n';
        }
    };
    std::vector<pid_t> children;
    for (int role = 0; role < 3; ++role) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            run(role);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    MaildirUidList final(dir.root);
    ASSERT_EQ(final.sync(), S_OK);
    std::map<MESSAGEID, std::string> owner;
    for (const auto& m : final.messages())
        owner[m.id] = m.fileName;
    EXPECT_EQ(owner.size(), static_cast<size_t>(perWriter));
    for (int role = 1; role < 3; ++role) {
        std::ifstream in(dir.root + "/../seen-" + std::to_string(role));
        MESSAGEID id = 0;
        std::string name;
        size_t lines = 0;
        while (in >> id >> name) {
            ++lines;
            ASSERT_EQ(owner.at(id), name) << "id " << id << " given to two messages";
        }
        EXPECT_GT(lines, 0u);
    }
}

// A writer that died in the middle of an append leaves a line without its end (or, with
// blocks written out of order, a damaged one): both are ignored, no id is given twice,
// and the next append starts on a clean line.
TEST(MaildirUidList, TornAppendIsIgnoredAndCutOff) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x", 1700000000);
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000001);
    std::string file = dir.root + "/brevalo-uidlist";
    {
        MaildirUidList list(dir.root);
        ASSERT_EQ(list.sync(), S_OK);
    }
    std::string clean = readFile(file);
    ASSERT_EQ(clean.back(), '\n');
    // Id 7 with a wrong checksum, then a torn record for id 9.
    std::ofstream(file, std::ios::app) << "a 00000000 7 b.M1P1.h\na 1234abcd 9 c.M1";
    TempMaildir::deliver(dir.root, "new", "c.M1P1.h", "x", 1700000002);
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    auto ids = idsByBase(list);
    EXPECT_EQ(ids.at("a.M1P1.h"), 1u);
    EXPECT_EQ(ids.at("b.M1P1.h"), 2u);
    EXPECT_EQ(ids.at("c.M1P1.h"), 3u);
    std::string after = readFile(file);
    EXPECT_EQ(after.find("c.M1\n"), std::string::npos) << after;
    EXPECT_EQ(after.substr(0, clean.size() + 22), clean + "a 00000000 7 b.M1P1.h\n");
    EXPECT_EQ(after.back(), '\n');
    MaildirUidList restarted(dir.root);
    ASSERT_EQ(restarted.sync(), S_OK);
    EXPECT_EQ(idsByBase(restarted), ids);
}

// A list kept in memory reads only what another process appended, and a later id of its
// own follows the other's.
TEST(MaildirUidList, SeesAnotherProcesssAppend) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x", 1700000000);
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000001);
        MaildirUidList other(dir.root);
        _exit(other.sync() == S_OK ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::size_t before = list.fileRecords();
    ASSERT_EQ(list.refresh(), S_OK);
    EXPECT_EQ(list.fileRecords(), before + 1);
    TempMaildir::deliver(dir.root, "new", "c.M1P1.h", "x", 1700000002);
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list), (std::map<std::string, MESSAGEID>{
                                   {"a.M1P1.h", 1}, {"b.M1P1.h", 2}, {"c.M1P1.h", 3}}));
}

// Arrivals and deletions only append; once the records far outnumber the messages, the
// file is rewritten whole, and no id of a deleted message comes back.
TEST(MaildirUidList, RewritesTheFileWhenRecordsPileUp) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "keep.M1P1.h", "x", 1700000000);
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    std::string file = dir.root + "/brevalo-uidlist";
    MESSAGEID last = 0;
    std::size_t most = 0;
    for (int i = 0; i < 700; ++i) {
        std::string name = "m" + std::to_string(i) + ".M1P1.h";
        TempMaildir::deliver(dir.root, "new", name, "x");
        ASSERT_EQ(list.sync(), S_OK);
        last = idsByBase(list).at(name);
        fs::remove(dir.root + "/new/" + name);
        ASSERT_EQ(list.forgetFile(last), S_OK);
        most = std::max(most, list.fileRecords());
    }
    EXPECT_EQ(last, 701u);
    EXPECT_GE(most, 1024u);
    EXPECT_LT(list.fileRecords(), most);
    EXPECT_LT(readFile(file).size(), 700u * 20);
    MaildirUidList restarted(dir.root);
    TempMaildir::deliver(dir.root, "new", "late.M1P1.h", "x");
    ASSERT_EQ(restarted.sync(), S_OK);
    EXPECT_EQ(idsByBase(restarted),
              (std::map<std::string, MESSAGEID>{{"keep.M1P1.h", 1}, {"late.M1P1.h", 702}}));
}

// A copy that reached the folder but not the id file (a crash in between) is found by
// its name and not made twice; the next listing gives it its id.
TEST(MaildirUidList, CopyWithoutItsRecordIsNotPlacedTwice) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "w.M1P1.h", "w");
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    TempMaildir::deliver(dir.root, "cur", "x.M1P1.h:2,S", "x");
    int placed = 0;
    bool present = false;
    auto place = [&] {
        ++placed;
        return S_OK;
    };
    ASSERT_EQ(list.addFile("cur", "x.M1P1.h:2,S", place, &present), S_OK);
    EXPECT_TRUE(present);
    EXPECT_EQ(placed, 0);
    TempMaildir::deliver(dir.root, "tmp", "y.M1P1.h", "y");
    ASSERT_EQ(list.addFile(
                  "new", "y.M1P1.h",
                  [&] {
                      fs::rename(dir.root + "/tmp/y.M1P1.h", dir.root + "/new/y.M1P1.h");
                      return place();
                  },
                  &present),
              S_OK);
    EXPECT_FALSE(present);
    EXPECT_EQ(placed, 1);
    MaildirMessage found;
    ASSERT_TRUE(list.findBase("y.M1P1.h", &found));
    EXPECT_EQ(found.id, 2u); // x has none yet
    ASSERT_EQ(list.addFile("new", "y.M1P1.h", place, &present), S_OK);
    EXPECT_TRUE(present);
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list), (std::map<std::string, MESSAGEID>{
                                   {"w.M1P1.h", 1}, {"x.M1P1.h", 3}, {"y.M1P1.h", 2}}));
}

// A journal record as the list writes it: "<kind> <FNV-1a of the body> <body>".
std::string journalRecord(char kind, const std::string& body) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : body)
        hash = (hash ^ c) * 16777619u;
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08x", hash);
    return std::string(1, kind) + " " + sum + " " + body + "\n";
}

// After a rewrite only the header remembers the ids of deleted messages: the next
// process on the rewritten file gives a new message an id above all of them.
TEST(MaildirUidList, RewriteKeepsTheNextIdForTheNextProcess) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "keep.M1P1.h", "x", 1700000000);
    std::string journal = "brevalo-uidlist 2 2\n" + journalRecord('a', "1 keep.M1P1.h");
    for (int id = 2; id <= 1100; ++id)
        journal += journalRecord('d', std::to_string(id));
    std::ofstream(dir.root + "/" + MaildirUidList::fileName) << journal;
    {
        MaildirUidList list(dir.root);
        ASSERT_EQ(list.sync(), S_OK);
        ASSERT_EQ(list.fileRecords(), 1u); // rewritten: one live id, no deletions
    }
    TempMaildir::deliver(dir.root, "new", "late.M1P1.h", "x", 1700000001);
    MaildirUidList restarted(dir.root);
    ASSERT_EQ(restarted.sync(), S_OK);
    EXPECT_EQ(idsByBase(restarted),
              (std::map<std::string, MESSAGEID>{{"keep.M1P1.h", 1}, {"late.M1P1.h", 1101}}));
}

struct BadIdCase {
    const char* name;
    std::string line;
};

class MaildirUidListBadId : public testing::TestWithParam<BadIdCase> {};

// A record whose id is not a plain number up to the space is no record at all: it gives
// no message an id and moves the next id nowhere.
TEST_P(MaildirUidListBadId, IsIgnored) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x");
    std::ofstream(dir.root + "/" + MaildirUidList::fileName) << "brevalo-uidlist 2 1\n"
                                                             << GetParam().line;
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list), (std::map<std::string, MESSAGEID>{{"a.M1P1.h", 1}}));
}

INSTANTIATE_TEST_SUITE_P(
    Records, MaildirUidListBadId,
    testing::Values(BadIdCase{"trailing_letter", journalRecord('a', "12x a.M1P1.h")},
                    BadIdCase{"trailing_letter_first_version", "12x a.M1P1.h\n"},
                    BadIdCase{"trailing_sign", journalRecord('a', "12- a.M1P1.h")},
                    BadIdCase{"hex", journalRecord('a', "0x1f a.M1P1.h")},
                    BadIdCase{"too_large", journalRecord('a', "4294967295 a.M1P1.h")}),
    [](const testing::TestParamInfo<BadIdCase>& info) { return info.param.name; });

struct DurableIdCase {
    const char* name;
    // Brings the message "b.M1P1.h", just delivered, into the list.
    std::function<void(TempMaildir&, MaildirUidList&)> give;
};

class MaildirUidListDurableId : public testing::TestWithParam<DurableIdCase> {};

// An id is handed out only once its record is on disk: between the record's write (ours
// or another process's) and the return of the call that hands the id out, the id file is
// fsynced. Otherwise a crash could give the id again to another message.
TEST_P(MaildirUidListDurableId, RecordIsOnDiskBeforeTheIdIsHandedOut) {
    TempMaildir dir;
    dir.open();
    TempMaildir::deliver(dir.root, "new", "a.M1P1.h", "x", 1700000000);
    {
        MaildirUidList first(dir.root);
        ASSERT_EQ(first.sync(), S_OK);
    }
    std::string file = dir.root + "/" + MaildirUidList::fileName;
    SysCallLog log;
    MaildirUidList list(dir.root);
    ASSERT_EQ(list.sync(), S_OK);
    TempMaildir::deliver(dir.root, "new", "b.M1P1.h", "x", 1700000001);
    std::size_t mark = log.calls().size();
    GetParam().give(dir, list);
    int written = std::max<int>(static_cast<int>(mark) - 1, log.last("write " + file));
    EXPECT_GT(log.last("fsync " + file), written) << testing::PrintToString(log.calls());
    ASSERT_EQ(list.sync(), S_OK);
    EXPECT_EQ(idsByBase(list),
              (std::map<std::string, MESSAGEID>{{"a.M1P1.h", 1}, {"b.M1P1.h", 2}}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, MaildirUidListDurableId,
    testing::Values(DurableIdCase{"sync", [](TempMaildir&, MaildirUidList& list) { list.sync(); }},
                    DurableIdCase{"named",
                                  [](TempMaildir&, MaildirUidList& list) {
                                      list.syncNamed({MaildirEvent{"new", "b.M1P1.h"}});
                                  }},
                    DurableIdCase{"another_process",
                                  [](TempMaildir& dir, MaildirUidList& list) {
                                      pid_t pid = fork();
                                      ASSERT_GE(pid, 0);
                                      if (pid == 0) {
                                          resetSysCalls();
                                          MaildirUidList other(dir.root);
                                          _exit(other.sync() == S_OK ? 0 : 1);
                                      }
                                      int status = 0;
                                      waitpid(pid, &status, 0);
                                      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                                      ASSERT_EQ(list.refresh(), S_OK);
                                  }}),
    [](const testing::TestParamInfo<DurableIdCase>& info) { return info.param.name; });

} // namespace

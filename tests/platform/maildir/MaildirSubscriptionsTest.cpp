#include "platform/maildir/MaildirSubscriptions.h"

#include "util/Log.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Subscriptions : public testing::Test {
protected:
    void SetUp() override {
        store = dir.open();
        file = dir.root + "/" + MaildirSubscriptions::fileName;
        lock = file + ".lock";
        setLogToStderr(false);
        setLogSink([this](const std::string& line) { log += line + "\n"; });
    }
    void TearDown() override {
        resetSysCalls();
        setLogSink({});
        setLogToStderr(true);
    }
    STOREFOLDERID create(STOREFOLDERID parent, const char* name) {
        STOREFOLDERID id = FOLDERID_INVALID;
        EXPECT_EQ(store->CreateFolder(parent, name, 0, &id), S_OK) << name;
        return id;
    }

    TempMaildir dir;
    com_ptr<IStoreNamespace> store;
    std::string file, lock, log;
};

struct FormatCase {
    const char* label;
    std::optional<std::string> before; // none: no file yet
    std::string dirName;
    std::string after;
    HRESULT result;
};

class SubscriptionFormat : public Subscriptions, public testing::WithParamInterface<FormatCase> {};

TEST_P(SubscriptionFormat, AddsTheFolderInTheFilesFormat) {
    const FormatCase& c = GetParam();
    if (c.before)
        std::ofstream(file, std::ios::binary) << *c.before;
    EXPECT_EQ(MaildirSubscriptions(dir.root).add(c.dirName), c.result);
    EXPECT_EQ(readFile(file), c.after);
    EXPECT_FALSE(fs::exists(lock));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SubscriptionFormat,
    testing::Values(
        FormatCase{"new_file_is_version_two", std::nullopt, ".Brevalo.Sorted.Work",
                   "V\t2\n\nBrevalo\tSorted\tWork\n", S_OK},
        FormatCase{"added_after_the_servers_entries", "V\t2\n\nLists\nA\tB\n", ".Brevalo",
                   "V\t2\n\nLists\nA\tB\nBrevalo\n", S_OK},
        FormatCase{"missing_last_line_break_added", "V\t2\n\nLists", ".A.B",
                   "V\t2\n\nLists\nA\tB\n", S_OK},
        FormatCase{"listed_already_unchanged", "V\t2\n\nA\tB\nC\n", ".A.B", "V\t2\n\nA\tB\nC\n",
                   S_OK},
        FormatCase{"parent_listed_child_added", "V\t2\n\nA\n", ".A.B", "V\t2\n\nA\nA\tB\n", S_OK},
        FormatCase{"first_version_keeps_dots", "Lists\nA.B\n", ".C.D", "Lists\nA.B\nC.D\n", S_OK},
        FormatCase{"names_as_on_disk", std::nullopt, ".B&APw-cher.a\\2eb",
                   "V\t2\n\nB&APw-cher\ta\\2eb\n", S_OK},
        FormatCase{"unknown_version_untouched", "V\t3\n\nA\n", ".B", "V\t3\n\nA\n", E_FAIL}),
    [](const testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.label); });

TEST_F(Subscriptions, FoldersTheStoreMakesAreSubscribedOnce) {
    STOREFOLDERID sorted = create(FOLDERID_ROOT, "Sorted");
    create(sorted, "Bücher");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    EXPECT_EQ(readFile(file), "V\t2\n\nSorted\nSorted\tB&APw-cher\n");
    // Asked again (another process made it meanwhile): the file is not written again.
    create(sorted, "Bücher");
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    // A folder another program made is its business: the user may not want it listed.
    fs::create_directories(dir.root + "/.Other/cur");
    create(FOLDERID_ROOT, "Other");
    EXPECT_EQ(readFile(file), "V\t2\n\nSorted\nSorted\tB&APw-cher\n");
}

TEST_F(Subscriptions, HeldLockIsWaitedOnBrieflyAndLeftAlone) {
    std::ofstream(file) << "V\t2\n\nA\n";
    std::ofstream(lock) << "V\t2\n\nA\nB\n"; // the server is writing its new content
    struct stat held {};
    ASSERT_EQ(stat(lock.c_str(), &held), 0);
    EXPECT_EQ(MaildirSubscriptions(dir.root, std::chrono::milliseconds(0)).add(".C"),
              hresultFromErrno(EAGAIN));
    EXPECT_EQ(readFile(file), "V\t2\n\nA\n");
    struct stat still {};
    ASSERT_EQ(stat(lock.c_str(), &still), 0);
    EXPECT_EQ(still.st_ino, held.st_ino);
    EXPECT_EQ(readFile(lock), "V\t2\n\nA\nB\n");
    EXPECT_NE(log.find(lock + " is held by another program"), std::string::npos) << log;

    // A lock left behind long ago is not waited on, and the folder is made all the same.
    struct timespec old[2] = {{held.st_mtim.tv_sec - 3600, 0}, {held.st_mtim.tv_sec - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, lock.c_str(), old, 0), 0);
    create(FOLDERID_ROOT, "C");
    EXPECT_TRUE(fs::exists(dir.root + "/.C/cur"));
    EXPECT_EQ(readFile(file), "V\t2\n\nA\n");
    EXPECT_EQ(readFile(lock), "V\t2\n\nA\nB\n");
    EXPECT_NE(log.find("has not changed for long; .C not subscribed"), std::string::npos) << log;

    fs::remove(lock);
    EXPECT_EQ(MaildirSubscriptions(dir.root).add(".C"), S_OK);
    EXPECT_EQ(readFile(file), "V\t2\n\nA\nC\n");
}

struct WriteFailure {
    const char* label;
    void (*inject)();
    const char* call;
    int error;
};

// The lock's descriptor: the store writes other files too, which must not fail.
int lockFd = -1;

void recordLockFd() {
    lockFd = -1;
    sysCalls().close = [](int fd) {
        if (fd == lockFd)
            lockFd = -1;
        return ::close(fd);
    };
    sysCalls().open = [](const char* path, int flags, mode_t mode) {
        int fd = ::open(path, flags, mode);
        if (std::strstr(path, "/subscriptions.lock"))
            lockFd = fd;
        return fd;
    };
}

class SubscriptionWriteFailure : public Subscriptions,
                                 public testing::WithParamInterface<WriteFailure> {};

TEST_P(SubscriptionWriteFailure, FolderIsMadeAndTheOldFileKept) {
    std::ofstream(file) << "V\t2\n\nA\n";
    GetParam().inject();
    STOREFOLDERID id = FOLDERID_INVALID;
    EXPECT_EQ(store->CreateFolder(FOLDERID_ROOT, "Target", 0, &id), S_OK);
    resetSysCalls();
    EXPECT_NE(id, FOLDERID_INVALID);
    EXPECT_TRUE(fs::exists(dir.root + "/.Target/cur"));
    EXPECT_EQ(readFile(file), "V\t2\n\nA\n");
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_NE(log.find(std::string(GetParam().call) + "(" + lock), std::string::npos) << log;
    EXPECT_NE(log.find(strerror(GetParam().error)), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Injected, SubscriptionWriteFailure,
    testing::Values(WriteFailure{"write_disk_full",
                                 [] {
                                     recordLockFd();
                                     sysCalls().write = [](int fd, const void* data,
                                                           size_t size) -> ssize_t {
                                         if (fd != lockFd)
                                             return ::write(fd, data, size);
                                         errno = ENOSPC;
                                         return -1;
                                     };
                                 },
                                 "write", ENOSPC},
                    WriteFailure{"fsync_io_error",
                                 [] {
                                     recordLockFd();
                                     sysCalls().fsync = [](int fd) {
                                         if (fd != lockFd)
                                             return ::fsync(fd);
                                         errno = EIO;
                                         return -1;
                                     };
                                 },
                                 "fsync", EIO},
                    WriteFailure{"rename_refused",
                                 [] {
                                     sysCalls().rename = [](const char* from, const char* to) {
                                         if (std::strstr(from, "subscriptions")) {
                                             errno = EACCES;
                                             return -1;
                                         }
                                         return ::rename(from, to);
                                     };
                                 },
                                 "rename", EACCES}),
    [](const testing::TestParamInfo<WriteFailure>& info) { return std::string(info.param.label); });

} // namespace

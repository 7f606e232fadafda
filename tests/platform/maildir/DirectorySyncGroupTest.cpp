#include "platform/maildir/DirectorySyncGroup.h"

#include "platform/maildir/MaildirSysCalls.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {

// Every folder fsync, as the tick at which it began, kept per inode once it ended; the
// fsyncs of one folder fail with EIO while failing names its inode.
struct SyncClock {
    std::atomic<long> now{0};
    std::atomic<int> syncs{0};
    std::mutex mutex;
    std::map<ino_t, long> lastEnded; // the start tick of the latest fsync that ended
    ino_t failing = 0;
};
SyncClock clock_;

int recordedFsync(int fd) {
    long began = ++clock_.now;
    struct stat st {};
    fstat(fd, &st);
    ++clock_.syncs;
    if (st.st_ino == clock_.failing) {
        errno = EIO;
        return -1;
    }
    int result = ::fsync(fd);
    std::lock_guard<std::mutex> lock(clock_.mutex);
    long& last = clock_.lastEnded[st.st_ino];
    last = std::max(last, began);
    return result;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

// Eight threads sync two folders over and over: each call returns only after an fsync
// of its folder that began after the call did, and the calls share their fsyncs; a
// folder whose fsync fails fails the calls for it alone, with the call and the reason.
TEST(DirectorySyncGroup, EachCallReturnsAfterAnFsyncBegunAfterItAndCallsShareThem) {
    TempFolder scratch("syncgroup");
    std::vector<std::string> folders = {scratch.file("a"), scratch.file("b")};
    for (const std::string& folder : folders)
        std::filesystem::create_directory(folder);
    for (bool failB : {false, true}) {
        clock_.syncs = 0;
        clock_.failing = failB ? inodeOf(folders[1]) : 0;
        sysCalls().fsync = recordedFsync;
        DirectorySyncGroup group;
        constexpr int threads = 8, calls = 100;
        std::atomic<int> early{0}, failedA{0}, failedB{0}, wrongText{0};
        std::vector<std::thread> running;
        for (int t = 0; t < threads; ++t)
            running.emplace_back([&, t] {
                for (int i = 0; i < calls; ++i) {
                    const std::string& folder = folders[(t + i) % 2];
                    group.enter();
                    long began = ++clock_.now;
                    std::string failure;
                    HRESULT hr = group.sync({folder}, &failure);
                    if (FAILED(hr)) {
                        ++(folder == folders[0] ? failedA : failedB);
                        wrongText +=
                            failure != "fsync(" + folder + ") failed: " + std::strerror(EIO);
                        continue;
                    }
                    std::lock_guard<std::mutex> lock(clock_.mutex);
                    early += clock_.lastEnded[inodeOf(folder)] < began;
                }
            });
        for (std::thread& thread : running)
            thread.join();
        resetSysCalls();
        EXPECT_EQ(early, 0);
        EXPECT_EQ(failedA, 0);
        EXPECT_EQ(failedB, failB ? threads * calls / 2 : 0);
        EXPECT_EQ(wrongText, 0);
        EXPECT_LT(clock_.syncs, threads * calls);
        EXPECT_EQ(group.syncCount(), static_cast<std::uint64_t>(clock_.syncs));
    }
}

} // namespace

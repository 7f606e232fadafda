#include "platform/maildir/SyncGroup.h"

#include "platform/maildir/MaildirSysCalls.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace {

// Every sync, as the tick at which it began, kept per inode once it ended (a syncfs for
// every folder of the test); the syncs that touch one folder fail with EIO while failing
// names its inode.
struct SyncClock {
    std::atomic<long> now{0};
    std::atomic<int> syncs{0}, wholeSyncs{0};
    std::mutex mutex;
    std::map<ino_t, long> lastEnded; // the start tick of the latest sync that ended
    std::vector<ino_t> all;
    ino_t failing = 0;
};
SyncClock clock_;

int recordedSync(int fd, bool whole) {
    long began = ++clock_.now;
    // A sync takes as long as a disk's flush: the calls that come meanwhile wait for the
    // next one, even on a machine so busy that the threads seldom run side by side.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    struct stat st {};
    fstat(fd, &st);
    ++(whole ? clock_.wholeSyncs : clock_.syncs);
    std::vector<ino_t> synced = whole ? clock_.all : std::vector<ino_t>{st.st_ino};
    for (ino_t inode : synced)
        if (inode == clock_.failing) {
            errno = EIO;
            return -1;
        }
    std::lock_guard<std::mutex> lock(clock_.mutex);
    for (ino_t inode : synced)
        clock_.lastEnded[inode] = std::max(clock_.lastEnded[inode], began);
    return 0;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_ino;
}

// Eight threads sync folders over and over, two or four at a time (one by one, or the
// file system whole): each call returns only after a sync of its folder that began after
// the call did, and the calls share their syncs; a folder whose sync fails fails every
// call for it, with the call and the reason.
TEST(SyncGroup, EachCallReturnsAfterASyncBegunAfterItAndCallsShareThem) {
    TempFolder scratch("syncgroup");
    std::vector<std::string> folders;
    for (const char* name : {"a", "b", "c", "d"}) {
        folders.push_back(scratch.file(name));
        std::filesystem::create_directory(folders.back());
        clock_.all.push_back(inodeOf(folders.back()));
    }
    for (std::size_t used : {2, 4})
        for (bool failB : {false, true}) {
            SCOPED_TRACE(std::to_string(used) + " folders" + (failB ? ", b failing" : ""));
            clock_.syncs = clock_.wholeSyncs = 0;
            clock_.failing = failB ? inodeOf(folders[1]) : 0;
            sysCalls().fsync = [](int fd) { return recordedSync(fd, false); };
            sysCalls().syncfs = [](int fd) { return recordedSync(fd, true); };
            SyncGroup group;
            constexpr int threads = 8, calls = 100;
            std::atomic<int> early{0}, failedB{0}, wrongText{0}, calledB{0};
            std::vector<std::thread> running;
            for (int t = 0; t < threads; ++t)
                running.emplace_back([&, t] {
                    for (int i = 0; i < calls; ++i) {
                        const std::string& folder = folders[(t + i) % used];
                        calledB += folder == folders[1];
                        group.enter();
                        long began = ++clock_.now;
                        std::string failure;
                        if (FAILED(group.sync({folder}, false, &failure))) {
                            failedB += folder == folders[1];
                            wrongText +=
                                failure.find("(" + folder + ") failed: " + std::strerror(EIO)) ==
                                std::string::npos;
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
            EXPECT_EQ(failedB, failB ? calledB.load() : 0);
            EXPECT_EQ(wrongText, 0);
            EXPECT_LT(clock_.syncs + clock_.wholeSyncs, threads * calls);
            EXPECT_EQ(group.syncCount(),
                      static_cast<std::uint64_t>(clock_.syncs + clock_.wholeSyncs));
            // Two folders are never synced whole; four at once are.
            EXPECT_EQ(clock_.wholeSyncs > 0, used == 4);
        }
}

} // namespace

#pragma once

#include "platform/Result.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Group commit for deliveries running at once on several threads. Each delivery asks for
// its new files to be made durable (before it renames them into new/), then for its new/
// folders (after): what the threads ask for while one sync runs is synced together by the
// next, and one thread (the first to find no sync running) syncs for the whole group,
// waiting a little first for the deliveries still at work, so that they join it.
//
// A group that holds more than two files or folders of one file system makes them durable
// with one syncfs() of that file system rather than an fsync() each: under load, a sync
// for many deliveries instead of one per message and folder. Alone, a delivery's file and
// folder get an fsync each, and the rest of the file system is left alone.
//
// enter() when a delivery begins; then sync() with more until its last sync (more false,
// which leaves), or leave().
class SyncGroup {
public:
    explicit SyncGroup(std::chrono::microseconds gatherTime = std::chrono::microseconds(2000));

    void enter();
    void leave();
    // Returns once every path (a file or a folder) is on disk, synced after this call
    // began: S_OK, else the failure with "call(path) failed: reason" in failure. With more,
    // the delivery stays in the group for another sync.
    HRESULT sync(const std::vector<std::string>& paths, bool more, std::string* failure);

    // Groups synced, and fsyncs and syncfs calls made, so far.
    std::uint64_t groupCount() const;
    std::uint64_t syncCount() const;

    // A file system with more than this many files and folders in one group is synced
    // whole.
    static constexpr std::size_t mostSyncedOneByOne = 2;

private:
    struct Batch {
        struct Entry {
            int fd;
            int error = 0;
            bool whole = false; // synced by a syncfs of its file system
        };
        std::vector<Entry> entries;
        bool done = false;
    };
    void syncBatch(Batch& batch);

    std::chrono::microseconds gatherTime;
    mutable std::mutex mutex;
    std::condition_variable changed;
    int working = 0; // deliveries in the group not waiting for a sync
    bool syncing = false;
    std::shared_ptr<Batch> next = std::make_shared<Batch>();
    std::uint64_t groups = 0, syncs = 0;
};

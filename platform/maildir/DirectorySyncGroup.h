#pragma once

#include "platform/Result.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Group commit of folder entries for deliveries running at once on several threads:
// each delivery fsyncs its own file, renames it into new/, then asks for its new/
// folders to be synced; the folders asked for while one sync runs are synced together by
// the next, one fsync per folder however many deliveries renamed into it. One thread
// (the first to find no sync running) syncs for the group, waiting a little first for
// the deliveries still writing their files, so that they join the same group.
//
// enter() when a delivery begins writing; then sync() (which leaves) or leave().
class DirectorySyncGroup {
public:
    explicit DirectorySyncGroup(
        std::chrono::microseconds gatherTime = std::chrono::microseconds(2000));

    void enter();
    void leave();
    // Returns once every folder's entries are on disk (each synced after this call
    // began): S_OK, else the failure with "call(path) failed: reason" in failure.
    HRESULT sync(const std::vector<std::string>& folders, std::string* failure);

    // Groups synced, and folder fsyncs made, so far.
    std::uint64_t groupCount() const;
    std::uint64_t syncCount() const;

private:
    struct Batch {
        struct Entry {
            int fd;
            int error = 0;
        };
        std::vector<Entry> entries;
        bool done = false;
    };
    void syncBatch(Batch& batch);

    std::chrono::microseconds gatherTime;
    mutable std::mutex mutex;
    std::condition_variable changed;
    int writing = 0;
    bool syncing = false;
    std::shared_ptr<Batch> next = std::make_shared<Batch>();
    std::uint64_t groups = 0, syncs = 0;
};

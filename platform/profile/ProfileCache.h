#pragma once

#include "platform/profile/ProfileDocument.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// The parsed profile files of the process, shared by every thread.
//
// A read costs one stat of the file: the parsed document is reused while device,
// inode, size and change times are what they were when it was read. File times tick
// coarsely, so a document read within a short while of its file's last change could
// miss a second change in the same tick; such a document is read again next time.
//
// A write takes the file's lock (an advisory lock on "<file>.lock" beside it), reads
// the file afresh under it, applies the change and replaces the file atomically
// (temporary file in the same folder, fsync, rename, fsync of the folder), so neither
// a crash nor a second writer, in this process or another, loses keys.
class ProfileCache {
public:
    // A document read this close (in nanoseconds) to its file's last change may miss a
    // second change made within the same tick of the file system's clock; it is read again.
    static constexpr std::int64_t racyWindow = 50'000'000;
    // The parsed files kept at most (the least recently used goes).
    static constexpr std::size_t maxDocuments = 256;

    static ProfileCache& instance();

    // The file as it is now; an empty document when it is missing or unreadable. For a
    // file that exists but cannot be read, *failure (when given) says
    // "call(path) failed: reason"; else it is emptied.
    std::shared_ptr<const ProfileDocument> read(const std::string& path,
                                                std::string* failure = nullptr);

    // Applies `edit` (which returns whether it changed anything) to the file and
    // writes it back when it did. On failure the file is left as it was, a debugLog
    // line names `caller`, the failing call, the path and the reason, the result is
    // false and *failureText (when given) says "call(path) failed: reason".
    bool update(const std::string& path, const char* caller,
                const std::function<bool(ProfileDocument&)>& edit,
                std::string* failureText = nullptr);

    // Forgets every parsed file (tests; memory).
    void clear();

private:
    struct Entry {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modified = 0; // ns
        std::int64_t changed = 0;  // ns
        std::int64_t loadedAt = 0; // ns, wall clock, taken before the file was read
        std::shared_ptr<const ProfileDocument> document;
        std::uint64_t used = 0; // when it was last read, on uses_'s count
    };

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
    std::uint64_t uses_ = 0;
};

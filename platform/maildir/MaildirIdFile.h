#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <string>

// A small id file shared by every process using the store: changed only under an
// exclusive lock (flock on "<file>.lock", which is never replaced, so the lock stays on
// the file everybody opens) and written atomically ("<file>.tmp", fsync, rename, fsync of
// the directory), so a reader sees the old or the new content, never a torn one.
// One object is one transaction: lock, read, write, and the destructor unlocks.
class MaildirIdFile {
public:
    // Which file version is there: the file is only ever replaced, so another inode (or
    // size or time) means another content. All zero while the file does not exist.
    struct Stamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t seconds = 0, nanoseconds = 0;
        bool operator==(const Stamp&) const = default;
    };

    explicit MaildirIdFile(std::string path);
    ~MaildirIdFile();
    MaildirIdFile(const MaildirIdFile&) = delete;
    MaildirIdFile& operator=(const MaildirIdFile&) = delete;

    HRESULT lock();
    HRESULT stamp(Stamp* stamp);
    // The whole content; empty when the file does not exist yet.
    HRESULT read(std::string* content);
    HRESULT write(const std::string& content);

    // Writes content to path through path's directory tmp file, fsync and rename.
    static HRESULT writeAtomically(const std::string& path, const std::string& content);
    // fsync of a directory after a rename or link into it.
    static HRESULT syncDirectory(const std::string& path);
    // fsync of a file by its path (or of a directory, with directory set).
    static HRESULT syncPath(const std::string& path, bool directory);

private:
    std::string path;
    int lockFd = -1;
};

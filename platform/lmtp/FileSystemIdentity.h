#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The calling thread acts on files as another user while the object lives: its file
// system user and group ids (setfsuid/setfsgid) and no supplementary groups, all of them
// the thread's alone, so a service's threads can each deliver for another user at once.
// Files it makes are that user's; permission checks are that user's. Needs root; a
// process that is not root stays itself (and check() says why).
class FileSystemIdentity {
public:
    FileSystemIdentity(uid_t uid, gid_t gid);
    ~FileSystemIdentity();
    FileSystemIdentity(const FileSystemIdentity&) = delete;
    FileSystemIdentity& operator=(const FileSystemIdentity&) = delete;

    // Whether the thread acts as the user now; else the reason.
    bool check(std::string* error) const;

    // The file system ids the calling thread acts with now.
    static uid_t currentUid();
    static gid_t currentGid();

private:
    uid_t uid, previousUid;
    gid_t gid, previousGid;
    std::vector<gid_t> previousGroups;
};

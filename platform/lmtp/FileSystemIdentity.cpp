#include "platform/lmtp/FileSystemIdentity.h"

#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The raw call: glibc's setgroups() changes every thread of the process.
int setThreadGroups(const std::vector<gid_t>& groups) {
    return static_cast<int>(syscall(SYS_setgroups, groups.size(), groups.data()));
}

} // namespace

FileSystemIdentity::FileSystemIdentity(uid_t uid, gid_t gid) : uid(uid), gid(gid) {
    int count = getgroups(0, nullptr);
    if (count > 0) {
        previousGroups.resize(static_cast<std::size_t>(count));
        count = getgroups(count, previousGroups.data());
        previousGroups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    // The group first: once the user id is not root's, the group can no longer change.
    previousGid = static_cast<gid_t>(setfsgid(gid));
    setThreadGroups({});
    previousUid = static_cast<uid_t>(setfsuid(uid));
}

FileSystemIdentity::~FileSystemIdentity() {
    setfsuid(previousUid);
    setThreadGroups(previousGroups);
    setfsgid(previousGid);
}

bool FileSystemIdentity::check(std::string* error) const {
    if (currentUid() == uid && currentGid() == gid)
        return true;
    *error = "cannot act as user " + std::to_string(uid) + " (group " + std::to_string(gid) +
             "): only root can";
    return false;
}

uid_t FileSystemIdentity::currentUid() {
    // setfsuid answers the previous id; an invalid id changes nothing.
    return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)));
}

gid_t FileSystemIdentity::currentGid() {
    return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1)));
}

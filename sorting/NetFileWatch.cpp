#include "sorting/NetFileWatch.h"

#include <utility>

NetFileWatch::NetFileWatch(std::string fileName) : file(std::move(fileName)) {
    loaded();
}

bool NetFileWatch::changed() const {
    struct stat now {};
    if (stat(file.c_str(), &now) != 0)
        return false;
    return now.st_ino != state.st_ino || now.st_dev != state.st_dev ||
           now.st_size != state.st_size || now.st_mtim.tv_sec != state.st_mtim.tv_sec ||
           now.st_mtim.tv_nsec != state.st_mtim.tv_nsec ||
           now.st_ctim.tv_sec != state.st_ctim.tv_sec ||
           now.st_ctim.tv_nsec != state.st_ctim.tv_nsec;
}

void NetFileWatch::loaded() {
    struct stat now {};
    // Missing: remembered as all zeros, so the file's first save counts as a change.
    if (stat(file.c_str(), &now) != 0)
        now = {};
    state = now;
}

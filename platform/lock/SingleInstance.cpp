#include "platform/lock/SingleInstance.h"

#include "util/Log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

SingleInstance::SingleInstance(std::string name) : name(std::move(name)) {}

SingleInstance::~SingleInstance() {
    release();
}

std::string SingleInstance::path() const {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && access(runtime, W_OK) == 0)
        return std::string(runtime) + "/" + name + ".lock";
    return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

bool SingleInstance::acquire() {
    if (fd >= 0)
        return true;
    heldByAnother = false;
    std::string file = path();
    int opened = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (opened < 0) {
        failure = "open(" + file + ") failed: " + std::strerror(errno);
        debugLog("%s", failure.c_str());
        return false;
    }
    if (flock(opened, LOCK_EX | LOCK_NB) != 0) {
        heldByAnother = errno == EWOULDBLOCK;
        failure = heldByAnother ? "another instance holds " + file
                                : "flock(" + file + ") failed: " + std::strerror(errno);
        close(opened);
        return false;
    }
    fd = opened;
    failure.clear();
    return true;
}

void SingleInstance::release() {
    if (fd < 0)
        return;
    close(fd); // closing drops the lock; the file stays for the next start
    fd = -1;
}

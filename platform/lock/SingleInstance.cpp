#include "platform/lock/SingleInstance.h"

#include "util/Log.h"

#include <cstdlib>
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
    if (held())
        return true;
    lock = std::make_unique<FileLock>(path());
    if (lock->acquire(false)) {
        heldByAnother = false;
        failure.clear();
        return true;
    }
    heldByAnother = lock->error().empty();
    failure = heldByAnother ? "another instance holds " + lock->path() : lock->error();
    if (!heldByAnother)
        debugLog("%s", failure.c_str());
    return false;
}

void SingleInstance::release() {
    // Closing drops the lock; the file stays for the next start.
    if (lock)
        lock->release();
}

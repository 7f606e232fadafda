#pragma once

#include "platform/lock/FileLock.h"

#include <memory>
#include <string>

// The one-sorter-at-a-time guard: an advisory lock (flock) on a file in the user's
// runtime folder. The kernel drops the lock when the process dies, so a crash never
// blocks the next start. The tray program and the command-line sorter take the same one.
class SingleInstance {
public:
    explicit SingleInstance(std::string name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process now holds the guard (or already did); false when another
    // process holds it or the lock file cannot be made (error() says why).
    bool acquire();
    void release();
    bool held() const { return lock && lock->held(); }
    const std::string& error() const { return failure; }
    // After a failed acquire(): whether another process holds the guard (else error() is
    // why the lock could not be tried at all).
    bool heldElsewhere() const { return heldByAnother; }
    // $XDG_RUNTIME_DIR/<name>.lock, else /tmp/<name>-<uid>.lock.
    std::string path() const;

private:
    std::string name;
    std::unique_ptr<FileLock> lock; // made at the first acquire(): the path reads the environment
    std::string failure;
    bool heldByAnother = false;
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One inotify instance: a non-blocking descriptor to poll and the events read from it.
class InotifyWatcher {
public:
    struct Event {
        int wd = -1;
        std::uint32_t mask = 0;
        std::string name;
    };

    InotifyWatcher();
    ~InotifyWatcher();
    InotifyWatcher(const InotifyWatcher&) = delete;
    InotifyWatcher& operator=(const InotifyWatcher&) = delete;

    // The descriptor to poll for input; -1 when inotify is not available.
    int fd() const { return inotifyFd; }
    // The watch descriptor, or -1 (logged) when the path cannot be watched.
    int add(const std::string& path, std::uint32_t mask);
    void remove(int wd);
    // Every queued event, without blocking. *overflow is set when the kernel dropped
    // events because its queue was full (IN_Q_OVERFLOW): the caller must rescan.
    std::vector<Event> readEvents(bool* overflow);

private:
    int inotifyFd = -1;
};

#include "platform/maildir/InotifyWatcher.h"

#include "util/Log.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

InotifyWatcher::InotifyWatcher() {
    inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0)
        debugLog("%s", sysFailure("inotify_init1()", errno).c_str());
}

InotifyWatcher::~InotifyWatcher() {
    if (inotifyFd >= 0)
        close(inotifyFd);
}

int InotifyWatcher::add(const std::string& path, std::uint32_t mask) {
    if (inotifyFd < 0)
        return -1;
    int wd = inotify_add_watch(inotifyFd, path.c_str(), mask);
    if (wd < 0)
        debugLog("%s", sysFailure("inotify_add_watch(" + path + ")", errno).c_str());
    return wd;
}

void InotifyWatcher::remove(int wd) {
    if (inotifyFd >= 0 && wd >= 0)
        inotify_rm_watch(inotifyFd, wd);
}

std::vector<InotifyWatcher::Event> InotifyWatcher::readEvents(bool* overflow) {
    std::vector<Event> events;
    *overflow = false;
    if (inotifyFd < 0)
        return events;
    alignas(inotify_event) char buffer[64 * 1024];
    while (true) {
        ssize_t got = ::read(inotifyFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t pos = 0; pos < got;) {
            auto* event = reinterpret_cast<inotify_event*>(buffer + pos);
            if (event->mask & IN_Q_OVERFLOW)
                *overflow = true;
            else
                events.push_back(Event{event->wd, event->mask,
                                       event->len ? std::string(event->name) : std::string()});
            pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return events;
}

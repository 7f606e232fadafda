#include "cli/Sorter.h"

#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "sorting/InboxMark.h"
#include "sorting/Journal.h"
#include "cli/CliSession.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <set>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

Sorter::Sorter(IStoreNamespace* store, IStoreFolder* inbox, Net* net, InboxMark* mark,
               SentMailRecord* record, Journal* journal)
    : netFile(net->getFileName()) {
    context.store = store;
    context.inbox = inbox;
    context.net = net;
    context.mark = mark;
    context.record = record;
    context.journal = journal;
}

void Sorter::post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    queue.push(message, wParam, lParam);
}

bool Sorter::reloadNetIfChanged() {
    if (!netFile.changed())
        return false;
    netFile.loaded();
    debugLog("ZELKO: net file changed, loading it again");
    try {
        context.net->load();
        CliSession::reportDamage(*context.net);
    } catch (const ComException& e) {
        showComError(e, "Loading the changed net");
    }
    return true;
}

std::string Sorter::handle(const NotificationQueue::Notification& notification) {
    if (notification.message == WM_DELETEFOLDER)
        return {}; // the inbox itself cannot go away; nothing to sort
    return onStoreNotify(context, notification.message, notification.param(), notification.lParam);
}

std::vector<std::string> Sorter::sortNew(const std::vector<MESSAGEID>& ids) {
    return processNewMessagesInBatches(context, ids, [this] { return reloadNetIfChanged(); });
}

Sorter::InboxPass Sorter::sortInbox() {
    InboxPass pass;
    // A message an earlier run left in the inbox has its line: left again, it gets no other.
    std::set<std::string> left;
    if (context.journal)
        for (const Journal::Entry& entry : context.journal->all())
            if (entry.action == "left" && !entry.messageId.empty())
                left.insert(entry.messageId);
    context.leftBefore = &left;
    std::vector<MESSAGEID> ids;
    pass.listing =
        forEachMessage(context.inbox, MESSAGEID_FIRST,
                       [&ids](const MESSAGEPROPS& props) { ids.push_back(props.dwMessageId); });
    for (const std::string& failure : sortNew(ids)) {
        if (failure.empty())
            continue;
        if (pass.failed++ == 0)
            pass.firstFailure = failure;
    }
    pass.messages = static_cast<int>(ids.size());
    context.leftBefore = nullptr;
    return pass;
}

int Sorter::run() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::fprintf(stderr, "signalfd failed: %s\n", std::strerror(errno));
        return 1;
    }
    if (!registerFolderWindow(context.inbox, this)) {
        std::fprintf(stderr, "cannot watch the inbox for new mail\n");
        close(signalFd);
        return 1;
    }
    // Registered first: what arrives while the catch-up runs is announced, and the mark
    // drops the announcement of what the catch-up sorted itself.
    std::vector<MESSAGEID> ids;
    if (context.mark)
        ids = context.mark->catchUp(context.inbox, context.journal);
    if (context.record)
        for (MESSAGEID id : messagesToRetry(context.inbox, *context.record))
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                ids.push_back(id);
    sortNew(ids);
    std::fprintf(stderr, "brevalo-cli: sorting new mail; stop with Ctrl+C\n");
    int status = 0;
    for (;;) {
        pollfd fds[2] = {{context.store->NotificationHandle(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        // A mark ahead of its file is stored once the mail has stopped coming for a second.
        bool unsaved = context.mark && context.mark->unsaved();
        int ready = poll(fds, 2, unsaved ? 1000 : -1);
        if (ready == 0) {
            context.mark->flush();
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "poll failed: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (fds[1].revents & POLLIN)
            break;
        if (fds[0].revents & POLLIN)
            context.store->DispatchNotifications();
        // Arrivals that queued up together are sorted together (one group commit); a
        // single one at once.
        while (!queue.empty())
            queue.takeNext([this](const std::vector<MESSAGEID>& ids) { sortNew(ids); },
                           [this](const NotificationQueue::Notification& notification) {
                               handle(notification);
                           });
    }
    unregisterFolderWindow(context.inbox, this);
    close(signalFd);
    return status;
}

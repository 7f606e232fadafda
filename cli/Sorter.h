#pragma once

#include "platform/Store.h"
#include "sorting/IncomingMail.h"
#include "sorting/NetFileWatch.h"
#include "sorting/NotificationQueue.h"

#include <string>
#include <vector>

class InboxMark;
class Journal;
class Net;
class SentMailRecord;

// The main job without windows: receives the inbox's notifications, queues them and
// sorts every arriving message exactly as the tray program does.
class Sorter : public INotifySink {
public:
    // mark (may be null) remembers what was looked at, across runs; record (may be null)
    // what was handed to the sending command; journal (may be null) takes every decision.
    Sorter(IStoreNamespace* store, IStoreFolder* inbox, Net* net, InboxMark* mark = nullptr,
           SentMailRecord* record = nullptr, Journal* journal = nullptr);

    // What one pass over the inbox did.
    struct InboxPass {
        int messages = 0; // handed to the processing
        int failed = 0;   // of those, could not be handled (they stay in the inbox)
        std::string firstFailure;
        HRESULT listing = S_OK; // a failure: the inbox could not be listed (in full)
    };
    // Sorts every message now in the inbox, in store order, as if each had just arrived;
    // with a mark, a message an earlier run looked at and that stays is not journalled again.
    InboxPass sortInbox();
    // Registers for the inbox's notifications, sorts what arrived since the mark (the
    // catch-up) and the messages whose mail failed at the last run, then sorts arrivals
    // until SIGINT or SIGTERM. Returns the exit status (0 on a clean stop).
    int run();

    void post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

private:
    // Sorts the new messages in batches of up to maxSortBatch (processNewMessagesInBatches);
    // one failure text per id, empty when it was handled.
    std::vector<std::string> sortNew(const std::vector<MESSAGEID>& ids);
    // A notification other than an arrival (those are sorted in batches): logged.
    std::string handle(const NotificationQueue::Notification& notification);
    // The net is reloaded when another program (the learning command, the tray program)
    // saved it since it was read; true when it was.
    bool reloadNetIfChanged();

    SorterContext context;
    NotificationQueue queue;
    NetFileWatch netFile;
};

#pragma once

#include "util/Refs.h"
#include "util/DateTime.h"
#include "platform/Store.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class InboxMark;
class Net;
class SentMailRecord;

// What the sorter does with every message that arrives in the inbox: check that
// sorting is on, classify the text, then by job variant copy the message into its
// target folders, forward it or answer it, and remove it from the inbox.

// What a store notification is handled with: the store, the inbox the window holds,
// the running net, the sorter's inbox mark (none: nothing is remembered) and its record
// of the mail handed to the sending command (none: mail is sent without one).
struct SorterContext {
    IStoreNamespace* store = nullptr;
    IStoreFolder* inbox = nullptr;
    Net* net = nullptr;
    InboxMark* mark = nullptr;
    SentMailRecord* record = nullptr;
};

// The handler of the inbox's notifications (2674, 2675, 2677, 2678): logs each one and
// sorts new messages, each once (with a mark: the catch-up at start hands out messages
// whose notifications may follow) and then counts it as looked at. A ComException is
// shown with showComError and "inbox notify", and its text returned: the message could
// not be handled and stays in the inbox. Empty otherwise (sorted, or left by choice).
std::string onStoreNotify(const SorterContext& context, std::uint32_t message,
                          std::uintptr_t wParam, std::intptr_t lParam);

// Sorts one message of the inbox; failures of the store, MIME or sending layers raise
// ComException (whatever was done before stays done). With a record, no mail is sent
// twice for the message (variants 2 and 3 send before the message leaves the inbox).
void processNewMessage(IStoreNamespace* store, Net* net, MESSAGEID id,
                       SentMailRecord* record = nullptr);

// At start: the inbox messages whose mail failed once, to be tried once more; those
// already gone from the inbox are left out.
std::vector<MESSAGEID> messagesToRetry(IStoreFolder* inbox, const SentMailRecord& record);

// Copies the message into the child of the root target folder named after each chosen
// folder (trimmed; created when missing). Raises ComException when a folder could not be
// found, created or copied into, or when every name was blank (nothing was copied): the
// message must stay in the inbox.
void copyToTargetFolders(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId,
                         STOREFOLDERID rootId, const RefsPtr& folders);

void removeFromInbox(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId);

// The clock the sorting period is checked against (the local time unless replaced, as
// tests do). Its reading is cut to whole seconds, the resolution of the stored period.
using SorterClock = std::function<DateTime()>;
void setSorterClock(SorterClock clock);

// The "destFolder" setting as a folder id; FOLDERID_INVALID when it is not a number.
STOREFOLDERID rootTargetFolderId(Net* net);

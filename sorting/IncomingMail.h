#pragma once

#include "util/Refs.h"
#include "util/DateTime.h"
#include "platform/Store.h"
#include "sorting/OutgoingMail.h"
#include "sorting/SortDecision.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class IMimeMessage;
class InboxMark;
class Journal;
class Net;
class SentMailRecord;

// What the sorter does with every message that arrives in the inbox: check that
// sorting is on, classify the text, then by job variant copy the message into its
// target folders, forward it or answer it, and remove it from the inbox. Deciding
// (decide) is kept apart from doing (carryOut): a dry run, a delivery and the journal
// use the same rules.

// What a store notification is handled with: the store, the inbox the window holds,
// the running net, the sorter's inbox mark (none: nothing is remembered) and its record
// of the mail handed to the sending command (none: mail is sent without one), and the
// journal every decision is written to (none: nothing is written).
struct SorterContext {
    IStoreNamespace* store = nullptr;
    IStoreFolder* inbox = nullptr;
    Net* net = nullptr;
    InboxMark* mark = nullptr;
    SentMailRecord* record = nullptr;
    Journal* journal = nullptr;
    // The Message-IDs the journal already has a "left" line for (sort --once looks at every
    // inbox message, each time): one of them left in the inbox again is not journalled again.
    const std::set<std::string>* leftBefore = nullptr;
};

// The handler of the inbox's notifications (2674, 2675, 2677, 2678): logs each one and
// sorts new messages, each once (with a mark: the catch-up at start hands out messages
// whose notifications may follow) and then counts it as looked at. A ComException is
// shown with showComError ("Sorting a new message") and its text returned: the message could
// not be handled and stays in the inbox. Empty otherwise (sorted, or left by choice).
std::string onStoreNotify(const SorterContext& context, std::uint32_t message,
                          std::uintptr_t wParam, std::intptr_t lParam);

// The most messages sorted together by processNewMessages.
constexpr std::size_t maxSortBatch = 256;

// Sorts several new inbox messages together, as onStoreNotify does one by one but with
// one group commit (at most maxSortBatch ids): every copy of the batch is written into its
// target folder and made durable together (each file, then each folder once), then the
// originals whose copies are all on disk leave the inbox (the inbox synced once), then
// the journal takes the batch in one append. Mail (variants 2 and 3) is sent message by
// message as processNewMessage does. One failure text per id (empty: handled); a message
// that failed stays in the inbox. A single id takes onStoreNotify's way at once.
std::vector<std::string> processNewMessages(const SorterContext& context,
                                            const std::vector<MESSAGEID>& ids);

// Sorts any number of new inbox messages in batches of maxSortBatch, each as
// processNewMessages does, and reads (parses and matches) each batch while the one before
// it is committed. beforeBatch (when set) runs before each batch; answering true (the
// sorter loaded its net again) has the batch read anew. One failure text per id.
std::vector<std::string> processNewMessagesInBatches(const SorterContext& context,
                                                     const std::vector<MESSAGEID>& ids,
                                                     const std::function<bool()>& beforeBatch);

// Sorts one message of the inbox; failures of the store, MIME or sending layers raise
// ComException (whatever was done before stays done). With a record, no mail is sent
// twice for the message (variants 2 and 3 send before the message leaves the inbox).
// With a journal, every decision is written to it, a failure included, and a message
// that undo moved back into the inbox stays there. A decision to leave a message whose
// Message-ID is in leftBefore is not written (an earlier run wrote it).
void processNewMessage(IStoreNamespace* store, Net* net, MESSAGEID id,
                       SentMailRecord* record = nullptr, Journal* journal = nullptr,
                       const std::set<std::string>* leftBefore = nullptr);

// The rules that need no message: sorting off, outside the sorting period (read on the
// sorter clock), the net not learned. A decision to leave the message, or none.
std::optional<SortDecision> idleDecision(Net* net);

// Every rule, the idle ones first: no stimulation matches, no folder reaches the
// threshold, the job variant, the reply address, mail the sorter sent itself, automatic
// mail and answer addresses. Reads the net and the message, changes nothing; debug lines
// say why a message stays. subject is the store's (or the message's) subject.
SortDecision decide(Net* net, IMimeMessage* message, const std::string& subject);

// Where one copy now lies: the target folder's name and the copy's file name (the
// unique base part before ":" names it for good; flags may change).
struct CopyPlace {
    std::string folder;
    std::string file;
};

// What carrying out a decision did. On a failure, what was done before it stays done
// and is listed; the message stays in the inbox.
struct CarriedOut {
    std::vector<CopyPlace> copies;
    bool removed = false; // the message left the inbox
    HRESULT result = S_OK;
    std::string failure; // what failed and why; empty when nothing did
    bool failed() const { return !failure.empty() || FAILED(result); }
};

// Does what the decision says to inbox message id (file: its file name in the inbox,
// for the copies' names): copies below rootFolder, then the mail (recorded in
// sending.record when there is one), then the removal from the inbox. A mail given up
// after its retry, or one that may or may not have gone out, is a failure: the message
// stays.
CarriedOut carryOut(IStoreNamespace* store, STOREFOLDERID inboxId, MESSAGEID id,
                    const std::string& file, const SortDecision& decision, IMimeMessage* message,
                    STOREFOLDERID rootFolder, const SendingFor& sending);

// At start: the inbox messages whose mail failed once, to be tried once more; those
// already gone from the inbox are left out.
std::vector<MESSAGEID> messagesToRetry(IStoreFolder* inbox, const SentMailRecord& record);

// Copies the message into the child of the root target folder named after each chosen
// folder (trimmed; created when missing). Raises ComException when a folder could not be
// found, created or copied into, or when every name was blank (nothing was copied): the
// message must stay in the inbox. Each copy made is appended to made (when given), also
// those made before a failure; file is the message's file name in the inbox.
void copyToTargetFolders(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId,
                         STOREFOLDERID rootId, const RefsPtr& folders,
                         std::vector<CopyPlace>* made = nullptr, const std::string& file = {});

void removeFromInbox(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId);

// The clock the sorting period is checked against (the local time unless replaced, as
// tests do). Its reading is cut to whole seconds, the resolution of the stored period.
using SorterClock = std::function<DateTime()>;
void setSorterClock(SorterClock clock);

// The "destFolder" setting as a folder id; FOLDERID_INVALID when it is not a number.
STOREFOLDERID rootTargetFolderId(Net* net);

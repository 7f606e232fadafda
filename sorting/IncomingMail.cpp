#include "sorting/IncomingMail.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/ParallelFor.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirFileName.h"
#include "core/InputMatcher.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/NeuronOut.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "sorting/InboxMark.h"
#include "sorting/Journal.h"
#include "sorting/OutgoingMail.h"
#include "sorting/SentMailRecord.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <thread>

namespace {

SorterClock& sorterClock() {
    static SorterClock clock = nowLocal;
    return clock;
}

// The period's ends are stored to the second: a time within the last second of the end
// still lies inside it.
DateTime wholeSeconds(DateTime value) {
    DateTimeParts parts = decodeDateTime(value);
    parts.millisecond = 0;
    DateTime result = value;
    tryEncodeDateTime(parts, result);
    return result;
}

// A folder the run must use: not being able to open it by its id is an error of its own,
// so the message stays in the inbox and the box says which folder failed.
com_ptr<IStoreFolder> openFolderOrRaise(IStoreNamespace* store, STOREFOLDERID id) {
    com_ptr<IStoreFolder> folder = openFolder(store, id);
    if (!folder)
        throw ComException(E_FAIL, formatString("cannot open folder %u", id));
    return folder;
}

// The first non-blank Message-ID, trimmed; empty when there is none.
std::string firstMessageId(IMimeMessage* message) {
    std::vector<std::string> values;
    if (FAILED(message->GetHeaderValues("Message-ID", &values)))
        return {};
    for (const std::string& value : values) {
        std::string trimmed = trimText(value);
        if (!trimmed.empty())
            return trimmed;
    }
    return {};
}

MESSAGEIDLIST oneMessage(MESSAGEID& id) {
    MESSAGEIDLIST list;
    list.cMsgs = 1;
    list.prgdwMsgId = &id;
    return list;
}

bool leftBefore(const std::set<std::string>* left, const std::string& messageId) {
    return left && !messageId.empty() && left->count(messageId) > 0;
}

} // namespace

std::string onStoreNotify(const SorterContext& context, std::uint32_t message,
                          std::uintptr_t wParam, std::intptr_t lParam) {
    MESSAGEID id = 0;
    if (message == WM_NEWMSGS)
        id = static_cast<MESSAGEID>(wParam);
    else if (wParam)
        id = *reinterpret_cast<const std::uint32_t*>(wParam);
    // Only a new message is still there to be read: the removal of one just sorted away
    // would ask the inbox for a message it no longer holds.
    // The uid costs a second reading of the headers: made only for a line that is seen.
    std::string uid =
        message == WM_NEWMSGS && debugLogWanted() ? messageUid(context.inbox, id) : std::string();
    debugLog("message arrived: msg %d wp %d lp %d mid %d muid '%s'", static_cast<int>(message),
             static_cast<int>(wParam), static_cast<int>(lParam), static_cast<int>(id), uid.c_str());
    if (message != WM_NEWMSGS)
        return {};
    if (context.mark && !context.mark->takes(id)) {
        debugLog("ZELKO: message %u was sorted at start already", static_cast<unsigned>(id));
        return {};
    }
    std::string failure;
    try {
        processNewMessage(context.store, context.net, id, context.record, context.journal,
                          context.leftBefore);
    } catch (const ComException& e) {
        showComError(e, "Sorting a new message");
        failure = comErrorText(e);
    }
    if (context.mark)
        context.mark->lookedAt(id);
    return failure;
}

std::optional<SortDecision> idleDecision(Net* net) {
    SortDecision left;
    if (net->getEnabled() == 0) {
        debugLog("ZELKO: not enabled");
        left.reason = "sorting is off";
        return left;
    }
    if (net->getEnabledPeriod() != 0) {
        DateTime now = wholeSeconds(sorterClock()());
        if (now < net->getPeriodFrom() || now > net->getPeriodTo()) {
            debugLog("ZELKO: enabled only in period");
            left.reason = "outside the sorting period";
            return left;
        }
    }
    if (!net->isLearned()) {
        debugLog("ZELKO: net is not learned");
        left.reason = net->damage().empty() ? std::string("the net is not learned")
                                            : "the net file is damaged: " + net->damage();
        return left;
    }
    return std::nullopt;
}

namespace {

// The input vector of the message's text; the part of deciding that may run on any thread.
DoublePtr messageInputs(Net* net, IMimeMessage* message, const std::string& subject) {
    MatchBudget budget(subject);
    InputMatcher matcher(*net);
    return matcher.inputVector(classifiedText(message, matcher.headerFields()), budget);
}

SortDecision decideOnMessage(Net* net, IMimeMessage* message, SortDecision decision,
                             const DoublePtr& inputs);

// decide without the idle rules, which the caller has applied, on the message's inputs
// (messageInputs).
SortDecision decideOnMessage(Net* net, IMimeMessage* message, const std::string& subject,
                             const DoublePtr& inputs) {
    SortDecision decision;
    decision.subject = subject;
    decision.from = headerText(message, PID_HDR_FROM);
    decision.messageId = firstMessageId(message);
    return decideOnMessage(net, message, std::move(decision), inputs);
}

// decideOnMessage for a decision that has the message's subject, sender and Message-ID
// already. message may be null where the job variant moves mail, which needs no more of it.
SortDecision decideOnMessage(Net* net, IMimeMessage* message, SortDecision decision,
                             const DoublePtr& inputs) {
    const std::string& subject = decision.subject;
    Classification result = net->classificationOf(inputs);
    if (result.hasResult() && !result.hasEvidence()) {
        debugLog("ZELKO: no stimulation matches '%s', leaving it in the inbox", subject.c_str());
        decision.reason = "no stimulation matches";
        return decision;
    }
    double threshold = net->getThreshold();
    decision.chosen = net->chosenFolders(result, threshold);
    if (refsCount(decision.chosen) == 0) {
        debugLog("Message '%s' was not clasified to any category, so leaving it...",
                 subject.c_str());
        decision.reason = formatString("no folder reaches the threshold of %g %%", threshold);
        return decision;
    }
    for (int i = 0; i < refsCount(decision.chosen); ++i) {
        auto* folder = (*decision.chosen)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (folder)
            decision.folders.push_back(
                {trimText(folder->getName()), result.percent(net->indexOfOutput(folder))});
    }

    int variant = net->getJobVariant();
    debugLog("ZELKO: jobvariant %d", variant);
    if (variant == 1) {
        decision.action = SortDecision::Action::Move;
        decision.copy = decision.remove = true;
        return decision;
    }
    if (variant != 2 && variant != 3) {
        debugLog("ZELKO: unknown jobvariant %d", variant);
        decision.reason = formatString("unknown job variant %d", variant);
        return decision;
    }
    std::string from = net->getFrom();
    if (from.empty()) {
        debugLog("ZELKO: 'from' is not set");
        decision.reason = "the reply address is not set";
        return decision;
    }
    if (!message) {
        // Read for moving, and the job variant changed in the meantime.
        decision.reason = "the job variant changed while the message was read";
        return decision;
    }
    decision.replyAddress = from;
    if (variant == 2) {
        decision.copy = net->getStoreMail() != 0;
        if (sentByReplyAddress(message, from)) {
            // Our own forward come back (a folder's persons include the reply address):
            // forwarding it again would go round for ever. Without a kept copy it stays.
            debugLog("ZELKO: not forwarding message '%s': it was sent by the reply address "
                     "itself",
                     subject.c_str());
            decision.reason = "not forwarded: sent by the reply address itself";
            decision.remove = decision.copy;
            decision.action =
                decision.copy ? SortDecision::Action::Move : SortDecision::Action::Leave;
            return decision;
        }
        for (int i = 0; i < refsCount(decision.chosen); ++i) {
            auto* folder = (*decision.chosen)[static_cast<std::size_t>(i)].as<NeuronOut>();
            std::string to = folder ? joinTexts(folder->getEmails(), ";") : std::string();
            if (!to.empty())
                decision.recipients.push_back(to);
        }
        if (decision.recipients.empty()) {
            // Nobody to forward to: removing the message without a kept copy would leave
            // it nowhere at all.
            debugLog("ZELKO: not forwarding message '%s': no chosen folder has an address",
                     subject.c_str());
            decision.reason = "not forwarded: no chosen folder has an address";
            decision.remove = decision.copy;
            decision.action =
                decision.copy ? SortDecision::Action::Move : SortDecision::Action::Leave;
            return decision;
        }
        decision.action = SortDecision::Action::Forward;
        decision.forward = decision.remove = true;
        return decision;
    }
    decision.copy = decision.remove = true;
    decision.action = SortDecision::Action::Move;
    std::string reason = automaticMessageReason(message, from);
    if (!reason.empty()) {
        debugLog("ZELKO: not answering automatic message '%s' (%s)", subject.c_str(),
                 reason.c_str());
        decision.reason = "not answered: automatic mail (" + reason + ")";
        return decision;
    }
    AnswerRecipient recipient = answerRecipient(message, from);
    if (!recipient.refusal.empty()) {
        debugLog("ZELKO: not answering message '%s': %s", subject.c_str(),
                 recipient.refusal.c_str());
        decision.reason = "not answered: " + recipient.refusal;
        return decision;
    }
    decision.action = SortDecision::Action::Answer;
    decision.answer = true;
    decision.recipients = {recipient.address};
    return decision;
}

} // namespace

SortDecision decide(Net* net, IMimeMessage* message, const std::string& subject) {
    if (std::optional<SortDecision> idle = idleDecision(net))
        return *idle;
    return decideOnMessage(net, message, subject, messageInputs(net, message, subject));
}

CarriedOut carryOut(IStoreNamespace* store, STOREFOLDERID inboxId, MESSAGEID id,
                    const std::string& file, const SortDecision& decision, IMimeMessage* message,
                    STOREFOLDERID rootFolder, const SendingFor& sending) {
    CarriedOut done;
    try {
        if (decision.copy)
            copyToTargetFolders(store, id, inboxId, rootFolder, decision.chosen, &done.copies,
                                file);
        MailSent mail;
        if (decision.forward)
            mail = forwardMessage(message, decision.replyAddress, decision.chosen, sending);
        else if (decision.answer)
            mail = replyToMessage(message, decision.replyAddress, decision.chosen, sending);
        if (decision.remove && !mail.keepMessage()) {
            removeFromInbox(store, id, inboxId);
            done.removed = true;
        }
        // A mail given up after its retry, or one that may or may not have gone out,
        // leaves the message in the inbox: that is a failure the person must hear of,
        // not a message sorted.
        if (mail.keepMessage()) {
            done.result = E_FAIL;
            done.failure = "message '" + decision.subject + "': " + mail.keep +
                           "; the message stays in the inbox";
        }
    } catch (const ComException& e) {
        done.result = e.hr();
        done.failure = e.what();
    }
    return done;
}

namespace {

// The store's record of an inbox message: its subject and sender into the decision, its
// file name; the result of the read (the fields stay empty when it failed).
HRESULT readRecord(IStoreFolder* inbox, MESSAGEID id, SortDecision& into, std::string& file) {
    MESSAGEPROPS props;
    HRESULT read = inbox->GetMessageProps(id, 0, &props);
    into.subject = props.pszSubject;
    into.from = props.pszDisplayFrom;
    file = props.fileName;
    inbox->FreeMessageProps(&props);
    return read;
}

// A message undo put back stays where the person wanted it.
bool movedBackByUndo(Journal* journal, const std::string& file, const std::string& subject) {
    if (!journal || !journal->movedBack(file))
        return false;
    debugLog("ZELKO: message '%s' was moved back into the inbox by undo, leaving it",
             subject.c_str());
    return true;
}

// A journal that cannot be written must not stop the sorting: the mail is handled.
void writeJournal(Journal* journal, const SortDecision& decision, const CarriedOut& done) {
    if (!journal)
        return;
    std::string error;
    if (!journal->append(Journal::Entry::of(decision, done), error))
        warningLog("ZELKO: cannot write the journal: %s", error.c_str());
}

} // namespace

void processNewMessage(IStoreNamespace* store, Net* net, MESSAGEID id, SentMailRecord* record,
                       Journal* journal, const std::set<std::string>* left) {
    std::optional<SortDecision> idle = idleDecision(net);
    if (idle && !journal)
        return;
    SortDecision known; // what is known of the message, for the journal line of a failure
    bool journaled = false;
    try {
        com_ptr<IStoreFolder> inbox = openInbox(store);
        if (!inbox && idle) {
            writeJournal(journal, *idle, {}); // a paused sorter needs no inbox
            return;
        }
        if (!inbox)
            throw ComException(E_FAIL, "no inbox in the mail store");

        std::string file;
        HRESULT read = readRecord(inbox.get(), id, known, file);
        if (idle) {
            // Left alone whatever it is: a message that cannot be read is no error here.
            idle->subject = known.subject;
            idle->from = known.from;
            // Looked at again and again while sorting is off: its one line is enough.
            com_ptr<IMimeMessage> message;
            if (left && SUCCEEDED(read) && SUCCEEDED(inbox->OpenMessage(id, message.out())))
                idle->messageId = firstMessageId(message.get());
            if (!leftBefore(left, idle->messageId))
                writeJournal(journal, *idle, {});
            return;
        }
        checkHr(read, formatString("read the headers of inbox message %u", id));
        if (movedBackByUndo(journal, file, known.subject))
            return;

        com_ptr<IMimeMessage> message;
        checkHr(inbox->OpenMessage(id, message.out()), formatString("open inbox message %u", id));
        SortDecision decision = decideOnMessage(net, message.get(), known.subject,
                                                messageInputs(net, message.get(), known.subject));
        known = decision;
        if (decision.action == SortDecision::Action::Leave) {
            if (!leftBefore(left, decision.messageId))
                writeJournal(journal, decision, {});
            return;
        }
        // The root target folder's default is found or made when first asked for: only
        // when there is something to copy.
        STOREFOLDERID root = decision.copy ? rootTargetFolderId(net) : FOLDERID_INVALID;
        CarriedOut done = carryOut(store, folderIdOf(inbox.get()), id, file, decision,
                                   message.get(), root, SendingFor{record, id});
        writeJournal(journal, decision, done);
        journaled = true;
        if (done.failed())
            throw ComException(done.result, done.failure);
    } catch (const ComException& e) {
        CarriedOut failed;
        failed.result = e.hr();
        failed.failure = e.what();
        if (!journaled)
            writeJournal(journal, known, failed);
        throw;
    }
}

std::vector<MESSAGEID> messagesToRetry(IStoreFolder* inbox, const SentMailRecord& record) {
    std::vector<MESSAGEID> wanted = record.retryMessages(), present;
    if (wanted.empty())
        return {};
    forEachMessage(inbox, MESSAGEID_FIRST, [&](const MESSAGEPROPS& props) {
        if (std::binary_search(wanted.begin(), wanted.end(), props.dwMessageId))
            present.push_back(props.dwMessageId);
    });
    if (!present.empty())
        debugLog("ZELKO: trying the mail of %zu messages once more", present.size());
    return present;
}

void copyToTargetFolders(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId,
                         STOREFOLDERID rootId, const RefsPtr& folders, std::vector<CopyPlace>* made,
                         const std::string& file) {
    com_ptr<IStoreFolder> source = openFolderOrRaise(store, inboxId);
    MESSAGEIDLIST ids = oneMessage(id);
    int copies = 0;
    for (int i = 0; i < refsCount(folders); ++i) {
        auto* folder = (*folders)[static_cast<std::size_t>(i)].as<NeuronOut>();
        if (!folder)
            continue;
        std::string name = trimText(folder->getName());
        if (name.empty())
            continue;
        STOREFOLDERID target = findOrCreateFolder(store, rootId, name, true);
        if (target == FOLDERID_INVALID)
            throw ComException(E_FAIL, formatString("cannot create folder '%s' in the root target "
                                                    "folder %u (does it exist?)",
                                                    name.c_str(), rootId));
        com_ptr<IStoreFolder> targetFolder = openFolderOrRaise(store, target);
        checkHr(source->CopyMoveMessages(targetFolder.get(), &ids, 0, 2, nullptr),
                formatString("copy inbox message %u into folder '%s'", id, name.c_str()));
        ++copies;
        if (made)
            made->push_back({name, MaildirFileName::withoutSyncUid(file)});
    }
    // Removing it now would leave the message nowhere.
    if (copies == 0 && refsCount(folders) > 0)
        throw ComException(E_FAIL, "every chosen folder has a blank name");
}

void removeFromInbox(IStoreNamespace* store, MESSAGEID id, STOREFOLDERID inboxId) {
    com_ptr<IStoreFolder> inbox = openFolderOrRaise(store, inboxId);
    MESSAGEIDLIST ids = oneMessage(id);
    checkHr(inbox->DeleteMessages(&ids, 0, nullptr),
            formatString("remove message %u from the inbox", id));
}

void setSorterClock(SorterClock clock) {
    sorterClock() = clock ? std::move(clock) : nowLocal;
}

STOREFOLDERID rootTargetFolderId(Net* net) {
    int id = toInt(net->getDestFolder(), -1);
    return static_cast<STOREFOLDERID>(id);
}

namespace {

// One message of a batch on its way.
struct BatchItem {
    std::size_t index; // in the caller's list
    MESSAGEID id;
    std::string file;
    SortDecision decision;
    CarriedOut done;
    bool journal = false; // a line is written for it
    bool grouped = false; // its copies and removal wait for the group commit
};

void fail(BatchItem& item, HRESULT hr, const std::string& failure) {
    if (item.done.failed())
        return; // the first failure says why
    item.done.result = FAILED(hr) ? hr : E_FAIL;
    item.done.failure = failure;
}

// The copies of every grouped item, one store call per target folder.
void copyGroup(IStoreNamespace* store, IStoreFolder* inbox, STOREFOLDERID root,
               std::vector<BatchItem*>& grouped) {
    std::vector<std::string> names; // in the order first chosen
    std::vector<std::vector<BatchItem*>> members;
    for (BatchItem* item : grouped) {
        bool any = false;
        for (int i = 0; i < refsCount(item->decision.chosen); ++i) {
            auto* folder = (*item->decision.chosen)[static_cast<std::size_t>(i)].as<NeuronOut>();
            std::string name = folder ? trimText(folder->getName()) : std::string();
            if (name.empty())
                continue;
            any = true;
            auto at = std::find(names.begin(), names.end(), name);
            if (at == names.end()) {
                names.push_back(name);
                members.emplace_back();
                at = names.end() - 1;
            }
            members[static_cast<std::size_t>(at - names.begin())].push_back(item);
        }
        // Removing it would leave the message nowhere.
        if (!any && refsCount(item->decision.chosen) > 0)
            fail(*item, E_FAIL, "every chosen folder has a blank name");
    }
    // The target folders are found (or made) one after another, then written at once:
    // the waits for their copies' fsyncs overlap. Results are taken in the order above.
    struct FolderCopy {
        std::string name;
        std::vector<BatchItem*> copied;
        std::vector<MESSAGEID> ids;
        com_ptr<IStoreFolder> folder;
        HRESULT hr = S_OK;
        std::string failure;
    };
    std::vector<FolderCopy> folders;
    for (std::size_t g = 0; g < names.size(); ++g) {
        FolderCopy copy;
        copy.name = names[g];
        for (BatchItem* item : members[g])
            if (!item->done.failed()) {
                copy.ids.push_back(item->id);
                copy.copied.push_back(item);
            }
        if (copy.ids.empty())
            continue;
        STOREFOLDERID target = FOLDERID_INVALID;
        try {
            target = findOrCreateFolder(store, root, copy.name, true);
            if (target != FOLDERID_INVALID)
                copy.folder = openFolder(store, target);
        } catch (const ComException& e) {
            for (BatchItem* item : copy.copied)
                fail(*item, e.hr(), e.what());
            continue;
        }
        if (target == FOLDERID_INVALID) {
            copy.hr = E_FAIL;
            copy.failure = formatString("cannot create folder '%s' in the root target folder %u "
                                        "(does it exist?)",
                                        copy.name.c_str(), root);
        } else if (!copy.folder) {
            copy.hr = E_FAIL;
            copy.failure = formatString("cannot open folder %u", target);
        }
        folders.push_back(std::move(copy));
    }
    std::vector<std::thread> writers;
    for (FolderCopy& copy : folders) {
        if (FAILED(copy.hr))
            continue;
        writers.emplace_back([&copy, inbox] {
            MESSAGEIDLIST list;
            list.cMsgs = static_cast<std::uint32_t>(copy.ids.size());
            list.prgdwMsgId = copy.ids.data();
            copy.hr = inbox->CopyMoveMessages(copy.folder.get(), &list, 0, 2, nullptr);
            if (FAILED(copy.hr))
                copy.failure = formatString("copy %zu inbox messages into folder '%s'",
                                            copy.ids.size(), copy.name.c_str());
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    for (const FolderCopy& copy : folders) {
        for (BatchItem* item : copy.copied) {
            if (FAILED(copy.hr))
                fail(*item, copy.hr, ComException(copy.hr, copy.failure).what());
            else
                item->done.copies.push_back(
                    {copy.name, MaildirFileName::withoutSyncUid(item->file)});
        }
    }
}

// What reading one message of a batch found: the store's record of it, the parsed message
// and its input vector, or the failure to raise where the message is decided.
struct BatchReading {
    HRESULT read = S_OK; // of the record
    SortDecision known;  // the store's subject and sender; the message's own sender and
                         // Message-ID where the parsed message is not kept
    std::string file;
    com_ptr<IMimeMessage> message; // kept only where deciding needs more than those
    DoublePtr inputs;
    std::exception_ptr failure;
};

bool keepsMessages(Net* net) {
    return net->getJobVariant() != 1;
}

// Reads, parses and matches the messages on every processor, the most costly part of
// sorting them. Each worker parses with MIME objects and an HTML document of its own and
// matches in its own space (the store and the pattern set are thread-safe); the readings
// come back in the order of ids, the same whatever the number of threads. The network
// itself runs later, on the calling thread.
// keepMessages: whether the job variant needs the parsed messages to decide (forwarding and
// answering do; moving does not, and dropping them keeps a batch and the one read ahead
// from holding hundreds of parsed messages at once).
std::vector<BatchReading> readBatch(IStoreFolder* inbox, Net* net,
                                    const std::vector<MESSAGEID>& ids, bool keepMessages) {
    std::vector<BatchReading> readings(ids.size());
    parallelFor(ids.size(), 0, [&](std::size_t i, std::size_t) {
        BatchReading& reading = readings[i];
        try {
            reading.read = readRecord(inbox, ids[i], reading.known, reading.file);
            if (FAILED(reading.read))
                return;
            checkHr(inbox->OpenMessage(ids[i], reading.message.out()),
                    formatString("open inbox message %u", ids[i]));
            reading.inputs = messageInputs(net, reading.message.get(), reading.known.subject);
            if (!keepMessages) {
                reading.known.from = headerText(reading.message.get(), PID_HDR_FROM);
                reading.known.messageId = firstMessageId(reading.message.get());
                reading.message.reset();
            }
        } catch (...) {
            reading.failure = std::current_exception();
        }
    });
    return readings;
}

} // namespace

namespace {

// One message is sorted at once, the way it always was; so is everything while the sorter
// is idle (nothing to copy).
bool oneByOne(const SorterContext& context, const std::vector<MESSAGEID>& ids) {
    return ids.size() <= 1 || idleDecision(context.net);
}

// processNewMessages past oneByOne. read: the readings of every id, made ahead, or null;
// ahead (when set) runs on a thread of its own while the batch is committed.
std::vector<std::string> processBatch(const SorterContext& context,
                                      const std::vector<MESSAGEID>& ids,
                                      std::vector<BatchReading>* read,
                                      const std::function<void()>& ahead) {
    std::vector<std::string> failures(ids.size());
    IStoreNamespace* store = context.store;
    Net* net = context.net;
    bool keep = keepsMessages(net); // asked once a batch: it reads the settings
    std::vector<BatchItem> items;
    std::vector<std::size_t> lookedAt;
    com_ptr<IStoreFolder> inbox = openInbox(store);
    STOREFOLDERID inboxId = inbox ? folderIdOf(inbox.get()) : FOLDERID_INVALID;
    bool logged = debugLogWanted(); // as in onStoreNotify
    std::vector<MESSAGEID> toRead;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        MESSAGEID id = ids[i];
        if (logged)
            debugLog("message arrived: msg %d wp %d lp %d mid %d muid '%s'",
                     static_cast<int>(WM_NEWMSGS), static_cast<int>(id), 0, static_cast<int>(id),
                     messageUid(context.inbox, id).c_str());
        if (context.mark && !context.mark->takes(id)) {
            debugLog("ZELKO: message %u was sorted at start already", static_cast<unsigned>(id));
            continue;
        }
        lookedAt.push_back(i);
        toRead.push_back(id);
    }
    std::vector<BatchReading> readings;
    if (!read)
        readings = inbox ? readBatch(inbox.get(), net, toRead, keep)
                         : std::vector<BatchReading>(toRead.size());
    for (std::size_t n = 0; n < toRead.size(); ++n) {
        std::size_t i = lookedAt[n];
        MESSAGEID id = ids[i];
        BatchReading& reading = read ? (*read)[i] : readings[n];
        BatchItem item{i, id, std::move(reading.file), std::move(reading.known), {}};
        try {
            if (!inbox)
                throw ComException(E_FAIL, "no inbox in the mail store");
            checkHr(reading.read, formatString("read the headers of inbox message %u", id));
            if (movedBackByUndo(context.journal, item.file, item.decision.subject))
                continue;
            if (reading.failure)
                std::rethrow_exception(reading.failure);
            if (!reading.message && keep)
                checkHr(inbox->OpenMessage(id, reading.message.out()),
                        formatString("open inbox message %u", id));
            if (std::optional<SortDecision> idle = idleDecision(net)) {
                std::string messageId = reading.message ? firstMessageId(reading.message.get())
                                                        : item.decision.messageId;
                item.decision = *idle;
                item.decision.messageId = messageId;
            } else if (reading.message)
                item.decision = decideOnMessage(net, reading.message.get(), item.decision.subject,
                                                reading.inputs);
            else
                item.decision = decideOnMessage(net, nullptr, item.decision, reading.inputs);
            const SortDecision& decision = item.decision;
            item.journal = decision.action != SortDecision::Action::Leave ||
                           !leftBefore(context.leftBefore, decision.messageId);
            if (decision.copy && decision.remove && !decision.forward && !decision.answer) {
                item.grouped = true;
            } else if (decision.action != SortDecision::Action::Leave) {
                STOREFOLDERID root = decision.copy ? rootTargetFolderId(net) : FOLDERID_INVALID;
                item.done = carryOut(store, inboxId, id, item.file, decision, reading.message.get(),
                                     root, SendingFor{context.record, id});
            }
        } catch (const ComException& e) {
            item.journal = true;
            fail(item, e.hr(), e.what());
        }
        reading.message.reset(); // a batch holds no more parsed messages than it must
        items.push_back(std::move(item));
    }

    // The commit mostly waits for the disk: the next batch is read meanwhile.
    std::jthread reader;
    if (ahead)
        reader = std::jthread(ahead);
    std::vector<BatchItem*> grouped;
    for (BatchItem& item : items)
        if (item.grouped && !item.done.failed())
            grouped.push_back(&item);
    if (!grouped.empty()) {
        STOREFOLDERID root = rootTargetFolderId(net);
        copyGroup(store, inbox.get(), root, grouped);
        // Only now, with every copy of the batch on disk, do the originals go.
        std::vector<MESSAGEID> removable;
        std::vector<BatchItem*> removed;
        for (BatchItem* item : grouped)
            if (!item->done.failed()) {
                removable.push_back(item->id);
                removed.push_back(item);
            }
        if (!removable.empty()) {
            MESSAGEIDLIST list;
            list.cMsgs = static_cast<std::uint32_t>(removable.size());
            list.prgdwMsgId = removable.data();
            HRESULT hr = inbox->DeleteMessages(&list, 0, nullptr);
            for (BatchItem* item : removed) {
                // After a failure, what is still listed in the inbox was not removed.
                MESSAGEPROPS props;
                bool still = FAILED(hr) && SUCCEEDED(inbox->GetMessageProps(item->id, 0, &props));
                if (still) {
                    inbox->FreeMessageProps(&props);
                    fail(
                        *item, hr,
                        ComException(hr, formatString("remove message %u from the inbox", item->id))
                            .what());
                } else {
                    item->done.removed = true;
                }
            }
        }
    }

    if (context.journal) {
        std::vector<Journal::Entry> entries;
        for (const BatchItem& item : items)
            if (item.journal)
                entries.push_back(Journal::Entry::of(item.decision, item.done));
        std::string error;
        if (!entries.empty() && !context.journal->append(entries, error))
            warningLog("ZELKO: cannot write the journal: %s", error.c_str());
    }
    for (const BatchItem& item : items) {
        if (!item.done.failed())
            continue;
        ComException e(item.done.result, item.done.failure);
        showComError(e, "Sorting a new message");
        failures[item.index] = comErrorText(e);
    }
    if (context.mark)
        for (std::size_t i : lookedAt)
            context.mark->lookedAt(ids[i]);
    return failures;
}

} // namespace

std::vector<std::string> processNewMessages(const SorterContext& context,
                                            const std::vector<MESSAGEID>& ids) {
    if (!oneByOne(context, ids))
        return processBatch(context, ids, nullptr, {});
    std::vector<std::string> failures(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i)
        failures[i] = onStoreNotify(context, WM_NEWMSGS, ids[i], 0);
    return failures;
}

std::vector<std::string> processNewMessagesInBatches(const SorterContext& context,
                                                     const std::vector<MESSAGEID>& ids,
                                                     const std::function<bool()>& beforeBatch) {
    std::vector<std::string> failures;
    std::vector<std::vector<MESSAGEID>> batches;
    for (std::size_t at = 0; at < ids.size(); at += maxSortBatch)
        batches.emplace_back(
            ids.begin() + static_cast<std::ptrdiff_t>(at),
            ids.begin() + static_cast<std::ptrdiff_t>(std::min(ids.size(), at + maxSortBatch)));
    std::vector<BatchReading> read; // the readings of the batch at hand, made ahead
    bool readAhead = false;
    for (std::size_t b = 0; b < batches.size(); ++b) {
        // A net loaded again matches otherwise: what was read with the old one is dropped.
        if (beforeBatch && beforeBatch())
            readAhead = false;
        std::vector<std::string> done;
        if (oneByOne(context, batches[b])) {
            done = processNewMessages(context, batches[b]);
            readAhead = false;
        } else {
            std::vector<BatchReading> current = std::move(read);
            bool given = readAhead;
            readAhead = false;
            std::function<void()> ahead;
            com_ptr<IStoreFolder> inbox = openInbox(context.store);
            if (inbox && b + 1 < batches.size() && batches[b + 1].size() > 1)
                ahead = [&, next = &batches[b + 1], folder = inbox.get(),
                         keep = keepsMessages(context.net)] {
                    read = readBatch(folder, context.net, *next, keep);
                    readAhead = true;
                };
            done = processBatch(context, batches[b], given ? &current : nullptr, ahead);
        }
        for (std::string& failure : done)
            failures.push_back(std::move(failure));
    }
    return failures;
}

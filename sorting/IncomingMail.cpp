#include "sorting/IncomingMail.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirFileName.h"
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
    std::string uid = message == WM_NEWMSGS ? messageUid(context.inbox, id) : std::string();
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
        processNewMessage(context.store, context.net, id, context.record, context.journal);
    } catch (const ComException& e) {
        showComError(e, "inbox notify");
        failure = comErrorText(e, "inbox notify");
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
        left.reason = "the net is not learned";
        return left;
    }
    return std::nullopt;
}

namespace {

// decide without the idle rules, which the caller has applied.
SortDecision decideOnMessage(Net* net, IMimeMessage* message, const std::string& subject) {
    SortDecision decision;
    decision.subject = subject;
    decision.from = headerText(message, PID_HDR_FROM);
    decision.messageId = firstMessageId(message);

    std::string text = messageText(message);
    MatchBudget budget(subject);
    Classification result = net->classification(text, budget);
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
    return decideOnMessage(net, message, subject);
}

CarriedOut carryOut(IStoreNamespace* store, STOREFOLDERID inboxId, MESSAGEID id,
                    const std::string& file, const SortDecision& decision, IMimeMessage* message,
                    STOREFOLDERID rootFolder, const SendingFor& sending) {
    CarriedOut done;
    try {
        if (decision.copy)
            copyToTargetFolders(store, id, inboxId, rootFolder, decision.chosen, &done.copies,
                                file);
        bool givenUp = false;
        if (decision.forward)
            givenUp = !forwardMessage(message, decision.replyAddress, decision.chosen, sending);
        else if (decision.answer)
            givenUp = !replyToMessage(message, decision.replyAddress, decision.chosen, sending);
        if (decision.remove && !givenUp) {
            removeFromInbox(store, id, inboxId);
            done.removed = true;
        }
        // A mail given up after its retry leaves the message in the inbox: that is a
        // failure the person must hear of, not a message sorted.
        if (givenUp) {
            done.result = E_FAIL;
            done.failure = "the mail for message '" + decision.subject +
                           "' could not be sent and is given up; the message stays in the "
                           "inbox";
        }
    } catch (const ComException& e) {
        done.result = e.hr();
        done.failure = e.what();
    }
    return done;
}

namespace {

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
                       Journal* journal) {
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

        MESSAGEPROPS props;
        HRESULT read = inbox->GetMessageProps(id, 0, &props);
        known.subject = props.pszSubject;
        known.from = props.pszDisplayFrom;
        std::string file = props.fileName;
        inbox->FreeMessageProps(&props);
        if (idle) {
            // Left alone whatever it is: a message that cannot be read is no error here.
            idle->subject = known.subject;
            idle->from = known.from;
            writeJournal(journal, *idle, {});
            return;
        }
        checkHr(read, formatString("read the headers of inbox message %u", id));
        if (journal && journal->movedBack(file)) {
            debugLog("ZELKO: message '%s' was moved back into the inbox by undo, leaving it",
                     known.subject.c_str());
            return;
        }

        com_ptr<IMimeMessage> message;
        checkHr(inbox->OpenMessage(id, message.out()), formatString("open inbox message %u", id));
        SortDecision decision = decideOnMessage(net, message.get(), known.subject);
        known = decision;
        if (decision.action == SortDecision::Action::Leave) {
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

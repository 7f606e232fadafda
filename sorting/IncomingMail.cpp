#include "sorting/IncomingMail.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/NeuronOut.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "sorting/InboxMark.h"
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
        processNewMessage(context.store, context.net, id, context.record);
    } catch (const ComException& e) {
        showComError(e, "inbox notify");
        failure = comErrorText(e, "inbox notify");
    }
    if (context.mark)
        context.mark->lookedAt(id);
    return failure;
}

void processNewMessage(IStoreNamespace* store, Net* net, MESSAGEID id, SentMailRecord* record) {
    if (net->getEnabled() == 0) {
        debugLog("ZELKO: not enabled");
        return;
    }
    if (net->getEnabledPeriod() != 0) {
        DateTime now = wholeSeconds(sorterClock()());
        if (now < net->getPeriodFrom() || now > net->getPeriodTo()) {
            debugLog("ZELKO: enabled only in period");
            return;
        }
    }
    if (!net->isLearned()) {
        debugLog("ZELKO: net is not learned");
        return;
    }
    com_ptr<IStoreFolder> inbox = openInbox(store);
    if (!inbox)
        throw ComException(E_FAIL, "no inbox in the mail store");

    MESSAGEPROPS props;
    checkHr(inbox->GetMessageProps(id, 0, &props),
            formatString("read the headers of inbox message %u", id));
    std::string subject = props.pszSubject;
    inbox->FreeMessageProps(&props);

    com_ptr<IMimeMessage> message;
    checkHr(inbox->OpenMessage(id, message.out()), formatString("open inbox message %u", id));
    std::string text = messageText(message.get());
    MatchBudget budget(subject);
    Classification result = net->classification(text, budget);
    if (result.hasResult() && !result.hasEvidence()) {
        debugLog("ZELKO: no stimulation matches '%s', leaving it in the inbox", subject.c_str());
        return;
    }
    RefsPtr chosen = net->chosenFolders(result, net->getThreshold());
    if (refsCount(chosen) == 0) {
        debugLog("Message '%s' was not clasified to any category, so leaving it...",
                 subject.c_str());
        return;
    }

    STOREFOLDERID inboxId = folderIdOf(inbox.get());
    int variant = net->getJobVariant();
    debugLog("ZELKO: jobvariant %d", variant);
    if (variant == 1) {
        copyToTargetFolders(store, id, inboxId, rootTargetFolderId(net), chosen);
        removeFromInbox(store, id, inboxId);
        return;
    }
    if (variant != 2 && variant != 3) {
        debugLog("ZELKO: unknown jobvariant %d", variant);
        return;
    }
    std::string from = net->getFrom();
    if (from.empty()) {
        debugLog("ZELKO: 'from' is not set");
        return;
    }
    SendingFor sending{record, id};
    bool handled = true;
    bool givenUp = false;
    if (variant == 2) {
        if (net->getStoreMail() != 0)
            copyToTargetFolders(store, id, inboxId, rootTargetFolderId(net), chosen);
        if (sentByReplyAddress(message.get(), from)) {
            // Our own forward come back (a folder's persons include the reply address):
            // forwarding it again would go round for ever. Without a kept copy it stays.
            debugLog("ZELKO: not forwarding message '%s': it was sent by the reply address "
                     "itself",
                     subject.c_str());
            handled = net->getStoreMail() != 0;
        } else {
            handled = forwardMessage(message.get(), from, chosen, sending);
            givenUp = !handled;
        }
    } else {
        copyToTargetFolders(store, id, inboxId, rootTargetFolderId(net), chosen);
        std::string reason = automaticMessageReason(message.get(), from);
        AnswerRecipient recipient;
        if (reason.empty())
            recipient = answerRecipient(message.get(), from);
        if (!reason.empty())
            debugLog("ZELKO: not answering automatic message '%s' (%s)", subject.c_str(),
                     reason.c_str());
        else if (!recipient.refusal.empty())
            debugLog("ZELKO: not answering message '%s': %s", subject.c_str(),
                     recipient.refusal.c_str());
        else {
            handled = replyToMessage(message.get(), from, chosen, sending);
            givenUp = !handled;
        }
    }
    if (handled)
        removeFromInbox(store, id, inboxId);
    // A mail given up after its retry leaves the message in the inbox: that is a failure
    // the person must hear of, not a message sorted.
    if (givenUp)
        throw ComException(E_FAIL, "the mail for message '" + subject +
                                       "' could not be sent and is given up; the message "
                                       "stays in the inbox");
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
                         STOREFOLDERID rootId, const RefsPtr& folders) {
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

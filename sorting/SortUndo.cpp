#include "sorting/SortUndo.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/Text.h"
#include "platform/maildir/MaildirFileName.h"
#include "mail/StoreAccess.h"

#include <algorithm>
#include <ctime>

namespace {

MESSAGEIDLIST oneMessage(MESSAGEID& id) {
    MESSAGEIDLIST list;
    list.cMsgs = 1;
    list.prgdwMsgId = &id;
    return list;
}

bool mailSent(const Journal::Entry& entry) {
    return (entry.action == "forwarded" || entry.action == "answered") && !entry.recipients.empty();
}

} // namespace

SortUndo::SortUndo(IStoreNamespace* store, STOREFOLDERID rootFolder, Journal& journal)
    : store(store), root(rootFolder), journal(journal) {}

bool SortUndo::undoable(const Journal::Entry& entry) {
    return entry.action != "undone" && !entry.copies.empty();
}

MESSAGEID SortUndo::findByBase(IStoreFolder* folder, const std::string& base) {
    MESSAGEID found = 0;
    HRESULT hr = forEachMessage(folder, MESSAGEID_FIRST, [&](const MESSAGEPROPS& props) {
        if (!found && MaildirFileName::baseName(props.fileName) == base)
            found = props.dwMessageId;
    });
    checkHr(hr, "list a folder");
    return found;
}

std::set<std::string> SortUndo::bases(IStoreFolder* folder) {
    std::set<std::string> found;
    checkHr(forEachMessage(folder, MESSAGEID_FIRST,
                           [&found](const MESSAGEPROPS& props) {
                               found.insert(MaildirFileName::baseName(props.fileName));
                           }),
            "list the inbox");
    return found;
}

std::vector<SortUndo::Result> SortUndo::undo(const std::vector<Journal::Entry>& entries) {
    std::vector<Result> results;
    for (const Journal::Entry& entry : entries) {
        results.push_back(undoOne(entry));
        if (results.back().unjournaled)
            break;
    }
    return results;
}

SortUndo::Result SortUndo::undoOne(const Journal::Entry& entry) {
    Result result;
    result.entry = entry;
    result.mailSent = mailSent(entry);
    std::string unsent =
        result.mailSent
            ? "; the mail sent to " + joinTexts(entry.recipients, ", ") + " cannot be unsent"
            : "";
    if (!undoable(entry)) {
        result.outcome = Outcome::NothingToUndo;
        result.text = (entry.copies.empty() && entry.action != "undone"
                           ? std::string("no copy was made, nothing to move back")
                           : std::string("nothing to undo")) +
                      unsent;
        return result;
    }
    bool acting = false, copiedBack = false;
    try {
        com_ptr<IStoreFolder> inbox = openInbox(store);
        if (!inbox)
            throw ComException(E_FAIL, "open the inbox of the mail store");
        std::string base = MaildirFileName::baseName(entry.copies.front().file);
        struct Found {
            com_ptr<IStoreFolder> handle;
            MESSAGEID id;
            std::string folder;
            std::string file;
        };
        std::vector<Found> present;
        for (const Journal::Copy& copy : entry.copies) {
            // Two chosen folders of one name made one copy.
            bool seen = std::any_of(present.begin(), present.end(), [&copy](const Found& found) {
                return found.folder == copy.folder;
            });
            if (MaildirFileName::baseName(copy.file) != base || copy.folder.empty() || seen)
                continue;
            STOREFOLDERID folderId = findOrCreateFolder(store, root, copy.folder, false);
            if (folderId == FOLDERID_INVALID)
                continue;
            com_ptr<IStoreFolder> folder = openFolder(store, folderId);
            if (!folder)
                continue;
            MESSAGEID id = findByBase(folder.get(), base);
            if (id)
                present.push_back({folder, id, copy.folder, copy.file});
        }
        if (present.empty()) {
            result.outcome = Outcome::NotFound;
            result.text = "no copy is where it was put any more, nothing moved" + unsent;
            return result;
        }
        std::set<std::string> inInboxNow = bases(inbox.get());
        bool inInbox = inInboxNow.count(base) > 0;
        std::vector<std::string> from;
        for (const Found& copy : present)
            from.push_back(copy.folder);
        std::string error;
        // Listed before the message reappears: a running sorter that sees it arrive must
        // leave it in the inbox.
        if (!journal.recordMovedBack(base, inInboxNow, error)) {
            result.outcome = Outcome::Failed;
            result.text = error + "; nothing was moved";
            return result;
        }
        acting = true;
        if (!inInbox) {
            // Into the inbox first (on disk when it returns), then the copies go: a crash
            // in between leaves it twice, never nowhere.
            MESSAGEID id = present.front().id;
            MESSAGEIDLIST ids = oneMessage(id);
            checkHr(present.front().handle->CopyMoveMessages(inbox.get(), &ids, 0, 2, nullptr),
                    "copy the message back into the inbox");
            copiedBack = true;
        }
        for (Found& copy : present) {
            MESSAGEIDLIST ids = oneMessage(copy.id);
            checkHr(copy.handle->DeleteMessages(&ids, 0, nullptr),
                    "remove the copy in folder '" + copy.folder + "'");
            ++result.copiesRemoved;
        }
        Journal::Entry undone;
        undone.time = Journal::formatTime(std::time(nullptr));
        undone.messageId = entry.messageId;
        undone.subject = entry.subject;
        undone.from = entry.from;
        undone.action = "undone";
        undone.reason = (inInbox ? "already in the inbox; copies removed from "
                                 : "moved back to the inbox from ") +
                        joinTexts(from, ", ");
        undone.copies.push_back({"", MaildirFileName::withoutSyncUid(present.front().file)});
        result.outcome = inInbox ? Outcome::AlreadyInInbox : Outcome::MovedBack;
        result.text = undone.reason + unsent;
        if (!journal.append(undone, error)) {
            result.outcome = Outcome::Failed;
            result.unjournaled = true;
            result.text +=
                "; but the journal cannot be written (" + error + "), so undo stops here";
        }
    } catch (const ComException& e) {
        result.outcome = Outcome::Failed;
        std::string why = e.hr() == E_FAIL ? std::string() : ": " + resultText(e.hr());
        result.text = std::string(copiedBack ? "moved back into the inbox, but " : "") + "cannot " +
                      e.what() + why + (acting ? "; undo it again to finish" : "");
    }
    return result;
}

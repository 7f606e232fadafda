#pragma once

#include "platform/Store.h"
#include "sorting/Journal.h"

#include <set>
#include <string>
#include <vector>

// Takes back what the sorter did with a message, from its journal line: the message goes
// back into the inbox, once, and every other copy the decision made is removed, so
// nothing is left twice. Only copies still where the journal says are touched; when the
// inbox already holds the message, its copies are removed and nothing is moved. Mail the
// sorter forwarded or answered cannot be unsent: the result says so. Without windows, so
// the command-line tool and the tray program's window share it.
//
// The "undone" line is journaled after the work is done, and only when it is all done: an
// undo that failed half way (a folder copy that could not be removed) leaves the decision
// open, and the next undo of it finishes the work. The message is listed as moved back
// (Journal::recordMovedBack) before it reappears in the inbox, so a running sorter leaves it.
class SortUndo {
public:
    enum class Outcome {
        MovedBack,      // back in the inbox, the copies gone
        AlreadyInInbox, // the inbox held it: only its copies were removed
        NotFound,       // no copy is where the journal says any more
        NothingToUndo,  // the decision left the message in the inbox, or kept no copy
        Failed,         // the store failed; what was done before stays done
    };
    struct Result {
        Journal::Entry entry; // the decision taken back
        Outcome outcome = Outcome::NothingToUndo;
        int copiesRemoved = 0;
        bool mailSent = false; // forwarded or answered: that mail cannot be unsent
        // The work was done but the journal could not tell it: no further undo is tried,
        // for the journal would not know of it either.
        bool unjournaled = false;
        std::string text; // one line for a person
    };

    // rootFolder: the root target folder the journal's folder names lie below; journal:
    // where each message moved back is recorded (an "undone" line), so the sorters leave
    // it in the inbox.
    SortUndo(IStoreNamespace* store, STOREFOLDERID rootFolder, Journal& journal);

    // Takes back each decision in turn, oldest first; stops after one that could not be
    // journaled (the results end there).
    std::vector<Result> undo(const std::vector<Journal::Entry>& entries);

    // Whether the journal line is a decision undo can take back (mail moved out of the
    // inbox, or copies left by a failure).
    static bool undoable(const Journal::Entry& entry);

private:
    Result undoOne(const Journal::Entry& entry);
    // The id of the message whose file has this unique base, in the folder; 0 if none.
    MESSAGEID findByBase(IStoreFolder* folder, const std::string& base);
    // The unique bases of the folder's messages.
    std::set<std::string> bases(IStoreFolder* folder);

    IStoreNamespace* store;
    STOREFOLDERID root;
    Journal& journal;
};

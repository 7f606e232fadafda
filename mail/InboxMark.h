#pragma once

#include "platform/Store.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The newest inbox message id a sorter has looked at, kept across runs, so that mail
// that arrived while no sorter ran is sorted at the next start. The store gives ids in
// the order it first sees messages and never gives one twice, so every message above
// the mark arrived after the sorter last looked.
//
// The state file holds one line per store, "<id> <store root>" (the root as a full
// path), and is replaced whole (written beside it, synced, renamed), so a crash leaves
// the old or the new marks, never a torn file. Only one sorter runs at a time (the
// single-instance lock), so there is one writer.
class InboxMark {
public:
    // storeRoot names the store (resolved to its real path, so two spellings of one
    // store share their mark). Nothing is read or written yet.
    InboxMark(std::string stateFile, const std::string& storeRoot);

    // At start, after the inbox's notifications are registered: the ids to sort before
    // any notification, ascending. On the very first start for this store (no mark)
    // none: what is in the inbox already is the person's, and its newest id becomes the
    // mark.
    std::vector<MESSAGEID> catchUp(IStoreFolder* inbox);
    // Whether a new message is still to be sorted: false only for a message the catch-up
    // has handed out already, whose notification may follow (it arrived while the
    // catch-up listed the inbox).
    bool takes(MESSAGEID id);
    // Raises the mark to id (a lower id changes nothing) and stores it; a state file that
    // cannot be written is logged and the run goes on (the next start sorts again what
    // is still in the inbox above the stored mark).
    void lookedAt(MESSAGEID id);

    // The mark stored for this store; none when the file holds none (or is unreadable).
    std::optional<MESSAGEID> stored() const;

private:
    std::map<std::string, MESSAGEID> readMarks() const;
    void store(MESSAGEID id);

    std::string file;
    std::string root;
    std::optional<MESSAGEID> mark;
    bool loaded = false;         // mark holds what the file held
    std::set<MESSAGEID> pending; // handed out by the catch-up, not yet taken
    std::set<MESSAGEID> taken;   // taken from the catch-up; their notifications are dropped
};

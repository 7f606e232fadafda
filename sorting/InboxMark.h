#pragma once

#include "platform/Store.h"

class Journal;

#include <chrono>
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
//
// The stored mark may lag behind, never run ahead: a message above it that is still in
// the inbox is only looked at again at the next start (sorted messages have left the
// inbox, and copying is idempotent). So the file is written at most once a second while
// messages keep coming (a synced write per message would cost more than the sorting),
// and at the end (flush, or the destructor).
class InboxMark {
public:
    // storeRoot names the store (resolved to its real path, so two spellings of one
    // store share their mark). Nothing is read or written yet.
    InboxMark(std::string stateFile, const std::string& storeRoot);
    ~InboxMark();
    InboxMark(const InboxMark&) = delete;
    InboxMark& operator=(const InboxMark&) = delete;

    // At start, after the inbox's notifications are registered: the ids to sort before
    // any notification, ascending. On the very first start for this store (no mark)
    // none: what is in the inbox already is the person's, and its newest id becomes the
    // mark. A state file that is damaged (unreadable, a folder, empty, a line that is no
    // mark) is said on standard error, and then the inbox messages whose files are not
    // older than the journal's newest line are sorted: they came after a sorter last did
    // something (without a journal line, it is a first start).
    std::vector<MESSAGEID> catchUp(IStoreFolder* inbox, const Journal* journal = nullptr);
    // Whether a new message is still to be sorted: false only for a message the catch-up
    // has handed out already, whose notification may follow (it arrived while the
    // catch-up listed the inbox).
    bool takes(MESSAGEID id);
    // Raises the mark to id (a lower id changes nothing); stores it when the last write
    // is a second old. A state file that cannot be written is logged and the run goes on.
    void lookedAt(MESSAGEID id);
    // Whether the mark is ahead of the file: flush within a second or so.
    bool unsaved() const { return dirty; }
    // Stores the mark when it is ahead of the file.
    void flush();

    // The mark stored for this store; none when the file holds none (or cannot be read:
    // then it is not written either, and every start counts as the first).
    std::optional<MESSAGEID> stored() const;

private:
    // Every store's mark; none when the file exists but cannot be read. damaged: set when
    // the file cannot be read, is empty or holds a line that is no mark.
    std::optional<std::map<std::string, MESSAGEID>> readMarks(bool* damaged = nullptr) const;
    // The catch-up without a mark to go by; none when the journal tells of no sorting.
    std::optional<std::vector<MESSAGEID>> catchUpByJournal(IStoreFolder* inbox,
                                                           const Journal* journal);
    void store(MESSAGEID id);

    std::string file;
    std::string root;
    std::optional<MESSAGEID> mark;
    bool loaded = false; // mark holds what the file held
    bool dirty = false;  // mark is ahead of the file
    std::chrono::steady_clock::time_point lastWrite{};
    std::set<MESSAGEID> pending; // handed out by the catch-up, not yet taken
    std::set<MESSAGEID> taken;   // taken from the catch-up; their notifications are dropped
};

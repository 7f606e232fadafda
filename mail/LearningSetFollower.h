#pragma once

#include "util/Ref.h"
#include "platform/Store.h"
#include "core/FileData.h"
#include "core/Net.h"

#include <cstdint>
#include <optional>
#include <vector>

// Keeps a net's learning set in step with what the store announces of its learning
// folder: a new message becomes an entry at the end, a removed message's entry goes, and
// the removal of the folder itself is handed to the owner (who chooses the next learning
// folder). While a learning run reads the learning set the announcements are held back
// and handed over afterwards, in the order they came. No windows here: the configuration
// window shows what each announcement changed.
class LearningSetFollower {
public:
    // One store notification with the id it names, read when it was posted: the store
    // keeps a pointed-to id only for a while.
    struct Notification {
        std::uint32_t message = 0; // WM_NEWMSGS, WM_DELETEMSGS, WM_DELETEFOLDER, ...
        std::uint32_t id = 0;      // the message or folder it names
    };
    // What one notification did to the learning set.
    struct Change {
        enum Kind { Nothing, Added, Removed, FolderRemoved };
        Kind kind = Nothing;
        ref_ptr<FileData> entry; // Added: the new entry; Removed: the entry that went
    };

    // A notification as the store posts it (INotifySink::post); none for a removal that
    // names no id.
    static std::optional<Notification> read(std::uint32_t message, std::uintptr_t wParam);

    // The net whose learning set follows (may be null: nothing changes).
    void follow(const ref_ptr<Net>& net) { followed = net; }

    // Applies the notification now, or keeps it for later while held back. A new message
    // the store cannot read adds nothing; its failure is shown (showComError, "Reading a new
    // learning message").
    Change receive(const Notification& notification);
    // From now on notifications wait (a learning run reads the learning set).
    void holdBack() { holding = true; }
    // Ends the waiting and hands over what waited, in order, for the caller to receive one
    // by one (a folder removal changes the learning folder for the ones after it).
    std::vector<Notification> release();
    int heldCount() const { return static_cast<int>(held.size()); }
    bool holdingBack() const { return holding; }

private:
    Change apply(const Notification& notification);

    ref_ptr<Net> followed;
    std::vector<Notification> held;
    bool holding = false;
};

#pragma once

#include "util/Refs.h"

#include <string>
#include <vector>

// What the sorter decided for one arriving message, before anything is done to it: a
// plain value the sorter carries out, a dry run prints and the journal records. Deciding
// reads the message and the net only; carrying out makes the copies, sends the mail and
// removes the message from the inbox.
struct SortDecision {
    enum class Action {
        Leave,   // the message stays in the inbox untouched (reason says why)
        Move,    // copied into the chosen folders, removed from the inbox
        Forward, // forwarded to the chosen folders' persons (copies when kept), removed
        Answer,  // copied, the sender answered, removed
    };
    struct Folder {
        std::string name; // trimmed: the name of the target folder
        double percent = 0;
    };

    Action action = Action::Leave;
    // Why the message stays, or (moving on) why no mail is sent; empty otherwise.
    std::string reason;

    // What the message is, as the journal and a dry run show it.
    std::string subject;   // from the store's record
    std::string from;      // the From header, decoded
    std::string messageId; // the Message-ID header, trimmed

    // The chosen folders (NeuronOut, network order) and the same as names and
    // percentages; blank names included, as the copying skips them.
    RefsPtr chosen;
    std::vector<Folder> folders;

    // What carrying it out does, in this order.
    bool copy = false;        // into every chosen folder below the root target folder
    bool forward = false;     // one mail per chosen folder with addresses
    bool answer = false;      // one mail to recipients[0]
    std::string replyAddress; // the sender of that mail
    // Forward: each chosen folder's addresses (";" between), folders without any left
    // out; answer: the one address.
    std::vector<std::string> recipients;
    bool remove = false; // the message leaves the inbox

    // "left", "moved", "forwarded", "answered": the action's name in the journal and in
    // the programs' listings.
    static const char* actionName(Action action);
};

#pragma once

#include "util/DateTime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the classifier knows of one message of a folder: its id and what the learning set
// shows of it.
struct MessageSummary {
    std::string id;      // decimal text ("%ld" of the store's id)
    std::string subject; // empty when the message has none
    std::string from;    // the sender's display name, else the address
    FILETIME received{};
};

// Where the net's learning messages come from: the folders of the mail store (the mail
// layer implements this over the store), or texts held in memory. Folders and messages are
// named by their ids as decimal text, as the net file stores them. Failures of the store
// raise ComException where a function says so; everything else answers empty.
class MessageSource {
public:
    virtual ~MessageSource() = default;

    // One summary per message of the folder, in store order; empty when the text names
    // no folder or the folder cannot be opened.
    virtual std::vector<MessageSummary> listFolder(const std::string& folder) const = 0;
    // The summary of one message of the folder; none when the folder or the message
    // cannot be read.
    virtual std::optional<MessageSummary> findMessage(const std::string& folder,
                                                      std::uint32_t messageId) const = 0;
    // The text the classifier reads of that message. The empty text, at once, when
    // either text names no id; a folder or message that cannot be read raises.
    // With `fields` (HeaderField keys) not empty, the text carries those header fields'
    // texts attached (HeaderField::attach); a source without header fields gives the body.
    virtual std::string messageText(const std::string& folder, const std::string& message,
                                    const std::vector<std::string>& fields) const = 0;
    // messageText in two steps, for reading many messages on several threads: this call,
    // on the calling thread, takes from the source what only one thread may touch; the
    // maker it returns gives the text (or raises) on any thread, one maker per thread at
    // a time. A maker that raised can be followed by messageText, which shows where the
    // message is now. This one makes the text here and now.
    using TextMaker = std::function<std::string()>;
    virtual TextMaker prepareText(const std::string& folder, const std::string& message,
                                  const std::vector<std::string>& fields) const;
    // Keeps the folder's message list while the result lives, so that reading many of its
    // messages lists it once; empty when the folder cannot be opened.
    virtual std::shared_ptr<void> holdFolder(const std::string& folder) const = 0;
    // The id of the folder named `name` inside the top-level folder named `mainName`,
    // each created when missing. Failures of the store raise.
    virtual std::string defaultFolder(const std::string& mainName,
                                      const std::string& name) const = 0;
};

using MessageSourcePtr = std::shared_ptr<const MessageSource>;

// The id of the program's folder named by the localised text locKey inside its main
// folder (named by "outlookexpress.folder.main", at the top of the store), each created
// when missing; empty without a source. Failures of the store raise ComException.
std::string programFolder(const MessageSource* source, const char* locKey);

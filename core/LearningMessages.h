#pragma once

#include "util/Ref.h"
#include "util/Refs.h"
#include "core/FileData.h"
#include "core/MessageSource.h"

#include <memory>
#include <string>

class NetFile;

// The messages a net's learning set is made of: which folder holds them ("learnFolder"
// of the net file's "Global" section, else the default learning folder) and what they
// are, read through a message source. A small value: copies share the source, so a
// learning run takes one to its thread.
class LearningMessages {
public:
    // source may be null: a net without a store has no learning messages.
    LearningMessages(std::string netFile, MessageSourcePtr source);

    const MessageSourcePtr& source() const { return messages; }

    // "learnFolder" of "Global"; when missing or empty, the id of the folder named by
    // "outlookexpress.folder.learningset" inside the main folder (programFolder), created
    // when missing (not written back). Store failures raise ComException.
    std::string id() const;
    // The same, "learnFolder" read from that view of the file.
    std::string idIn(const NetFile& file) const;
    // Writes "learnFolder" at once; whether it reached the file.
    bool setId(const std::string& folder) const;

    // One entry per message of the folder (its id as decimal text; empty: this folder), in
    // store order, without targets. A folder that names none or cannot be opened, or no
    // source, gives an empty list.
    RefsPtr list(const std::string& folder) const;
    // The entry of that message of this folder; null when it cannot be read.
    ref_ptr<FileData> entry(int messageId) const;
    // The text of the message addressed as "<folder id>/<message id>" (a backslash works as
    // well as the slash). An id that is no number gives the empty text at once; a failure
    // is shown with showComError ("Reading the learning message <path>") and gives the
    // empty text. Safe on the learning thread (after its CoInitialize).
    // With `fields`, the header fields' texts are attached (MessageSource::messageText).
    std::string text(const std::string& path, const std::vector<std::string>& fields = {}) const;
    // text in two steps (MessageSource::prepareText): the store is asked here, the maker
    // reads the message on any thread. A maker that raises leaves showing the failure to
    // text() on this thread.
    MessageSource::TextMaker prepareText(const std::string& path,
                                         const std::vector<std::string>& fields = {}) const;
    // Keeps the folder's message list while the result lives (MessageSource::holdFolder).
    std::shared_ptr<void> hold(const std::string& folder) const;

private:
    std::string fileName;
    MessageSourcePtr messages;
};

#pragma once

#include "core/MessageSource.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

// A message source over texts held in memory, for learning from messages that are not in
// a store (parts of a learning set, texts handed over by another program). Folders are
// numbered from 1 and messages from 1 across all folders, as a store gives its ids; a
// folder or message it does not hold cannot be read (ComException).
class MemoryMessages : public MessageSource {
public:
    // A new empty folder; its id.
    std::string addFolder();
    // Adds a message at the end of the folder (made when new) and returns its id, which
    // replaces the summary's.
    std::string add(const std::string& folder, MessageSummary summary, std::string text);

    std::vector<MessageSummary> listFolder(const std::string& folder) const override;
    std::optional<MessageSummary> findMessage(const std::string& folder,
                                              std::uint32_t messageId) const override;
    // The text as it was added (a text with header fields attached carries them).
    std::string messageText(const std::string& folder, const std::string& message,
                            const std::vector<std::string>& fields) const override;
    // Nothing to hold: the messages are in memory.
    std::shared_ptr<void> holdFolder(const std::string& folder) const override;
    // The folder made for that pair of names on first use.
    std::string defaultFolder(const std::string& mainName, const std::string& name) const override;

private:
    struct Message {
        MessageSummary summary;
        std::string text;
    };
    const Message* find(const std::string& folder, const std::string& message) const;

    // Messages in the order added; mutable: default folders are made when first asked for.
    mutable std::map<std::string, std::vector<Message>> folders;
    mutable std::map<std::pair<std::string, std::string>, std::string> defaults;
    mutable unsigned lastFolder = 0;
    unsigned lastMessage = 0;
};

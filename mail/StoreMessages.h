#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "core/MessageSource.h"

#include <memory>

// The net's learning messages from the mail store: folders and messages by the ids the
// store gives them, texts as messageText extracts them. Holds a reference to the store.
class StoreMessages : public MessageSource {
public:
    // Without listing, listFolder answers nothing: a net loaded only to classify (one
    // delivery) needs the store for its settings' folders, not the learning set, whose
    // listing would read the headers of every learning message.
    explicit StoreMessages(IStoreNamespace* store, bool listing = true);
    // A source over the store to give to a net; none for no store.
    static MessageSourcePtr of(IStoreNamespace* store, bool listing = true);

    IStoreNamespace* store() const { return connection.get(); }

    std::vector<MessageSummary> listFolder(const std::string& folder) const override;
    std::optional<MessageSummary> findMessage(const std::string& folder,
                                              std::uint32_t messageId) const override;
    // Opens the folder and the message (each failure raises ComException) and extracts
    // the message's text (messageText).
    std::string messageText(const std::string& folder, const std::string& message,
                            const std::vector<std::string>& fields) const override;
    // The folder's lookup here; reading, parsing and extracting the text in the maker.
    TextMaker prepareText(const std::string& folder, const std::string& message,
                          const std::vector<std::string>& fields) const override;
    // The opened folder: the store keeps its message list while the folder is open.
    std::shared_ptr<void> holdFolder(const std::string& folder) const override;
    // Both folders found by name (findOrCreateFolder, created when missing); the id as
    // "%d".
    std::string defaultFolder(const std::string& mainName, const std::string& name) const override;

private:
    // The folder its id text names; empty when it names none or cannot be opened.
    com_ptr<IStoreFolder> open(const std::string& folder) const;

    com_ptr<IStoreNamespace> connection;
    bool listing;
};

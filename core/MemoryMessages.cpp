#include "core/MemoryMessages.h"

#include "util/ComException.h"
#include "platform/Store.h"
#include "core/NetFile.h"

std::string MemoryMessages::addFolder() {
    std::string id = std::to_string(++lastFolder);
    folders[id];
    return id;
}

std::string MemoryMessages::add(const std::string& folder, MessageSummary summary,
                                std::string text) {
    summary.id = std::to_string(++lastMessage);
    folders[folder].push_back({summary, std::move(text)});
    return summary.id;
}

const MemoryMessages::Message* MemoryMessages::find(const std::string& folder,
                                                    const std::string& message) const {
    auto found = folders.find(folder);
    if (found == folders.end())
        return nullptr;
    for (const Message& held : found->second) {
        if (held.summary.id == message)
            return &held;
    }
    return nullptr;
}

std::vector<MessageSummary> MemoryMessages::listFolder(const std::string& folder) const {
    std::vector<MessageSummary> summaries;
    auto found = folders.find(folder);
    if (found == folders.end())
        return summaries;
    for (const Message& held : found->second)
        summaries.push_back(held.summary);
    return summaries;
}

std::optional<MessageSummary> MemoryMessages::findMessage(const std::string& folder,
                                                          std::uint32_t messageId) const {
    const Message* held = find(folder, std::to_string(messageId));
    if (!held)
        return std::nullopt;
    return held->summary;
}

std::string MemoryMessages::messageText(const std::string& folder, const std::string& message,
                                        const std::vector<std::string>&) const {
    if (storeIdFromText(folder) == FOLDERID_INVALID || storeIdFromText(message) == FOLDERID_INVALID)
        return {};
    const Message* held = find(folder, message);
    if (!held)
        throw ComException(E_FAIL, "no message " + message + " in folder " + folder);
    return held->text;
}

std::shared_ptr<void> MemoryMessages::holdFolder(const std::string&) const {
    return nullptr;
}

std::string MemoryMessages::defaultFolder(const std::string& mainName,
                                          const std::string& name) const {
    std::string& id = defaults[{mainName, name}];
    if (id.empty()) {
        id = std::to_string(++lastFolder);
        folders[id];
    }
    return id;
}

#include "core/LearningMessages.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Store.h"
#include "core/NetFile.h"

#include <utility>
#include <vector>

namespace {

const char* const sectionGlobal = "Global";
const char* const keyLearnFolder = "learnFolder";

ref_ptr<FileData> entryOf(const MessageSummary& message) {
    return ref_ptr<FileData>(
        new FileData(message.subject, message.id, message.from, message.received));
}

} // namespace

LearningMessages::LearningMessages(std::string netFile, MessageSourcePtr source)
    : fileName(std::move(netFile)), messages(std::move(source)) {}

std::string LearningMessages::id() const {
    return idIn(NetFile(fileName));
}

std::string LearningMessages::idIn(const NetFile& file) const {
    std::string folder = file.readText(sectionGlobal, keyLearnFolder, "");
    if (!folder.empty())
        return folder;
    return programFolder(messages.get(), "outlookexpress.folder.learningset");
}

bool LearningMessages::setId(const std::string& folder) const {
    return NetFile(fileName).writeText(sectionGlobal, keyLearnFolder, folder);
}

RefsPtr LearningMessages::list(const std::string& folder) const {
    RefsPtr entries(new Refs);
    std::string folderText = folder.empty() ? id() : folder;
    if (!messages)
        return entries;
    for (const MessageSummary& message : messages->listFolder(folderText))
        entries->push_back(RefPtr(entryOf(message).get()));
    return entries;
}

ref_ptr<FileData> LearningMessages::entry(int messageId) const {
    std::string folder = id();
    if (!messages)
        return {};
    std::optional<MessageSummary> message =
        messages->findMessage(folder, static_cast<std::uint32_t>(messageId));
    if (!message)
        return {};
    return entryOf(*message);
}

std::string LearningMessages::text(const std::string& path,
                                   const std::vector<std::string>& fields) const {
    std::vector<std::string> pieces = splitText(replaceAll(path, "\\", "/"), "/");
    std::string folder = pieces.size() > 0 ? pieces[0] : std::string();
    std::string message = pieces.size() > 1 ? pieces[1] : std::string();
    if (storeIdFromText(folder) == FOLDERID_INVALID || storeIdFromText(message) == FOLDERID_INVALID)
        return {};
    try {
        if (!messages)
            throw ComException(E_POINTER, "no mail store");
        return messages->messageText(folder, message, fields);
    } catch (const ComException& e) {
        showComError(e, "Reading the learning message " + path);
        return {};
    }
}

MessageSource::TextMaker
LearningMessages::prepareText(const std::string& path,
                              const std::vector<std::string>& fields) const {
    std::vector<std::string> pieces = splitText(replaceAll(path, "\\", "/"), "/");
    std::string folder = pieces.size() > 0 ? pieces[0] : std::string();
    std::string message = pieces.size() > 1 ? pieces[1] : std::string();
    if (storeIdFromText(folder) == FOLDERID_INVALID || storeIdFromText(message) == FOLDERID_INVALID)
        return [] { return std::string(); };
    if (!messages)
        return []() -> std::string { throw ComException(E_POINTER, "no mail store"); };
    return messages->prepareText(folder, message, fields);
}

std::shared_ptr<void> LearningMessages::hold(const std::string& folder) const {
    return messages ? messages->holdFolder(folder) : nullptr;
}

#include "mail/StoreMessages.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "core/NetFile.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"

namespace {

MessageSummary summaryOf(const MESSAGEPROPS& props) {
    return {formatString("%ld", static_cast<long>(props.dwMessageId)), props.pszSubject,
            props.pszDisplayFrom, props.ftReceived};
}

} // namespace

StoreMessages::StoreMessages(IStoreNamespace* store, bool listing) : listing(listing) {
    connection.assign(store, true);
}

MessageSourcePtr StoreMessages::of(IStoreNamespace* store, bool listing) {
    if (!store)
        return nullptr;
    return std::make_shared<StoreMessages>(store, listing);
}

com_ptr<IStoreFolder> StoreMessages::open(const std::string& folder) const {
    STOREFOLDERID folderId = storeIdFromText(folder);
    if (folderId == FOLDERID_INVALID)
        return {};
    return openFolder(connection.get(), folderId);
}

std::vector<MessageSummary> StoreMessages::listFolder(const std::string& folder) const {
    std::vector<MessageSummary> messages;
    if (!listing)
        return messages;
    com_ptr<IStoreFolder> opened = open(folder);
    if (!opened)
        return messages;
    forEachMessage(opened.get(), MESSAGEID_FIRST, [&messages](const MESSAGEPROPS& props) {
        messages.push_back(summaryOf(props));
    });
    return messages;
}

std::optional<MessageSummary> StoreMessages::findMessage(const std::string& folder,
                                                         std::uint32_t messageId) const {
    com_ptr<IStoreFolder> opened = open(folder);
    if (!opened)
        return std::nullopt;
    MESSAGEPROPS props;
    if (FAILED(opened->GetMessageProps(messageId, 0, &props)))
        return std::nullopt;
    MessageSummary summary = summaryOf(props);
    opened->FreeMessageProps(&props);
    return summary;
}

std::string StoreMessages::messageText(const std::string& folder, const std::string& message,
                                       const std::vector<std::string>& fields) const {
    STOREFOLDERID folderId = storeIdFromText(folder);
    MESSAGEID messageId = storeIdFromText(message);
    if (folderId == FOLDERID_INVALID || messageId == FOLDERID_INVALID)
        return {};
    com_ptr<IStoreFolder> opened;
    checkHr(connection->OpenFolder(folderId, 0, opened.out()),
            formatString("open folder %u", folderId));
    com_ptr<IMimeMessage> mime;
    checkHr(opened->OpenMessage(messageId, mime.out()),
            formatString("open message %u of folder %u", messageId, folderId));
    return classifiedText(mime.get(), fields);
}

MessageSource::TextMaker StoreMessages::prepareText(const std::string& folder,
                                                    const std::string& message,
                                                    const std::vector<std::string>& fields) const {
    STOREFOLDERID folderId = storeIdFromText(folder);
    MESSAGEID messageId = storeIdFromText(message);
    if (folderId == FOLDERID_INVALID || messageId == FOLDERID_INVALID)
        return [] { return std::string(); };
    com_ptr<IStoreFolder> opened;
    std::string path;
    FILETIME received{};
    HRESULT hr = connection->OpenFolder(folderId, 0, opened.out());
    if (SUCCEEDED(hr))
        hr = opened->GetMessageFile(messageId, &path, &received);
    std::string context = formatString("open message %u of folder %u", messageId, folderId);
    return [hr, path, received, context, fields]() -> std::string {
        checkHr(hr, context);
        com_ptr<IMimeMessage> mime;
        checkHr(MimeOleLoadMessageFile(path, received, mime.out()), context);
        return classifiedText(mime.get(), fields);
    };
}

std::shared_ptr<void> StoreMessages::holdFolder(const std::string& folder) const {
    com_ptr<IStoreFolder> opened = open(folder);
    if (!opened)
        return nullptr;
    return std::make_shared<com_ptr<IStoreFolder>>(std::move(opened));
}

std::string StoreMessages::defaultFolder(const std::string& mainName,
                                         const std::string& name) const {
    STOREFOLDERID main = findOrCreateFolder(connection.get(), FOLDERID_ROOT, mainName, true);
    STOREFOLDERID folder = findOrCreateFolder(connection.get(), main, name, true);
    return formatString("%d", static_cast<int>(folder));
}

#include "mail/LearningAssignment.h"

#include "util/ComException.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "core/Net.h"
#include "core/NetFile.h"
#include "mail/NetExchange.h"
#include "mail/StoreAccess.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

namespace {

com_ptr<IStoreFolder> learningFolder(const Net& net, IStoreNamespace* store) {
    com_ptr<IStoreFolder> folder = openFolder(store, storeIdFromText(net.getLearnFolder()));
    if (!folder)
        throw ComException(E_FAIL, "open the learning folder");
    return folder;
}

std::string keyOf(IStoreFolder* folder, MESSAGEID id) {
    com_ptr<IMimeMessage> message;
    checkHr(folder->OpenMessage(id, message.out()), formatString("open message %u", id));
    return NetExchange::messageKey(message.get());
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// A store id: 1 to 10 digits and at most 2^32 - 1 (ids are 32 bits).
bool storeIdText(const std::string& text) {
    return !text.empty() && text.size() <= 10 &&
           text.find_first_not_of("0123456789") == std::string::npos &&
           std::strtoull(text.c_str(), nullptr, 10) <= 0xffffffffull;
}

} // namespace

int LearningAssignment::find(const Net& net, IStoreNamespace* store, const std::string& reference,
                             std::string& problem) {
    // A file of that name in the current folder is the file, even with a name of digits.
    std::error_code error;
    bool isFile = std::filesystem::is_regular_file(reference, error);
    if (!isFile && storeIdText(reference)) {
        int index = net.findFile(std::to_string(std::strtoul(reference.c_str(), nullptr, 10)));
        if (index < 0)
            problem = "the learning folder holds no message of id " + reference;
        return index;
    }
    com_ptr<IStoreFolder> folder = learningFolder(net, store);
    std::string key;
    std::string file = isFile ? realPath(reference) : "";
    if (!file.empty()) {
        for (int f = 0; f < net.fileCount(); ++f) {
            std::string path;
            FILETIME received;
            MESSAGEID id = storeIdFromText(net.getFile(f)->getId());
            if (SUCCEEDED(folder->GetMessageFile(id, &path, &received)) && realPath(path) == file)
                return f;
        }
        com_ptr<IMimeMessage> message;
        checkHr(MimeOleLoadMessageFile(file, FILETIME(), message.out()),
                "read the message file " + reference);
        key = NetExchange::messageKey(message.get());
    } else {
        key = trimText(reference);
        if (!key.empty() && key.front() != '<' && key.rfind("sha256:", 0) != 0)
            key = "<" + key + ">";
    }
    for (int f = 0; f < net.fileCount(); ++f)
        if (keyOf(folder.get(), storeIdFromText(net.getFile(f)->getId())) == key)
            return f;
    problem = (file.empty() ? "no message of the learning folder has the Message-ID " + key
                            : "the message of " + reference + " (" + key +
                                  ") is not in the learning folder") +
              "; copy it there, or assign a folder of the store with --from-folder";
    return -1;
}

LearningAssignment::FromFolder LearningAssignment::fromFolder(Net& net, IStoreNamespace* store,
                                                              STOREFOLDERID source,
                                                              NeuronOut* target) {
    com_ptr<IStoreFolder> learning = learningFolder(net, store);
    if (source == storeIdFromText(net.getLearnFolder()))
        throw ComException(E_INVALIDARG, "the learning folder cannot be its own source");
    com_ptr<IStoreFolder> folder = openFolder(store, source);
    if (!folder)
        throw ComException(E_FAIL, formatString("open the store folder %u", source));
    std::set<std::string> present;
    for (int f = 0; f < net.fileCount(); ++f)
        present.insert(keyOf(learning.get(), storeIdFromText(net.getFile(f)->getId())));
    FromFolder result;
    std::set<std::string> wanted;
    std::vector<MESSAGEID> missing;
    std::vector<MESSAGEID> ids;
    HRESULT ended = forEachMessage(folder.get(), MESSAGEID_FIRST, [&](const MESSAGEPROPS& props) {
        ids.push_back(props.dwMessageId);
    });
    checkHr(ended == S_FALSE ? S_OK : ended, "list the messages of the store folder");
    for (MESSAGEID id : ids) {
        std::string key = keyOf(folder.get(), id);
        ++result.messages;
        // A message the folder holds twice is copied once.
        if (!present.count(key) && !wanted.count(key))
            missing.push_back(id);
        wanted.insert(key);
    }
    if (!missing.empty()) {
        MESSAGEIDLIST list;
        list.cMsgs = static_cast<std::uint32_t>(missing.size());
        list.prgdwMsgId = missing.data();
        checkHr(folder->CopyMoveMessages(learning.get(), &list, 0, 0, nullptr),
                "copy the messages into the learning folder");
        result.copied = static_cast<int>(missing.size());
        // The copies get new ids: the set is listed again, with the file's assignments.
        net.loadLearningSet();
    }
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        if (!wanted.count(keyOf(learning.get(), storeIdFromText(entry->getId()))))
            continue;
        if (entry->indexOfTarget(target) >= 0) {
            ++result.hadIt;
            continue;
        }
        entry->addTarget(target);
        ++result.assigned;
    }
    return result;
}

STOREFOLDERID LearningAssignment::folderAt(IStoreNamespace* store, const std::string& path) {
    STOREFOLDERID folder = FOLDERID_ROOT;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        std::string name =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!name.empty()) {
            folder = findOrCreateFolder(store, folder, name, false);
            if (folder == FOLDERID_INVALID)
                return FOLDERID_INVALID;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return folder == FOLDERID_ROOT ? FOLDERID_INVALID : folder;
}

#include "mail/StoreAccess.h"

#include "util/ComException.h"
#include "util/Hex.h"
#include "util/Log.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace {

// Closes a subfolder enumeration however the walk ends.
class SubFolderWalk {
public:
    SubFolderWalk(IStoreNamespace* store, STOREFOLDERID parent) : store(store) {
        more = checkHr(store->GetFirstSubFolder(parent, &props, &handle),
                       formatString("list the folders in folder %u", parent)) == S_OK;
    }
    ~SubFolderWalk() {
        if (handle)
            store->GetSubFolderClose(handle);
    }
    SubFolderWalk(const SubFolderWalk&) = delete;
    SubFolderWalk& operator=(const SubFolderWalk&) = delete;

    bool atEnd() const { return !more; }
    const FOLDERPROPS& current() const { return props; }
    void next() {
        props = FOLDERPROPS{};
        more = checkHr(store->GetNextSubFolder(handle, &props), "list the next folder") == S_OK;
    }
    void close() {
        if (handle)
            checkHr(store->GetSubFolderClose(std::exchange(handle, nullptr)),
                    "close the folder listing");
    }

private:
    IStoreNamespace* store;
    FOLDERPROPS props;
    HENUMSTORE handle = nullptr;
    bool more = false;
};

bool notificationResult(HRESULT hr) {
    if (hr == E_FAIL)
        return false;
    checkHr(hr, "register for the folder's notifications");
    return true;
}

} // namespace

StoreConnection connectStore(const std::string& root, StoreUse use) {
    StoreConnection connection;
    checkHr(createStoreNamespace(root, connection.store.out(), use), "CoCreateInstance error");
    if (use == StoreUse::oneStep)
        return connection;
    checkHr(connection.store->Initialize(nullptr, 1), "IStoreNamespace::Initialize");
    connection.inbox = openInbox(connection.store.get());
    if (!connection.inbox)
        throw ComException(E_FAIL, "no inbox in the mail store");
    return connection;
}

com_ptr<IStoreFolder> openInbox(IStoreNamespace* store) {
    com_ptr<IStoreFolder> inbox;
    SubFolderWalk walk(store, FOLDERID_ROOT);
    for (; !walk.atEnd(); walk.next()) {
        if (walk.current().sfType != FOLDER_INBOX)
            continue;
        checkHr(store->OpenFolder(walk.current().dwFolderId, 0, inbox.out()), "open the inbox");
        break;
    }
    walk.close();
    return inbox;
}

com_ptr<IStoreFolder> openFolder(IStoreNamespace* store, STOREFOLDERID id) {
    com_ptr<IStoreFolder> folder;
    if (FAILED(store->OpenFolder(id, 0, folder.out())))
        folder.reset();
    return folder;
}

STOREFOLDERID folderIdOf(IStoreFolder* folder) {
    FOLDERPROPS props;
    checkHr(folder->GetFolderProps(0, &props), "read the folder's properties");
    return props.dwFolderId;
}

STOREFOLDERID findOrCreateFolder(IStoreNamespace* store, STOREFOLDERID parent,
                                 const std::string& name, bool create) {
    // Not a walk over the subfolders: their records carry message counts, a listing of
    // every sibling folder for each message sorted.
    STOREFOLDERID found = FOLDERID_INVALID;
    checkHr(storeFindFolder(store, parent, name, &found),
            formatString("list the folders in folder %u", parent));
    if (found != FOLDERID_INVALID || !create)
        return found;
    STOREFOLDERID created = FOLDERID_INVALID;
    checkHr(store->CreateFolder(parent, name.c_str(), 0, &created),
            formatString("create folder '%s' in folder %u", name.c_str(), parent));
    return created;
}

HRESULT forEachMessage(IStoreFolder* folder, MESSAGEID first,
                       const std::function<void(const MESSAGEPROPS&)>& visit) {
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    HRESULT hr = folder->GetFirstMessage(0, 0, first, &props, &handle);
    while (hr == S_OK) {
        visit(props);
        folder->FreeMessageProps(&props);
        props = MESSAGEPROPS{};
        hr = folder->GetNextMessage(handle, 0, &props);
    }
    if (handle)
        folder->GetMessageClose(handle);
    return hr;
}

FolderTreeNode* fillFolderTree(IStoreNamespace* store, FolderTreeNode* node) {
    std::vector<FolderTreeNode*> added;
    {
        SubFolderWalk walk(store, node->data());
        if (walk.atEnd())
            return node;
        for (; !walk.atEnd(); walk.next()) {
            const FOLDERPROPS& props = walk.current();
            FolderTreeNode* child = node->addChild();
            child->setCaption(
                formatString("%s (%d)", props.szName, static_cast<int>(props.cMessage)));
            child->setData(props.dwFolderId);
            int image = props.sfType == FOLDER_NOTSPECIAL ? 0 : props.sfType + 1;
            child->setImageIndex(image);
            child->setSelectedIndex(image);
            added.push_back(child);
        }
        walk.close();
    }
    for (FolderTreeNode* child : added)
        fillFolderTree(store, child);
    return node;
}

bool registerFolderWindow(IStoreFolder* folder, INotifySink* window) {
    return notificationResult(folder->RegisterNotification(0, window));
}

bool unregisterFolderWindow(IStoreFolder* folder, INotifySink* window) {
    return notificationResult(folder->UnregisterNotification(0, window));
}

std::string messageUid(IStoreFolder* folder, MESSAGEID id) {
    MESSAGEPROPS props;
    HRESULT hr = folder->GetMessageProps(id, 0, &props);
    if (FAILED(hr)) {
        FOLDERPROPS folderProps;
        folder->GetFolderProps(0, &folderProps);
        debugLog("f->GetMessageProps(%d) FAIL %#x for folder %d", static_cast<int>(id),
                 static_cast<unsigned>(hr), static_cast<int>(folderProps.dwFolderId));
        return {};
    }
    // Memory order of the FILETIME on the platform it comes from: low word first,
    // each word little-endian, whatever this machine's byte order.
    std::uint8_t bytes[8];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(props.ftReceived.dwLowDateTime >> (8 * i));
        bytes[4 + i] = static_cast<std::uint8_t>(props.ftReceived.dwHighDateTime >> (8 * i));
    }
    folder->FreeMessageProps(&props);
    return bytesToHex(bytes, sizeof bytes);
}

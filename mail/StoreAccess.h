#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "mail/FolderTreeNode.h"

#include <functional>
#include <string>

// The program's way into the mail store: the connection, folders by id and by name,
// the folder tree of the chooser, notification registration and message uids.
// Failures of the store raise ComException unless a function says otherwise.

// The store and its inbox, held for the whole run.
struct StoreConnection {
    com_ptr<IStoreNamespace> store;
    com_ptr<IStoreFolder> inbox;
};

// Creates the store over the Maildir++ tree at root ("CoCreateInstance error" when that
// fails), initialises it ("IStoreNamespace::Initialize") and opens the inbox. A store
// without an inbox raises too ("no inbox in the mail store"): nothing could work on it.
// For one step (a delivery) only the store is made: no inbox is opened, and the sweep of
// every folder's tmp/ is left to the lasting users (a delivery sweeps its own folders).
StoreConnection connectStore(const std::string& root, StoreUse use = StoreUse::lasting);

// The first direct subfolder of the root with special type 0, else empty.
com_ptr<IStoreFolder> openInbox(IStoreNamespace* store);
// Empty (not raised) when the store does not know the id.
com_ptr<IStoreFolder> openFolder(IStoreNamespace* store, STOREFOLDERID id);
STOREFOLDERID folderIdOf(IStoreFolder* folder);

// The id of parent's direct subfolder named exactly name (byte by byte, case-sensitive);
// when there is none, the new folder's id with create set, else FOLDERID_INVALID.
STOREFOLDERID findOrCreateFolder(IStoreNamespace* store, STOREFOLDERID parent,
                                 const std::string& name, bool create);

// Calls visit with the record of every message of the folder from first on
// (MESSAGEID_FIRST: all), in store order, each freed after its call. Returns what ended
// the enumeration: S_FALSE at its end, else the failure (not raised).
HRESULT forEachMessage(IStoreFolder* folder, MESSAGEID first,
                       const std::function<void(const MESSAGEPROPS&)>& visit);

// Adds every folder below the node's folder (node->data()) as child nodes, depth first
// in store order: caption "name (count)", data the id, image 0 for an ordinary folder
// and special type + 1 otherwise. Returns node.
FolderTreeNode* fillFolderTree(IStoreNamespace* store, FolderTreeNode* node);

// True when (un)registered, false when the store answers E_FAIL; other failures raise.
bool registerFolderWindow(IStoreFolder* folder, INotifySink* window);
bool unregisterFolderWindow(IStoreFolder* folder, INotifySink* window);

// The message's received time as 16 hexadecimal digits in memory order (low word first,
// little-endian); empty, and a log line, when the store cannot read the message.
std::string messageUid(IStoreFolder* folder, MESSAGEID id);

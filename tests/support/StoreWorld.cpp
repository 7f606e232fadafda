#include "tests/support/StoreWorld.h"

#include "tests/support/TempMaildir.h"

#include <stdexcept>

StoreWorld::StoreWorld(const std::string& label) : folder_(label) {}

StoreWorld::~StoreWorld() {
    closeStore();
}

IStoreNamespace* StoreWorld::store() {
    if (!opened) {
        if (FAILED(createStoreRoot(maildir())) ||
            FAILED(createStoreNamespace(maildir(), opened.out())))
            throw std::runtime_error("createStoreNamespace failed for " + maildir());
        opened->Initialize(nullptr, 1);
    }
    return opened.get();
}

void StoreWorld::closeStore() {
    opened.reset();
}

STOREFOLDERID StoreWorld::folder(const std::string& name) {
    STOREFOLDERID id = FOLDERID_INVALID;
    if (FAILED(store()->CreateFolder(FOLDERID_ROOT, name.c_str(), 0, &id)))
        throw std::runtime_error("CreateFolder failed for " + name);
    return id;
}

void StoreWorld::deliver(const std::string& folderName, const std::string& baseName,
                         const std::string& content, std::time_t mtime) {
    TempMaildir::deliver(folderPath(folderName), "cur", baseName + ":2,S", content, mtime);
}

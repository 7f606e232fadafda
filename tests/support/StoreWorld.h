#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "tests/support/TempFolder.h"

#include <ctime>
#include <string>

// A fresh folder for one test holding a net file ("zelko.ini") and a Maildir store
// ("Maildir"), as the programs find them; removed with everything in it at the end.
class StoreWorld {
public:
    explicit StoreWorld(const std::string& label = "world");
    StoreWorld(const StoreWorld&) = delete;
    StoreWorld& operator=(const StoreWorld&) = delete;
    ~StoreWorld();

    const std::string& path() const { return folder_.path(); }
    std::string file(const std::string& name) const { return folder_.file(name); }
    std::string netFile() const { return file("zelko.ini"); }
    std::string maildir() const { return file("Maildir"); }

    // The store over maildir() (made when missing), opened and initialised on first use.
    IStoreNamespace* store();
    // Lets go of the store (it opens again on the next use).
    void closeStore();
    // A top-level folder of the store (created when missing) and its directory.
    STOREFOLDERID folder(const std::string& name);
    std::string folderPath(const std::string& name) const { return maildir() + "/." + name; }
    // Writes a message file into cur/ of the folder's directory (tmp/, then rename) with
    // the given modification time, so the store's ids follow the order of the times.
    void deliver(const std::string& folderName, const std::string& baseName,
                 const std::string& content, std::time_t mtime);

private:
    TempFolder folder_;
    com_ptr<IStoreNamespace> opened;
};

#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

// A store root in a fresh temporary directory, removed with everything in it at the end.
class TempMaildir {
public:
    TempMaildir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brevalo-store-XXXXXX").string();
        root = mkdtemp(pattern.data());
        root += "/Maildir";
        EXPECT_EQ(createStoreRoot(root), S_OK);
    }
    ~TempMaildir() { std::filesystem::remove_all(std::filesystem::path(root).parent_path()); }

    com_ptr<IStoreNamespace> open() const {
        com_ptr<IStoreNamespace> store;
        EXPECT_EQ(createStoreNamespace(root, store.out()), S_OK);
        return store;
    }

    // The folder's path for a directory name ("" is the inbox).
    std::string folder(const std::string& dirName = "") const {
        return dirName.empty() ? root : root + "/" + dirName;
    }

    // Writes a message file the way a delivery agent does (tmp/, then rename), with the
    // given modification time when not 0.
    static std::string deliver(const std::string& folderPath, const std::string& subdir,
                               const std::string& name, const std::string& content,
                               time_t mtime = 0) {
        std::string tmp = folderPath + "/tmp/" + name;
        std::ofstream(tmp, std::ios::binary) << content;
        if (mtime) {
            struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
            utimensat(AT_FDCWD, tmp.c_str(), times, 0);
        }
        std::string target = folderPath + "/" + subdir + "/" + name;
        std::filesystem::rename(tmp, target);
        return target;
    }

    static std::string message(const std::string& subject,
                               const std::string& from = "Ann <ann@example.org>") {
        return "From: " + from + "\r\nTo: bob@example.org\r\nSubject: " + subject +
               "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nHello.\r\n";
    }

    static std::vector<std::string> files(const std::string& dirPath) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dirPath))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string root;
};

// The message ids of a folder in store order.
inline std::vector<MESSAGEID> messageIds(IStoreFolder* folder) {
    std::vector<MESSAGEID> ids;
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    while (hr == S_OK) {
        ids.push_back(props.dwMessageId);
        folder->FreeMessageProps(&props);
        hr = folder->GetNextMessage(handle, 0, &props);
    }
    EXPECT_EQ(hr, S_FALSE);
    folder->GetMessageClose(handle);
    return ids;
}

// The direct subfolders' records.
inline std::vector<FOLDERPROPS> subFolders(IStoreNamespace* store, STOREFOLDERID parent) {
    std::vector<FOLDERPROPS> list;
    FOLDERPROPS props;
    HENUMSTORE handle = nullptr;
    HRESULT hr = store->GetFirstSubFolder(parent, &props, &handle);
    while (hr == S_OK) {
        list.push_back(props);
        hr = store->GetNextSubFolder(handle, &props);
    }
    EXPECT_EQ(hr, S_FALSE);
    store->GetSubFolderClose(handle);
    return list;
}

inline com_ptr<IStoreFolder> openFolderById(IStoreNamespace* store, STOREFOLDERID id) {
    com_ptr<IStoreFolder> folder;
    EXPECT_EQ(store->OpenFolder(id, 0, folder.out()), S_OK);
    return folder;
}

inline STOREFOLDERID inboxId(IStoreNamespace* store) {
    auto folders = subFolders(store, FOLDERID_ROOT);
    return folders.empty() ? FOLDERID_INVALID : folders.front().dwFolderId;
}

#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

TempMaildir::TempMaildir() {
    root = base.file("Maildir");
    EXPECT_EQ(createStoreRoot(root), S_OK);
}

com_ptr<IStoreNamespace> TempMaildir::open() const {
    com_ptr<IStoreNamespace> store;
    EXPECT_EQ(createStoreNamespace(root, store.out()), S_OK);
    return store;
}

std::string TempMaildir::folder(const std::string& dirName) const {
    return dirName.empty() ? root : root + "/" + dirName;
}

std::string TempMaildir::deliver(const std::string& folderPath, const std::string& subdir,
                                 const std::string& name, const std::string& content,
                                 std::time_t mtime) {
    std::string tmp = folderPath + "/tmp/" + name;
    std::ofstream(tmp, std::ios::binary) << content;
    if (mtime) {
        struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        utimensat(AT_FDCWD, tmp.c_str(), times, 0);
    }
    std::string target = folderPath + "/" + subdir + "/" + name;
    fs::rename(tmp, target);
    return target;
}

std::string TempMaildir::deliverMail(const std::string& content, const std::string& dirName,
                                     const FILETIME* received) {
    std::string path = folder(dirName);
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(path + "/" + sub);
    std::string name = "17000000" + std::to_string(10 + delivered++) + ".M1P1.test";
    std::string tmp = path + "/tmp/" + name;
    std::ofstream(tmp, std::ios::binary) << content;
    if (received) {
        std::uint64_t ticks = fileTimeTicks(*received) - 116444736000000000ULL;
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ticks / 10000000);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ticks % 10000000) * 100;
        EXPECT_EQ(utimensat(AT_FDCWD, tmp.c_str(), times, 0), 0);
    }
    std::string target = path + "/new/" + name;
    fs::rename(tmp, target);
    return target;
}

std::string TempMaildir::deliverCorpus(const std::string& name, const std::string& dirName) {
    std::string path = std::string(BREVALO_TEST_DATA) + "/mail/" + name;
    EXPECT_TRUE(fileExists(path)) << name;
    return deliverMail(readFile(path), dirName);
}

std::string TempMaildir::message(const std::string& subject, const std::string& from) {
    return "From: " + from + "\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nHello.\r\n";
}

std::vector<std::string> TempMaildir::files(const std::string& dirPath) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dirPath))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<MESSAGEID> messageIds(IStoreFolder* folder) {
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

std::vector<FOLDERPROPS> subFolders(IStoreNamespace* store, STOREFOLDERID parent) {
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

com_ptr<IStoreFolder> openFolderById(IStoreNamespace* store, STOREFOLDERID id) {
    com_ptr<IStoreFolder> folder;
    EXPECT_EQ(store->OpenFolder(id, 0, folder.out()), S_OK);
    return folder;
}

STOREFOLDERID inboxId(IStoreNamespace* store) {
    auto folders = subFolders(store, FOLDERID_ROOT);
    return folders.empty() ? FOLDERID_INVALID : folders.front().dwFolderId;
}

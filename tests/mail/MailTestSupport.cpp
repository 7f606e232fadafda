#include "MailTestSupport.h"

#include "util/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

TempStore::TempStore() {
    std::string pattern = (fs::temp_directory_path() / "brevalo-mail-XXXXXX").string();
    base = mkdtemp(pattern.data());
    rootPath = base + "/Maildir";
    EXPECT_EQ(createStoreRoot(rootPath), S_OK);
}

TempStore::~TempStore() {
    std::error_code ignored;
    fs::remove_all(base, ignored);
}

std::string TempStore::folderPath(const std::string& dirName) const {
    return dirName.empty() ? rootPath : rootPath + "/" + dirName;
}

std::string TempStore::deliver(const std::string& content, const std::string& dirName,
                               const FILETIME* received) {
    std::string folder = folderPath(dirName);
    for (const char* sub : {"cur", "new", "tmp"})
        fs::create_directories(folder + "/" + sub);
    std::string name = "17000000" + std::to_string(10 + counter++) + ".M1P1.test";
    std::string tmp = folder + "/tmp/" + name;
    std::ofstream(tmp, std::ios::binary) << content;
    if (received) {
        std::uint64_t ticks = fileTimeTicks(*received) - 116444736000000000ULL;
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ticks / 10000000);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ticks % 10000000) * 100;
        EXPECT_EQ(utimensat(AT_FDCWD, tmp.c_str(), times, 0), 0);
    }
    std::string target = folder + "/new/" + name;
    fs::rename(tmp, target);
    return target;
}

std::string TempStore::deliverCorpus(const std::string& name, const std::string& dirName) {
    std::ifstream in(std::string(BREVALO_TEST_DATA) + "/mail/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return deliver(content, dirName);
}

FolderTreeNode* TestTreeNode::addChild() {
    children.push_back(std::make_unique<TestTreeNode>(FOLDERID_INVALID));
    return children.back().get();
}

std::string TestTreeNode::dump(int depth) const {
    std::string out;
    for (const auto& child : children) {
        out += std::string(2 * depth, ' ') + child->caption + " " + std::to_string(child->image) +
               "/" + std::to_string(child->selected) + "\n";
        out += child->dump(depth + 1);
    }
    return out;
}

LogRecorder::LogRecorder() {
    setLogSink([this](const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex);
        recorded.push_back(line);
    });
}

LogRecorder::~LogRecorder() {
    setLogSink({});
}

std::vector<std::string> LogRecorder::lines() const {
    std::lock_guard<std::mutex> guard(mutex);
    return recorded;
}

int LogRecorder::count(const std::string& line) const {
    std::lock_guard<std::mutex> guard(mutex);
    return static_cast<int>(std::count(recorded.begin(), recorded.end(), line));
}

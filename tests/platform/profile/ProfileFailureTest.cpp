#include "platform/profile/Profile.h"

#include "util/Log.h"
#include "platform/profile/ProfileBatch.h"
#include "platform/profile/ProfileCache.h"
#include "platform/profile/ProfileSystem.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct FailureCase {
    const char* name;
    const char* call; // the call made to fail
    const char*
        suffix; // for open: the end of the path it fails on; else the temporary file's calls
    int error;
};

// Failure messages name the case rather than dumping its bytes.
void PrintTo(const FailureCase& value, std::ostream* out) {
    *out << value.name;
}

// Real calls, except the one the case makes fail.
class FailingSystem : public ProfileSystem {
public:
    explicit FailingSystem(const FailureCase& failure) : failure_(failure) {
        previous_ = ProfileSystem::install(this);
    }
    ~FailingSystem() override { ProfileSystem::install(previous_); }

    int open(const char* path, int flags, mode_t mode) override {
        std::string name(path);
        if (failing("open") && endsWith(name, failure_.suffix) &&
            (flags & O_ACCMODE) == accessFor(name))
            return fail();
        int fd = ProfileSystem::open(path, flags, mode);
        if (fd >= 0 && endsWith(name, ".tmp"))
            tempFd_ = fd;
        return fd;
    }
    ssize_t write(int fd, const void* data, size_t size) override {
        if (failing("write") && fd == tempFd_)
            return fail();
        return ProfileSystem::write(fd, data, size);
    }
    int fsync(int fd) override {
        if (failing("fsync") && fd == tempFd_)
            return fail();
        return ProfileSystem::fsync(fd);
    }
    int close(int fd) override {
        int result = ProfileSystem::close(fd);
        if (failing("close") && fd == tempFd_) {
            tempFd_ = -1;
            return fail();
        }
        return result;
    }
    int rename(const char* from, const char* to) override {
        if (failing("rename"))
            return fail();
        return ProfileSystem::rename(from, to);
    }
    int flock(int fd, int operation) override {
        if (failing("flock"))
            return fail();
        return ProfileSystem::flock(fd, operation);
    }

private:
    bool failing(const char* call) const { return std::strcmp(failure_.call, call) == 0; }
    int fail() {
        errno = failure_.error;
        return -1;
    }
    // Read-only opens of the file itself; writing ones of the lock and temporary file.
    static int accessFor(const std::string& name) {
        return endsWith(name, ".lock") ? O_RDWR : endsWith(name, ".tmp") ? O_WRONLY : O_RDONLY;
    }

    FailureCase failure_;
    ProfileSystem* previous_ = nullptr;
    int tempFd_ = -1;
};

class ProfileWriteFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ProfileWriteFailure, IsReportedAndKeepsTheOldFile) {
    const FailureCase& failure = GetParam();
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    const std::string old = "; keep\n[settings]\njobvariant=_1_\n";
    writeFile(file, old);
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    bool written = true;
    {
        FailingSystem failing(failure);
        written = WritePrivateProfileStringA("settings", "jobvariant", "_2_", file.c_str());
    }
    setLogSink({});

    EXPECT_FALSE(written);
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(getProfileString("settings", "jobvariant", "", file), "_1_");
    EXPECT_FALSE(fileExists(file + ".tmp"));
    ASSERT_EQ(lines.size(), 1u);
    std::string expected = std::string("WritePrivateProfileStringA: ") + failure.call + "(";
    EXPECT_EQ(lines[0].rfind(expected, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(folder.path()), std::string::npos) << lines[0];
    EXPECT_TRUE(endsWith(lines[0], std::string("failed: ") + std::strerror(failure.error)))
        << lines[0];

    // With the calls working again the same write goes through.
    EXPECT_TRUE(WritePrivateProfileStringA("settings", "jobvariant", "_2_", file.c_str()));
    EXPECT_EQ(getProfileString("settings", "jobvariant", "", file), "_2_");
}

const FailureCase failureCases[] = {
    {"full_disk_on_write", "write", "", ENOSPC},
    {"full_disk_on_close", "close", "", ENOSPC},
    {"io_error_on_fsync", "fsync", "", EIO},
    {"read_only_folder_lock_file", "open", ".lock", EROFS},
    {"read_only_folder_temporary_file", "open", ".tmp", EACCES},
    {"rename_refused", "rename", "", EACCES},
    {"no_locks_available", "flock", "", ENOLCK},
    // A file that cannot be read must not be replaced by one holding only the new key.
    {"unreadable_file", "open", "zelko.ini", EACCES},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWriteFailure, testing::ValuesIn(failureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWriteFailure, BatchFailureIsReportedAndWritesNothing) {
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    writeFile(file, "[NeuronsIn]\nneuron0.name=_a_\n");
    ProfileBatch batch(file);
    batch.deleteSection("NeuronsIn");
    batch.set("NeuronsIn", "neuron0.name", "_b_");
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    bool written = true;
    {
        FailingSystem failing({"disk", "write", "", ENOSPC});
        written = batch.commit();
    }
    setLogSink({});
    EXPECT_FALSE(written);
    EXPECT_EQ(batch.size(), 2u);
    EXPECT_EQ(readFile(file), "[NeuronsIn]\nneuron0.name=_a_\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("ProfileBatch::commit: write(", 0), 0u) << lines[0];
    EXPECT_TRUE(batch.commit());
    EXPECT_EQ(readFile(file), "[NeuronsIn]\nneuron0.name=_b_\n");
}

TEST(ProfileWriteFailure, RealReadOnlyFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TempFolder folder;
    std::string file = folder.file("zelko.ini");
    writeFile(file, "[s]\nk=1\n");
    ASSERT_EQ(chmod(folder.path().c_str(), 0555), 0);
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "2", file.c_str()));
    setLogSink({});
    EXPECT_EQ(getProfileString("s", "k", "", file), "1");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(std::strerror(EACCES)), std::string::npos);
}

TEST(ProfileWriteFailure, MissingFolderIsReported) {
    TempFolder folder;
    std::string file = folder.file("no/such/folder/zelko.ini");
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    EXPECT_FALSE(WritePrivateProfileStringA("s", "k", "v", file.c_str()));
    setLogSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(file), std::string::npos);
}

} // namespace

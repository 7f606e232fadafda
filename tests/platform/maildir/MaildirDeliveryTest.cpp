#include "platform/maildir/MaildirDelivery.h"

#include "platform/maildir/MaildirSysCalls.h"
#include "tests/platform/maildir/SysCallLog.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::string message = "From: ann@example.org\nSubject: hello\n\nbody\n";

struct Outcome {
    HRESULT hr = S_OK;
    std::string failure;
    std::vector<std::string> files;
};

// With its set recorded in the first folder's tmp/ (for two or more folders).
Outcome deliver(const std::vector<std::string>& folders) {
    MaildirDelivery delivery(folders, folders, folders[0], "key");
    HRESULT hr = delivery.write(message);
    if (SUCCEEDED(hr))
        hr = delivery.commit();
    return {hr, delivery.failure(), delivery.files()};
}

// Fails the count-th call of one kind on a path in a subfolder (e.g. the second rename
// into a new/; "" for any path), with an errno, while it lives; with linksRefused every
// link fails as across file systems. Every other call is the real one.
class FailingCall {
public:
    FailingCall(const std::string& call, const std::string& subfolder, int count, int error,
                bool linksRefused = false) {
        state() = {call, subfolder, count, error, linksRefused};
        MaildirSysCalls& sys = sysCalls();
        sys.open = [](const char* path, int flags, mode_t mode) {
            return due("open", path) ? -1 : ::open(path, flags, mode);
        };
        sys.write = [](int fd, const void* data, size_t size) -> ssize_t {
            return due("write", "") ? -1 : ::write(fd, data, size);
        };
        sys.fsync = [](int fd) { return due("fsync", "") ? -1 : ::fsync(fd); };
        sys.link = [](const char* from, const char* to) {
            if (state().linksRefused) {
                errno = EXDEV;
                return -1;
            }
            return due("link", to) ? -1 : ::link(from, to);
        };
        sys.rename = [](const char* from, const char* to) {
            return due("rename", to) ? -1 : ::rename(from, to);
        };
    }
    ~FailingCall() { resetSysCalls(); }
    FailingCall(const FailingCall&) = delete;
    FailingCall& operator=(const FailingCall&) = delete;

private:
    struct State {
        std::string call, subfolder;
        int count = 0, error = 0;
        bool linksRefused = false;
    };
    static State& state() {
        static State s;
        return s;
    }
    static bool due(const char* call, const char* path) {
        State& s = state();
        fs::path parent = fs::path(path).parent_path();
        if (s.call != call || (!s.subfolder.empty() && parent.filename() != s.subfolder))
            return false;
        if (--s.count != 0)
            return false;
        errno = s.error;
        return true;
    }
};

class MaildirDeliveryTest : public testing::Test {
protected:
    // The inbox and folders .A and .B; paths in that order.
    std::vector<std::string> folders(int count) {
        std::vector<std::string> paths{dir.root};
        for (const char* name : {".A", ".B"}) {
            fs::create_directories(dir.folder(name) + "/tmp");
            fs::create_directories(dir.folder(name) + "/new");
            fs::create_directories(dir.folder(name) + "/cur");
            paths.push_back(dir.folder(name));
        }
        paths.resize(static_cast<std::size_t>(count));
        return paths;
    }
    // Every file in every tmp/, new/ and cur/ of the folders.
    static int filesIn(const std::vector<std::string>& paths) {
        int count = 0;
        for (const std::string& path : paths)
            for (const char* sub : {"/tmp", "/new", "/cur"})
                count += static_cast<int>(TempMaildir::files(path + sub).size());
        return count;
    }

    TempMaildir dir;
};

TEST_F(MaildirDeliveryTest, OneNameInEveryFolderSyncedBeforeAndAfterTheRename) {
    std::vector<std::string> paths = folders(3);
    SysCallLog log;
    Outcome result = deliver(paths);
    ASSERT_EQ(result.hr, S_OK) << result.failure;
    ASSERT_EQ(result.files.size(), 3u);
    std::string name = fs::path(result.files[0]).filename();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(result.files[i], paths[i] + "/new/" + name);
        EXPECT_EQ(readFile(result.files[i]), message);
        EXPECT_TRUE(TempMaildir::files(paths[i] + "/tmp").empty());
    }
    // The data is on disk before any name points at it, and every new/ entry is on disk
    // before the delivery reports success.
    int fileSync = log.last("fsync " + paths[0] + "/tmp/" + name);
    ASSERT_GE(fileSync, 0);
    for (const std::string& path : paths) {
        int rename = log.last("rename " + path + "/new/" + name);
        int dirSync = log.last("fsync " + path + "/new");
        EXPECT_LT(fileSync, rename) << path;
        EXPECT_LT(rename, dirSync) << path;
    }
}

TEST_F(MaildirDeliveryTest, LinkRefusedWritesACopyOfItsOwn) {
    std::vector<std::string> paths = folders(2);
    FailingCall crossDevice("link", "tmp", 1, EXDEV);
    Outcome result = deliver(paths);
    ASSERT_EQ(result.hr, S_OK) << result.failure;
    EXPECT_EQ(readFile(result.files[1]), message);
    EXPECT_NE(fs::hard_link_count(result.files[1]), 2u);
}

struct Fault {
    const char* name;
    int folders;
    const char* call;
    const char* subfolder;
    int count;
    int error;
    bool linksRefused = false;
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

class DeliveryFault : public MaildirDeliveryTest, public testing::WithParamInterface<Fault> {};

// Whatever step fails, no folder keeps the message or a part of it: the transfer agent
// tries again and must not make a second copy anywhere.
TEST_P(DeliveryFault, LeavesNoFileInAnyFolder) {
    const Fault& fault = GetParam();
    std::vector<std::string> paths = folders(fault.folders);
    Outcome result;
    {
        FailingCall failing(fault.call, fault.subfolder, fault.count, fault.error,
                            fault.linksRefused);
        result = deliver(paths);
    }
    EXPECT_EQ(result.hr, hresultFromErrno(fault.error));
    EXPECT_NE(result.failure.find(std::string(fault.call) + "("), std::string::npos)
        << result.failure;
    EXPECT_TRUE(result.files.empty());
    EXPECT_EQ(filesIn(paths), 0);
}

TEST_F(MaildirDeliveryTest, NotCommittedIsTakenBack) {
    std::vector<std::string> paths = folders(2);
    {
        MaildirDelivery delivery(paths);
        ASSERT_EQ(delivery.write(message), S_OK);
        EXPECT_EQ(filesIn(paths), 2);
    }
    EXPECT_EQ(filesIn(paths), 0);
}

INSTANTIATE_TEST_SUITE_P(Steps, DeliveryFault,
                         testing::Values(Fault{"DiskFullOnOpen", 1, "open", "tmp", 1, ENOSPC},
                                         Fault{"DiskFullOnWrite", 2, "write", "", 1, ENOSPC},
                                         Fault{"FileSyncFails", 1, "fsync", "", 1, EIO},
                                         Fault{"CopyAfterARefusedLinkFails", 3, "open", "tmp", 3,
                                               EDQUOT, true},
                                         Fault{"SecondRenameFails", 2, "rename", "new", 2, EACCES},
                                         Fault{"ThirdRenameFails", 3, "rename", "new", 3, ENOSPC},
                                         Fault{"RecordSyncFails", 2, "fsync", "", 2, EIO},
                                         Fault{"FolderSyncFails", 2, "fsync", "", 5, EIO}),
                         [](const testing::TestParamInfo<Fault>& info) { return info.param.name; });

} // namespace

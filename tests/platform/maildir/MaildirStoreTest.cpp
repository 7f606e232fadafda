#include "platform/maildir/MaildirStore.h"

#include "util/CharsetConverter.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirHeaderReader.h"
#include "platform/maildir/MaildirDelivery.h"
#include "platform/maildir/MaildirSysCalls.h"
#include "tests/support/TempMaildir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

namespace fs = std::filesystem;

namespace {

bool isDir(const std::string& path) {
    return fs::is_directory(path);
}

class LogRecorder {
public:
    LogRecorder() {
        setLogToStderr(false);
        setLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogRecorder() {
        setLogSink({});
        setLogToStderr(true);
    }
    bool contains(const std::string& text) const {
        for (const auto& line : lines) {
            if (line.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    std::vector<std::string> lines;
};

TEST(MaildirStore, NewRootHoldsTheInboxAlone) {
    TempMaildir dir;
    auto store = dir.open();
    for (const char* sub : {"cur", "new", "tmp"})
        EXPECT_TRUE(isDir(dir.root + "/" + sub)) << sub;
    auto folders = subFolders(store.get(), FOLDERID_ROOT);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_STREQ(folders[0].szName, "Inbox");
    EXPECT_EQ(folders[0].sfType, FOLDER_INBOX);
    EXPECT_NE(folders[0].dwFolderId, FOLDERID_ROOT);
    EXPECT_TRUE(subFolders(store.get(), folders[0].dwFolderId).empty());
}

// A root that holds no store is never made into one by opening it: a mistyped path
// must fail, not turn into an empty store.
struct RootCase {
    const char* name;
    std::vector<const char*> made; // below the root ("" the root itself); none: no root
    HRESULT opened;
    std::vector<const char*> after; // what is there afterwards
};

class MaildirStoreRoot : public testing::TestWithParam<RootCase> {};

TEST_P(MaildirStoreRoot, OpensOnlyAStore) {
    const RootCase& c = GetParam();
    TempMaildir dir;
    fs::path root = fs::path(dir.root).parent_path() / "Other";
    for (const char* sub : c.made)
        fs::create_directories(root / sub);
    com_ptr<IStoreNamespace> store;
    LogRecorder log;
    EXPECT_EQ(createStoreNamespace(root.string(), store.out()), c.opened);
    EXPECT_EQ(static_cast<bool>(store), c.opened == S_OK);
    EXPECT_EQ(storeRootExists(root.string()), c.opened == S_OK);
    std::vector<std::string> present;
    if (fs::exists(root))
        for (const auto& entry : fs::directory_iterator(root))
            present.push_back(entry.path().filename().string());
    std::sort(present.begin(), present.end());
    EXPECT_EQ(present, std::vector<std::string>(c.after.begin(), c.after.end()));
    EXPECT_EQ(log.contains("no mail store at " + root.string()), c.opened != S_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Roots, MaildirStoreRoot,
    testing::Values(RootCase{"missing", {}, hresultFromErrno(ENOENT), {}},
                    RootCase{"empty_folder", {""}, hresultFromErrno(ENOENT), {}},
                    RootCase{
                        "without_new", {"cur", "tmp"}, hresultFromErrno(ENOENT), {"cur", "tmp"}},
                    RootCase{"without_tmp", {"cur", "new"}, S_OK, {"cur", "new", "tmp"}},
                    RootCase{"complete", {"cur", "new", "tmp"}, S_OK, {"cur", "new", "tmp"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MaildirStore, CreateStoreRootMakesTheParentsAndKeepsWhatIsThere) {
    TempMaildir dir;
    std::string root = fs::path(dir.root).parent_path().string() + "/a/b/Maildir/";
    EXPECT_EQ(createStoreRoot(root), S_OK);
    EXPECT_TRUE(storeRootExists(root));
    TempMaildir::deliver(root, "new", "1.M1P1.host", TempMaildir::message("kept"));
    EXPECT_EQ(createStoreRoot(root), S_OK);
    EXPECT_TRUE(fs::exists(root + "new/1.M1P1.host"));
    EXPECT_EQ(createStoreRoot(""), E_INVALIDARG);
}

TEST(MaildirStore, DefaultRootFollowsMaildirVariable) {
    const char* saved = getenv("MAILDIR");
    std::string old = saved ? saved : "";
    setenv("MAILDIR", "/some/where", 1);
    EXPECT_EQ(defaultStoreRoot(), "/some/where");
    unsetenv("MAILDIR");
    EXPECT_EQ(defaultStoreRoot(), std::string(getenv("HOME")) + "/Maildir");
    if (saved)
        setenv("MAILDIR", old.c_str(), 1);
}

TEST(MaildirStore, CreateFolderWritesMaildirPlusPlusLayout) {
    TempMaildir dir;
    auto store = dir.open();
    STOREFOLDERID work = FOLDERID_INVALID, child = FOLDERID_INVALID;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Work", 0, &work), S_OK);
    ASSERT_EQ(store->CreateFolder(work, "Caf\xc3\xa9 v1.0", 0, &child), S_OK);
    EXPECT_NE(work, child);
    std::string childDir = dir.root + "/.Work.Caf&AOk- v1\\2e0";
    for (const char* sub : {"cur", "new", "tmp"})
        EXPECT_TRUE(isDir(childDir + "/" + sub)) << sub;
    EXPECT_TRUE(fs::exists(childDir + "/maildirfolder"));
    EXPECT_TRUE(fs::exists(dir.root + "/.Work/maildirfolder"));

    auto top = subFolders(store.get(), FOLDERID_ROOT);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_STREQ(top[1].szName, "Work");
    EXPECT_EQ(top[1].cSubFolders, 1);
    auto below = subFolders(store.get(), work);
    ASSERT_EQ(below.size(), 1u);
    EXPECT_STREQ(below[0].szName, "Caf\xc3\xa9 v1.0");
    EXPECT_EQ(below[0].dwFolderId, child);
    EXPECT_TRUE(subFolders(store.get(), child).empty());

    STOREFOLDERID again = FOLDERID_INVALID;
    EXPECT_EQ(store->CreateFolder(work, "Caf\xc3\xa9 v1.0", 0, &again), S_OK);
    EXPECT_EQ(again, child);
}

TEST(MaildirStore, NamesThatWouldLeaveTheStoreStayInside) {
    TempMaildir dir;
    auto store = dir.open();
    for (const char* name : {"..", "../escaped", "/tmp/escaped", "a/../../b"}) {
        STOREFOLDERID id = FOLDERID_INVALID;
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, name, 0, &id), S_OK) << name;
        auto folder = openFolderById(store.get(), id);
        FOLDERPROPS props;
        ASSERT_EQ(folder->GetFolderProps(0, &props), S_OK);
        EXPECT_STREQ(props.szName, name);
    }
    EXPECT_FALSE(fs::exists(fs::path(dir.root).parent_path() / "escaped"));
    for (const auto& entry : fs::directory_iterator(dir.root)) {
        if (entry.is_directory()) {
            EXPECT_EQ(entry.path().parent_path().string(), dir.root);
        }
    }
}

TEST(MaildirStore, BadCreateRequestsFailClearly) {
    TempMaildir dir;
    auto store = dir.open();
    LogRecorder log;
    STOREFOLDERID id = 0;
    EXPECT_EQ(store->CreateFolder(FOLDERID_ROOT, "", 0, &id), E_INVALIDARG);
    EXPECT_EQ(id, FOLDERID_INVALID);
    EXPECT_EQ(store->CreateFolder(FOLDERID_ROOT, "bad\xff", 0, &id), E_INVALIDARG);
    EXPECT_EQ(store->CreateFolder(inboxId(store.get()), "Sub", 0, &id), E_INVALIDARG);
    EXPECT_EQ(store->CreateFolder(12345, "Sub", 0, &id), hresultFromErrno(ENOENT));
    EXPECT_EQ(store->CreateFolder(FOLDERID_ROOT, std::string(300, 'x').c_str(), 0, &id),
              hresultFromErrno(ENAMETOOLONG));
    EXPECT_TRUE(log.contains("failed: File name too long"));
}

TEST(MaildirStore, SpecialTypesOfTopLevelFolders) {
    TempMaildir dir;
    auto store = dir.open();
    STOREFOLDERID trash = 0, nested = 0, plain = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Trash", 0, &trash), S_OK);
    ASSERT_EQ(store->CreateFolder(trash, "Sent", 0, &nested), S_OK);
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Drafts", 0, &plain), S_OK);
    auto top = subFolders(store.get(), FOLDERID_ROOT);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[0].sfType, FOLDER_INBOX);
    EXPECT_STREQ(top[1].szName, "Drafts");
    EXPECT_EQ(top[1].sfType, FOLDER_DRAFT);
    EXPECT_EQ(top[2].sfType, FOLDER_DELETED);
    EXPECT_EQ(subFolders(store.get(), trash).at(0).sfType, FOLDER_NOTSPECIAL);
}

TEST(MaildirStore, ReadsAnotherProgramsTree) {
    TempMaildir dir;
    // A tree as another Maildir++ program leaves it: a missing middle level, an UTF-7
    // name, flags on cur/ files, a stray file and a directory that is no maildir.
    for (const char* sub :
         {"", "/.Lists.&AOQ-rger", "/.Archive", "/.Archive.2023", "/.Orphan.Child"}) {
        for (const char* leaf : {"cur", "new", "tmp"})
            fs::create_directories(dir.root + sub + "/" + leaf);
    }
    fs::create_directories(dir.root + "/.NotAMaildir");
    std::ofstream(dir.root + "/.stray") << "x";
    TempMaildir::deliver(dir.root + "/.Archive", "cur", "1700000000.M1P1.host:2,S",
                         TempMaildir::message("read"));
    TempMaildir::deliver(dir.root + "/.Archive", "cur", "1700000001.M1P1.host:2,",
                         TempMaildir::message("unread"));
    TempMaildir::deliver(dir.root + "/.Archive", "new", "1700000002.M1P1.host",
                         TempMaildir::message("new"));

    auto store = dir.open();
    auto top = subFolders(store.get(), FOLDERID_ROOT);
    std::vector<std::string> names;
    for (const auto& f : top)
        names.push_back(f.szName);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Inbox", "Archive", "Lists.\xc3\xa4rger", "Orphan.Child"}));
    EXPECT_EQ(top[1].cMessage, 3u);
    EXPECT_EQ(top[1].cUnread, 2u);
    EXPECT_EQ(subFolders(store.get(), top[1].dwFolderId).at(0).szName, std::string("2023"));
}

TEST(MaildirStore, FolderIdsSurviveARestartAndAreNeverReused) {
    TempMaildir dir;
    STOREFOLDERID a = 0, b = 0, c = 0;
    {
        auto store = dir.open();
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "A", 0, &a), S_OK);
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "B", 0, &b), S_OK);
    }
    fs::remove_all(dir.root + "/.A");
    auto store = dir.open();
    auto top = subFolders(store.get(), FOLDERID_ROOT);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[1].dwFolderId, b);
    com_ptr<IStoreFolder> gone;
    EXPECT_EQ(store->OpenFolder(a, 0, gone.out()), hresultFromErrno(ENOENT));
    EXPECT_FALSE(gone);
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "A", 0, &c), S_OK);
    EXPECT_NE(c, a);
    EXPECT_NE(c, b);
    EXPECT_TRUE(fs::exists(dir.root + "/brevalo-folders"));
}

TEST(MaildirStore, OpenFolderFailsForUnknownIdsAndTheRoot) {
    TempMaildir dir;
    auto store = dir.open();
    com_ptr<IStoreFolder> folder;
    EXPECT_EQ(store->OpenFolder(FOLDERID_ROOT, 0, folder.out()), hresultFromErrno(ENOENT));
    EXPECT_EQ(store->OpenFolder(777, 0, folder.out()), hresultFromErrno(ENOENT));
    EXPECT_FALSE(folder);
    FOLDERPROPS props;
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(store->GetFirstSubFolder(777, &props, &handle), hresultFromErrno(ENOENT));
    EXPECT_EQ(handle, nullptr);
}

TEST(MaildirStore, EmptyEnumerationsAnswerOneWithoutAHandle) {
    TempMaildir dir;
    auto store = dir.open();
    STOREFOLDERID leaf = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Leaf", 0, &leaf), S_OK);
    FOLDERPROPS fprops;
    HENUMSTORE handle = reinterpret_cast<HENUMSTORE>(1);
    EXPECT_EQ(store->GetFirstSubFolder(leaf, &fprops, &handle), S_FALSE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(store->GetSubFolderClose(handle), S_OK);
    auto folder = openFolderById(store.get(), leaf);
    MESSAGEPROPS mprops;
    EXPECT_EQ(folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &mprops, &handle), S_FALSE);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(folder->GetMessageClose(handle), S_OK);
}

TEST(MaildirStore, MessageRecordFromTheHeaderBlock) {
    TempMaildir dir;
    auto store = dir.open();
    std::string body(100000, 'x');
    TempMaildir::deliver(
        dir.root, "new", "1.M1P1.h",
        "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n =?ISO-8859-1?Q?_f=FCr_Sie?=\nFrom: \"Doe, Jane\" "
        "<jane@example.org>\nX-Long: a\n\n" +
            body + "\nSubject: not this one\n",
        1700000000);
    TempMaildir::deliver(dir.root, "cur", "2.M1P1.h:2,S",
                         "From: bare@example.org\r\n\r\nno subject\r\n", 1700000100);
    TempMaildir::deliver(dir.root, "cur", "3.M1P1.h:2,", "no headers at all", 1700000200);
    TempMaildir::deliver(dir.root, "cur", "4.M1P1.h:2,",
                         "Subject: raw \xc3\xa4\nFrom: Team: a@b.c, d@e.f;\n\n", 1700000300);
    auto inbox = openFolderById(store.get(), inboxId(store.get()));
    auto ids = messageIds(inbox.get());
    ASSERT_EQ(ids, (std::vector<MESSAGEID>{1, 2, 3, 4}));

    MESSAGEPROPS props;
    ASSERT_EQ(inbox->GetMessageProps(1, 0, &props), S_OK);
    EXPECT_EQ(props.dwMessageId, 1u);
    EXPECT_EQ(props.pszSubject, "Gr\xc3\xbc\xc3\x9f"
                                "e f\xc3\xbcr Sie");
    EXPECT_EQ(props.pszDisplayFrom, "Doe, Jane");
    EXPECT_EQ(fileTimeTicks(props.ftReceived), fileTimeTicks(fileTimeFromUnix(1700000000)));
    inbox->FreeMessageProps(&props);
    EXPECT_TRUE(props.pszSubject.empty());

    ASSERT_EQ(inbox->GetMessageProps(2, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "");
    EXPECT_EQ(props.pszDisplayFrom, "bare@example.org");
    ASSERT_EQ(inbox->GetMessageProps(3, 0, &props), S_OK);
    EXPECT_EQ(props.pszDisplayFrom, "");
    ASSERT_EQ(inbox->GetMessageProps(4, 0, &props), S_OK);
    EXPECT_EQ(props.pszSubject, "raw \xc3\xa4");
    EXPECT_EQ(props.pszDisplayFrom, "Team");
}

TEST(MaildirStore, EnumerationFromAGivenId) {
    TempMaildir dir;
    auto store = dir.open();
    for (int i = 1; i <= 5; ++i)
        TempMaildir::deliver(dir.root, "new", std::to_string(i) + ".M1P1.h",
                             TempMaildir::message("m"), 1700000000 + i);
    auto inbox = openFolderById(store.get(), inboxId(store.get()));
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    ASSERT_EQ(inbox->GetFirstMessage(0, 0, 4, &props, &handle), S_OK);
    EXPECT_EQ(props.dwMessageId, 4u);
    ASSERT_EQ(inbox->GetNextMessage(handle, 0, &props), S_OK);
    EXPECT_EQ(props.dwMessageId, 5u);
    EXPECT_EQ(inbox->GetNextMessage(handle, 0, &props), S_FALSE);
    EXPECT_EQ(inbox->GetNextMessage(handle, 0, &props), S_FALSE);
    EXPECT_EQ(inbox->GetMessageClose(handle), S_OK);
}

TEST(MaildirStore, FileVanishingBetweenListingAndReading) {
    TempMaildir dir;
    auto store = dir.open();
    for (int i = 1; i <= 3; ++i)
        TempMaildir::deliver(dir.root, "new", std::to_string(i) + ".M1P1.h",
                             TempMaildir::message("m" + std::to_string(i)), 1700000000 + i);
    auto inbox = openFolderById(store.get(), inboxId(store.get()));
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    ASSERT_EQ(inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle), S_OK);
    fs::remove(dir.root + "/new/2.M1P1.h");
    LogRecorder log;
    ASSERT_EQ(inbox->GetNextMessage(handle, 0, &props), S_OK);
    EXPECT_EQ(props.dwMessageId, 3u); // the vanished one is skipped
    inbox->GetMessageClose(handle);
    EXPECT_EQ(inbox->GetMessageProps(2, 0, &props), hresultFromErrno(ENOENT));
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(inbox->OpenMessage(2, message.out()), hresultFromErrno(ENOENT));
    EXPECT_TRUE(log.contains("GetMessageProps(2) failed: no such message in " + dir.root));
}

TEST(MaildirStore, FolderRemovedBehindTheProgramsBack) {
    TempMaildir dir;
    auto store = dir.open();
    STOREFOLDERID id = 0;
    ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Doomed", 0, &id), S_OK);
    auto folder = openFolderById(store.get(), id);
    TempMaildir::deliver(dir.root + "/.Doomed", "new", "1.M1P1.h", TempMaildir::message("m"));
    ASSERT_EQ(messageIds(folder.get()).size(), 1u);
    fs::remove_all(dir.root + "/.Doomed");
    LogRecorder log;
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    EXPECT_EQ(folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle),
              hresultFromErrno(ENOENT));
    EXPECT_EQ(folder->GetMessageProps(1, 0, &props), hresultFromErrno(ENOENT));
    FOLDERPROPS fprops;
    EXPECT_EQ(folder->GetFolderProps(0, &fprops), S_OK);
    EXPECT_EQ(fprops.dwFolderId, id);
    EXPECT_EQ(fprops.cMessage, 0u);
    EXPECT_FALSE(fs::exists(dir.root + "/.Doomed")); // nothing made again by a lock file
    EXPECT_TRUE(log.contains("failed: No such file or directory"));
}

TEST(MaildirStore, OpenMessageGivesTheMimeMessageWithItsReceivedTime) {
    TempMaildir dir;
    auto store = dir.open();
    TempMaildir::deliver(dir.root, "cur", "1.M1P1.h:2,S", TempMaildir::message("Hello there"),
                         1700000000);
    auto inbox = openFolderById(store.get(), inboxId(store.get()));
    ASSERT_EQ(messageIds(inbox.get()).size(), 1u);
    // Another program marks it meanwhile: the id still finds it.
    fs::rename(dir.root + "/cur/1.M1P1.h:2,S", dir.root + "/cur/1.M1P1.h:2,FS");
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(inbox->OpenMessage(1, message.out()), S_OK);
    PROPVARIANT value;
    value.vt = VT_FILETIME;
    ASSERT_EQ(message->GetProp(PID_ATT_RECVTIME, 0, &value), S_OK);
    EXPECT_EQ(fileTimeTicks(value.filetime), fileTimeTicks(fileTimeFromUnix(1700000000)));
    PROPVARIANT subject;
    subject.vt = VT_LPWSTR;
    ASSERT_EQ(message->GetProp(PID_HDR_SUBJECT, 0, &subject), S_OK);
    EXPECT_EQ(subject.pwszVal, u"Hello there");
}

// Files whose name says how many hours ago they last changed ("h37.x" 37 hours): the
// kernel alone sets a change time, so stat answers it for them.
int statAged(const char* path, struct stat* st) {
    int result = ::stat(path, st);
    const char* name = std::strrchr(path, '/');
    if (result == 0 && name && name[1] == 'h')
        st->st_ctim.tv_sec = time(nullptr) - std::atol(name + 2) * 3600;
    return result;
}

// Who sweeps: a lasting store at its start (every folder), or a delivery (its own folders).
struct Sweeper {
    const char* name;
    std::function<void(TempMaildir&, const std::vector<std::string>&)> sweep;
};

class StaleTmpFiles : public testing::TestWithParam<Sweeper> {};

// What a killed copy or delivery left in tmp/ goes once it is 36 hours old; what may
// still be written, and everything outside tmp/, stays.
TEST_P(StaleTmpFiles, RemovedOnlyAfter36Hours) {
    TempMaildir dir;
    {
        auto store = dir.open();
        STOREFOLDERID id = 0, child = 0;
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, "Work", 0, &id), S_OK);
        ASSERT_EQ(store->CreateFolder(id, "Old", 0, &child), S_OK);
    }
    std::vector<std::string> folders = {dir.root, dir.folder(".Work"), dir.folder(".Work.Old")};
    for (const std::string& folder : folders) {
        for (const char* name : {"h37.M1P1.h", "h35.M2P1.h", "h12000.M3P1.h"})
            std::ofstream(folder + "/tmp/" + name) << "x";
        fs::create_directory(folder + "/tmp/h40.dir");
        TempMaildir::deliver(folder, "new", "h50.M4P1.h", "x");
    }
    sysCalls().stat = statAged;
    GetParam().sweep(dir, folders);
    resetSysCalls();
    for (const std::string& folder : folders) {
        EXPECT_EQ(TempMaildir::files(folder + "/tmp"),
                  (std::vector<std::string>{"h35.M2P1.h", "h40.dir"}))
            << folder;
        std::vector<std::string> kept = TempMaildir::files(folder + "/new");
        EXPECT_NE(std::find(kept.begin(), kept.end(), "h50.M4P1.h"), kept.end()) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sweepers, StaleTmpFiles,
    testing::Values(Sweeper{"StoreStart",
                            [](TempMaildir& dir, const std::vector<std::string>&) {
                                auto store = dir.open();
                                ASSERT_EQ(store->Initialize(nullptr, 0), S_OK);
                            }},
                    Sweeper{"Delivery",
                            [](TempMaildir&, const std::vector<std::string>& folders) {
                                MaildirDelivery delivery(folders);
                                ASSERT_EQ(delivery.write("Subject: a\n\nb\n"), S_OK);
                                ASSERT_EQ(delivery.commit(), S_OK);
                            }}),
    [](const testing::TestParamInfo<Sweeper>& info) { return std::string(info.param.name); });

TEST(MaildirStore, StaleEnumerationHandlesAreRefused) {
    TempMaildir dir;
    auto store = dir.open();
    FOLDERPROPS props;
    HENUMSTORE handle = nullptr;
    ASSERT_EQ(store->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle), S_OK);
    ASSERT_EQ(store->GetSubFolderClose(handle), S_OK);
    EXPECT_EQ(store->GetNextSubFolder(handle, &props), E_INVALIDARG);
    EXPECT_EQ(store->GetSubFolderClose(handle), E_INVALIDARG);
}

} // namespace

namespace {

// Header blocks of random bytes (binary garbage, cut encodings, stray NULs) give some
// record and never harm.
TEST(MaildirHeaderReader, GarbageHeadersDoNoHarm) {
    std::mt19937 random(99);
    const std::vector<std::string> pieces = {"Subject:",
                                             "From:",
                                             " =?",
                                             "?B?",
                                             "?Q?",
                                             "?=",
                                             "\r\n",
                                             "\n",
                                             " ",
                                             "<",
                                             ">",
                                             "\"",
                                             ",",
                                             ";",
                                             ":",
                                             "@",
                                             std::string(1, '\0'),
                                             "\xff"};
    for (int round = 0; round < 3000; ++round) {
        std::string block;
        int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i) {
            if (random() % 3 == 0)
                block += static_cast<char>(random() % 256);
            else
                block += pieces[random() % pieces.size()];
        }
        std::string subject, from;
        MaildirHeaderReader::parse(block, &subject, &from);
        EXPECT_TRUE(CharsetConverter::isUtf8(subject) && CharsetConverter::isUtf8(from))
            << testing::PrintToString(block);
        // Behind good headers and the blank line, the garbage changes nothing.
        MaildirHeaderReader::parse("Subject: Hello\r\nFrom: Ann <ann@example.org>\r\n\r\n" + block,
                                   &subject, &from);
        ASSERT_EQ(subject, "Hello") << testing::PrintToString(block);
        ASSERT_EQ(from, "Ann") << testing::PrintToString(block);
    }
}

} // namespace

// A store for one step reads the folder table once, yet finds a folder it makes: one that
// is new, and one another program made after the first reading (its name given again).
TEST(MaildirStore, OneStepStoreFindsTheFoldersItMakes) {
    TempMaildir dir;
    com_ptr<IStoreNamespace> store;
    ASSERT_EQ(createStoreNamespace(dir.root, store.out(), StoreUse::oneStep), S_OK);
    std::string path;
    ASSERT_EQ(storeInboxPath(store.get(), &path), S_OK);
    EXPECT_EQ(path, dir.root);
    STOREFOLDERID none = 0;
    ASSERT_EQ(storeFindFolder(store.get(), FOLDERID_ROOT, "Late", &none), S_FALSE);
    for (const char* dirName : {".Late/cur", ".Late/new", ".Late/tmp"})
        fs::create_directories(dir.folder(dirName));
    for (const char* name : {"Late", "Fresh"}) {
        STOREFOLDERID id = FOLDERID_INVALID;
        ASSERT_EQ(store->CreateFolder(FOLDERID_ROOT, name, 0, &id), S_OK) << name;
        ASSERT_EQ(storeFolderPath(store.get(), id, &path), S_OK) << name;
        EXPECT_EQ(path, dir.folder(std::string(".") + name));
    }
}

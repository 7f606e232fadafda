// A net built with folder, stimulation and assign; refusals; each command's own help.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A store with two folders sorted by hand, an empty learning folder, and a fresh net.
class NetWorld : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = fs::temp_directory_path() / ("brevalo-net-" + std::to_string(getpid()) + name);
        fs::remove_all(dir);
        for (const char* folder : {"", ".Sorted", ".Sorted.Invoices", ".Sorted.Support", ".Brevalo",
                                   ".Brevalo.Learning set"})
            for (const char* sub : {"cur", "new", "tmp"})
                fs::create_directories(dir / "Maildir" / folder / sub);
        for (int i = 0; i < 4; ++i) {
            message(".Sorted.Invoices", "inv" + std::to_string(i), "Invoice " + std::to_string(i),
                    "The amount due is " + std::to_string(40 + i) + " EUR.");
            message(".Sorted.Support", "sup" + std::to_string(i), "Ticket " + std::to_string(i),
                    "The program crashes, please help.");
        }
        home("home");
    }
    void TearDown() override { fs::remove_all(dir); }

    void home(const std::string& name) {
        setenv("BREVALO_HOME", (dir / name).c_str(), 1);
        setenv("MAILDIR", (dir / "Maildir").c_str(), 1);
    }
    fs::path message(const std::string& folder, const std::string& id, const std::string& subject,
                     const std::string& body) {
        fs::path file = dir / "Maildir" / folder / "cur" / (id + ".host:2,S");
        std::ofstream(file) << "From: a@example.org\nTo: b@example.org\nSubject: " << subject
                            << "\nMessage-ID: <" << id << "@example.org>\n\n"
                            << body << "\n";
        return file;
    }
    int run(const std::string& arguments, std::string* out = nullptr) {
        std::string command = std::string(BREVALO_BIN_DIR) + "/brevalo-cli " + arguments + " > " +
                              (dir / "out").string() + " 2> " + (dir / "err").string();
        int status = std::system(command.c_str());
        if (out)
            *out = readFile(dir / "out");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() { return readFile(dir / "err"); }
    std::size_t learningMessages() {
        return std::distance(fs::directory_iterator(dir / "Maildir/.Brevalo.Learning set/cur"), {});
    }
    json exported() {
        std::string text;
        EXPECT_EQ(run("export -", &text), 0) << errors();
        return json::parse(text);
    }
    fs::path dir;
};

TEST_F(NetWorld, ANetBuiltByCommandsSortsAsTheSameNetImported) {
    // A message copied into the learning folder before is not copied again.
    fs::copy_file(dir / "Maildir/.Sorted.Invoices/cur/inv0.host:2,S",
                  dir / "Maildir/.Brevalo.Learning set/cur/earlier.host:2,S");
    for (const char* command :
         {"folder add Invoices --address books@example.org", "folder add Support",
          "stimulation add money invoice 'amount due'", "stimulation add trouble crash help",
          "assign --from-folder Sorted/Invoices Invoices",
          "assign --from-folder Sorted/Support Support"})
        ASSERT_EQ(run(command), 0) << command << ": " << errors();
    EXPECT_EQ(learningMessages(), 8u);
    // Sorted twice: nothing is copied or counted again.
    std::string out;
    ASSERT_EQ(run("assign --from-folder Sorted/Invoices Invoices", &out), 0);
    EXPECT_NE(out.find("assigned 0 learning messages"), std::string::npos) << out;
    EXPECT_EQ(learningMessages(), 8u);
    ASSERT_EQ(run("learn --iterations 100"), 0) << errors();
    const std::string incoming = (dir / "incoming.eml").string();
    std::ofstream(incoming) << "Subject: hello\n\nThe amount due is 12 EUR.\n";
    std::string built, builtExport;
    ASSERT_EQ(run("classify --tsv " + incoming, &built), 0) << errors();
    ASSERT_EQ(run("export -", &builtExport), 0);

    // The same net as a person writes it for import, then learned alike.
    home("imported");
    json net = exported(); // a fresh net: its default settings
    net["stimulations"] = {{{"name", "money"}, {"patterns", {"invoice", "amount due"}}},
                           {{"name", "trouble"}, {"patterns", {"crash", "help"}}}};
    net["folders"] = {{{"name", "Invoices"}, {"answer", ""}, {"addresses", {"books@example.org"}}},
                      {{"name", "Support"}, {"answer", ""}, {"addresses", json::array()}}};
    for (int i = 0; i < 4; ++i)
        for (int folder = 0; folder < 2; ++folder)
            net["learningSet"].push_back({{"message", std::string("<") + (folder ? "sup" : "inv") +
                                                          std::to_string(i) + "@example.org>"},
                                          {"folders", {folder}}});
    std::ofstream(dir / "net.json") << net.dump();
    ASSERT_EQ(run("import " + (dir / "net.json").string()), 0) << errors();
    ASSERT_EQ(run("learn --iterations 100"), 0) << errors();
    std::string imported, importedExport;
    ASSERT_EQ(run("classify --tsv " + incoming, &imported), 0);
    ASSERT_EQ(run("export -", &importedExport), 0);
    EXPECT_EQ(built, imported);
    EXPECT_NE(built.find("Invoices"), std::string::npos) << built;
    EXPECT_EQ(builtExport, importedExport);

    // One folder swapped for another keeps the sizes, not the meaning: the old network goes.
    ASSERT_EQ(run("folder remove Invoices"), 0) << errors();
    ASSERT_EQ(run("folder add Sales"), 0) << errors();
    EXPECT_EQ(run("classify --tsv " + incoming), 2) << errors();
}

// Learning without the messages no stimulation matches learns the net of the set without
// them, leaves them in the learning folder, and is what the refusal offers.
TEST_F(NetWorld, SkipUnmatchedLearnsTheNetOfTheSetWithoutThem) {
    message(".Sorted.Invoices", "odd0", "Holiday", "Look at the beach.");
    message(".Sorted.Support", "odd1", "Lunch", "See you at noon.");
    for (const char* command :
         {"folder add Invoices", "folder add Support", "stimulation add money invoice 'amount due'",
          "stimulation add trouble crash help", "assign --from-folder Sorted/Invoices Invoices",
          "assign --from-folder Sorted/Support Support"})
        ASSERT_EQ(run(command), 0) << command << ": " << errors();
    std::string out;
    EXPECT_EQ(run("learn --iterations 50", &out), 1);
    EXPECT_NE(out.find("brevalo-cli learn --skip-unmatched"), std::string::npos) << out;
    ASSERT_EQ(run("learn --iterations 50 --skip-unmatched", &out), 0) << errors();
    EXPECT_NE(out.find("left out 2 learning messages that match no stimulation"), std::string::npos)
        << out;
    EXPECT_EQ(learningMessages(), 10u);
    EXPECT_EQ(exported()["learningSet"].size(), 10u) << "their assignments are kept";
    ASSERT_EQ(run("evaluate --folds 2 --iterations 5 --skip-unmatched", &out), 0) << errors();
    EXPECT_NE(out.find("left out 2 learning messages that match no stimulation\n2-fold "
                       "cross-validation over 8 learning messages"),
              std::string::npos)
        << out;
    json skipped = exported()["network"];
    for (const auto& file : fs::directory_iterator(dir / "Maildir/.Brevalo.Learning set/cur"))
        if (readFile(file.path()).find(" at ") != std::string::npos)
            fs::remove(file.path());
    ASSERT_EQ(learningMessages(), 8u);
    ASSERT_EQ(run("learn --iterations 50"), 0) << errors();
    EXPECT_EQ(exported()["network"], skipped);
}

// Commands that change the net at the same time each keep their change: the later one
// reads the net after the earlier one's save.
TEST_F(NetWorld, ConcurrentChangesAreAllKept) {
    const std::string cli = std::string(BREVALO_BIN_DIR) + "/brevalo-cli";
    std::string command = "for i in 0 1 2 3 4 5 6 7 8 9 10 11; do " + cli +
                          " folder add F$i >/dev/null 2>&1 & " + cli +
                          " stimulation add S$i w$i >/dev/null 2>&1 & done; wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    json net = exported();
    EXPECT_EQ(net["folders"].size(), 12u) << net["folders"];
    EXPECT_EQ(net["stimulations"].size(), 12u) << net["stimulations"];
}

// Killed anywhere while it copies a sorted folder, then run again as a person would: each
// message lies in the learning folder once, assigned, and the sorted folder keeps its own.
TEST_F(NetWorld, AssignFromFolderKilledAndRunAgainCopiesEachMessageOnce) {
    constexpr int messages = 150;
    for (int i = 4; i < messages; ++i)
        message(".Sorted.Invoices", "inv" + std::to_string(i), "Invoice", "amount due");
    const std::string cli = std::string(BREVALO_BIN_DIR) + "/brevalo-cli";
    const fs::path learning = dir / "Maildir/.Brevalo.Learning set/cur";
    std::mt19937 random(7);
    int kills = 0, lost = 0, twice = 0;
    for (int round = 0; round < 10; ++round) {
        for (auto& file : fs::directory_iterator(learning))
            fs::remove(file.path());
        home("home" + std::to_string(round));
        ASSERT_EQ(run("folder add Invoices"), 0) << errors();
        // Killed after a random number of copies arrived (all of them: before the save).
        int copies = std::uniform_int_distribution<int>(1, messages)(random);
        int watch = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(watch, learning.c_str(), IN_MOVED_TO | IN_CREATE);
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(cli.c_str(), cli.c_str(), "assign", "--from-folder", "Sorted/Invoices",
                  "Invoices", static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        bool ended = false;
        for (int seen = 0; seen < copies && !ended;) {
            pollfd ready{watch, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0) {
                ended = waitpid(pid, &status, WNOHANG) == pid;
                continue;
            }
            alignas(inotify_event) char buffer[8192];
            ssize_t got = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got; ++seen)
                at += static_cast<ssize_t>(sizeof(inotify_event) +
                                           reinterpret_cast<inotify_event*>(buffer + at)->len);
        }
        if (!ended) {
            kills += kill(pid, SIGKILL) == 0;
            waitpid(pid, &status, 0);
        }
        close(watch);
        ASSERT_EQ(run("assign --from-folder Sorted/Invoices Invoices"), 0) << errors();
        std::set<std::string> keys;
        json net = exported();
        for (const json& entry : net["learningSet"])
            keys.insert(entry["message"].get<std::string>());
        lost += messages - static_cast<int>(keys.size());
        twice += static_cast<int>(learningMessages()) - messages;
    }
    RecordProperty("kills", kills);
    EXPECT_GE(kills, 8);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(twice, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Maildir/.Sorted.Invoices/cur"),
                            fs::directory_iterator()),
              messages);
}

struct AssignCase {
    const char* name;
    std::string (*reference)(const fs::path& learningMessage); // the message assigned
    int status;
};

void PrintTo(const AssignCase& c, std::ostream* out) {
    *out << c.name;
}

class NetAssign : public NetWorld, public testing::WithParamInterface<AssignCase> {};

TEST_P(NetAssign, NamesALearningMessage) {
    message(".Brevalo.Learning set", "one", "One", "invoice");
    fs::path two = message(".Brevalo.Learning set", "two", "Two", "invoice");
    ASSERT_EQ(run("folder add Invoices"), 0) << errors();
    EXPECT_EQ(run("assign Invoices " + GetParam().reference(two)), GetParam().status) << errors();
    json assigned = exported()["learningSet"];
    if (GetParam().status != 0) {
        EXPECT_TRUE(assigned.empty()) << assigned; // nothing, not even the messages found
        return;
    }
    ASSERT_EQ(assigned.size(), 1u) << assigned;
    if (std::string(GetParam().name) != "Id") {
        EXPECT_EQ(assigned[0]["message"], "<two@example.org>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    References, NetAssign,
    testing::Values(
        AssignCase{"Id", [](const fs::path&) { return std::string("1"); }, 0},
        AssignCase{"File", [](const fs::path& file) { return "'" + file.string() + "'"; }, 0},
        AssignCase{"MessageId", [](const fs::path&) { return std::string("two@example.org"); }, 0},
        AssignCase{"UnknownIdBesideAGoodOne",
                   [](const fs::path&) { return std::string("two@example.org 999"); }, 1},
        AssignCase{"UnknownMessageId",
                   [](const fs::path&) { return std::string("three@example.org"); }, 1}),
    [](const testing::TestParamInfo<AssignCase>& info) { return info.param.name; });

struct RefusalCase {
    const char* name;
    std::string arguments;
    int status;
    const char* says;
};

void PrintTo(const RefusalCase& c, std::ostream* out) {
    *out << c.name;
}

class NetRefusal : public NetWorld, public testing::WithParamInterface<RefusalCase> {};

// Each refusal says why and leaves the net as it was.
TEST_P(NetRefusal, ChangesNothing) {
    ASSERT_EQ(run("folder add Kept"), 0) << errors();
    std::string before = readFile(dir / "home/zelko.ini");
    std::string out;
    EXPECT_EQ(run(GetParam().arguments, &out), GetParam().status);
    EXPECT_NE((errors() + out).find(GetParam().says), std::string::npos) << errors() << out;
    EXPECT_EQ(readFile(dir / "home/zelko.ini"), before);
    EXPECT_FALSE(fs::exists(dir / "x")) << "a folder escaped the store";
}

INSTANTIATE_TEST_SUITE_P(
    Names, NetRefusal,
    testing::Values(
        RefusalCase{"Parent", "folder add ../../x", 1, "holds a \"/\""},
        RefusalCase{"Slash", "folder add a/b", 1, "holds a \"/\""},
        RefusalCase{"Dots", "folder add ..", 1, "names no folder"},
        RefusalCase{"Blank", "folder add '  '", 1, "is blank"},
        RefusalCase{"NotUtf8", "folder add \"$(printf '\\377\\376')\"", 1, "UTF-8"},
        RefusalCase{"TooLong", "folder add " + std::string(300, 'x'), 1, "longer than"},
        RefusalCase{"Twice", "folder add Kept", 1, "already"},
        RefusalCase{"AddressBreaksTheHeader",
                    "folder add Y --address \"$(printf 'a@b\\nBcc: c@d')\"", 1, "one line"},
        RefusalCase{"RemoveUnknown", "folder remove Gone", 1, "no target folder named 'Gone'"},
        RefusalCase{"BadPattern", "stimulation add s ok '[a'", 1, "the pattern '[a' is refused"},
        RefusalCase{"NoPattern", "stimulation add s", 64, "at least one pattern"},
        RefusalCase{"AssignToUnknownFolder", "assign Nowhere 1", 1, "no target folder"},
        RefusalCase{"FromUnknownStoreFolder", "assign --from-folder Nope Kept", 1,
                    "no folder 'Nope'"},
        // An empty learning set is nothing to learn from, not a set ready to learn.
        RefusalCase{"CheckOfAnEmptySet", "check", 1, "nothing to learn from"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

class NetHelp : public NetWorld, public testing::WithParamInterface<const char*> {};

// Each command's help is its own, agrees with the overview, and an option it does not take
// shows that help as the error.
TEST_P(NetHelp, IsTheCommandsOwn) {
    const std::string command = GetParam();
    std::string overview, help, shortHelp;
    ASSERT_EQ(run("--help", &overview), 0);
    ASSERT_EQ(run(command + " --help", &help), 0);
    ASSERT_EQ(run(command + " -h", &shortHelp), 0);
    EXPECT_EQ(help, shortHelp);
    std::string usageLine = help.substr(0, help.find('\n'));
    ASSERT_EQ(usageLine.rfind("Usage: brevalo-cli " + command, 0), 0u) << help;
    EXPECT_NE(overview.find("  " + usageLine.substr(19)), std::string::npos) << usageLine;
    EXPECT_LT(std::count(help.begin(), help.end(), '\n'), 20) << help;
    // Both fit a terminal of 80 columns.
    for (const std::string* text : {&overview, &help}) {
        std::istringstream lines(*text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_EQ(run(command + " --bogus"), 64);
    EXPECT_NE(errors().find("unknown option '--bogus'"), std::string::npos) << errors();
    EXPECT_NE(errors().find(usageLine), std::string::npos) << errors();
}

INSTANTIATE_TEST_SUITE_P(Commands, NetHelp,
                         testing::Values("sort", "classify", "folder", "stimulation", "assign",
                                         "learn", "check", "log", "undo", "suggest", "evaluate",
                                         "export", "import", "deliver", "lmtp", "demo"));

} // namespace

// What brevalo-cli prints for a person: tables that line up whatever the script, and
// messages that say what is true. Each test runs the built tool against a copy of the
// demonstration world (a learned net, its Maildir and journal).
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path demoTemplate() {
    static fs::path made = [] {
        fs::path dir = fs::temp_directory_path() / ("brevalo-readable-" + std::to_string(getpid()));
        fs::remove_all(dir);
        std::string command = std::string(BREVALO_BIN_DIR) + "/brevalo-cli demo " + dir.string() +
                              " > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return dir;
    }();
    return made;
}

// Columns a terminal gives the line: the wide characters used here (kana, kanji) take two.
std::size_t columns(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xc0) != 0x80)
            width += c == 0xe3 || (c >= 0xe4 && c <= 0xe9) ? 2 : 1;
    }
    return width;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

class ReadableOutput : public testing::Test {
protected:
    void SetUp() override {
        fs::path from = demoTemplate();
        dir = fs::temp_directory_path() /
              ("brevalo-readable-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir);
        fs::copy(from, dir, fs::copy_options::recursive);
        setenv("BREVALO_HOME", dir.c_str(), 1);
        setenv("MAILDIR", (dir / "Maildir").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(const std::string& arguments, std::string* out = nullptr) {
        std::string command = std::string(BREVALO_BIN_DIR) + "/brevalo-cli " + arguments + " > " +
                              (dir / "out.txt").string() + " 2>&1";
        int status = std::system(command.c_str());
        if (out)
            *out = readFile((dir / "out.txt").string());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void deliver(const std::string& name, const std::string& subject, const std::string& body) {
        std::ofstream(dir / "Maildir/tmp" / name, std::ios::binary)
            << "From: Jürgen <j@example.org>\nSubject: " << subject << "\nMessage-ID: <" << name
            << "@example.org>\n\n"
            << body << "\n";
        fs::rename(dir / "Maildir/tmp" / name, dir / "Maildir/new" / name);
    }
    std::size_t inboxCount() {
        std::size_t count = 0;
        for (const char* sub : {"new", "cur"})
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir / "Maildir" / sub))
                ++count;
        return count;
    }

    static inline int serial = 0;
    fs::path dir;
};

class ClassifyTable : public ReadableOutput, public testing::WithParamInterface<const char*> {};

// Folders named in other scripts line up, and the highest percentage comes first whatever
// the threshold marks.
TEST_P(ClassifyTable, PercentagesRightAlignedHighestFirst) {
    std::string net = readFile((dir / "zelko.ini").string());
    net =
        std::regex_replace(net, std::regex("neuron0\\.name=_Invoices_"), "neuron0.name=_Grüße Ü_");
    net =
        std::regex_replace(net, std::regex("neuron1\\.name=_Travel_"), "neuron1.name=_旅行の手配_");
    writeFile((dir / "zelko.ini").string(), net);
    writeFile((dir / "bill.eml").string(),
              "From: a@example.org\nSubject: x\n\nPlease pay the invoice, amount due soon.\n");
    std::string out;
    ASSERT_EQ(run(std::string("classify ") + GetParam() + " " + (dir / "bill.eml").string(), &out),
              0)
        << out;
    std::vector<std::string> rows = lines(out);
    ASSERT_EQ(rows.size(), 5u) << out;
    double before = 101;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(rows[r], match, std::regex(" ([0-9.]+)%$"))) << out;
        EXPECT_LE(std::stod(match[1]), before) << out;
        before = std::stod(match[1]);
        EXPECT_EQ(columns(rows[r]), columns(rows[1])) << out;
    }
    EXPECT_NE(out.find("旅行の手配"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Thresholds, ClassifyTable,
                         testing::Values("", "--threshold 1", "--threshold 99"));

TEST_F(ReadableOutput, LogColumnsLineUpInAnyScript) {
    deliver("a.host", "Grüße, invoice", "invoice amount due");
    deliver("b.host", "会議の予定について", "nothing to see");
    ASSERT_EQ(run("sort --once"), 0);
    std::string out;
    ASSERT_EQ(run("log -n 2", &out), 0) << out;
    std::vector<std::string> rows = lines(out);
    ASSERT_EQ(rows.size(), 3u) << out;
    auto actionColumn = [](const std::string& row) {
        std::size_t at = row.find("  action");
        for (const char* action : {"  moved", "  left"})
            at = std::min(at, row.find(action));
        return columns(row.substr(0, at));
    };
    EXPECT_EQ(actionColumn(rows[1]), actionColumn(rows[0])) << out;
    EXPECT_EQ(actionColumn(rows[2]), actionColumn(rows[0])) << out;
}

// What each command says where there is little or nothing to do.
struct SaysCase {
    const char* name;
    bool leaveOne; // a message no stimulation matches is sorted (left) first
    const char* command;
    int status;
    std::vector<const char*> says;
    int inboxAfter; // -1: not checked
};

void PrintTo(const SaysCase& c, std::ostream* out) {
    *out << c.name;
}

class Says : public ReadableOutput, public testing::WithParamInterface<SaysCase> {};

TEST_P(Says, WhatIsTrue) {
    const SaysCase& c = GetParam();
    if (c.leaveOne) {
        deliver("left.host", "nothing", "nothing to see");
        ASSERT_EQ(run("sort --once"), 0);
    }
    std::string out;
    EXPECT_EQ(run(c.command, &out), c.status) << out;
    for (const char* text : c.says)
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    if (c.inboxAfter >= 0) {
        EXPECT_EQ(inboxCount(), static_cast<std::size_t>(c.inboxAfter)) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Says,
    testing::Values(SaysCase{"DemoJournals", false, "log", 0, {"moved", "Invoices 9"}, -1},
                    SaysCase{"LogZero", false, "log -n 0", 0, {"-n 0 lists no lines"}, -1},
                    SaysCase{
                        "UndoUnknown", false, "undo '<nobody@example.org>'", 1, {"unknown"}, 0},
                    SaysCase{"UndoNewestLeft",
                             true,
                             "undo",
                             0,
                             {"nothing: cannot be taken back: it was left in the inbox",
                              "nothing to take back"},
                             1},
                    SaysCase{"FoldsAboveTheSet",
                             false,
                             "evaluate --folds 100",
                             64,
                             {"--folds 100 is more than the 48 learning messages"},
                             -1},
                    SaysCase{"ConfusionHeaders",
                             false,
                             "evaluate --folds 3 --iterations 30",
                             0,
                             {"true \\ decided", "      4   none\n1 Invoices", "none: no "},
                             -1}),
    [](const testing::TestParamInfo<SaysCase>& info) { return info.param.name; });

// sort --once ends with what it did; a message it leaves is journalled once; the dry run
// and the real run both leave a message undo moved back.
TEST_F(ReadableOutput, SortOnceSummaryJournalOnceAndUndoneStays) {
    deliver("a.host", "bill", "invoice amount due");
    deliver("b.host", "nothing", "nothing to see");
    struct Step {
        const char* command;
        const char* says;
    };
    for (const Step& step : {
             Step{"sort --once", "2 messages in the inbox: 1 moved, 0 forwarded, 0 answered, 1 "
                                 "left, 0 failed\n"},
             Step{"sort --once", "1 message in the inbox: 0 moved, 0 forwarded, 0 answered, 1 "
                                 "left, 0 failed\n"},
             Step{"undo '<a.host@example.org>'", "moved back"},
             Step{"sort --once --dry-run", "bill\n  stays in the inbox: undo moved it back"},
             Step{"sort --once", "2 messages in the inbox: 0 moved, 0 forwarded, 0 answered, 2 "
                                 "left, 0 failed\n"},
         }) {
        std::string out;
        ASSERT_EQ(run(step.command, &out), 0) << step.command << "\n" << out;
        EXPECT_NE(out.find(step.says), std::string::npos) << step.command << "\n" << out;
    }
    EXPECT_EQ(inboxCount(), 2u);
    std::string journal = readFile((dir / "journal.jsonl").string());
    std::ptrdiff_t left = 0;
    for (const std::string& line : lines(journal))
        left += line.find("\"action\":\"left\"") != std::string::npos;
    EXPECT_EQ(left, 1) << journal;
}

} // namespace

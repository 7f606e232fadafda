// What brevalo-cli prints for a person, run against a copy of the demonstration world.
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Case {
    const char* name;
    const char* setup; // sh: "m ID SUBJECT BODY" delivers a message, $B is the tool
    const char* command;
    int status;
    std::vector<const char*> says;
    const char* aligned = nullptr; // every line it matches in lines up there
    bool descending = false;       // each message's percentages, highest first
};

const fs::path demo = fs::temp_directory_path() / ("brevalo-ro-" + std::to_string(getpid()));

class ReadableOutput : public testing::TestWithParam<Case> {
protected:
    static void TearDownTestSuite() { fs::remove_all(demo); }
};

TEST_P(ReadableOutput, SaysWhatIsTrueInColumns) {
    const Case& c = GetParam();
    std::string cli = std::string(BREVALO_BIN_DIR) + "/brevalo-cli", dir = demo.string() + c.name;
    if (!fs::exists(demo)) {
        ASSERT_EQ(std::system((cli + " demo " + demo.string() + " >/dev/null").c_str()), 0);
    }
    fs::copy(demo, dir, fs::copy_options::recursive);
    std::string script = "export BREVALO_HOME=" + dir + " MAILDIR=" + dir + "/Maildir B=" + cli +
                         "; m() { printf 'From: Jürgen <j@x>\\nSubject: %s\\nMessage-ID: "
                         "<%s@x>\\n\\n%s\\n' \"$2\" \"$1\" \"$3\" > $MAILDIR/new/$1; }; { " +
                         c.setup + "; } >/dev/null 2>&1; { $B " + c.command + "; } >" + dir +
                         "/o 2>&1";
    int status = std::system(script.c_str());
    std::string out = readFile(dir + "/o"), line;
    fs::remove_all(dir);
    EXPECT_EQ(WEXITSTATUS(status), c.status) << out;
    for (const char* text : c.says)
        EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    std::size_t column = 0; // terminal columns; kana and kanji (lead bytes e3 to e9) take two
    double before = 101;
    for (std::istringstream lines(out); std::getline(lines, line);) {
        std::smatch match;
        if (c.aligned && std::regex_search(line, match, std::regex(c.aligned))) {
            std::size_t at = 0;
            for (unsigned char b : match.prefix().str())
                at += (b & 0xc0) == 0x80 ? 0 : b >= 0xe3 && b <= 0xe9 ? 2 : 1;
            EXPECT_EQ(at, column ? column : column = at) << out;
        }
        bool percent = c.descending && std::regex_search(line, match, std::regex(" ([0-9.]+)%$"));
        EXPECT_LE(percent ? std::stod(match[1]) : 0, before) << out;
        before = percent ? std::stod(match[1]) : 101; // a message's name starts anew
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ReadableOutput,
    testing::Values(
        Case{
            "Classify",
            "sed -i 's/=_Invoices_/=_Grüße Ü_/;s/=_Travel_/=_旅行の手配_/' "
            "$BREVALO_HOME/zelko.ini; "
            "m x x 'Please pay the invoice, amount due soon.'",
            "classify $MAILDIR/new/x; for t in 1 99; do $B classify --threshold $t $MAILDIR/new/x; "
            "done",
            0,
            {"旅行の手配"},
            "%$",
            true},
        Case{"LogDemoZeroConfusion",
             "m a 'Grüße invoice' 'invoice due'; m b '会議の予定' none; $B sort --once",
             "log && $B log -n 0 && $B evaluate --folds 3 --iterations 30",
             0,
             {"Payment reminder", "left", "-n 0 lists no lines", "true \\ decided",
              "      4   none\n1 Invoices", "none: no "},
             "  (action|moved|left) "},
        Case{"FoldsUndoNewestLeftUnknown",
             "m b nothing none; $B sort --once",
             "evaluate --folds 100; $B undo; $B undo '<nobody@x>'",
             1,
             {"--folds 100 is more than the 48", "nothing: cannot be taken back: it was left in",
              "<nobody@x>: unknown"}},
        Case{"SortOnceJournalUndo",
             "m a bill 'invoice due'; m b nothing none",
             "sort --once && $B sort --once && $B log -n 2 --json && $B undo '<a@x>' && $B sort "
             "--once "
             "--dry-run && $B sort --once",
             0,
             {"2 messages in the inbox: 1 moved, 0 forwarded, 0 answered, 1 left, 0 failed\n",
              "1 message in the inbox: 0 moved, 0 forwarded, 0 answered, 1 left, 0 failed\n",
              "\"action\":\"moved\"", "bill\n  stays in the inbox: undo moved it back",
              "2 messages in the inbox: 0 moved, 0 forwarded, 0 answered, 2 left, 0 failed\n"}},
        Case{"SortingOffJournalledOnce",
             "m b nothing none; m c other none; sed -i 's/^enabled=_1_/enabled=_0_/' "
             "$BREVALO_HOME/zelko.ini",
             "sort --once && $B sort --once && $B sort --once && grep -c 'sorting is off' "
             "$BREVALO_HOME/journal.jsonl",
             0,
             {"2 left, 0 failed\n2\n"}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

} // namespace

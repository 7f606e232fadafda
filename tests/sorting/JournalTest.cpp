#include "tests/support/LogRecorder.h"
#include "tests/support/TempFolder.h"

#include "sorting/Journal.h"
#include "sorting/UndoneMessages.h"
#include "platform/maildir/MaildirSysCalls.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

Journal::Entry entry(const std::string& subject, const std::string& time = "2026-12-08T06:00:00Z",
                     const std::string& messageId = "") {
    Journal::Entry e;
    e.time = time;
    e.subject = subject;
    e.messageId = messageId;
    e.action = "moved";
    return e;
}

std::vector<std::string> subjects(const std::vector<Journal::Entry>& entries) {
    std::vector<std::string> result;
    for (const Journal::Entry& e : entries)
        result.push_back(e.subject);
    return result;
}

using Texts = std::vector<std::string>;

} // namespace

TEST(Journal, LineRoundTripsEveryField) {
    Journal::Entry e = entry("Trip \"to\" Zürich\n", "2026-12-08T06:12:03Z", "<a1@example.org>");
    e.from = "Ann <ann@example.org>";
    e.action = "forwarded";
    e.reason = "because";
    e.recipients = {"acc@example.org;boss@example.org"};
    e.folders = {{"Invoices", 97.5}, {"Travel", 80}};
    e.copies = {{"Invoices", "1765.M1P2Q3.host:2,S"}};
    std::string line = e.toJson();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    Journal::Entry back;
    ASSERT_TRUE(Journal::Entry::fromJson(line, back));
    EXPECT_EQ(back.toJson(), line);
    EXPECT_EQ(back.subject, e.subject);
    EXPECT_EQ(back.folders[0].percent, 97.5);
    EXPECT_EQ(back.copies[0].file, e.copies[0].file);
    // Bytes that are no UTF-8 (a broken header) still give a line.
    e.subject = "bad \xff\xfe byte";
    ASSERT_TRUE(Journal::Entry::fromJson(e.toJson(), back));
}

// A crash may leave a line without its end, and anything may stand in the file: the
// reader skips it, and the next append starts a line of its own.
TEST(Journal, UnreadableLinesAreSkippedAndATornTailIsEnded) {
    TempFolder folder("journal");
    Journal journal(folder.file("state/journal.jsonl"));
    std::string error;
    ASSERT_TRUE(journal.append(entry("one"), error)) << error;
    writeFile(journal.fileName(), readFile(journal.fileName()) +
                                      "not json\n[1,2]\n{\"action\":\"moved\"}\n{\"time\":\"2026-");
    ASSERT_TRUE(journal.append({entry("two"), entry("three")}, error)) << error;
    EXPECT_EQ(subjects(journal.all()), (Texts{"one", "two", "three"}));
}

// At the size limit the file moves aside; two old files are kept, the oldest dropped.
TEST(Journal, RotatesKeepingTheLastTwo) {
    TempFolder folder("journal");
    Journal journal(folder.file("journal.jsonl"));
    // Lines below the readers' limit: a batch of 40 is a little over a fifth of the file.
    std::vector<Journal::Entry> batch(40, entry(""));
    for (Journal::Entry& e : batch)
        e.recipients.assign(173, std::string(Journal::fieldBytes, 'x'));
    std::string error;
    for (int i = 1; i <= 17; ++i) {
        for (Journal::Entry& e : batch)
            e.subject = std::to_string(i);
        ASSERT_TRUE(journal.append(batch, error)) << error;
    }
    // 5 batches reach the limit: 1-5 dropped, 6-10 in .2, 11-15 in .1, 16-17 current.
    Texts expected;
    for (int i = 6; i <= 17; ++i)
        expected.insert(expected.end(), batch.size(), std::to_string(i));
    EXPECT_EQ(subjects(journal.all()), expected);
    EXPECT_FALSE(fileExists(journal.fileName() + ".3"));
    EXPECT_EQ(subjects(journal.last(81)).front(), "15");
}

TEST(Journal, SelectsTheLastSinceATimeAndByMessageId) {
    TempFolder folder("journal");
    Journal journal(folder.file("journal.jsonl"));
    std::string error;
    ASSERT_TRUE(journal.append({entry("a", "2026-12-07T23:59:59Z", "<a@x>"),
                                entry("b", "2026-12-08T00:00:00Z", "<b@x>"),
                                entry("c", "2026-12-08T10:00:00Z", "<a@x>")},
                               error));
    std::time_t midnight = 0;
    ASSERT_TRUE(Journal::parseTime("2026-12-08", 0, midnight));
    EXPECT_EQ(subjects(journal.since(midnight)), (Texts{"b", "c"}));
    EXPECT_EQ(subjects(journal.last(1)), Texts{"c"});
    EXPECT_EQ(subjects(journal.last(9)), (Texts{"a", "b", "c"}));
    EXPECT_EQ(subjects(journal.withMessageIds({"a@x"})), (Texts{"a", "c"}));
    EXPECT_EQ(subjects(journal.withMessageIds({"<b@x>", "<none@x>"})), Texts{"b"});
}

struct TimeCase {
    const char* name;
    const char* text;
    const char* expected; // formatted back; null: refused
};

class JournalTime : public testing::TestWithParam<TimeCase> {};

TEST_P(JournalTime, ReadsWhatAPersonTypes) {
    const TimeCase& c = GetParam();
    std::time_t now = 0;
    ASSERT_TRUE(Journal::parseTime("2026-12-08T12:00:00Z", 0, now));
    std::time_t time = 0;
    bool read = Journal::parseTime(c.text, now, time);
    EXPECT_EQ(read, c.expected != nullptr) << c.text;
    if (read && c.expected) {
        EXPECT_EQ(Journal::formatTime(time), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JournalTime,
    testing::Values(TimeCase{"date", "2026-12-08", "2026-12-08T00:00:00Z"},
                    TimeCase{"date_and_minute", "2026-12-08T06:30", "2026-12-08T06:30:00Z"},
                    TimeCase{"blank_seconds_and_z", "2026-12-08 06:30:15Z", "2026-12-08T06:30:15Z"},
                    TimeCase{"hours_back", "2h", "2026-12-08T10:00:00Z"},
                    TimeCase{"days_back", "3d", "2026-12-05T12:00:00Z"},
                    TimeCase{"minutes_back", "90m", "2026-12-08T10:30:00Z"},
                    TimeCase{"month_13", "2026-13-01", nullptr},
                    TimeCase{"hour_alone", "2026-12-08T06", nullptr},
                    TimeCase{"word", "yesterday", nullptr},
                    TimeCase{"trailing_letter", "2026-12-08x", nullptr},
                    TimeCase{"empty", "", nullptr}, TimeCase{"unit_alone", "h", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A stranger's header cannot make a line huge, and no line can crash a reader: a text
// is cut on a character boundary; too long or too deep a line is skipped, also where a
// sorter looks for moved-back messages.
TEST(Journal, HostileLinesAreBoundedAndSkipped) {
    TempFolder folder("journal");
    Journal journal(folder.file("journal.jsonl"));
    Journal::Entry huge = entry(std::string(1u << 20, 'x'));
    huge.from = std::string(Journal::fieldBytes - 4, 'a') + "\xc3\xbc\xc3\xbc\xc3\xbc"; // "üüü"
    std::string error;
    ASSERT_TRUE(journal.append(huge, error)) << error;
    std::string deep = std::string(30000, '[') + std::string(30000, ']');
    std::string undone = R"({"time":"t","action":"undone","copies":[{"folder":"","file":"f1"}],)";
    std::string lines[] = {std::string(1u << 20, '['), undone + "\"x\":" + deep + "}",
                           undone + "\"x\":\"" + std::string(Journal::lineBytes, 'y') + "\"}",
                           undone + "\"x\":[[[]]]}"};
    for (const std::string& line : lines)
        writeFile(journal.fileName(), readFile(journal.fileName()) + line + "\n");
    LogRecorder log;
    std::vector<Journal::Entry> all = journal.all();
    EXPECT_TRUE(log.contains("skipping a line of over")); // not held whole to be refused
    ASSERT_EQ(all.size(), 2u);
    EXPECT_LT(readFile(journal.fileName()).find('\n'), 2 * Journal::longFieldBytes);
    EXPECT_EQ(all[0].from, std::string(Journal::fieldBytes - 4, 'a') + "...");
    EXPECT_EQ(all[0].subject.size(), Journal::fieldBytes);
    EXPECT_TRUE(journal.movedBack("f1:2,S"));
}

namespace {
std::string watched;            // the journal file
std::vector<std::string> calls; // in order
} // namespace

// Lines go out under the lock and are synced before the lock is dropped.
TEST(Journal, WritesUnderTheLockAndSyncsBeforeClosing) {
    TempFolder folder("journal");
    Journal journal(watched = folder.file("journal.jsonl"));
    std::string error;
    ASSERT_TRUE(journal.append(entry("one"), error)) << error;
    calls.clear();
    sysCalls().write = [](int fd, const void* data, size_t size) -> ssize_t {
        int other = ::open(watched.c_str(), O_RDONLY);
        calls.push_back(::flock(other, LOCK_EX | LOCK_NB) == 0 ? "write unlocked" : "write");
        ::close(other);
        return ::write(fd, data, size);
    };
    sysCalls().fsync = [](int fd) { return calls.push_back("fsync"), ::fsync(fd); };
    sysCalls().close = [](int fd) { return calls.push_back("close"), ::close(fd); };
    bool written = journal.append(entry("two"), error);
    resetSysCalls();
    EXPECT_TRUE(written) << error;
    EXPECT_EQ(calls, (Texts{"write", "fsync", "close"}));
}

// A moved-back message stays listed while it is in the inbox, and a day after it left.
TEST(Journal, UndoneListKeepsWhatIsInTheInboxOrYoung) {
    TempFolder folder("journal");
    UndoneMessages list(folder.file("state/undone"));
    std::time_t later = 1000 + UndoneMessages::keptAfterLeaving;
    std::string error;
    for (auto [base, when] :
         {std::pair<const char*, std::time_t>{"in", 1000}, {"left", 1000}, {"young", later - 10}})
        ASSERT_TRUE(list.add(base, {}, error, when)) << error;
    ASSERT_TRUE(list.add("new", {"in"}, error, later)) << error;
    for (auto [base, listed] : {std::pair{"in", true}, {"left", false}, {"young", true}})
        EXPECT_EQ(list.contains(base), listed) << base;
    EXPECT_TRUE(list.contains("new"));
}

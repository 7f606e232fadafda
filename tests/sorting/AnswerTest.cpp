#include "tests/sorting/SortingWorld.h"

#include "core/NeuronOut.h"
#include "sorting/OutgoingMail.h"
#include "sorting/SentMailRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <atomic>
#include <fstream>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Subjects = std::vector<std::string>;

namespace {

bool loggedStart(const LogRecorder& log, const std::string& start) {
    for (const std::string& line : log.lines())
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

std::string manyAddresses(int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? ", " : "") + std::string("person") + std::to_string(i) + "@example.org";
    return list;
}

} // namespace

// One learned world answering every case of a suite (learning a net per case would cost
// more than all the cases): each case's message has the case's name as its subject and
// looks only at what that message did.
class AnsweringWorld : public testing::Test {
protected:
    static void SetUpTestSuite() {
        world = new SortingWorld;
        world->net->setJobVariant(3);
    }
    static void TearDownTestSuite() {
        delete world;
        world = nullptr;
    }

    static bool contains(const Subjects& subjects, const std::string& subject) {
        return std::find(subjects.begin(), subjects.end(), subject) != subjects.end();
    }

    // Delivers and sorts the message; returns the mail sent for it.
    static std::vector<SortingWorld::Sent>
    sortOne(const std::string& subject, const std::string& headers, const std::string& from) {
        std::size_t before = world->sent().size(), errors = world->errors.size();
        world->arrive(world->deliver(mailText(subject, "An invoice.", headers, from)));
        // Answered or not, the message is filed and leaves the inbox.
        EXPECT_FALSE(contains(world->inboxSubjects(), subject));
        EXPECT_TRUE(contains(world->folderSubjects("Invoices"), subject));
        EXPECT_EQ(world->errors.size(), errors);
        std::vector<SortingWorld::Sent> sent = world->sent();
        return {sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()};
    }

    static SortingWorld* world;
};

SortingWorld* AnsweringWorld::world = nullptr;

// Where an answer goes for a given sender: one checked address or none (with a log line).
struct RecipientCase {
    const char* name;
    std::string headers; // added to a message From: Ann Smith <ann@example.org>
    const char* to;      // the one recipient; empty: no answer
    const char* refusal; // the log line's reason when there is no answer
};

void PrintTo(const RecipientCase& c, std::ostream* out) {
    *out << c.name;
}

class AnswerRecipients : public AnsweringWorld,
                         public testing::WithParamInterface<RecipientCase> {};

TEST_P(AnswerRecipients, AnAnswerGoesToOneCheckedMailboxOrNowhere) {
    const RecipientCase& c = GetParam();
    LogRecorder log;
    auto sent = sortOne(c.name, c.headers, "Ann Smith <ann@example.org>");
    if (*c.to) {
        ASSERT_EQ(sent.size(), 1u);
        std::string headers = sent[0].raw.substr(0, sent[0].raw.find("\n\n") + 1);
        EXPECT_NE(headers.find("\nTo: " + std::string(c.to) + "\n"), std::string::npos) << headers;
        EXPECT_EQ(headers.find("\nCc:"), std::string::npos) << headers;
        EXPECT_EQ(headers.find("\nBcc:"), std::string::npos) << headers;
        return;
    }
    EXPECT_TRUE(sent.empty()) << sent[0].to;
    EXPECT_EQ(log.count("ZELKO: not answering message '" + std::string(c.name) + "': " + c.refusal),
              1)
        << testing::PrintToString(log.lines());
}

INSTANTIATE_TEST_SUITE_P(
    Senders, AnswerRecipients,
    testing::Values(
        RecipientCase{"plain_from", "", "ann@example.org", ""},
        RecipientCase{"pipe_in_a_list", "Reply-To: root, postmaster, |touch x\n", "",
                      "Reply-To address 'root' is a bare local name"},
        // Nothing the MIME library reads as an address: the author is answered.
        RecipientCase{"pipe_alone", "Reply-To: |touch x\n", "ann@example.org", ""},
        RecipientCase{"pipe_with_domain", "Reply-To: |touch@example.org\n", "",
                      "Reply-To address '|touch@example.org' starts with a pipe or a path"},
        RecipientCase{"path", "Reply-To: /tmp/x@example.org\n", "",
                      "Reply-To address '/tmp/x@example.org' starts with a pipe or a path"},
        RecipientCase{"bare_local_name", "Reply-To: root\n", "",
                      "Reply-To address 'root' is a bare local name"},
        RecipientCase{"local_host", "Reply-To: root@localhost\n", "",
                      "Reply-To address 'root@localhost' has no full domain name"},
        RecipientCase{"address_literal", "Reply-To: root@[127.0.0.1]\n", "",
                      "Reply-To address 'root@[127.0.0.1]' has no valid domain name"},
        RecipientCase{"quoted_local_part", "Reply-To: \"a b\"@example.org\n", "",
                      "Reply-To address '\"a b\"@example.org' has a local part that is not a "
                      "plain name"},
        RecipientCase{"group_first", "Reply-To: team:;, carl@example.org\n", "",
                      "Reply-To address '' is a group, not a mailbox"},
        RecipientCase{"own_reply_address", "Reply-To: Desk <SORTER@Example.org>\n", "",
                      "Reply-To address 'SORTER@Example.org' is the reply address itself"},
        RecipientCase{"hostile_sender_field", "Sender: root\n", "",
                      "Sender address 'root' is a bare local name"},
        RecipientCase{"display_name_with_angle_brackets",
                      "Reply-To: \"Bob <bob@evil.example>, x@evil.example\" <ann@example.org>\n",
                      "ann@example.org", ""},
        RecipientCase{"two_mailboxes_the_first_counts",
                      "Reply-To: Bob <bob@example.net> <carl@example.com>\n", "bob@example.net",
                      ""},
        RecipientCase{"three_hundred_addresses", "Reply-To: " + manyAddresses(300) + "\n",
                      "person0@example.org", ""},
        RecipientCase{"blank_reply_to_falls_back", "Reply-To:  \nSender: s@example.org\n",
                      "s@example.org", ""},
        RecipientCase{"international_domain",
                      "Reply-To: ann@b\xc3\xbc"
                      "cher.example\n",
                      "ann@xn--bcher-kva.example", ""}),
    [](const testing::TestParamInfo<RecipientCase>& info) { return std::string(info.param.name); });

// Automatic mail is filed as the job says but never answered.
struct MarkerCase {
    const char* name;
    const char* headers;
    const char* from;
    bool answered;
};

void PrintTo(const MarkerCase& c, std::ostream* out) {
    *out << c.name;
}

class AutomaticMail : public AnsweringWorld, public testing::WithParamInterface<MarkerCase> {};

TEST_P(AutomaticMail, IsFiledButNeverAnswered) {
    const MarkerCase& c = GetParam();
    LogRecorder log;
    EXPECT_EQ(sortOne(c.name, c.headers, c.from).size(), c.answered ? 1u : 0u);
    EXPECT_EQ(loggedStart(log, "ZELKO: not answering automatic message '" + std::string(c.name)),
              !c.answered)
        << testing::PrintToString(log.lines());
}

INSTANTIATE_TEST_SUITE_P(
    Markers, AutomaticMail,
    testing::Values(
        MarkerCase{"person", "", "Ann <ann@example.org>", true},
        MarkerCase{"auto_replied", "Auto-Submitted: auto-replied\n", "ann@example.org", false},
        MarkerCase{"auto_submitted_no", "Auto-Submitted: No\n", "ann@example.org", true},
        MarkerCase{"auto_submitted_no_with_parameter", "Auto-Submitted: no; owner=ann\n",
                   "ann@example.org", true},
        MarkerCase{"comment_before_no", "Auto-Submitted: (typed by hand) no\n", "ann@example.org",
                   true},
        MarkerCase{"comment_before_keyword", "Auto-Submitted: (no) auto-generated\n",
                   "ann@example.org", false},
        MarkerCase{"comment_after_keyword", "Auto-Submitted: auto-generated (daily report)\n",
                   "ann@example.org", false},
        MarkerCase{"second_auto_submitted", "Auto-Submitted: no\nAuto-Submitted: auto-notified\n",
                   "ann@example.org", false},
        MarkerCase{"precedence_bulk", "Precedence: bulk\n", "ann@example.org", false},
        MarkerCase{"precedence_list", "Precedence: list\n", "ann@example.org", false},
        MarkerCase{"list_id", "List-Id: <talk.lists.example.org>\n", "ann@example.org", false},
        MarkerCase{"list_unsubscribe", "List-Unsubscribe: <mailto:leave@example.org>\n",
                   "ann@example.org", false},
        MarkerCase{"list_post", "List-Post: <mailto:talk@example.org>\n", "ann@example.org", false},
        MarkerCase{"empty_return_path", "Return-Path: <>\n", "ann@example.org", false},
        MarkerCase{"empty_return_path_with_blank", "Return-Path: < >\n", "ann@example.org", false},
        MarkerCase{"return_path_of_a_person", "Return-Path: <ann@example.org>\n", "ann@example.org",
                   true},
        MarkerCase{"x_autoreply", "X-Autoreply: yes\n", "ann@example.org", false},
        MarkerCase{"x_autorespond", "X-Autorespond: on vacation\n", "ann@example.org", false},
        MarkerCase{"suppress_all", "X-Auto-Response-Suppress: All\n", "ann@example.org", false},
        MarkerCase{"suppress_oof_in_a_list", "X-Auto-Response-Suppress: DR, oof\n",
                   "ann@example.org", false},
        MarkerCase{"suppress_autoreply", "X-Auto-Response-Suppress: AutoReply\n", "ann@example.org",
                   false},
        MarkerCase{"suppress_other_responses", "X-Auto-Response-Suppress: DR, RN, NRN\n",
                   "ann@example.org", true},
        MarkerCase{"mailer_daemon", "", "MAILER-DAEMON@example.org", false},
        MarkerCase{"postmaster", "", "Postmaster <PostMaster@example.org>", false},
        MarkerCase{"noreply", "", "Shop <NoReply@shop.example>", false},
        MarkerCase{"no_reply", "", "no-reply@shop.example", false},
        MarkerCase{"do_not_reply", "", "Do-Not-Reply@shop.example", false},
        MarkerCase{"noreply_reply_to", "Reply-To: noreply@shop.example\n", "ann@example.org",
                   false},
        MarkerCase{"from_the_reply_address", "", "Brevalo <sorter@example.org>", false},
        MarkerCase{"no_sender", "", "", false}),
    [](const testing::TestParamInfo<MarkerCase>& info) { return std::string(info.param.name); });

TEST(AnswerRecipients, ForwardsGoOnlyToTheTypedAddresses) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.arrive(world.deliver(
        mailText("Bill", "An invoice.", "Reply-To: root, |touch x\nCc: evil@example.net\n")));
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 1u);
    std::string headers = sent[0].raw.substr(0, sent[0].raw.find("\n\n") + 1);
    EXPECT_NE(headers.find("\nTo: acc@example.org, boss@example.org\n"), std::string::npos)
        << headers;
    EXPECT_EQ(headers.find("evil"), std::string::npos) << headers;
    EXPECT_EQ(headers.find("root"), std::string::npos) << headers;
}

// The sorter's own forward come back to the inbox (the reply address is one of a
// folder's persons) is not forwarded again; without a kept copy it stays in the inbox.
TEST(AnswerRecipients, OwnForwardsAreNotForwardedAgain) {
    for (int keep : {1, 0}) {
        SortingWorld world;
        LogRecorder log;
        world.net->setJobVariant(2);
        world.net->setStoreMail(keep);
        world.arrive(world.deliver(mailText(
            "Bill", "An invoice.", "Auto-Submitted: auto-generated\n", "Sorter@example.org")));
        EXPECT_TRUE(world.sent().empty()) << keep;
        EXPECT_EQ(world.inboxSubjects(), keep ? Subjects{} : Subjects{"Bill"});
        EXPECT_EQ(world.folderSubjects("Invoices"), keep ? Subjects{"Bill"} : Subjects{});
        EXPECT_EQ(log.count("ZELKO: not forwarding message 'Bill': it was sent by the reply "
                            "address itself"),
                  1);
    }
}

// A send that fails is tried once more at the next start, then given up: the message
// stays in the inbox and nothing more is sent for it.
TEST(SentMail, AFailedSendIsTriedOnceMoreThenGivenUp) {
    SortingWorld world;
    world.net->setJobVariant(3);
    world.sendmailExits(75);
    std::string file = world.dir + "/state/sent-mail";
    MESSAGEID id = world.deliver(mailText("Bill", "An invoice."));
    for (int start = 1; start <= 3; ++start) {
        SentMailRecord record(file);
        world.record = &record;
        LogRecorder log;
        std::vector<MESSAGEID> retried = messagesToRetry(world.connection.inbox.get(), record);
        EXPECT_EQ(retried, start == 2 ? std::vector<MESSAGEID>{id} : std::vector<MESSAGEID>{});
        world.arrive(id); // as sort --once looks at every message in the inbox
        EXPECT_EQ(world.sent().size(), start == 1 ? 1u : 2u) << start;
        EXPECT_EQ(world.inboxSubjects(), Subjects{"Bill"});
        if (start == 3) {
            EXPECT_EQ(log.count("ZELKO: sending the mail to 'ann@example.org' for message " +
                                std::to_string(id) +
                                " failed 2 times, not trying again; the message stays in the "
                                "inbox"),
                      1)
                << testing::PrintToString(log.lines());
        }
    }
    world.record = nullptr;
    // One box for each failed send, and one for the mail given up: the message is not sorted.
    ASSERT_EQ(world.errors.size(), 3u);
    EXPECT_NE(world.errors[2].find("could not be sent and is given up"), std::string::npos)
        << world.errors[2];
}

TEST(SentMail, ASecondAttemptThatSucceedsFinishesTheMessage) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.sendmailExits(75);
    std::string file = world.dir + "/sent-mail";
    MESSAGEID id = world.deliver(mailText("Both", "A flight and an invoice."));
    {
        SentMailRecord record(file);
        world.record = &record;
        world.arrive(id);
    }
    world.sendmailExits(0);
    for (int start = 2; start <= 3; ++start) {
        SentMailRecord record(file);
        world.record = &record;
        std::vector<MESSAGEID> retried = messagesToRetry(world.connection.inbox.get(), record);
        for (MESSAGEID again : retried)
            world.arrive(again);
        EXPECT_EQ(retried.size(), start == 2 ? 1u : 0u);
    }
    world.record = nullptr;
    EXPECT_EQ(world.sent().size(), 2u);
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{"Both"});
}

// Each forward of a message is recorded on its own: when one folder's forward fails, the
// retry sends that one only.
TEST(SentMail, ARetrySendsOnlyTheForwardThatFailed) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.net->getOutput(1)->setEmails({"travel@example.org"});
    // Records like the world's script, and fails for Travel while "travel-fails" exists.
    std::string picky = world.dir + "/picky";
    std::ofstream(picky) << "#!/bin/sh\n"
                            "dir=$(dirname \"$0\")\n"
                            "n=$(ls \"$dir/sent\" | grep -c eml)\n"
                            "cat > \"$dir/sent/$n.eml\"\n"
                            "if [ -e \"$dir/travel-fails\" ] && grep -q '^To: travel@' "
                            "\"$dir/sent/$n.eml\"; then exit 75; fi\n";
    fs::permissions(picky, fs::perms::owner_all);
    setSendmailCommand(picky + " -t -oi");
    std::ofstream(world.dir + "/travel-fails").close();
    MESSAGEID id = world.deliver(mailText("Both", "A flight and an invoice."));
    {
        SentMailRecord record(world.dir + "/sent-mail");
        world.record = &record;
        world.arrive(id);
    }
    fs::remove(world.dir + "/travel-fails");
    SentMailRecord record(world.dir + "/sent-mail");
    world.record = &record;
    for (MESSAGEID again : messagesToRetry(world.connection.inbox.get(), record))
        world.arrive(again);
    world.record = nullptr;
    std::vector<std::string> to;
    for (const auto& mail : world.sent())
        to.push_back(mail.to);
    EXPECT_EQ(to, (std::vector<std::string>{"acc@example.org, boss@example.org",
                                            "travel@example.org", "travel@example.org"}));
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
}

// Without a record that can be read, nothing is sent (a second send could not be ruled
// out): the message stays in the inbox and the error names the record.
TEST(SentMail, NothingIsSentWithoutAReadableRecord) {
    SortingWorld world;
    world.net->setJobVariant(3);
    std::string file = world.dir + "/sent-mail";
    fs::create_directories(file); // a folder where the file belongs
    SentMailRecord record(file);
    world.record = &record;
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));
    world.record = nullptr;
    EXPECT_TRUE(world.sent().empty());
    EXPECT_EQ(world.inboxSubjects(), Subjects{"Bill"});
    ASSERT_EQ(world.errors.size(), 1u);
    EXPECT_NE(world.errors[0].find("cannot record the sending in " + file + ": cannot read " +
                                   file + "; nothing was sent"),
              std::string::npos)
        << world.errors[0];
}

// Each mail is recorded under its message's Message-ID, else the message's bytes: two
// messages without one are told apart, a second copy of a message is not answered again.
TEST(SentMail, MessagesAreKnownByMessageIdElseByContent) {
    SortingWorld world;
    world.net->setJobVariant(3);
    SentMailRecord record(world.dir + "/sent-mail");
    world.record = &record;
    for (const char* subject : {"Bill 1", "Bill 2"})
        world.arrive(world.deliver(mailText(subject, "An invoice.")));
    for (int copy = 0; copy < 2; ++copy)
        world.arrive(
            world.deliver(mailText("Bill 3", "An invoice.", "Message-ID: <bill-3@example.org>\n")));
    world.record = nullptr;
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].subject, "Bill 1");
    EXPECT_EQ(sent[1].subject, "Bill 2");
    EXPECT_EQ(sent[2].subject, "Bill 3");
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
}

// The record keeps the last line of each mail younger than eight weeks and drops what a
// crash tore; what it keeps still stops a second send.
TEST(SentMail, TheRecordIsTrimmedAtStart) {
    TempFolder folder("record");
    std::string file = folder.path() + "/sent-mail";
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::string recent = SentMailRecord::key("message-id <a@x>", "answer\na@example.org");
    std::string old = SentMailRecord::key("message-id <b@x>", "answer\nb@example.org");
    std::ofstream(file) << now - 60 << " " << recent << " handed 1 7\n"
                        << now - 50 << " " << recent << " sent 1 7\n"
                        << now - 9 * 7 * 24 * 3600 << " " << old << " sent 1 8\n"
                        << "garbage\n"
                        << now << " " << old << " hand";
    {
        SentMailRecord record(file);
        EXPECT_EQ(record.find(recent).state, SentMailRecord::State::Sent);
        EXPECT_EQ(record.find(old).state, SentMailRecord::State::None);
    }
    EXPECT_EQ(readFile(file), std::to_string(now - 50) + " " + recent + " sent 1 7\n");
    SentMailRecord again(file);
    EXPECT_EQ(again.find(recent).state, SentMailRecord::State::Sent);
}

// A sorter keeps the record open while another process rewrites it (a second sorter's
// start, a delivery's trim): its next line goes into the new file, not the replaced one.
TEST(SentMail, ALineAfterAnotherWritersRewriteIsKept) {
    TempFolder folder("record");
    std::string file = folder.path() + "/sent-mail";
    std::string first = SentMailRecord::key("message-id <a@x>", "answer\na@example.org");
    std::string second = SentMailRecord::key("message-id <b@x>", "answer\nb@example.org");
    SentMailRecord sorter(file);
    std::string error;
    ASSERT_TRUE(sorter.handing(first, 7, 1, error)) << error;
    sorter.sent(first);
    SentMailRecord{file}; // two lines of one mail: rewritten
    ASSERT_TRUE(sorter.handing(second, 8, 1, error)) << error;
    SentMailRecord reader(file);
    EXPECT_EQ(reader.find(first).state, SentMailRecord::State::Sent);
    EXPECT_EQ(reader.find(second).state, SentMailRecord::State::Handed);
}

// A sorter's start rewrites the record under its lock, from its read to its rename: it
// waits while a delivery holds the lock, and keeps the line the delivery appended.
TEST(SentMail, ARewriteWaitsForTheLockAndKeepsALineAppendedMeanwhile) {
    TempFolder folder("record");
    std::string file = folder.path() + "/sent-mail";
    std::string first = SentMailRecord::key("message-id <a@x>", "answer\na@example.org");
    std::string second = SentMailRecord::key("message-id <b@x>", "answer\nb@example.org");
    std::string now = std::to_string(std::time(nullptr));
    writeFile(file, now + " " + first + " handed 1 7\n" + now + " " + first + " sent 1 7\n");
    int lock = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    std::atomic<bool> done = false;
    std::thread start([&] {
        SentMailRecord record(file);
        done = true;
    });
    std::string waiting = "-> FLOCK  ADVISORY  WRITE " + std::to_string(getpid()) + " ";
    while (!done && readFile("/proc/locks").find(waiting) == std::string::npos)
        poll(nullptr, 0, 1);
    bool waited = !done;
    std::ofstream(file, std::ios::app) << now << " " << second << " handed 1 8\n";
    close(lock);
    start.join();
    EXPECT_TRUE(waited);
    SentMailRecord reader(file);
    EXPECT_EQ(reader.find(first).state, SentMailRecord::State::Sent);
    EXPECT_EQ(reader.find(second).state, SentMailRecord::State::Handed);
}

// A delivery, which runs once per message, rewrites the record only when it is long, and
// finds a mail's last line without parsing the rest; the sorter rewrites it at every start.
TEST(SentMail, ADeliveryTrimsOnlyALongRecord) {
    TempFolder folder("record");
    std::string file = folder.path() + "/sent-mail";
    std::string key = SentMailRecord::key("message-id <a@x>", "answer\na@example.org");
    std::string old = SentMailRecord::key("message-id <b@x>", "answer\nb@example.org");
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::string handed = std::to_string(now) + " " + key + " handed 1 0\n";
    std::string sent = std::to_string(now) + " " + key + " sent 1 0\n";
    struct Case {
        SentMailRecord::Trim trim;
        std::size_t lines;
        bool trimmed;
    };
    for (Case c : {Case{SentMailRecord::Trim::WhenLong,
                        SentMailRecord::keptMails + SentMailRecord::linesBeforeTrimming - 1, false},
                   Case{SentMailRecord::Trim::WhenLong,
                        SentMailRecord::keptMails + SentMailRecord::linesBeforeTrimming, true},
                   Case{SentMailRecord::Trim::Always, 3, true}}) {
        std::string text =
            std::to_string(now - SentMailRecord::keptSeconds - 1) + " " + old + " sent 1 0\n";
        for (std::size_t i = 2; i < c.lines; ++i)
            text += handed;
        text += sent;
        writeFile(file, text);
        SentMailRecord record(file, c.trim);
        EXPECT_EQ(record.find(key).state, SentMailRecord::State::Sent) << c.lines;
        EXPECT_EQ(record.find(old).state, SentMailRecord::State::None) << c.lines;
        EXPECT_EQ(readFile(file), c.trimmed ? sent : text) << c.lines;
    }
}

// A line a crash cut short is cut off by the next append, never ended: ended, a "handed" line
// cut within its message id would read as whole, and its mail would never be sent.
TEST(SentMail, ATornLineIsCutOffNotCompleted) {
    TempFolder folder("record");
    std::string file = folder.path() + "/sent-mail";
    std::string now = std::to_string(std::time(nullptr));
    std::string kept = now + " " + SentMailRecord::key("<a@x>", "forward") + " sent 1 3\n";
    std::string torn = SentMailRecord::key("<b@x>", "forward");
    std::string added = SentMailRecord::key("<c@x>", "forward");
    struct Case {
        const char* name;
        std::string before, after;
    };
    for (const Case& c : {Case{"after_whole_lines", kept + now + " " + torn + " handed 1 12", kept},
                          Case{"alone", now + " " + torn + " handed 1 12", ""},
                          Case{"longer_than_a_read", kept + std::string(5000, '7'), kept},
                          Case{"none", kept, kept}}) {
        writeFile(file, c.before);
        std::string error;
        ASSERT_TRUE(
            SentMailRecord(file, SentMailRecord::Trim::WhenLong).handing(added, 9, 1, error))
            << error;
        std::string text = readFile(file);
        std::size_t end = text.rfind('\n', text.find(added));
        EXPECT_EQ(text.substr(0, end == std::string::npos ? 0 : end + 1), c.after) << c.name;
        EXPECT_EQ(SentMailRecord(file).find(torn).state, SentMailRecord::State::None) << c.name;
    }
}

// A forward (job variant 2) and an answer (3) as sent: the subject unchanged (a "Re:"
// not doubled, other text encoded), the plain text first beside the HTML, mail dates.
struct FormCase {
    const char *name, *subject, *body, *type, *plainBody;
    int variant;
};

void PrintTo(const FormCase& c, std::ostream* out) {
    *out << c.name;
}

class SentMailForm : public AnsweringWorld, public testing::WithParamInterface<FormCase> {};

TEST_P(SentMailForm, CarriesPlainTextFirstAndMailDates) {
    const FormCase& c = GetParam();
    std::size_t before = world->sent().size();
    world->net->setJobVariant(c.variant);
    world->arrive(world->deliver(mailText(c.subject, c.body, "", "ann@example.org", c.type)));
    world->net->setJobVariant(3);
    ASSERT_EQ(world->sent().size(), before + 1);
    SortingWorld::Sent sent = world->sent().back();
    EXPECT_EQ(sent.subject, c.subject);
    std::string headers = sent.raw.substr(0, sent.raw.find("\n\n"));
    EXPECT_TRUE(std::all_of(headers.begin(), headers.end(), [](char b) { return b > 0; }));
    EXPECT_NE(sent.raw.find("Content-Type: multipart/alternative"), std::string::npos);
    EXPECT_LT(sent.raw.find("Content-Type: text/plain"), sent.raw.find("Content-Type: text/html"));
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(MimeOleCreateMessage(sent.raw, FILETIME{}, message.out()), S_OK);
    std::string text;
    ASSERT_EQ(message->GetTextBodyUtf8(TXT_PLAIN, &text), S_OK) << sent.raw;
    EXPECT_NE(
        text.find("Sent: Mon, 07 Dec 2026 10:11:12 +0000\r\n-----\r\n" + std::string(c.plainBody)),
        std::string::npos)
        << text;
    EXPECT_NE(sent.htmlBody.find("<td>Mon, 07 Dec 2026 10:11:12 +0000</td>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SentMailForm,
    testing::Values(FormCase{"forward", "Re: Invoice 7", "An invoice.", "text/plain", "An invoice.",
                             2},
                    FormCase{"answer_html", "Rechnung f\xc3\xbcr Dezember",
                             "<p>An <b>invoice</b> &amp; more</p>", "text/html; charset=utf-8",
                             "An invoice & more", 3}),
    [](const testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

#include "tests/sorting/SortingWorld.h"

#include "util/Text.h"
#include "sorting/OutgoingMail.h"
#include "core/MatchBudget.h"
#include "core/NeuronOut.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using Subjects = std::vector<std::string>;

namespace {

bool logged(const LogRecorder& log, const std::string& line) {
    return log.count(line) > 0;
}

DateTime at(int hour, int minute, int second) {
    DateTime value = 0;
    tryEncodeDateTime({2026, 12, 7, hour, minute, second, 0}, value);
    return value;
}

} // namespace

TEST(Sorting, LearnedNetChoosesAsTaught) {
    SortingWorld world;
    EXPECT_EQ(refsCount(world.net->classify("an invoice", 80)), 1);
    EXPECT_EQ(refsCount(world.net->classify("a flight and an invoice", 80)), 2);
    EXPECT_EQ(refsCount(world.net->classify("nothing", 80)), 0);
}

TEST(Sorting, Variant1MovesIntoEveryChosenFolderOnce) {
    SortingWorld world;
    world.arrive(world.deliver(mailText("Invoice 12", "Your invoice is attached.")));
    world.arrive(world.deliver(mailText("Trip", "Your flight and its invoice.")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Invoices"), (Subjects{"Invoice 12", "Trip"}));
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{"Trip"});
    EXPECT_TRUE(world.sent().empty());
    EXPECT_TRUE(world.errors.empty());
}

TEST(Sorting, Variant2ForwardsToEachFolderWithAddresses) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.arrive(world.deliver(mailText("Both", "A flight and an invoice.")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{"Both"});
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 1u); // Travel has no addresses
    EXPECT_EQ(sent[0].to, "acc@example.org, boss@example.org");
    EXPECT_EQ(sent[0].subject, "Both"); // unchanged, no prefix
    EXPECT_NE(sent[0].raw.find("Auto-Submitted: auto-generated"), std::string::npos);
    EXPECT_NE(sent[0].raw.find("From: sorter@example.org"), std::string::npos);
    EXPECT_EQ(sent[0].args, "-t -oi\n");
}

TEST(Sorting, Variant2WithoutKeptCopiesLeavesNoFolderBehind) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.net->setStoreMail(0);
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_FALSE(world.folderExists("Invoices"));
    EXPECT_EQ(world.sent().size(), 1u);
}

TEST(Sorting, Variant3CopiesAlwaysAndAnswersOnceWithEveryBlock) {
    SortingWorld world;
    world.net->setJobVariant(3);
    world.net->setStoreMail(0);
    world.arrive(world.deliver(mailText("Both", "A flight and an invoice.",
                                        "Reply-To: replies@example.org\n"
                                        "Sender: sender@example.org\n")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{"Both"});
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{"Both"});
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].to, "replies@example.org");
    EXPECT_NE(sent[0].raw.find("Auto-Submitted: auto-replied"), std::string::npos);
    const std::string& body = sent[0].htmlBody;
    std::string expected = "<p>Thank you for your message.<br>Your invoice is with accounting.<br>"
                           "Thank you.<br><br>Your message has been passed on to: Travel.<br><br>"
                           "This reply was sent automatically by Brevalo.</p><table>";
    EXPECT_NE(body.find(expected), std::string::npos) << body;
    EXPECT_EQ(body.rfind("<HTML><HEAD><META http-equiv=Content-Type content='text/html; "
                         "charset=UTF-8'></HEAD><BODY>",
                         0),
              0u)
        << body;
}

TEST(Sorting, AnswerGoesToReplyToThenSenderThenFrom) {
    SortingWorld world;
    world.net->setJobVariant(3);
    world.arrive(world.deliver(mailText("One", "invoice", "Sender: sender@example.org\n")));
    world.arrive(world.deliver(mailText("Two", "invoice")));
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].to, "sender@example.org");
    EXPECT_EQ(sent[1].to, "ann@example.org");
}

TEST(Sorting, MissingReplyAddressStopsVariants2And3) {
    for (int variant : {2, 3}) {
        SortingWorld world;
        LogRecorder log;
        world.net->setJobVariant(variant);
        world.net->setFrom("");
        world.arrive(world.deliver(mailText("Bill", "An invoice.")));
        EXPECT_TRUE(logged(log, "ZELKO: 'from' is not set"));
        EXPECT_EQ(world.inboxSubjects(), Subjects{"Bill"});
        EXPECT_FALSE(world.folderExists("Invoices"));
        EXPECT_TRUE(world.sent().empty());
    }
}

TEST(Sorting, UnknownVariantAndSortingOffLeaveTheMessage) {
    SortingWorld world;
    {
        LogRecorder log;
        world.net->setJobVariant(7);
        world.arrive(world.deliver(mailText("Bill", "An invoice.")));
        EXPECT_TRUE(logged(log, "ZELKO: unknown jobvariant 7"));
    }
    {
        LogRecorder log;
        world.net->setJobVariant(1);
        world.net->setEnabled(0);
        world.net->setEnabledPeriod(1);
        world.arrive(world.deliver(mailText("Bill 2", "An invoice.")));
        EXPECT_TRUE(logged(log, "ZELKO: not enabled"));
        EXPECT_FALSE(logged(log, "ZELKO: enabled only in period"));
    }
    EXPECT_EQ(world.inboxSubjects(), (Subjects{"Bill", "Bill 2"}));
}

TEST(Sorting, PeriodEndsAreInclusive) {
    SortingWorld world;
    world.net->setEnabledPeriod(1);
    world.net->setPeriodFrom(at(9, 0, 0));
    world.net->setPeriodTo(at(17, 0, 0));
    setSorterClock([] { return at(9, 0, 0); });
    world.arrive(world.deliver(mailText("At start", "invoice")));
    setSorterClock([] { return at(17, 0, 0) + 0.4 / 86400; }); // within the end's second
    world.arrive(world.deliver(mailText("At end", "invoice")));
    LogRecorder log;
    setSorterClock([] { return at(17, 0, 1); });
    world.arrive(world.deliver(mailText("Too late", "invoice")));
    EXPECT_TRUE(logged(log, "ZELKO: enabled only in period"));
    EXPECT_EQ(world.folderSubjects("Invoices"), (Subjects{"At end", "At start"}));
    EXPECT_EQ(world.inboxSubjects(), Subjects{"Too late"});
}

// A network whose outputs are high for every input: only the evidence of a matched
// stimulation lets it move a message.
struct EvidenceCase {
    const char* name;
    const char* subject;
    const char* body;
    double threshold;
    const char* line; // the log line of a message that stays; null: it is moved
};

class SortingEvidence : public testing::TestWithParam<EvidenceCase> {};

TEST_P(SortingEvidence, OnlyAMatchedStimulationMovesTheMessage) {
    const EvidenceCase& c = GetParam();
    SortingWorld world;
    BackPropagationPtr network(new BackPropagation(2, 0, 2));
    network->getOb()[0] = network->getOb()[1] = 10.0; // 99.995 % for every text
    world.net->setNetwork(network);
    world.net->setThreshold(c.threshold);
    LogRecorder log;
    world.arrive(world.deliver(mailText(c.subject, c.body)));
    if (c.line) {
        EXPECT_TRUE(logged(log, c.line)) << testing::PrintToString(log.lines());
        EXPECT_EQ(world.inboxSubjects(), Subjects{c.subject});
        EXPECT_FALSE(world.folderExists("Invoices"));
        return;
    }
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{c.subject});
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{c.subject});
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SortingEvidence,
    testing::Values(
        EvidenceCase{"matched", "Bill", "An invoice.", 80, nullptr},
        EvidenceCase{"unmatched", "Watches", "Cheap watches, today only.", 80,
                     "ZELKO: no stimulation matches 'Watches', leaving it in the inbox"},
        EvidenceCase{"unmatched_at_threshold_zero", "Watches", "Cheap watches.", 0,
                     "ZELKO: no stimulation matches 'Watches', leaving it in the inbox"},
        EvidenceCase{"empty_without_subject", "", "", 80,
                     "ZELKO: no stimulation matches '', leaving it in the inbox"},
        EvidenceCase{"matched_below_threshold", "Bill", "An invoice.", 100,
                     "Message 'Bill' was not clasified to any category, so leaving it..."}),
    [](const testing::TestParamInfo<EvidenceCase>& info) { return std::string(info.param.name); });

// A stimulation aimed at the subject moves what says "invoice" there, not in the body.
TEST(Sorting, AStimulationOnTheSubjectLooksAtTheSubjectOnly) {
    SortingWorld world;
    world.net->getInput(0)->setField("subject");
    BackPropagationPtr network(new BackPropagation(2, 0, 2));
    network->getOb()[0] = network->getOb()[1] = 10.0;
    world.net->setNetwork(network);
    world.arrive(world.deliver(mailText("Your invoice", "Hello.")));
    world.arrive(world.deliver(mailText("Hello", "An invoice.")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{"Hello"});
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{"Your invoice"});
}

// A stimulation whose pattern costs a backtracking matcher the square of a sentence's
// length: a megabyte in one sentence, "invoice" in it sixty thousand times, and "due"
// only in the next sentence.
struct HeavyPatternCase {
    const char* name;
    const char* pattern;
    int givenUp; // patterns given up on for the message
};

class SortingHeavyPattern : public testing::TestWithParam<HeavyPatternCase> {};

TEST_P(SortingHeavyPattern, MessageIsSortedByItsOtherStimulations) {
    const HeavyPatternCase& c = GetParam();
    SortingWorld world;
    world.net->getInput(1)->addRegex(c.pattern); // beside "flight"
    std::string body;
    while (body.size() < (1u << 20))
        body += "invoice number 12 ";
    body += ". Then due soon.";
    LogRecorder log;
    std::int64_t before = MatchBudget::totalGivenUp();
    world.arrive(world.deliver(mailText("Huge", body)));
    EXPECT_EQ(MatchBudget::totalGivenUp() - before, c.givenUp);
    EXPECT_EQ(world.inboxSubjects(), Subjects{});
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{"Huge"});
    EXPECT_FALSE(world.folderExists("Travel"));
    if (!c.givenUp)
        return;
    // One line names the message and the pattern (the match limit's or the time's).
    std::string wrapped = "'(" + std::string(c.pattern) + ")'";
    int naming = 0;
    for (const std::string& line : log.lines())
        naming +=
            line.find("'Huge'") != std::string::npos && line.find(wrapped) != std::string::npos;
    EXPECT_EQ(naming, 1) << testing::PrintToString(log.lines());
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, SortingHeavyPattern,
    testing::Values(HeavyPatternCase{"scanned_in_linear_time", "invoice.*due", 0},
                    // \h keeps the pattern with the backtracking matcher.
                    HeavyPatternCase{"backtracking_under_the_budget", "invoice.*due\\h", 1}),
    [](const testing::TestParamInfo<HeavyPatternCase>& info) {
        return std::string(info.param.name);
    });

TEST(Sorting, FailingSendmailKeepsTheMessageAndShowsTheError) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.sendmailExits(75);
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));
    EXPECT_EQ(world.inboxSubjects(), Subjects{"Bill"});
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{"Bill"}); // the copy stays
    ASSERT_EQ(world.errors.size(), 1u);
    EXPECT_NE(world.errors[0].find("status 75"), std::string::npos) << world.errors[0];
    EXPECT_EQ(world.errors[0].rfind("Error: Sorting a new message failed: ", 0), 0u)
        << world.errors[0];
}

TEST(Sorting, ForwardedBodyEscapesPlainTextAndKeepsHtml) {
    SortingWorld world;
    world.net->setJobVariant(2);
    world.arrive(world.deliver(mailText("Plain", "invoice a<b\nc")));
    world.arrive(world.deliver(mailText("Html", "<p>invoice <b>now</b></p>", "",
                                        "Ann <ann@example.org>", "text/html; charset=utf-8")));
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[0].htmlBody.find("</table>invoice a&lt;b<br>c"), std::string::npos)
        << sent[0].htmlBody;
    EXPECT_NE(sent[0].htmlBody.find("<tr><td>From:</td><td>Ann Smith &lt;ann@example.org&gt;"),
              std::string::npos)
        << sent[0].htmlBody;
    EXPECT_NE(sent[1].htmlBody.find("<p>invoice <b>now</b></p>"), std::string::npos)
        << sent[1].htmlBody;
    EXPECT_NE(sent[0].htmlBody.find("<tr><td colspan=2>-----</td></table>"), std::string::npos);
}

TEST(Sorting, StrangersCannotInjectHeadersIntoAnswers) {
    SortingWorld world;
    world.net->setJobVariant(3);
    world.arrive(
        world.deliver(mailText("=?utf-8?q?Hi=0D=0ABcc:_evil@example.org?=", "invoice",
                               "Reply-To: \"x\r\nBcc: evil@example.org\" <ann@example.org>\n")));
    auto sent = world.sent();
    ASSERT_EQ(sent.size(), 1u);
    std::string headers = sent[0].raw.substr(0, sent[0].raw.find("\n\n"));
    EXPECT_EQ(headers.find("\nBcc:"), std::string::npos) << headers;
    EXPECT_EQ(sent[0].to, "ann@example.org");
}

TEST(Sorting, FolderNamesStayInsideTheRootTargetFolder) {
    SortingWorld world;
    world.net->getOutput(0)->setName("../../etc");
    world.net->getOutput(1)->setName("  Travel\t");
    world.arrive(world.deliver(mailText("Both", "A flight and an invoice.")));
    EXPECT_EQ(world.folderSubjects("../../etc"), Subjects{"Both"});
    EXPECT_EQ(world.folderSubjects("Travel"), Subjects{"Both"}); // trimmed name
    EXPECT_FALSE(fs::exists(fs::path(world.dir) / "etc"));
    EXPECT_FALSE(fs::exists("/etc/cur"));
}

// One by one and in a batch (whose group commit decides on its own).
TEST(Sorting, BlankFolderNamesKeepTheMessageInTheInbox) {
    for (bool batch : {false, true}) {
        SortingWorld world;
        LogRecorder log;
        world.net->getOutput(0)->setName(" \t");
        std::vector<MESSAGEID> ids{world.deliver(mailText("Bill", "An invoice.")),
                                   world.deliver(mailText("Bill 2", "An invoice."))};
        if (batch)
            processNewMessages(
                {world.connection.store.get(), world.connection.inbox.get(), world.net.get()}, ids);
        else
            for (MESSAGEID id : ids)
                world.arrive(id);
        EXPECT_EQ(world.inboxSubjects(), (Subjects{"Bill", "Bill 2"})) << batch;
    }
}

// A batch read ahead while the one before it was committed is read again when the net was
// loaded anew in between: the new patterns decide on it.
TEST(Sorting, ABatchReadBeforeAReloadIsReadAgain) {
    SortingWorld world;
    std::vector<MESSAGEID> ids;
    for (std::size_t n = 0; n < maxSortBatch + 2; ++n)
        ids.push_back(world.deliver(mailText("Trip " + std::to_string(n), "A flight.")));
    int batches = 0;
    processNewMessagesInBatches(
        {world.connection.store.get(), world.connection.inbox.get(), world.net.get()}, ids, [&] {
            if (++batches == 2)
                world.net->getInput(1)->setRegex(0, "no such word");
            return batches == 2;
        });
    EXPECT_EQ(world.inboxSubjects().size(), 2u); // the second batch
}

TEST(Sorting, FolderNamesMatchCaseSensitively) {
    SortingWorld world;
    STOREFOLDERID root = rootTargetFolderId(world.net.get());
    findOrCreateFolder(world.connection.store.get(), root, "invoices", true);
    world.arrive(world.deliver(mailText("Bill", "An invoice.")));
    EXPECT_EQ(world.folderSubjects("Invoices"), Subjects{"Bill"});
    EXPECT_EQ(world.folderSubjects("invoices"), Subjects{});
}

TEST(Sorting, OtherNotificationsAreOnlyLogged) {
    SortingWorld world;
    LogRecorder log;
    MESSAGEID id = world.deliver(mailText("Bill", "An invoice."));
    SorterContext context{world.connection.store.get(), world.connection.inbox.get(),
                          world.net.get()};
    std::uint32_t pointed = id;
    onStoreNotify(context, WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&pointed), 0);
    EXPECT_EQ(world.inboxSubjects(), Subjects{"Bill"});
    bool seen = false;
    for (const std::string& line : log.lines())
        seen |= line.rfind("message arrived: msg 2675 ", 0) == 0 &&
                line.find(" mid " + std::to_string(id) + " ") != std::string::npos;
    EXPECT_TRUE(seen);
    // The removal that follows sorting names a message that is gone: no failure for it.
    world.arrive(id);
    ASSERT_EQ(world.folderSubjects("Invoices"), Subjects{"Bill"});
    onStoreNotify(context, WM_DELETEMSGS, reinterpret_cast<std::uintptr_t>(&pointed), 0);
    for (const std::string& line : log.lines())
        EXPECT_EQ(line.find("no such message"), std::string::npos) << line;
}

// A batch reads and matches its messages on several threads: its journal says what
// handling each message on its own says, line for line and in the same order (a message
// that cannot be read included).
TEST(Sorting, BatchJournalsWhatOneByOneWouldInTheSameOrder) {
    const char* kinds[] = {"about an invoice", "about a flight", "invoice for a flight", "a note"};
    auto journalOf = [&](bool batch) {
        SortingWorld world;
        Journal journal(world.dir + "/state/journal.jsonl");
        world.journal = &journal;
        std::vector<MESSAGEID> ids;
        for (int n = 0; n < 40; ++n) {
            std::string subject = std::string(kinds[n % 4]) + " " + std::to_string(n);
            ids.push_back(world.deliver(mailText(subject, "This is " + subject + ".")));
        }
        std::string gone;
        FILETIME received;
        EXPECT_EQ(world.connection.inbox->GetMessageFile(ids[17], &gone, &received), S_OK);
        fs::remove(gone);
        if (batch) {
            SorterContext context{world.connection.store.get(),
                                  world.connection.inbox.get(),
                                  world.net.get(),
                                  nullptr,
                                  nullptr,
                                  &journal};
            processNewMessages(context, ids);
        } else {
            for (MESSAGEID id : ids)
                world.arrive(id);
        }
        std::vector<std::string> lines;
        for (Journal::Entry entry : journal.all()) {
            entry.time.clear(); // and the copies' unique names, made anew in each world
            for (Journal::Copy& copy : entry.copies)
                copy.file.clear();
            lines.push_back(entry.toJson());
        }
        return lines;
    };
    std::vector<std::string> alone = journalOf(false);
    ASSERT_EQ(alone.size(), 40u);
    EXPECT_NE(alone[17].find("\"action\":\"failed\""), std::string::npos) << alone[17];
    EXPECT_EQ(journalOf(true), alone);
}

#include "sorting/MessageDelivery.h"

#include "tests/sorting/SortingWorld.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using Subjects = std::vector<std::string>;

// Where a message ended up and what was sent for it.
struct Result {
    Subjects inbox, invoices, travel;
    std::size_t sent = 0;
    bool operator==(const Result&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Result& r) {
        return out << "inbox " << testing::PrintToString(r.inbox) << ", Invoices "
                   << testing::PrintToString(r.invoices) << ", Travel "
                   << testing::PrintToString(r.travel) << ", sent " << r.sent;
    }
};

Result resultIn(SortingWorld& world) {
    return {world.inboxSubjects(), world.folderSubjects("Invoices"), world.folderSubjects("Travel"),
            world.sent().size()};
}

struct Case {
    const char* name;
    int variant;
    int storeMail;
    bool enabled;
    std::string message;
    bool blankNames = false; // every folder's name
};

void setUp(SortingWorld& world, const Case& c) {
    world.net->setJobVariant(c.variant);
    world.net->setStoreMail(c.storeMail);
    world.net->setEnabled(c.enabled ? 1 : 0);
    if (c.blankNames)
        for (int i : {0, 1})
            world.net->getOutput(i)->setName(" \t");
}

class DeliveredAsSorted : public testing::TestWithParam<Case> {};

// deliver puts a message where the sorter would have put it had it arrived in the inbox,
// and sends what the sorter would have sent: the sorter's rules, not a copy of them.
TEST_P(DeliveredAsSorted, SamePlacesAndMail) {
    const Case& c = GetParam();
    SortingWorld sorted;
    setUp(sorted, c);
    sorted.arrive(sorted.deliver(c.message));

    SortingWorld delivered;
    setUp(delivered, c);
    MessageDelivery delivery(delivered.connection.store.get(), delivered.net.get());
    MessageDelivery::Outcome outcome = delivery.deliver(c.message);
    ASSERT_TRUE(outcome.delivered) << outcome.failure;
    EXPECT_EQ(resultIn(delivered), resultIn(sorted));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DeliveredAsSorted,
    testing::Values(Case{"MovedToItsFolder", 1, 1, true, mailText("Bill", "An invoice.")},
                    Case{"BothFolders", 1, 1, true, mailText("Both", "A flight and an invoice.")},
                    Case{"BlankFolderNamesStayInTheInbox", 1, 1, true,
                         mailText("Both", "A flight and an invoice."), true},
                    Case{"NoStimulationStaysInTheInbox", 1, 1, true, mailText("Hi", "Hello.")},
                    Case{"SortingOff", 1, 1, false, mailText("Bill", "An invoice.")},
                    Case{"ForwardedAndKept", 2, 1, true, mailText("Bill", "An invoice.")},
                    Case{"ForwardedOnly", 2, 0, true, mailText("Bill", "An invoice.")},
                    Case{"OwnForwardNotKeptStays", 2, 0, true,
                         mailText("Bill", "An invoice.", "", "Sorter@example.org")},
                    Case{"Answered", 3, 1, true, mailText("Bill", "An invoice.")},
                    Case{"AutomaticMailNotAnswered", 3, 1, true,
                         mailText("Bill", "An invoice.", "Precedence: bulk\n")}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A sending command that fails delivers nothing anywhere: the transfer agent tries again
// (the sorter would keep the message in its inbox instead).
TEST(MessageDelivery, FailedSendingDeliversNothing) {
    for (int variant : {2, 3}) {
        SortingWorld world;
        world.net->setJobVariant(variant);
        world.sendmailExits(75);
        MessageDelivery delivery(world.connection.store.get(), world.net.get());
        MessageDelivery::Outcome outcome = delivery.deliver(mailText("Bill", "An invoice."));
        EXPECT_FALSE(outcome.delivered) << variant;
        EXPECT_NE(outcome.failure.find("sendmail"), std::string::npos) << outcome.failure;
        EXPECT_EQ(resultIn(world), (Result{{}, {}, {}, 1})) << variant;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(world.store.root()))
            EXPECT_NE(entry.path().parent_path().filename(), "tmp") << entry.path();
    }
}

struct TextCase {
    const char* name;
    std::string input;
    const char* sender; // null: no --from
    std::string stored;
};

class StoredText : public testing::TestWithParam<TextCase> {};

TEST_P(StoredText, ReturnPathAndFromLine) {
    const TextCase& c = GetParam();
    std::string sender = c.sender ? c.sender : "";
    EXPECT_EQ(MessageDelivery::storedText(c.input, c.sender ? &sender : nullptr), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredText,
    testing::Values(
        TextCase{"Unchanged", "Subject: a\n\nbody\n", nullptr, "Subject: a\n\nbody\n"},
        TextCase{"MboxLineDropped", "From x@y Tue Dec  8 06:00:00 2026\nSubject: a\n\nb\n", nullptr,
                 "Subject: a\n\nb\n"},
        TextCase{"FromFieldWithABlankBeforeItsColonKept", "From : x@y\nSubject: a\n\nb\n", nullptr,
                 "From : x@y\nSubject: a\n\nb\n"},
        TextCase{"FromFieldWithoutABlankAfterItsColonKept", "From :x@y\n\nb\n", nullptr,
                 "From :x@y\n\nb\n"},
        TextCase{"OldReturnPathsReplacedFoldedToo",
                 "Return-Path: <a@x.org>\nSubject: a\nRETURN-PATH:\n <b@x.org>\n\n"
                 "Return-Path: in the body\n",
                 "s@y.org", "Return-Path: <s@y.org>\nSubject: a\n\nReturn-Path: in the body\n"},
        TextCase{"OldReturnPathWithABlankBeforeItsColonReplaced",
                 "Return-Path : <a@x.org>\nSubject: a\n\nb\n", "s@y.org",
                 "Return-Path: <s@y.org>\nSubject: a\n\nb\n"},
        TextCase{"CrLfKept", "Subject: a\r\n\r\nb\r\n", "s@y.org",
                 "Return-Path: <s@y.org>\r\nSubject: a\r\n\r\nb\r\n"},
        TextCase{"EmptySender", "Subject: a\n\nb\n", "", "Return-Path: <>\nSubject: a\n\nb\n"},
        TextCase{"BracketedBounce", "Subject: a\n\nb\n", "<>",
                 "Return-Path: <>\nSubject: a\n\nb\n"},
        TextCase{"HeaderInjectionDefused", "Subject: a\n\nb\n", "x@y.org\r\nBcc: all@y.org",
                 "Return-Path: <\"x@y.orgBcc: all\"@y.org>\nSubject: a\n\nb\n"},
        TextCase{"LocalPartQuoted", "Subject: a\n\nb\n", "first \"last\"@y.org",
                 "Return-Path: <\"first \\\"last\\\"\"@y.org>\nSubject: a\n\nb\n"},
        TextCase{"HeaderWithoutBody", "Subject: a\n", "s@y.org",
                 "Return-Path: <s@y.org>\nSubject: a\n"}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(MessageDelivery, WhatIsAMessage) {
    struct {
        const char* input;
        bool message;
    } cases[] = {{"", false},
                 {"\n\r\n \n", false},
                 {"just words\n", false},
                 {" Folded: start\n", false},
                 {"From x@y Tue Dec  8 06:00:00 2026\n", false},
                 {"Subject: a\n\nb\n", true},
                 {"From x@y Tue Dec  8 06:00:00 2026\nSubject: a\n", true},
                 {"X-Odd!Name: a\n", true},
                 {"From : x@y\n\nb\n", true},
                 {"From  x@y Tue Dec  8 06:00:00 2026\n", false}};
    for (const auto& c : cases)
        EXPECT_EQ(MessageDelivery::isMessage(c.input), c.message) << c.input;
}

} // namespace

#include "tests/sorting/SortingWorld.h"

#include "platform/Mime.h"
#include "sorting/SortDecision.h"

#include <gtest/gtest.h>

using Texts = std::vector<std::string>;
using Action = SortDecision::Action;

namespace {

struct DecideCase {
    const char* name;
    int variant;
    int storeMail;
    const char* body;
    const char* extraHeaders;
    const char* from;
    Action action;
    const char* reason;
    Texts folders;
    Texts recipients;
    bool copy;
    bool remove;
};

void PrintTo(const DecideCase& c, std::ostream* out) {
    *out << c.name;
}

class Decide : public testing::TestWithParam<DecideCase> {};

} // namespace

// What the sorter would do, for each rule that decides it; deciding changes nothing.
TEST_P(Decide, SaysWhatHappensAndDoesNothing) {
    const DecideCase& c = GetParam();
    SortingWorld world;
    world.net->setJobVariant(c.variant);
    world.net->setStoreMail(c.storeMail);
    MESSAGEID id = world.deliver(mailText("Subject", c.body, c.extraHeaders, c.from));
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(world.connection.inbox->OpenMessage(id, message.out()), S_OK);

    SortDecision decision = decide(world.net.get(), message.get(), "Subject");
    EXPECT_EQ(decision.action, c.action);
    EXPECT_EQ(decision.reason, c.reason);
    Texts folders;
    for (const SortDecision::Folder& folder : decision.folders) {
        folders.push_back(folder.name);
        EXPECT_GE(folder.percent, 80);
        EXPECT_LE(folder.percent, 100);
    }
    EXPECT_EQ(folders, c.folders);
    EXPECT_EQ(decision.recipients, c.recipients);
    EXPECT_EQ(decision.copy, c.copy);
    EXPECT_EQ(decision.remove, c.remove);
    EXPECT_EQ(decision.subject, "Subject");

    EXPECT_EQ(world.inboxSubjects(), Texts{"Subject"});
    EXPECT_FALSE(world.folderExists("Invoices"));
    EXPECT_TRUE(world.sent().empty());
}

const char* const ann = "Ann Smith <ann@example.org>";
const char* const own = "sorter@example.org";

INSTANTIATE_TEST_SUITE_P(
    Rules, Decide,
    testing::Values(DecideCase{"moved_into_two",
                               1,
                               1,
                               "A flight and an invoice.",
                               "",
                               ann,
                               Action::Move,
                               "",
                               {"Invoices", "Travel"},
                               {},
                               true,
                               true},
                    DecideCase{"no_stimulation",
                               1,
                               1,
                               "Cheap watches.",
                               "",
                               ann,
                               Action::Leave,
                               "no stimulation matches",
                               {},
                               {},
                               false,
                               false},
                    DecideCase{"unknown_variant",
                               7,
                               1,
                               "An invoice.",
                               "",
                               ann,
                               Action::Leave,
                               "unknown job variant 7",
                               {"Invoices"},
                               {},
                               false,
                               false},
                    DecideCase{"forwarded",
                               2,
                               1,
                               "An invoice.",
                               "",
                               ann,
                               Action::Forward,
                               "",
                               {"Invoices"},
                               {"acc@example.org;boss@example.org"},
                               true,
                               true},
                    DecideCase{"nobody_to_forward_to_kept",
                               2,
                               1,
                               "A flight.",
                               "",
                               ann,
                               Action::Move,
                               "not forwarded: no chosen folder has an address",
                               {"Travel"},
                               {},
                               true,
                               true},
                    DecideCase{"nobody_to_forward_to_not_kept",
                               2,
                               0,
                               "A flight.",
                               "",
                               ann,
                               Action::Leave,
                               "not forwarded: no chosen folder has an address",
                               {"Travel"},
                               {},
                               false,
                               false},
                    DecideCase{"own_forward_back_kept",
                               2,
                               1,
                               "An invoice.",
                               "",
                               own,
                               Action::Move,
                               "not forwarded: sent by the reply address itself",
                               {"Invoices"},
                               {},
                               true,
                               true},
                    DecideCase{"own_forward_back_not_kept",
                               2,
                               0,
                               "An invoice.",
                               "",
                               own,
                               Action::Leave,
                               "not forwarded: sent by the reply address itself",
                               {"Invoices"},
                               {},
                               false,
                               false},
                    DecideCase{"answered",
                               3,
                               0,
                               "An invoice.",
                               "",
                               ann,
                               Action::Answer,
                               "",
                               {"Invoices"},
                               {"ann@example.org"},
                               true,
                               true},
                    DecideCase{"automatic_not_answered",
                               3,
                               1,
                               "An invoice.",
                               "Precedence: bulk\n",
                               ann,
                               Action::Move,
                               "not answered: automatic mail (Precedence: bulk)",
                               {"Invoices"},
                               {},
                               true,
                               true}),
    [](const testing::TestParamInfo<DecideCase>& info) { return std::string(info.param.name); });

TEST(Decide, IdleRulesNeedNoMessage) {
    SortingWorld world;
    EXPECT_FALSE(idleDecision(world.net.get()));
    world.net->setEnabled(0);
    std::optional<SortDecision> idle = idleDecision(world.net.get());
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->action, Action::Leave);
    EXPECT_EQ(idle->reason, "sorting is off");
}

// Carrying out says where each copy lies: the folder and the file the store lists there.
TEST(CarryOut, ListsEveryCopyWhereItLies) {
    SortingWorld world;
    MESSAGEID id = world.deliver(mailText("Trip", "A flight and an invoice."));
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(world.connection.inbox->OpenMessage(id, message.out()), S_OK);
    MESSAGEPROPS props;
    ASSERT_EQ(world.connection.inbox->GetMessageProps(id, 0, &props), S_OK);
    SortDecision decision = decide(world.net.get(), message.get(), props.pszSubject);
    CarriedOut done =
        carryOut(world.connection.store.get(), folderIdOf(world.connection.inbox.get()), id,
                 props.fileName, decision, message.get(), rootTargetFolderId(world.net.get()), {});
    EXPECT_FALSE(done.failed()) << done.failure;
    EXPECT_TRUE(done.removed);
    ASSERT_EQ(done.copies.size(), 2u);
    for (const CopyPlace& copy : done.copies) {
        EXPECT_EQ(copy.file, props.fileName);
        EXPECT_EQ(world.folderFiles(copy.folder), Texts{copy.file}) << copy.folder;
    }
    EXPECT_EQ(done.copies[0].folder, "Invoices");
    EXPECT_EQ(done.copies[1].folder, "Travel");
    EXPECT_EQ(world.inboxSubjects(), Texts{});
}

#include "mail/NetExchange.h"

#include "util/Exception.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string mail(const std::string& messageId, const std::string& subject) {
    return (messageId.empty() ? "" : "Message-ID: " + messageId + "\n") +
           "From: ann@example.org\nSubject: " + subject + "\n\n" + subject + " text\n";
}

// A store with its learning folder "Learn" and a net file beside it.
struct World {
    World() {
        connection = connectStore(temp.root());
        learn = std::to_string(
            findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Learn", true));
    }
    ref_ptr<Net> openNet() {
        ref_ptr<Net> net(new Net(netFolder.file("zelko.ini"), StoreMessages::of(store())));
        net->setLearnFolder(learn);
        net->load();
        return net;
    }
    IStoreNamespace* store() const { return connection.store.get(); }
    // The folder name assigned to the learning message of that subject, "-" for none.
    std::string assignedTo(Net& net, const std::string& subject) {
        for (int f = 0; f < net.fileCount(); ++f)
            if (net.getFile(f)->getName() == subject)
                return net.getFile(f)->targetCount() ? net.getFile(f)->getTarget(0)->getName()
                                                     : "-";
        return "absent";
    }

    TempStore temp;
    TempFolder netFolder{"exchange"};
    StoreConnection connection;
    std::string learn;
};

class NetExchangeTest : public testing::Test {
protected:
    void SetUp() override {
        for (const auto& [id, subject] : messages)
            from.temp.deliver(mail(id, subject), ".Learn");
        ref_ptr<Net> net = from.openNet();
        ref_ptr<NeuronIn> offer(new NeuronIn("offer"));
        offer->addRegex("offer|sale");
        offer->addRegex("\"quoted\" \\b");
        net->addInput(offer.get());
        net->addInput(new NeuronIn("empty"));
        ref_ptr<NeuronIn> first(new NeuronIn("first"));
        first->addRegex("\\bfirst\\b");
        first->setField("subject");
        net->addInput(first.get());
        ref_ptr<NeuronOut> sales(new NeuronOut("Sales"));
        sales->setAnswer("Thank you,\nwe answer soon.");
        sales->setEmails({"sam@example.org", "kim@example.org"});
        net->addOutput(sales.get());
        net->addOutput(new NeuronOut("Help"));
        for (int f = 0; f < net->fileCount(); ++f)
            if (net->getFile(f)->getName() != "Unassigned")
                net->getFile(f)->addTarget(net->getOutput(f % 2).get());
        net->getFile(0)->addTarget(net->getOutput(1).get());
        ASSERT_EQ(net->fileCount(), 4);
        net->learn(3, 20, nullptr, 0, 0.3, 1.0);
        ASSERT_TRUE(net->save());
        net->setThreshold(65.5);
        net->setJobVariant(3);
        net->setFrom("sorter@example.org");
        exported = NetExchange::exportNet(*net, from.store());
    }

    const std::vector<std::pair<std::string, std::string>> messages{
        {"<one@example.org>", "First"},
        {"", "Without id"},
        {"<three@example.org>", "Third"},
        {"<four@example.org>", "Unassigned"}};
    World from;
    std::string exported;
    LogRecorder quiet;
};

// Another store holds the same messages under other ids (one more before them, the rest
// in another order): the assignments follow the messages.
TEST_F(NetExchangeTest, RoundTripAcrossStoresWithOtherIdsGivesTheSameFile) {
    World to;
    to.temp.deliver(mail("<other@example.org>", "Other"), ".Learn");
    for (int m : {2, 3, 1, 0})
        to.temp.deliver(mail(messages[m].first, messages[m].second), ".Learn");
    ref_ptr<Net> net = to.openNet();
    NetImport result = NetExchange::importNet(exported, *net, to.store());
    EXPECT_EQ(result.linked, 3);
    EXPECT_TRUE(result.missing.empty());

    ref_ptr<Net> loaded = to.openNet();
    EXPECT_EQ(to.assignedTo(*loaded, "First"), "Sales");
    EXPECT_EQ(loaded->getFile(4)->targetCount(), 2); // "First", the last delivered
    EXPECT_EQ(to.assignedTo(*loaded, "Without id"), "Help");
    EXPECT_EQ(to.assignedTo(*loaded, "Third"), "Sales");
    EXPECT_EQ(to.assignedTo(*loaded, "Other"), "-");
    EXPECT_EQ(loaded->getOutput(0)->getEmails().size(), 2u);
    EXPECT_EQ(loaded->getThreshold(), 65.5);
    EXPECT_EQ(loaded->getJobVariant(), 3);
    EXPECT_EQ(loaded->getInput(0)->getField(), ""); // exported without "field"
    EXPECT_EQ(loaded->getInput(2)->getField(), "subject");
    ASSERT_TRUE(loaded->isLearned());
    EXPECT_EQ(NetExchange::exportNet(*loaded, to.store()), exported);
}

TEST_F(NetExchangeTest, AssignmentsWithoutTheirMessageAreReported) {
    World to;
    to.temp.deliver(mail(messages[0].first, messages[0].second), ".Learn");
    ref_ptr<Net> net = to.openNet();
    NetImport result = NetExchange::importNet(exported, *net, to.store());
    EXPECT_EQ(result.linked, 1);
    ASSERT_EQ(result.missing.size(), 2u);
    EXPECT_EQ(result.missing[0], "<three@example.org>");
    EXPECT_EQ(result.missing[1].rfind("sha256:", 0), 0u); // the message without an id
}

struct BadCase {
    const char* name;
    std::string from, to; // replaced in the exported text
    std::string field;    // the start of the error, when it names one
};

class NetExchangeBad : public NetExchangeTest, public testing::WithParamInterface<BadCase> {};

// A file that is no net, or does not fit together, changes nothing.
TEST_P(NetExchangeBad, IsRefusedAndTheNetFileStaysAsItWas) {
    std::string text = exported;
    std::size_t at = text.find(GetParam().from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, GetParam().from.size(), GetParam().to);
    World to;
    ref_ptr<Net> net = to.openNet();
    net->addOutput(new NeuronOut("Kept"));
    ASSERT_TRUE(net->save());
    std::string before = readFile(net->getFileName());
    std::string error = "imported";
    try {
        NetExchange::importNet(text, *net, to.store());
    } catch (const Exception& e) {
        error = e.what();
    }
    EXPECT_EQ(error.rfind(GetParam().field, 0), 0u) << error;
    EXPECT_EQ(readFile(net->getFileName()), before);
    EXPECT_EQ(to.openNet()->getOutput(0)->getName(), "Kept");
}

INSTANTIATE_TEST_SUITE_P(
    Files, NetExchangeBad,
    testing::Values(
        BadCase{"NotJson", "{", "[", "it is no net"},
        BadCase{"OtherFormat", "brevalo-net", "other", "it is no net of this"},
        BadCase{"FolderOutOfRange", "\"folders\": [\n        0", "\"folders\": [\n        7",
                "learningSet[0].folders[0]: names folder 7, but there are 2"},
        BadCase{"FolderIndexEqualToTheCount", "\"folders\": [\n        0",
                "\"folders\": [\n        2", "learningSet[0].folders[0]: names folder 2"},
        BadCase{"NetworkOfOtherSize", "\"inputs\": 3", "\"inputs\": 4", "network.inputs: is 4"},
        BadCase{"FieldUnknown", "\"subject\"", "\"elsewhere\"", "stimulations[2].field: is none"},
        BadCase{"WeightNotANumber", "\"hiddenBiases\": [\n      ",
                "\"hiddenBiases\": [\n      \"x\",", "network.hiddenBiases[0]: is no number"},
        BadCase{"FolderNameWithASlash", "\"Sales\"", "\"Sa/les\"", "folders[0].name: holds"},
        BadCase{"FolderNameDotDot", "\"Sales\"", "\" ..\"", "folders[0].name: is \"..\""},
        BadCase{"FolderNameWithNul", "\"Sales\"", "\"Sa\\u0000les\"",
                "folders[0].name: holds a NUL"},
        BadCase{"FolderNameTooLong", "\"Sales\"", "\"" + std::string(200, 'x') + "\"",
                "folders[0].name: is longer than the store allows"},
        BadCase{"ThresholdAbove100", "65.5", "100.5", "settings.threshold: is not a percentage"},
        BadCase{"JobVariant0", "\"jobvariant\": 3", "\"jobvariant\": 0",
                "settings.jobvariant: is not a whole number from 1 to 3"},
        BadCase{"JobVariantHuge", "\"jobvariant\": 3", "\"jobvariant\": 1e300",
                "settings.jobvariant: is not a whole number"},
        BadCase{"SenderWithALineBreak", "sorter@example.org", "sorter@example.org\\nBcc: x",
                "settings.from: holds a line break"}),
    [](const testing::TestParamInfo<BadCase>& info) { return info.param.name; });

} // namespace

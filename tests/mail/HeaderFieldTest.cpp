#include "core/HeaderField.h"

#include "core/InputMatcher.h"
#include "core/LearningSetCheck.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/Stimulation.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

// One stimulation per place a pattern can look, each for the same word.
const std::vector<std::string> places{"",           "subject", "sender",
                                      "recipients", "list",    "header:X-Tag"};

std::string inputsOf(Net& net, const std::string& bytes) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleCreateMessage(bytes, {}, message.out()), S_OK);
    InputMatcher matcher(net);
    MatchBudget budget("test");
    DoublePtr inputs =
        matcher.inputVector(classifiedText(message.get(), matcher.headerFields()), budget);
    std::string active;
    for (int i = 0; i < net.inputCount(); ++i)
        active += inputs[i] == levelHigh ? '1' : '0';
    return active;
}

struct PlaceCase {
    const char* name;
    std::string headers; // the word's only other place in the message
    const char* active;  // one flag per place
};

class HeaderStimulation : public testing::TestWithParam<PlaceCase> {};

// The word is in one place only: only the stimulation that looks there responds.
TEST_P(HeaderStimulation, MatchesOnlyItsField) {
    std::setlocale(LC_ALL, "C");
    TempFolder folder("fields");
    ref_ptr<Net> net(new Net(folder.file("zelko.ini"), nullptr));
    for (const std::string& place : places) {
        ref_ptr<NeuronIn> neuron(new NeuronIn(place));
        neuron->addRegex("\\bzebra\\b");
        neuron->setField(place);
        net->addInput(neuron.get());
    }
    std::string body = GetParam().headers.empty() ? "a zebra\n" : "nothing here\n";
    std::string headers = GetParam().headers.empty() ? "Subject: plain\n" : GetParam().headers;
    EXPECT_EQ(inputsOf(*net, "From: ann@example.org\n" + headers + "\n" + body), GetParam().active);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderField, HeaderStimulation,
    testing::Values(PlaceCase{"body", "", "100000"},
                    PlaceCase{"subject_encoded", "Subject: =?UTF-8?Q?a_zebra?=\n", "010000"},
                    PlaceCase{"reply_to", "Reply-To: zebra@example.org\n", "001000"},
                    PlaceCase{"delivered_to", "Delivered-To: zebra@example.org\n", "000100"},
                    PlaceCase{"cc", "To: x@example.org\nCc: Zebra <z@example.org>\n", "000100"},
                    PlaceCase{"list", "List-Id: <zebra.lists.example.org>\n", "000010"},
                    PlaceCase{"named", "X-Tag: zebra\n", "000001"},
                    PlaceCase{"other_field", "X-Other: zebra\n", "000000"}),
    [](const auto& info) { return std::string(info.param.name); });

// A net file written before stimulations could look at header fields: it loads with body
// stimulations, reads nothing of the header, matches the body as before and is saved
// byte for byte as it was; a header stimulation is stored in a key of its own.
TEST(HeaderField, AnOldNetFileLoadsReadsOnlyTheBodyAndSavesUnchanged) {
    std::setlocale(LC_ALL, "C");
    TempFolder folder("old");
    const std::string file = folder.file("zelko.ini");
    const std::string old = "[NeuronsIn]\nneuron0.name=_offer_\nneuron0.regex0=_\\boffer\\b_\n"
                            "neuron1.name=_deal_\nneuron1.regex0=_deal_\n";
    writeFile(file, old);
    ref_ptr<Net> net(new Net(file, nullptr));
    net->load();
    InputMatcher matcher(*net);
    EXPECT_TRUE(matcher.headerFields().empty());
    com_ptr<IMimeMessage> message;
    ASSERT_EQ(MimeOleCreateMessage("Subject: deal\n\nan offer\n", {}, message.out()), S_OK);
    EXPECT_EQ(classifiedText(message.get(), matcher.headerFields()), messageText(message.get()));
    EXPECT_EQ(inputsOf(*net, "Subject: deal\n\nan offer\n"), "10");
    ASSERT_TRUE(net->save());
    EXPECT_EQ(readFile(file), old);

    net->getInput(1)->setField("subject");
    EXPECT_EQ(inputsOf(*net, "Subject: deal\n\nan offer\n"), "11");
    ASSERT_TRUE(net->save());
    ref_ptr<Net> again(new Net(file, nullptr));
    again->load();
    EXPECT_EQ(again->getInput(0)->getField(), "");
    EXPECT_EQ(again->getInput(1)->getField(), "subject");
    EXPECT_NE(readFile(file).find("neuron1.field=_subject_"), std::string::npos);
}

// Learning reads the fields too: a message with the word in its subject only is matched,
// one with it in its body only is not.
TEST(HeaderField, TheLearningSetCheckMatchesTheLearningMessagesFields) {
    TempStore temp;
    StoreConnection connection = connectStore(temp.root());
    std::string learn =
        std::to_string(findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Learn", true));
    temp.deliver("Subject: a zebra\n\nnothing\n", ".Learn");
    temp.deliver("Subject: other\n\na zebra\n", ".Learn");
    TempFolder folder("learn");
    ref_ptr<Net> net(new Net(folder.file("zelko.ini"), StoreMessages::of(connection.store.get())));
    net->setLearnFolder(learn);
    net->load();
    ref_ptr<NeuronIn> neuron(new NeuronIn("zebra"));
    neuron->addRegex("zebra");
    neuron->setField("subject");
    net->addInput(neuron.get());
    EXPECT_EQ(checkLearningSet(*net, 1).noStimulation, std::vector<std::string>{"other"});
}

} // namespace

#include "core/HeaderField.h"

#include "core/InputMatcher.h"
#include "core/LearningSetCheck.h"
#include "core/Net.h"
#include "core/Stimulation.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "MailTestSupport.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

std::string inputsOf(Net& net, const std::string& bytes) {
    com_ptr<IMimeMessage> message;
    EXPECT_EQ(MimeOleCreateMessage(bytes, {}, message.out()), S_OK);
    DoublePtr inputs =
        net.getInputVector(classifiedText(message.get(), InputMatcher(net).headerFields()));
    std::string active;
    for (int i = 0; i < net.inputCount(); ++i)
        active += inputs[i] == levelHigh ? '1' : '0';
    return active;
}

struct PlaceCase {
    const char* name;
    std::string message; // the word in one place only
    const char* active;  // one flag per place: body, subject, sender, recipients, list, X-Tag
};

class HeaderStimulation : public testing::TestWithParam<PlaceCase> {};

// The word is in one place only: only the stimulation that looks there responds.
TEST_P(HeaderStimulation, MatchesOnlyItsField) {
    std::setlocale(LC_ALL, "C");
    TempFolder folder("fields");
    ref_ptr<Net> net(new Net(folder.file("zelko.ini"), nullptr));
    for (const char* place : {"", "subject", "sender", "recipients", "list", "header:X-Tag"}) {
        ref_ptr<NeuronIn> neuron(new NeuronIn(place));
        neuron->addRegex("\\bzebra\\b");
        neuron->setField(place);
        net->addInput(neuron.get());
    }
    EXPECT_EQ(inputsOf(*net, "From: ann@example.org\n" + GetParam().message), GetParam().active);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderField, HeaderStimulation,
    testing::Values(
        PlaceCase{"body", "Subject: plain\n\na zebra\n", "100000"},
        PlaceCase{"subject_encoded", "Subject: =?UTF-8?Q?a_zebra?=\n\nbody\n", "010000"},
        PlaceCase{"reply_to", "Reply-To: zebra@example.org\n\nbody\n", "001000"},
        PlaceCase{"delivered_to", "Delivered-To: zebra@example.org\n\nbody\n", "000100"},
        PlaceCase{"cc", "To: x@example.org\nCc: Zebra <z@example.org>\n\nbody\n", "000100"},
        PlaceCase{"list", "List-Id: <zebra.lists.example.org>\n\nbody\n", "000010"},
        PlaceCase{"named", "X-Tag: zebra\n\nbody\n", "000001"},
        PlaceCase{"other_field", "X-Other: zebra\n\nbody\n", "000000"}),
    [](const auto& info) { return std::string(info.param.name); });

// A net file written before stimulations could look at header fields: it loads with body
// stimulations, reads nothing of the header, matches the body as before and is saved
// byte for byte as it was; a header stimulation is stored in a key of its own.
TEST(HeaderField, AnOldNetFileLoadsReadsOnlyTheBodyAndSavesUnchanged) {
    TempFolder folder("old");
    const std::string file = folder.file("zelko.ini");
    const std::string old = "[NeuronsIn]\nneuron0.name=_offer_\nneuron0.regex0=_\\boffer\\b_\n"
                            "neuron1.name=_deal_\nneuron1.regex0=_deal_\n";
    writeFile(file, old);
    ref_ptr<Net> net(new Net(file, nullptr));
    net->load();
    EXPECT_TRUE(InputMatcher(*net).headerFields().empty());
    EXPECT_EQ(inputsOf(*net, "Subject: deal\n\nan offer\n"), "10");
    ASSERT_TRUE(net->save());
    EXPECT_EQ(readFile(file), old);

    net->getInput(1)->setField("subject");
    ASSERT_TRUE(net->save());
    EXPECT_EQ(readFile(file), old + "neuron1.field=_subject_\n");
    net->load();
    EXPECT_EQ(inputsOf(*net, "Subject: deal\n\nan offer\n"), "11");
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

#include "core/Net.h"

#include "CoreTestSupport.h"
#include "core/NetFile.h"

#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Everything save writes except the time stamp, weights bit for bit.
std::string describe(const Net& net) {
    std::ostringstream out;
    for (int n = 0; n < net.inputCount(); ++n) {
        out << "in[" << net.getInput(n)->getName() << "]";
        for (const std::string& pattern : net.getInput(n)->getRegexes())
            out << " re[" << pattern << "]";
        out << "\n";
    }
    for (int n = 0; n < net.outputCount(); ++n) {
        ref_ptr<NeuronOut> out_ = net.getOutput(n);
        out << "out[" << out_->getName() << "] answer[" << out_->getAnswer() << "] emails["
            << joinAddresses(out_->getEmails()) << "] " << out_->getEmails().size() << "\n";
    }
    const BackPropagationPtr& network = net.getNetwork();
    if (!network)
        return out.str() + "unlearned\n";
    out << network->getInputCount() << "-" << network->getHiddenCount() << "-"
        << network->getOutputCount() << "\n";
    for (int h = 0; h < network->getHiddenCount(); ++h)
        out << encodeNumbers(network->hwRow(h), network->getInputCount()) << "\n";
    for (int o = 0; o < network->getOutputCount(); ++o)
        out << encodeNumbers(network->owRow(o), network->getHiddenCount()) << "\n";
    out << encodeNumbers(network->getHb(), network->getHiddenCount()) << "\n";
    out << encodeNumbers(network->getOb(), network->getOutputCount()) << "\n";
    return out.str();
}

// A net of the given sizes whose names and patterns carry the tag; the network has
// random weights (drawn by the constructor) unless hidden is 0.
ref_ptr<Net> makeNet(const std::string& fileName, const std::string& tag, int inputs, int hidden,
                     int outputs, int patterns = 2) {
    ref_ptr<Net> net(new Net(fileName, nullptr));
    for (int i = 0; i < inputs; ++i) {
        std::vector<std::string> list;
        for (int p = 0; p < patterns; ++p)
            list.push_back(tag + "word" + std::to_string(i) + "x" + std::to_string(p));
        net->addInput(stimulationOf(tag + " stimulation " + std::to_string(i), list).get());
    }
    for (int o = 0; o < outputs; ++o)
        net->addOutput(folderOf(tag + " folder " + std::to_string(o), "Thanks,\r\nus",
                                {"a" + std::to_string(o) + "@example.org", "b@example.org"})
                           .get());
    if (hidden > 0)
        net->setNetwork(BackPropagationPtr(new BackPropagation(inputs, hidden, outputs)));
    return net;
}

ref_ptr<Net> reload(const std::string& fileName) {
    ref_ptr<Net> net(new Net(fileName, nullptr));
    net->load();
    return net;
}

// The sections of an INI text: section -> key -> value, in no particular order.
std::map<std::string, std::map<std::string, std::string>> sectionsOf(const std::string& text) {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            sections[section];
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            sections[section][line.substr(0, equals)] = line.substr(equals + 1);
    }
    return sections;
}

std::size_t valueCount(const std::string& stored) {
    std::size_t count = 1;
    for (char c : stored)
        count += c == '|';
    return count;
}

TEST(NetStorage, NetworkKeysOfA342NetAndBitIdenticalOutputs) {
    CoreTestFolder dir;
    ref_ptr<Net> net = makeNet(dir.netFile(), "t", 3, 4, 2);
    net->getInput(0)->addRegex("offer");
    DateTime before = nowLocal();
    ASSERT_TRUE(net->save());

    auto sections = sectionsOf(readFile(dir.netFile()));
    const auto& hidden = sections["NeuronsHidden"];
    std::vector<std::string> keys;
    for (const auto& [key, value] : hidden)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"hb", "hiddenCount", "hw.0", "hw.1", "hw.2", "hw.3",
                                              "inputCount", "learnDate", "ob", "outputCount",
                                              "ow.0", "ow.1"}));
    EXPECT_EQ(hidden.at("inputCount"), "_3_");
    EXPECT_EQ(hidden.at("hiddenCount"), "_4_");
    EXPECT_EQ(hidden.at("outputCount"), "_2_");
    for (int h = 0; h < 4; ++h)
        EXPECT_EQ(valueCount(hidden.at("hw." + std::to_string(h))), 3u);
    EXPECT_EQ(valueCount(hidden.at("ow.0")), 4u);
    EXPECT_EQ(valueCount(hidden.at("ow.1")), 4u);
    EXPECT_EQ(valueCount(hidden.at("hb")), 4u);
    EXPECT_EQ(valueCount(hidden.at("ob")), 2u);
    EXPECT_EQ(hidden.at("learnDate").size(), 16u);
    EXPECT_GE(net->getLearnDate(), std::floor(before * 86400) / 86400);
    EXPECT_LE(net->getLearnDate(), nowLocal());

    ref_ptr<Net> loaded = reload(dir.netFile());
    EXPECT_TRUE(loaded->isLearned());
    EXPECT_EQ(describe(*loaded), describe(*net));
    EXPECT_EQ(loaded->getNetwork()->getLearningRate(), 0.3);
    EXPECT_EQ(loaded->getNetwork()->getDecay(), 1.0);
    for (std::string text : {"", "an offer", "tword1x0 and tword2x1", "TWORD0X1"}) {
        DoublePtr a = net->evaluate(text), b = loaded->evaluate(text);
        ASSERT_EQ(doubleCount(a), 2);
        ASSERT_EQ(doubleCount(b), 2);
        EXPECT_EQ(std::memcmp(a.get(), b.get(), 2 * sizeof(double)), 0) << text;
    }
}

TEST(NetStorage, UnlearnedNetHasNoNetworkSection) {
    CoreTestFolder dir;
    ref_ptr<Net> learned = makeNet(dir.netFile(), "t", 3, 4, 2);
    ASSERT_TRUE(learned->save());
    EXPECT_NE(learned->getLearnDate(), 0);
    ref_ptr<Net> net = makeNet(dir.netFile(), "t", 3, 0, 2);
    ASSERT_TRUE(net->save());
    EXPECT_EQ(sectionsOf(readFile(dir.netFile())).count("NeuronsHidden"), 0u);
    EXPECT_EQ(net->getLearnDate(), 0);
    ref_ptr<Net> loaded = reload(dir.netFile());
    EXPECT_FALSE(loaded->isLearned());
    EXPECT_EQ(describe(*loaded), describe(*net));
}

TEST(NetStorage, TextsSurviveSaveAndLoad) {
    CoreTestFolder dir;
    ref_ptr<Net> net(new Net(dir.netFile(), nullptr));
    net->addInput(
        stimulationOf(" leading blank, trailing tab\t", {"a\nb", " x ", "[0-9]+$"}).get());
    net->addOutput(
        folderOf("Sales\r\nDept", "Dear customer,\r\n\r\n\tthanks. ", {"a@x.org"}).get());
    net->addOutput(folderOf("'quoted'", "\"also\"", {}).get());
    ASSERT_TRUE(net->save());
    EXPECT_EQ(describe(*reload(dir.netFile())), describe(*net));

    // A backslash is not escaped: a typed "\n" comes back as a line break.
    ref_ptr<Net> typed(new Net(dir.netFile(), nullptr));
    typed->addInput(stimulationOf("C:\\new", {"a\\nb", "\\d+"}).get());
    ASSERT_TRUE(typed->save());
    ref_ptr<Net> loaded = reload(dir.netFile());
    EXPECT_EQ(loaded->getInput(0)->getName(), "C:\new");
    EXPECT_EQ(loaded->getInput(0)->getRegex(0), "a\nb");
    EXPECT_EQ(loaded->getInput(0)->getRegex(1), "\\d+");
}

TEST(NetStorage, SaveWritesTheSectionsInOrder) {
    CoreTestFolder dir;
    writeFile(dir.netFile(), "[Global]\nlearnFolder=_5_\n[NeuronsIn]\nneuron0.name=_old_\n"
                             "neuron7.name=_stale_\n[settings]\njobvariant=_2_\n[Other]\nx=1\n");
    ref_ptr<Net> net(new Net(dir.netFile(), nullptr));
    net->addInput(stimulationOf("a", {"p0", "p1"}).get());
    net->addInput(stimulationOf("b", {}).get());
    net->addOutput(folderOf("f", "hi", {"x@y.org", "z@y.org"}).get());
    ASSERT_TRUE(net->save());
    EXPECT_EQ(readFile(dir.netFile()), "[Global]\nlearnFolder=_5_\n"
                                       "[settings]\njobvariant=_2_\n"
                                       "[Other]\nx=1\n"
                                       "[NeuronsIn]\n"
                                       "neuron0.name=_a_\n"
                                       "neuron0.regex0=_p0_\n"
                                       "neuron0.regex1=_p1_\n"
                                       "neuron1.name=_b_\n"
                                       "[NeuronsOut]\n"
                                       "neuron0.name=_f_\n"
                                       "neuron0.answer=_hi_\n"
                                       "neuron0.emails=_x@y.org;z@y.org_\n");
}

// Empty names and patterns are stored as "__" and are read back; the lists end at the
// first missing key only.
TEST(NetStorage, EmptyNamesLoseNoNeurons) {
    CoreTestFolder dir;
    ref_ptr<Net> net = makeNet(dir.netFile(), "t", 4, 3, 4);
    net->getOutput(1)->setName("");
    net->getInput(0)->setName("");
    net->getInput(2)->setRegex(0, "");
    ASSERT_TRUE(net->save());
    ref_ptr<Net> loaded = reload(dir.netFile());
    ASSERT_EQ(loaded->outputCount(), 4);
    EXPECT_EQ(loaded->getOutput(1)->getName(), "");
    EXPECT_EQ(loaded->getOutput(2)->getName(), "t folder 2");
    EXPECT_EQ(loaded->getOutput(3)->getName(), "t folder 3");
    ASSERT_EQ(loaded->inputCount(), 4);
    EXPECT_EQ(loaded->getInput(2)->regexCount(), 2);
    EXPECT_EQ(describe(*loaded), describe(*net));
}

TEST(NetStorage, FilesOfTheEarlierFormatReadAsBefore) {
    CoreTestFolder dir;
    // As the earlier program wrote it, plus gaps a hand edit could leave: every list
    // ends at its first missing key.
    writeFile(dir.netFile(), "[NeuronsIn]\r\n"
                             "neuron0.name=_price_\r\n"
                             "neuron0.regex0=_offer_\r\n"
                             "neuron0.regex1=_[0-9]+ EUR_\r\n"
                             "neuron0.regex3=_lost_\r\n"
                             "neuron1.name=_support_\r\n"
                             "neuron3.name=_lost_\r\n"
                             "[NeuronsOut]\r\n"
                             "neuron0.name=_Sales_\r\n"
                             "neuron0.answer=_Dear customer,\\r\\nthanks._\r\n"
                             "neuron0.emails=_a@x.org;b@x.org;_\r\n"
                             "neuron1.name=_Help_\r\n"
                             "[NeuronsHidden]\r\n"
                             "inputCount=_2_\r\n"
                             "outputCount=_2_\r\n"
                             "hiddenCount=_1_\r\n"
                             "hw.0=_000000000000F03F|333333333333D33F_\r\n"
                             "ow.0=_000000000000F0BF_\r\n"
                             "ow.1=_0000000000000000_\r\n"
                             "hb=_000000000000E03F_\r\n"
                             "ob=_0000000000000040|000000000000F03F_\r\n"
                             "learnDate=_20050305140709_\r\n");
    ref_ptr<Net> net = reload(dir.netFile());
    ASSERT_EQ(net->inputCount(), 2);
    EXPECT_EQ(net->getInput(0)->getRegexes(), (std::vector<std::string>{"offer", "[0-9]+ EUR"}));
    EXPECT_EQ(net->getInput(1)->regexCount(), 0);
    ASSERT_EQ(net->outputCount(), 2);
    EXPECT_EQ(net->getOutput(0)->getAnswer(), "Dear customer,\r\nthanks.");
    EXPECT_EQ(net->getOutput(0)->getEmails(), (std::vector<std::string>{"a@x.org", "b@x.org"}));
    EXPECT_EQ(net->getOutput(1)->getAnswer(), "");
    EXPECT_TRUE(net->getOutput(1)->getEmails().empty());
    ASSERT_TRUE(net->isLearned());
    const BackPropagationPtr& network = net->getNetwork();
    EXPECT_EQ(network->hwRow(0)[0], 1.0);
    EXPECT_EQ(network->hwRow(0)[1], 0.3);
    EXPECT_EQ(network->owRow(0)[0], -1.0);
    EXPECT_EQ(network->getHb()[0], 0.5);
    EXPECT_EQ(network->getOb()[0], 2.0);
    DateTime date = 0;
    ASSERT_TRUE(tryEncodeDateTime({2005, 3, 5, 14, 7, 9, 0}, date));
    EXPECT_EQ(net->getLearnDate(), date);
}

struct RowCase {
    const char* name;
    const char* key;
    const char* row; // null: the key is missing
};

void PrintTo(const RowCase& value, std::ostream* out) {
    *out << value.name;
}

class DamagedRows : public testing::TestWithParam<RowCase> {};

// A network with a damaged row would classify with random or absurd weights: the net
// loads unlearned, keeps its neurons, and the log names the row.
TEST_P(DamagedRows, GiveAnUnlearnedNetNamingTheRow) {
    const std::string one = "000000000000F03F";
    std::map<std::string, std::string> rows{{"hw.0", one + "|" + one + "|" + one},
                                            {"hw.1", one + "|" + one + "|" + one},
                                            {"ow.0", one + "|" + one},
                                            {"hb", one + "|" + one},
                                            {"ob", one}};
    if (GetParam().row)
        rows[GetParam().key] = GetParam().row;
    else
        rows.erase(GetParam().key);
    std::string text = "[NeuronsIn]\nneuron0.name=_a_\n[NeuronsHidden]\n"
                       "inputCount=_3_\noutputCount=_1_\nhiddenCount=_2_\n";
    for (const auto& [key, row] : rows)
        text += key + "=_" + row + "_\n";
    CoreTestFolder dir;
    writeFile(dir.netFile(), text);
    LogRecorder log;
    ref_ptr<Net> net = reload(dir.netFile());
    EXPECT_FALSE(net->isLearned());
    EXPECT_EQ(net->inputCount(), 1);
    EXPECT_EQ(net->damage().rfind(std::string("[NeuronsHidden] ") + GetParam().key + ": ", 0), 0u)
        << net->damage();
}

INSTANTIATE_TEST_SUITE_P(
    NetStorage, DamagedRows,
    testing::Values(RowCase{"missing_row", "hw.1", nullptr}, RowCase{"missing_bias", "ob", nullptr},
                    RowCase{"empty_row", "ow.0", ""},
                    RowCase{"too_short", "hw.0", "000000000000F03F|000000000000F03F"},
                    RowCase{"too_long", "hb", "000000000000F03F|000000000000F03F|000000000000F03F"},
                    RowCase{"trailing_bar", "ow.0", "000000000000F03F|000000000000F03F|"},
                    RowCase{"cut_inside_a_number", "hw.1",
                            "000000000000F03F|000000000000F03F|0000000000"},
                    RowCase{"not_hexadecimal", "hb", "000000000000F03F|00000000000XF03F"},
                    RowCase{"blank_inside", "ob", "000000000000 03F"},
                    RowCase{"nan", "hw.0", "000000000000F03F|000000000000F8FF|000000000000F03F"},
                    RowCase{"infinity", "ob", "000000000000F07F"},
                    RowCase{"minus_infinity", "ow.0", "000000000000F0FF|000000000000F03F"}),
    [](const auto& info) { return std::string(info.param.name); });

// 300 inputs make hidden-unit rows of 5099 characters, beyond one profile buffer.
TEST(NetStorage, LongWeightRowsSurvive) {
    CoreTestFolder dir;
    ref_ptr<Net> net = makeNet(dir.netFile(), "big", 300, 150, 40, 1);
    ASSERT_TRUE(net->save());
    auto sections = sectionsOf(readFile(dir.netFile()));
    EXPECT_EQ(sections["NeuronsHidden"]["hw.0"].size(), 300u * 17 - 1 + 2);
    ref_ptr<Net> loaded = reload(dir.netFile());
    EXPECT_EQ(describe(*loaded), describe(*net));
    for (std::string text : {"", "bigword0x0 bigword17x0 bigword299x0", "bigword150x0"}) {
        DoublePtr a = net->evaluate(text), b = loaded->evaluate(text);
        ASSERT_EQ(doubleCount(b), 40);
        EXPECT_EQ(std::memcmp(a.get(), b.get(), 40 * sizeof(double)), 0) << text;
    }
}

struct CorruptCase {
    const char* name;
    const char* counts;
    bool damaged;
};

void PrintTo(const CorruptCase& value, std::ostream* out) {
    *out << value.name;
}

class CorruptCounts : public testing::TestWithParam<CorruptCase> {};

TEST_P(CorruptCounts, GiveAnUnlearnedNet) {
    CoreTestFolder dir;
    writeFile(dir.netFile(),
              std::string("[NeuronsIn]\nneuron0.name=_a_\n[NeuronsHidden]\n") + GetParam().counts);
    LogRecorder log;
    ref_ptr<Net> net = reload(dir.netFile());
    EXPECT_FALSE(net->isLearned());
    EXPECT_EQ(net->inputCount(), 1);
    EXPECT_EQ(net->damage().empty(), !GetParam().damaged) << net->damage();
}

INSTANTIATE_TEST_SUITE_P(
    NetStorage, CorruptCounts,
    testing::Values(
        CorruptCase{"no_counts", "", false},
        CorruptCase{"zero_hidden", "inputCount=_1_\noutputCount=_1_\nhiddenCount=_0_\n", false},
        CorruptCase{"not_a_number", "inputCount=_1_\noutputCount=_x_\nhiddenCount=_1_\n", true},
        CorruptCase{"cut_off", "inputCount=_1_\noutputCount=_1_\nhiddenCount=_", true},
        CorruptCase{"whole_but_no_last_line_break", "inputCount=_0_", false},
        CorruptCase{"negative", "inputCount=_-5_\noutputCount=_1_\nhiddenCount=_1_\n", true},
        CorruptCase{"huge", "inputCount=_1_\noutputCount=_1_\nhiddenCount=_2000000000_\n", true},
        CorruptCase{"too_many_weights",
                    "inputCount=_100000_\noutputCount=_1_\nhiddenCount=_100000_\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NetStorage, FailedSaveReportsItAndLeavesTheFile) {
    CoreTestFolder dir;
    ref_ptr<Net> net = makeNet(dir.file("missing/zelko.ini"), "t", 2, 2, 2);
    LogRecorder log;
    EXPECT_FALSE(net->save());
    EXPECT_TRUE(log.contains("missing/zelko.ini"));
}

// A save killed at any moment leaves the net before it or the net after it.
TEST(NetStorage, KilledSaveLeavesTheOldOrTheNewNet) {
    CoreTestFolder dir;
    ref_ptr<Net> netA = makeNet(dir.netFile(), "a", 200, 60, 20, 5);
    ref_ptr<Net> netB = makeNet(dir.netFile(), "b", 150, 80, 12, 5);
    const std::string a = describe(*netA), b = describe(*netB);
    ASSERT_TRUE(netA->save());
    std::random_device device;
    unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, 40000);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 25; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                netB->save();
                netA->save();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        std::string loaded = describe(*reload(dir.netFile()));
        ASSERT_TRUE(loaded == a || loaded == b) << "seed " << seed << " round " << round;
        (loaded == a ? sawA : sawB)++;
    }
    RecordProperty("old", sawA);
    RecordProperty("new", sawB);
}

} // namespace

#include "core/Net.h"
#include "core/Stimulation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ref_ptr<NeuronIn> stimulation(const char* name, std::initializer_list<const char*> patterns) {
    ref_ptr<NeuronIn> neuron(new NeuronIn(name));
    for (const char* pattern : patterns)
        neuron->addRegex(pattern);
    return neuron;
}

void zero(BackPropagation& network) {
    for (int h = 0; h < network.getHiddenCount(); ++h) {
        std::fill_n(network.hwRow(h), network.getInputCount(), 0.0);
        network.getHb()[h] = 0.0;
    }
    for (int o = 0; o < network.getOutputCount(); ++o) {
        std::fill_n(network.owRow(o), network.getHiddenCount(), 0.0);
        network.getOb()[o] = 0.0;
    }
}

// A net whose outputs are the logistic of the given biases, whatever the text; its one
// stimulation matches every text ("^"), or the one pattern given.
ref_ptr<Net> netWithOutputBiases(std::initializer_list<double> biases, const char* pattern = "^") {
    ref_ptr<Net> net(new Net("/tmp/zelko.ini", nullptr));
    net->addInput(stimulation("evidence", {pattern}).get());
    BackPropagationPtr network(new BackPropagation(1, 0, static_cast<int>(biases.size())));
    int o = 0;
    for (double bias : biases) {
        net->addOutput(new NeuronOut("out" + std::to_string(o)));
        network->getOb()[o++] = bias;
    }
    net->setNetwork(network);
    return net;
}

// The bias nearest ln 4 for which the network gives exactly 0.8.
double biasForExactly08() {
    double bias = std::log(4.0);
    for (int step = 0; step < 64; ++step) {
        double output = netWithOutputBiases({bias})->evaluate("")[0];
        if (output == 0.8)
            return bias;
        bias = std::nextafter(bias, output < 0.8 ? 10.0 : 0.0);
    }
    return NAN;
}

TEST(Net, LookupsOutOfRangeGiveNullAndChangeNothing) {
    Net net("/tmp/zelko.ini", nullptr);
    EXPECT_EQ(net.inputCount(), 0);
    EXPECT_FALSE(net.getOutput(0));
    EXPECT_FALSE(net.removeInput(0));

    ref_ptr<NeuronIn> empty = net.addInput(new NeuronIn("no patterns"));
    net.addInput(stimulation("price", {"price"}).get());
    ref_ptr<NeuronOut> sales = net.addOutput(new NeuronOut("Sales"));
    EXPECT_FALSE(net.getOutput(-1));
    EXPECT_FALSE(net.getOutput(net.outputCount()));
    EXPECT_EQ(net.getOutput(0).get(), sales.get());
    EXPECT_FALSE(net.removeInput(2));
    EXPECT_FALSE(net.removeInput(-1));
    EXPECT_EQ(net.inputCount(), 2);
    EXPECT_EQ(net.indexOfInput(empty.get()), 0);
    EXPECT_EQ(net.indexOfInput(nullptr), -1);
    EXPECT_FALSE(net.addInput(nullptr));
    EXPECT_EQ(net.inputCount(), 2);

    EXPECT_EQ(net.removeInput(0).get(), empty.get());
    EXPECT_EQ(net.getInput(0)->getName(), "price");
    EXPECT_EQ(net.indexOfInput(empty.get()), -1);
}

TEST(Net, RemovedOutputStaysInTheTargetsOfItsEntries) {
    Net net("/tmp/zelko.ini", nullptr);
    ref_ptr<NeuronOut> sales = net.addOutput(new NeuronOut("Sales"));
    ref_ptr<FileData> entry = net.appendFile(new FileData("Offer", "7", "Ann", FILETIME{}));
    entry->addTarget(sales.get());

    EXPECT_EQ(net.removeOutput(0).get(), sales.get());
    EXPECT_EQ(net.outputCount(), 0);
    EXPECT_EQ(entry->indexOfTarget(sales.get()), 0);
    EXPECT_EQ(net.indexOfOutput(sales.get()), -1);
}

TEST(Net, FindFileComparesTheIdTextExactly) {
    Net net("/tmp/zelko.ini", nullptr);
    EXPECT_EQ(net.findFile("12"), -1);
    net.appendFile(new FileData("", "012", "", FILETIME{}));
    net.appendFile(new FileData("", "12", "", FILETIME{}));
    net.appendFile(new FileData("", "12", "", FILETIME{}));
    EXPECT_EQ(net.findFile("12"), 1);
    EXPECT_EQ(net.findFile("012"), 0);
    EXPECT_EQ(net.findFile("1"), -1);
    EXPECT_EQ(net.removeFile(0)->getId(), "012");
    EXPECT_EQ(net.findFile("12"), 0);
    EXPECT_FALSE(net.getFile(2));
}

TEST(Net, InputVectorHasOneLevelPerStimulation) {
    Net net("/tmp/zelko.ini", nullptr);
    DoublePtr none = net.getInputVector("text");
    EXPECT_EQ(doubleCount(none), 0);
    EXPECT_FALSE(net.anyStimulationMatches("text"));

    net.addInput(stimulation("price", {"cheap", "price"}).get());
    net.addInput(new NeuronIn("no patterns"));
    net.addInput(stimulation("invoice", {"Invoice"}).get());
    DoublePtr levels = net.getInputVector("Best PRICE. Your invoice");
    ASSERT_EQ(doubleCount(levels), 3);
    EXPECT_EQ(levels[0], levelHigh);
    EXPECT_EQ(levels[1], levelLow);
    EXPECT_EQ(levels[2], levelLow);
    EXPECT_TRUE(net.anyStimulationMatches("Best PRICE"));
    EXPECT_FALSE(net.anyStimulationMatches("your invoice"));
}

TEST(Net, PatternSetIsBuiltAgainOnlyWhenPatternsChange) {
    Net net("/tmp/zelko.ini", nullptr);
    ref_ptr<NeuronIn> price = net.addInput(stimulation("price", {"price"}).get());
    net.addInput(stimulation("offer", {"offer", "deal"}).get());
    EXPECT_EQ(net.patternSetBuilds(), 0);
    EXPECT_TRUE(net.anyStimulationMatches("a price"));
    EXPECT_EQ(net.getInputVector("a deal")[1], levelHigh);
    EXPECT_EQ(net.patternSetBuilds(), 1);
    // A new name or folder leaves every pattern as it was.
    price->setName("cost");
    net.addOutput(new NeuronOut("Sales"));
    EXPECT_EQ(net.getInputVector("a price")[0], levelHigh);
    EXPECT_EQ(net.patternSetBuilds(), 1);
    // Each change of the patterns is seen at the next match.
    price->setRegex(0, "cost");
    EXPECT_EQ(net.getInputVector("a price")[0], levelLow);
    EXPECT_EQ(net.patternSetBuilds(), 2);
    net.removeInput(1);
    EXPECT_FALSE(net.anyStimulationMatches("a deal"));
    net.addInput(stimulation("deal", {"deal"}).get());
    EXPECT_TRUE(net.anyStimulationMatches("a deal"));
    EXPECT_EQ(net.patternSetBuilds(), 4);
}

TEST(Net, UnlearnedNetClassifiesNothing) {
    Net net("/tmp/zelko.ini", nullptr);
    net.addOutput(new NeuronOut("Sales"));
    EXPECT_FALSE(net.isLearned());
    EXPECT_FALSE(net.evaluate("text"));
    EXPECT_FALSE(net.classify("text", 0));
}

TEST(Net, AllZeroNetworkGivesOneHalf) {
    Net net("/tmp/zelko.ini", nullptr);
    net.addInput(stimulation("a", {"a"}).get());
    net.addInput(stimulation("b", {"b"}).get());
    for (const char* name : {"x", "y", "z"})
        net.addOutput(new NeuronOut(name));
    BackPropagationPtr network(new BackPropagation(2, 4, 3));
    zero(*network);
    net.setNetwork(network);
    DoublePtr outputs = net.evaluate("a b");
    ASSERT_EQ(doubleCount(outputs), 3);
    for (int o = 0; o < 3; ++o)
        EXPECT_EQ(outputs[o], 0.5);
    EXPECT_EQ(refsCount(net.classify("a b", 50)), 3);
    EXPECT_EQ(refsCount(net.classify("a b", 50.0001)), 0);
}

TEST(Net, ThresholdIsInclusive) {
    double exact = biasForExactly08();
    ASSERT_FALSE(std::isnan(exact)) << "no bias gives exactly 0.8";
    ref_ptr<Net> net = netWithOutputBiases({std::log(0.7999 / 0.2001), exact, -800.0});
    DoublePtr outputs = net->evaluate("");
    ASSERT_LT(outputs[0], 0.8);
    EXPECT_EQ(outputs[1], 0.8);
    EXPECT_EQ(outputs[2], 0.0);

    RefsPtr chosen = net->classify("", 80);
    ASSERT_EQ(refsCount(chosen), 1);
    EXPECT_EQ((*chosen)[0].get(), net->getOutput(1).get());

    chosen = net->classify("", 0);
    ASSERT_EQ(refsCount(chosen), 3);
    for (int o = 0; o < 3; ++o)
        EXPECT_EQ((*chosen)[o].get(), net->getOutput(o).get());
}

// A text no stimulation matches gives the network nothing to go on: whatever its
// outputs, it chooses no folder, at any threshold.
struct EvidenceCase {
    const char* name;
    const char* text;
    bool evidence;
};

class NetEvidence : public testing::TestWithParam<EvidenceCase> {};

TEST_P(NetEvidence, OnlyAMatchedStimulationChoosesFolders) {
    const EvidenceCase& c = GetParam();
    ref_ptr<Net> net = netWithOutputBiases({8.0, 0.0}, "invoice");
    Classification result = net->classification(c.text);
    ASSERT_TRUE(result.hasResult());
    EXPECT_EQ(result.hasEvidence(), c.evidence);
    // The outputs are the network's either way; only the choice follows the evidence.
    ASSERT_EQ(doubleCount(net->evaluate(c.text)), 2);
    EXPECT_GT(result.percent(0), 99.0);
    for (double threshold : {0.0, 80.0}) {
        RefsPtr chosen = net->classify(c.text, threshold);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(refsCount(chosen), c.evidence ? (threshold == 0 ? 2 : 1) : 0) << threshold;
        EXPECT_EQ(result.isChosen(0, threshold), c.evidence);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, NetEvidence,
                         testing::Values(EvidenceCase{"matched", "Your invoice.", true},
                                         EvidenceCase{"matched_in_capitals", "INVOICE 12", true},
                                         EvidenceCase{"unmatched", "Cheap watches", false},
                                         EvidenceCase{"empty", "", false},
                                         EvidenceCase{"bytes", "\xc3\x28\xff\x01\x7f", false}),
                         [](const testing::TestParamInfo<EvidenceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Net, NetworkThatNoLongerFitsTheNeuronsClassifiesNothing) {
    Net net("/tmp/zelko.ini", nullptr);
    net.addInput(stimulation("a", {"a"}).get());
    net.addOutput(new NeuronOut("x"));
    net.setNetwork(BackPropagationPtr(new BackPropagation(1, 2, 1)));
    ASSERT_EQ(doubleCount(net.evaluate("a")), 1);

    net.addInput(stimulation("b", {"b"}).get());
    EXPECT_TRUE(net.isLearned());
    EXPECT_FALSE(net.evaluate("a b"));
    EXPECT_FALSE(net.classify("a b", 0));
    net.removeInput(1);
    EXPECT_EQ(doubleCount(net.evaluate("a")), 1);

    net.addOutput(new NeuronOut("y"));
    EXPECT_FALSE(net.evaluate("a"));
    net.removeOutput(0);
    net.removeOutput(0);
    EXPECT_FALSE(net.classify("a", 0));
}

} // namespace

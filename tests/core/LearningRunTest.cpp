#include "core/LearningRun.h"

#include "CoreTestSupport.h"
#include "core/MemoryMessages.h"
#include "core/Net.h"
#include "core/Stimulation.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

// A net whose learning messages are texts in memory: no store anywhere. Four messages,
// two about an offer for "Sales" and two about a jam for "Help".
class MemoryLearning : public testing::Test {
protected:
    void SetUp() override {
        std::string folder = messages->addFolder();
        for (const char* text : {"A cheap offer", "The printer jams", "Another offer", "It jams"})
            messages->add(folder, {"", text, "ann@example.org", {}}, text);
        net = new Net(dir.netFile(), messages);
        net->setLearnFolder(folder);
        net->addInput(stimulationOf("offer", {"offer"}).get());
        net->addInput(stimulationOf("jam", {"jams"}).get());
        net->addOutput(folderOf("Sales").get());
        net->addOutput(folderOf("Help").get());
        net->loadLearningSet();
        for (int f = 0; f < net->fileCount(); ++f)
            net->getFile(f)->addTarget(net->getOutput(f % 2).get());
    }

    static std::vector<double> weightsOf(const LearningRun& run) {
        return networkWeights(*run.network());
    }

    CoreTestFolder dir; // the net file
    std::shared_ptr<MemoryMessages> messages = std::make_shared<MemoryMessages>();
    ref_ptr<Net> net;
    LogRecorder quiet;
    const LearningParameters parameters{3, 200, 0.3, 1.0};
};

TEST_F(MemoryLearning, LearnsFromTextsHeldInMemory) {
    ASSERT_EQ(net->fileCount(), 4);
    EXPECT_EQ(net->getFile(1)->getName(), "The printer jams");
    net->learn(3, 200, nullptr, 0, 0.3, 1.0);
    RefsPtr chosen = net->classify("one more offer", 50);
    ASSERT_EQ(refsCount(chosen), 1);
    EXPECT_EQ((*chosen)[0].get(), net->getOutput(0).get());
}

// The run takes what it reads when it is made, on the net's thread; its network is the
// net's only when installed.
TEST_F(MemoryLearning, ARunKeepsWhatItTookFromTheNetAndItsNetworkToItself) {
    LearningRun reference(*net, parameters);
    reference.train(nullptr, 0);

    LearningRun run(*net, parameters);
    net->getInput(0)->setRegex(0, "nothing matches this");
    net->getFile(0)->removeTarget(0);
    net->removeOutput(1);
    std::thread([&run] { run.train(nullptr, 0); }).join();

    EXPECT_EQ(weightsOf(run), weightsOf(reference));
    EXPECT_FALSE(net->isLearned());
    EXPECT_NE(run.network().get(), net->getNetwork().get());
}

// Parts of a learning set (cross-validation, suggestions) learn from patterns read once.
TEST_F(MemoryLearning, PatternsReadOnceLearnAsTheLearningSetDoes) {
    std::vector<LearningPattern> patterns = LearningRun::patternsOf(*net);
    ASSERT_EQ(patterns.size(), 4u);
    EXPECT_EQ(patterns[1].id, net->getFile(1)->getId());
    EXPECT_EQ(patterns[1].input[1], levelHigh);
    EXPECT_EQ(patterns[1].target[1], levelHigh);

    net->learn(parameters.hiddenCount, parameters.iterations, nullptr, 0, parameters.learningRate,
               parameters.decay);
    LearningRun whole(2, 2, patterns, parameters);
    whole.train(nullptr, 0);
    EXPECT_EQ(weightsOf(whole), networkWeights(*net->getNetwork()));

    LearningRun part(2, 2, {patterns[0], patterns[1]}, parameters);
    EXPECT_GT(part.train(nullptr, 0), 0.0);
    EXPECT_NE(weightsOf(part), weightsOf(whole));
}

} // namespace

#include "core/Net.h"

#include "CoreTestSupport.h"
#include "util/Exception.h"
#include "platform/ComInit.h"
#include "core/Stimulation.h"
#include "mail/StoreMessages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

struct Progress {
    int user;
    int iteration;
    double error;
};

std::vector<Progress> reported;

void record(int user, int iteration, double error) {
    reported.push_back({user, iteration, error});
}

class Learning : public testing::Test {
protected:
    void SetUp() override {
        reported.clear();
        learnText = std::to_string(dir.folder("Learn"));
        net = new Net(dir.netFile(), StoreMessages::of(dir.store()));
        net->setLearnFolder(learnText);
    }

    void deliver(const std::string& base, const std::string& subject, const std::string& body,
                 std::time_t mtime) {
        dir.deliver("Learn", base, plainMessage(subject, body), mtime);
    }

    CoreTestFolder dir;
    std::string learnText;
    ref_ptr<Net> net;
};

TEST_F(Learning, ZeroIterationsLeaveARandomNetwork) {
    net->addInput(stimulationOf("a", {"a"}).get());
    net->addOutput(folderOf("A").get());
    net->addOutput(folderOf("B").get());
    EXPECT_EQ(net->learn(5, 0, record, 77, 0.3, 1.0), 0.0);
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].user, 77);
    EXPECT_EQ(reported[0].iteration, 0);
    EXPECT_EQ(reported[0].error, 0.0);
    ASSERT_TRUE(net->isLearned());
    EXPECT_EQ(net->getNetwork()->getInputCount(), 1);
    EXPECT_EQ(net->getNetwork()->getHiddenCount(), 5);
    EXPECT_EQ(net->getNetwork()->getOutputCount(), 2);
    EXPECT_EQ(net->getNetwork()->getLearningRate(), 0.3);
}

TEST_F(Learning, RefusesANetworkTheFileCouldNotGiveBack) {
    net->addInput(stimulationOf("a", {"a"}).get());
    net->addOutput(folderOf("A").get());
    EXPECT_THROW(net->learn(maxNetworkCount + 1, 1, record, 0, 0.3, 1.0), Exception);
    EXPECT_THROW(net->learn(-1, 1, record, 0, 0.3, 1.0), Exception);
    EXPECT_FALSE(net->isLearned());
    EXPECT_TRUE(reported.empty());
}

TEST_F(Learning, EmptyLearningSetReportsNoError) {
    net->addInput(stimulationOf("a", {"a"}).get());
    net->addOutput(folderOf("A").get());
    net->load();
    net->addInput(stimulationOf("a", {"a"}).get());
    net->addOutput(folderOf("A").get());
    EXPECT_EQ(net->fileCount(), 0);
    EXPECT_EQ(net->learn(4, 3, record, 1, 0.3, 1.0), 0.0);
    ASSERT_EQ(reported.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(reported[i].iteration, i);
        EXPECT_EQ(reported[i].error, 0.0);
    }
    // Without a callback the run is the same.
    EXPECT_EQ(net->learn(4, 3, nullptr, 0, 0.3, 1.0), 0.0);
}

TEST_F(Learning, FiveIterationsAndTheDiagnosticLines) {
    deliver("1.M1P1.h", "offer", "A cheap offer for you", 1700000001);
    deliver("2.M1P1.h", "jam", "The printer jams", 1700000002);
    net->addInput(stimulationOf("offer", {"offer"}).get());
    net->addInput(stimulationOf("jam", {"jams"}).get());
    for (const char* name : {"A", "Sales", "Marketing", "D"})
        net->addOutput(folderOf(name).get());
    net->loadLearningSet();
    ASSERT_EQ(net->fileCount(), 2);
    net->getFile(0)->addTarget(net->getOutput(1).get());
    net->getFile(0)->addTarget(net->getOutput(2).get());

    LogRecorder log;
    double error = net->learn(3, 5, record, 9, 0.3, 1.0);
    ASSERT_EQ(reported.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(reported[i].iteration, i);
    EXPECT_EQ(reported[5].error, reported[4].error);
    EXPECT_EQ(error, reported[5].error);
    EXPECT_GT(reported[0].error, 0.0);
    std::vector<std::string> lines = log.lines();
    ASSERT_EQ(lines.size(), 2u); // the messages are read in the first iteration only
    EXPECT_EQ(lines[0], "file '" + net->getFile(0)->getId() + "' in '[10]' out '[0110]'");
    EXPECT_EQ(lines[1], "file '" + net->getFile(1)->getId() + "' in '[01]' out '[0000]'");
}

TEST_F(Learning, TrainingLowersTheErrorAndTargetsFollowTheOutputList) {
    deliver("1.M1P1.h", "offer", "A cheap offer for you", 1700000001);
    deliver("2.M1P1.h", "jam", "The printer jams", 1700000002);
    net->addInput(stimulationOf("offer", {"offer"}).get());
    net->addInput(stimulationOf("jam", {"jams"}).get());
    ref_ptr<NeuronOut> sales = net->addOutput(folderOf("Sales").get());
    ref_ptr<NeuronOut> help = net->addOutput(folderOf("Help").get());
    net->loadLearningSet();
    net->getFile(0)->addTarget(sales.get());
    net->getFile(1)->addTarget(help.get());
    // A fresh thread starts the generator afresh: the same initial weights in any test order.
    std::thread([&] { net->learn(3, 300, record, 0, 0.3, 1.0); }).join();
    EXPECT_LT(reported.back().error, reported.front().error / 10);
    RefsPtr chosen = net->classify("another offer", 50);
    ASSERT_EQ(refsCount(chosen), 1);
    EXPECT_EQ((*chosen)[0].get(), sales.get());

    // A removed folder no longer counts in the target vector.
    net->removeOutput(0);
    DoublePtr target = net->getTargetVector(net->getFile(0).get());
    ASSERT_EQ(doubleCount(target), 1);
    EXPECT_EQ(target[0], levelLow);
    target = net->getTargetVector(net->getFile(1).get());
    EXPECT_EQ(target[0], levelHigh);
}

TEST_F(Learning, UnreadableMessageIsLearnedAsAnEmptyText) {
    deliver("1.M1P1.h", "offer", "A cheap offer for you", 1700000001);
    net->addInput(stimulationOf("offer", {"offer"}).get());
    net->addOutput(folderOf("Sales").get());
    net->loadLearningSet();
    std::filesystem::remove_all(dir.folderPath("Learn") + "/cur");
    std::filesystem::create_directory(dir.folderPath("Learn") + "/cur");
    ErrorRecorder errors;
    LogRecorder log;
    net->learn(2, 3, nullptr, 0, 0.3, 1.0);
    std::vector<std::string> texts = errors.texts();
    ASSERT_EQ(texts.size(), 1u); // once per run, not per iteration
    EXPECT_NE(texts[0].find("Reading the learning message " + learnText + "/" +
                            net->getFile(0)->getId() + " failed: "),
              std::string::npos)
        << texts[0];
    EXPECT_TRUE(log.contains("in '[0]' out '[0]'"));
}

// The same learning set gives the same network whatever the thread drew before: the
// learning dialog runs on a fresh thread, brevalo-cli learn after loading the net file,
// whose stored network draws from the same generator.
struct BeforeCase {
    const char* name;
    void (*before)(Net& net);
};

class LearningAfter : public Learning, public testing::WithParamInterface<BeforeCase> {};

TEST_P(LearningAfter, GivesTheWeightsOfAFreshThread) {
    deliver("1.M1P1.h", "offer", "A cheap offer for you", 1700000001);
    deliver("2.M1P1.h", "jam", "The printer jams", 1700000002);
    net->addInput(stimulationOf("offer", {"offer"}).get());
    net->addInput(stimulationOf("jam", {"jams"}).get());
    net->addOutput(folderOf("Sales").get());
    net->addOutput(folderOf("Help").get());
    net->loadLearningSet();
    net->getFile(0)->addTarget(net->getOutput(0).get());
    net->getFile(1)->addTarget(net->getOutput(1).get());
    LogRecorder quiet;
    std::vector<double> reference;
    std::thread([&] {
        net->learn(3, 20, nullptr, 0, 0.3, 1.0);
        reference = networkWeights(*net->getNetwork());
    }).join();

    GetParam().before(*net);
    net->learn(3, 20, nullptr, 0, 0.3, 1.0);
    EXPECT_EQ(networkWeights(*net->getNetwork()), reference);
}

INSTANTIATE_TEST_SUITE_P(
    Before, LearningAfter,
    testing::Values(BeforeCase{"nothing", [](Net&) {}},
                    BeforeCase{"draws_of_the_generator",
                               [](Net&) {
                                   for (int i = 0; i < 1000; ++i)
                                       BackPropagation::nextRandom();
                               }},
                    BeforeCase{"loading_a_stored_network",
                               [](Net& net) {
                                   ASSERT_TRUE(net.save());
                                   net.load();
                                   ASSERT_TRUE(net.isLearned());
                               }},
                    BeforeCase{"a_first_run",
                               [](Net& net) { net.learn(3, 20, nullptr, 0, 0.3, 1.0); }}),
    [](const testing::TestParamInfo<BeforeCase>& info) { return std::string(info.param.name); });

// The learning thread: its own object-layer start, an HTML message read there, and the
// same weights as any other fresh thread.
TEST_F(Learning, RunsOnALearningThread) {
    dir.deliver("Learn", "1.M1P1.h",
                "From: a@example.org\r\nSubject: html\r\nMIME-Version: 1.0\r\n"
                "Content-Type: text/html; charset=utf-8\r\n\r\n"
                "<html><body><p>Special <b>offer</b> inside</p></body></html>\r\n",
                1700000001);
    net->addInput(stimulationOf("offer", {"special offer"}).get());
    net->addInput(stimulationOf("markup", {"<b>"}).get());
    net->addOutput(folderOf("Sales").get());
    net->loadLearningSet();
    net->getFile(0)->addTarget(net->getOutput(0).get());

    auto run = [this](double* error, std::vector<std::string>* lines) {
        std::thread worker([&] {
            CoInitialize(nullptr);
            LogRecorder log;
            *error = net->learn(3, 10, nullptr, 0, 0.3, 1.0);
            *lines = log.lines();
            CoUninitialize();
        });
        worker.join();
    };
    double first = 0, second = 0;
    std::vector<std::string> lines, ignored;
    run(&first, &lines);
    run(&second, &ignored);
    EXPECT_EQ(first, second);
    EXPECT_TRUE(std::find(lines.begin(), lines.end(),
                          "file '" + net->getFile(0)->getId() + "' in '[10]' out '[1]'") !=
                lines.end())
        << testing::PrintToString(lines);
}

} // namespace

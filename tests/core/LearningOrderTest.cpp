// The order of learning: a learning set filled one folder at a time learns as well as
// one filled in any other order, and gives the very same network.

#include "core/Net.h"

#include "CoreTestSupport.h"
#include "core/LearningOrder.h"
#include "core/Stimulation.h"
#include "mail/StoreMessages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

const char* const folderNames[] = {"Invoices", "Travel", "Family", "Work"};
const char* const folderWords[] = {"invoice", "flight", "birthday", "meeting",
                                   "payment", "hotel",  "cousin",   "project"};
const char* const noiseWords[] = {"hello", "today", "please",   "thanks", "monday", "update",
                                  "note",  "again", "question", "week",   "soon",   "attached"};
constexpr int perFolder = 50;
constexpr int noiseCount = 8;

// The body of message m of folder f: one of the folder's two words among eight noise
// words shared by all folders, the same for every order of delivery.
std::string body(int f, int m) {
    unsigned state = static_cast<unsigned>(f * 1000 + m) * 2654435761u + 12345u;
    std::string text;
    for (int w = 0; w < noiseCount; ++w) {
        state = state * 1103515245u + 12345u;
        text += std::string(noiseWords[(state >> 16) % std::size(noiseWords)]) + " ";
        if (w == 1)
            text += std::string(folderWords[f + 4 * (m % 2)]) + " ";
    }
    return text + "end";
}

// (folder, message) in the order of delivery.
using Delivery = std::vector<std::pair<int, int>>;

Delivery folderByFolder() {
    Delivery order;
    for (int f = 0; f < 4; ++f)
        for (int m = 0; m < perFolder; ++m)
            order.emplace_back(f, m);
    return order;
}

Delivery interleaved() {
    Delivery order;
    for (int m = 0; m < perFolder; ++m)
        for (int f = 0; f < 4; ++f)
            order.emplace_back(f, m);
    return order;
}

Delivery lastFolderFirst() {
    Delivery order = folderByFolder();
    std::reverse(order.begin(), order.end());
    return order;
}

struct OrderCase {
    const char* name;
    Delivery (*order)();
};

class LearningOrderTest : public testing::TestWithParam<OrderCase> {
protected:
    void SetUp() override {
        net = new Net(dir.netFile(), StoreMessages::of(dir.store()));
        for (int f = 0; f < 4; ++f)
            net->addOutput(folderOf(folderNames[f]).get());
        for (const char* word : folderWords)
            net->addInput(stimulationOf(word, {word}).get());
        for (const char* word : noiseWords)
            net->addInput(stimulationOf(word, {word}).get());
    }

    // Delivers the set into a folder of its own in that order and learns it there.
    void learnFrom(const std::string& folder, const Delivery& order) {
        std::string learn = std::to_string(dir.folder(folder));
        std::time_t time = 1700000000;
        for (auto [f, m] : order) {
            ++time;
            dir.deliver(
                folder, std::to_string(time) + ".M" + std::to_string(m) + "P1.host",
                plainMessage(std::string(folderNames[f]) + " " + std::to_string(m), body(f, m)),
                time);
        }
        net->setLearnFolder(learn);
        net->loadLearningSet();
        for (int i = 0; i < net->fileCount(); ++i) {
            ref_ptr<FileData> entry = net->getFile(i);
            for (int f = 0; f < 4; ++f)
                if (entry->getName().rfind(folderNames[f], 0) == 0)
                    entry->addTarget(net->getOutput(f).get());
        }
        // A short run, where the order of presentation shows most.
        net->learn(10, 10, nullptr, 0, 0.3, 1.0);
    }

    // Share of the learning messages whose highest output is their own folder.
    double rightFirst() {
        std::string folder = net->getLearnFolder();
        int right = 0;
        for (int i = 0; i < net->fileCount(); ++i) {
            ref_ptr<FileData> entry = net->getFile(i);
            DoublePtr outputs = net->evaluate(net->getFileContent(folder + "/" + entry->getId()));
            int best = 0;
            for (int o = 1; o < doubleCount(outputs); ++o)
                if (outputs[o] > outputs[best])
                    best = o;
            right += net->getOutput(best).get() == entry->getTarget(0).get();
        }
        return static_cast<double>(right) / net->fileCount();
    }

    CoreTestFolder dir;
    ref_ptr<Net> net;
};

TEST_P(LearningOrderTest, LearnsEveryFolderAndTheSameNetworkAsInterleaved) {
    LogRecorder quiet;
    learnFrom("Reference", interleaved());
    std::vector<double> reference = networkWeights(*net->getNetwork());

    learnFrom("Learn", GetParam().order());
    ASSERT_EQ(net->fileCount(), 4 * perFolder);
    EXPECT_GE(rightFirst(), 0.95);
    std::vector<double> learned = networkWeights(*net->getNetwork());
    ASSERT_EQ(learned.size(), reference.size());
    // Bit for bit: the arrival order does not reach the network.
    EXPECT_EQ(std::memcmp(learned.data(), reference.data(), learned.size() * sizeof(double)), 0);
}

INSTANTIATE_TEST_SUITE_P(Deliveries, LearningOrderTest,
                         testing::Values(OrderCase{"folder_by_folder", folderByFolder},
                                         OrderCase{"interleaved", interleaved},
                                         OrderCase{"last_folder_first", lastFolderFirst}),
                         [](const auto& info) { return std::string(info.param.name); });

// The order itself: every iteration presents every pattern once, in a new order, and
// the sequence of patterns depends only on the patterns, not on their positions.
TEST(LearningOrder, IterationsArePermutationsOfThePatternsAloneInNewOrders) {
    std::vector<DoublePtr> inputs, targets;
    for (int p = 0; p < 200; ++p) {
        inputs.push_back(makeDoubles(3));
        targets.push_back(makeDoubles(1));
        for (int i = 0; i < 3; ++i)
            inputs.back()[i] = (p >> i) & 1 ? levelHigh : levelLow;
        targets.back()[0] = p % 7 == 0 ? levelHigh : levelLow;
    }
    std::vector<DoublePtr> reversedInputs(inputs.rbegin(), inputs.rend());
    std::vector<DoublePtr> reversedTargets(targets.rbegin(), targets.rend());
    LearningOrder order(inputs, targets), reversed(reversedInputs, reversedTargets);
    std::vector<int> previous;
    for (int iteration = 0; iteration < 5; ++iteration) {
        std::vector<int> now = order.shuffled();
        const std::vector<int>& other = reversed.shuffled();
        std::vector<int> sorted = now;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int> all(inputs.size());
        std::iota(all.begin(), all.end(), 0);
        ASSERT_EQ(sorted, all);
        EXPECT_NE(now, previous);
        for (std::size_t k = 0; k < now.size(); ++k) {
            ASSERT_EQ(inputs[now[k]][0], reversedInputs[other[k]][0]) << k;
            ASSERT_EQ(inputs[now[k]][1], reversedInputs[other[k]][1]) << k;
            ASSERT_EQ(inputs[now[k]][2], reversedInputs[other[k]][2]) << k;
            ASSERT_EQ(targets[now[k]][0], reversedTargets[other[k]][0]) << k;
        }
        previous = now;
    }
}

} // namespace

#include "core/CrossValidation.h"
#include "core/Stimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

// A pattern whose inputs named by onInputs respond, assigned to the folders named.
LearningPattern patternOf(int inputs, std::vector<int> onInputs, int outputs,
                          std::vector<int> targets) {
    LearningPattern pattern{"", makeDoubles(inputs), makeDoubles(outputs)};
    for (int i = 0; i < inputs; ++i)
        pattern.input[i] = levelLow;
    for (int i : onInputs)
        pattern.input[i] = levelHigh;
    for (int o = 0; o < outputs; ++o)
        pattern.target[o] = levelLow;
    for (int o : targets)
        pattern.target[o] = levelHigh;
    return pattern;
}

// Three folders of ten messages each. Folder o's messages hold word o, and one of two
// common words that tell nothing. With `blur`, folders 0 and 1 share word 0.
std::vector<LearningPattern> generatedSet(bool blur) {
    std::vector<LearningPattern> set;
    for (int m = 0; m < 10; ++m)
        for (int o = 0; o < 3; ++o)
            set.push_back(patternOf(5, {blur && o == 1 ? 0 : o, 3 + m % 2}, 3, {o}));
    set.push_back(patternOf(5, {}, 3, {})); // assigned to no folder: takes no part
    return set;
}

// What each fold holds: its patterns' inputs and targets, in a fixed order.
std::map<int, std::multiset<std::vector<double>>>
foldContents(const std::vector<LearningPattern>& set, const std::vector<int>& folds) {
    std::map<int, std::multiset<std::vector<double>>> contents;
    for (std::size_t p = 0; p < set.size(); ++p) {
        std::vector<double> values(set[p].input.get(), set[p].input.get() + 5);
        values.insert(values.end(), set[p].target.get(), set[p].target.get() + 3);
        contents[folds[p]].insert(values);
    }
    return contents;
}

const EvaluationParameters parameters{5, {4, 300, 0.3, 1.0}, 80, 7};

TEST(CrossValidation, ASetThatSeparatesScoresOneEverywhere) {
    std::vector<long long> reported;
    Evaluation result = CrossValidation(5, 3, generatedSet(false), parameters)
                            .run([&reported](long long done, long long total) {
                                EXPECT_EQ(total, 5 * 300);
                                reported.push_back(done);
                            });
    EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end()));
    EXPECT_EQ(reported.size(), 5u * 300);
    EXPECT_EQ(reported.back(), 5 * 300);
    EXPECT_EQ(result.messages, 30);
    EXPECT_EQ(result.accuracy, 1.0);
    EXPECT_EQ(result.inboxShare, 0.0);
    EXPECT_EQ(result.wrongFolderShare, 0.0);
    for (int o = 0; o < 3; ++o) {
        EXPECT_EQ(result.folders[o].messages, 10);
        EXPECT_EQ(result.folders[o].precision, 1.0);
        EXPECT_EQ(result.folders[o].recall, 1.0);
        EXPECT_EQ(result.folders[o].f1, 1.0);
        EXPECT_EQ(result.confusion[o][o], 10);
    }
}

TEST(CrossValidation, FoldersNothingTellsApartAreConfused) {
    Evaluation result = CrossValidation(5, 3, generatedSet(true), parameters).run();
    EXPECT_GT(result.confusion[0][1] + result.confusion[1][0], 5);
    EXPECT_EQ(result.confusion[2][2], 10);
    EXPECT_EQ(result.confusion[0][2] + result.confusion[1][2], 0);
    EXPECT_LT(result.accuracy, 0.9);
    EXPECT_EQ(result.folders[2].f1, 1.0);
    // Between 0 and 1 the net can be sure of neither: at 80 % they stay in the inbox.
    EXPECT_GT(result.inboxShare, 0.3);
}

TEST(CrossValidation, MessagesNoStimulationMatchesHaveNoTopFolder) {
    std::vector<LearningPattern> set = generatedSet(false);
    for (int m = 0; m < 5; ++m)
        set.push_back(patternOf(5, {}, 3, {2}));
    Evaluation result = CrossValidation(5, 3, set, parameters).run();
    EXPECT_EQ(result.messages, 35);
    EXPECT_EQ(result.confusion[2][3], 5);
    EXPECT_DOUBLE_EQ(result.accuracy, 30.0 / 35);
    EXPECT_DOUBLE_EQ(result.inboxShare, 5.0 / 35);
    EXPECT_DOUBLE_EQ(result.folders[2].recall, 10.0 / 15);
}

// The seed fixes the folds, and through them every number; each fold holds its share of
// every folder.
TEST(CrossValidation, FoldsAreStratifiedAndFixedByTheSeed) {
    std::vector<LearningPattern> set = generatedSet(true);
    std::vector<int> folds = CrossValidation::foldsOf(set, 5, 7);
    EXPECT_EQ(folds, CrossValidation::foldsOf(set, 5, 7));
    EXPECT_NE(folds, CrossValidation::foldsOf(set, 5, 8));
    std::map<std::pair<int, int>, int> perFoldAndFolder;
    for (int p = 0; p < 30; ++p)
        ++perFoldAndFolder[{folds[p], p % 3}];
    EXPECT_EQ(perFoldAndFolder.size(), 15u);
    for (const auto& [key, count] : perFoldAndFolder)
        EXPECT_EQ(count, 2) << "fold " << key.first << " folder " << key.second;
    EXPECT_EQ(folds[30], -1);
    // One fold after another or all at once: the same numbers.
    EvaluationParameters oneThread = parameters, fiveThreads = parameters;
    oneThread.threads = 1;
    fiveThreads.threads = 5;
    Evaluation first = CrossValidation(5, 3, set, oneThread).run();
    Evaluation second = CrossValidation(5, 3, set, fiveThreads).run();
    EXPECT_EQ(first.confusion, second.confusion);
    EXPECT_EQ(first.inboxShare, second.inboxShare);
    // The same set in another order (as another store lists it): the same folds.
    std::vector<LearningPattern> reversed(set.rbegin(), set.rend());
    EXPECT_EQ(foldContents(reversed, CrossValidation::foldsOf(reversed, 5, 7)),
              foldContents(set, folds));
}

// Folders of sizes that are no multiple of the folds: each folder is spread over the folds
// as evenly as it can be, and the folds' sizes differ by one at most.
TEST(CrossValidation, FoldsAreBalancedPerFolderAndInAll) {
    struct Case {
        std::vector<int> folderSizes;
        int folds;
    };
    for (const Case& c : {Case{{3, 3, 3}, 5}, Case{{7, 4, 1}, 5}, Case{{1, 1, 1, 1}, 3}}) {
        std::vector<LearningPattern> set;
        std::vector<int> folderOf;
        for (int o = 0; o < static_cast<int>(c.folderSizes.size()); ++o)
            for (int m = 0; m < c.folderSizes[o]; ++m) {
                set.push_back(patternOf(5, {m % 5}, 4, {o}));
                folderOf.push_back(o);
            }
        std::vector<int> folds = CrossValidation::foldsOf(set, c.folds, 7);
        std::map<int, std::vector<int>> perFolder; // folder -> its count in each fold
        std::vector<int> sizes(static_cast<std::size_t>(c.folds), 0);
        for (std::size_t p = 0; p < set.size(); ++p) {
            perFolder[folderOf[p]].resize(static_cast<std::size_t>(c.folds));
            ++perFolder[folderOf[p]][folds[p]];
            ++sizes[folds[p]];
        }
        for (const auto& [folder, counts] : perFolder)
            EXPECT_LE(*std::max_element(counts.begin(), counts.end()) -
                          *std::min_element(counts.begin(), counts.end()),
                      1)
                << "folder " << folder << " of " << c.folderSizes.size();
        EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()) -
                      *std::min_element(sizes.begin(), sizes.end()),
                  1)
            << c.folds << " folds of " << set.size();
    }
}

} // namespace

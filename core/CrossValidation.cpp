#include "core/CrossValidation.h"

#include "util/Log.h"
#include "util/ParallelFor.h"
#include "util/Text.h"
#include "core/Classification.h"
#include "core/Net.h"
#include "core/Stimulation.h"

#include <algorithm>
#include <mutex>
#include <random>

namespace {

std::vector<int> targetsOf(const LearningPattern& pattern) {
    std::vector<int> targets;
    for (int o = 0; o < doubleCount(pattern.target); ++o)
        if (pattern.target[o] >= levelHigh)
            targets.push_back(o);
    return targets;
}

// A pattern as one number sequence, targets first, to sort by.
std::vector<double> sequenceOf(const LearningPattern& pattern) {
    std::vector<double> sequence(pattern.target.get(),
                                 pattern.target.get() + doubleCount(pattern.target));
    sequence.insert(sequence.end(), pattern.input.get(),
                    pattern.input.get() + doubleCount(pattern.input));
    return sequence;
}

// The learning run reports through a plain function; the fold's reporter for this thread.
thread_local const std::function<void(int)>* iterationReporter = nullptr;

void reportIteration(int, int iteration, double) {
    if (iterationReporter)
        (*iterationReporter)(iteration);
}

double ratio(int part, int whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / whole;
}

} // namespace

CrossValidation::CrossValidation(const Net& net, const EvaluationParameters& parameters)
    : inputCount(net.inputCount()), outputCount(net.outputCount()), settings(parameters) {
    LearningRun reading(net, parameters.learning);
    patterns = reading.takePatterns();
    leftOut = reading.leftOutUnmatched();
}

CrossValidation::CrossValidation(int inputCount, int outputCount,
                                 std::vector<LearningPattern> patterns,
                                 const EvaluationParameters& parameters)
    : inputCount(inputCount), outputCount(outputCount), patterns(std::move(patterns)),
      settings(parameters) {}

int CrossValidation::assignedCount() const {
    int assigned = 0;
    for (const LearningPattern& pattern : patterns)
        assigned += targetsOf(pattern).empty() ? 0 : 1;
    return assigned;
}

std::vector<int> CrossValidation::foldsOf(const std::vector<LearningPattern>& patterns, int folds,
                                          std::uint32_t seed) {
    std::vector<int> fold(patterns.size(), -1);
    std::vector<std::vector<int>> strata;
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        std::vector<int> targets = targetsOf(patterns[p]);
        if (targets.empty())
            continue;
        if (strata.size() <= static_cast<std::size_t>(targets[0]))
            strata.resize(static_cast<std::size_t>(targets[0]) + 1);
        strata[targets[0]].push_back(static_cast<int>(p));
    }
    // mt19937 and a Fisher-Yates of our own: the same order with every standard library.
    std::mt19937 random(seed);
    int next = 0;
    for (std::vector<int>& members : strata) {
        // From an order of what the messages teach, not of where they lie: the store's
        // order follows arrival, and the same set must give the same folds.
        std::stable_sort(members.begin(), members.end(), [&patterns](int a, int b) {
            return sequenceOf(patterns[a]) < sequenceOf(patterns[b]);
        });
        for (std::size_t i = members.size(); i > 1; --i)
            std::swap(members[i - 1], members[random() % i]);
        // Dealt on from where the last folder ended, so fold sizes differ by one at most.
        for (int p : members)
            fold[p] = next++ % folds;
    }
    return fold;
}

namespace {

// What one fold's held-out messages gave.
struct FoldCounts {
    std::vector<std::vector<int>> confusion;
    int messages = 0, correct = 0, inbox = 0, wrong = 0;
};

} // namespace

Evaluation CrossValidation::run(const Progress& progress, const std::atomic<bool>* stop) {
    int folds = std::max(1, settings.folds);
    std::vector<int> fold = foldsOf(patterns, folds, settings.seed);
    int iterations = settings.learning.iterations;
    long long total = static_cast<long long>(folds) * iterations;
    std::vector<FoldCounts> counts(static_cast<std::size_t>(folds));
    std::mutex progressMutex;
    long long done = 0;
    auto runFold = [&](int k) {
        FoldCounts& mine = counts[static_cast<std::size_t>(k)];
        mine.confusion.assign(static_cast<std::size_t>(outputCount),
                              std::vector<int>(static_cast<std::size_t>(outputCount) + 1, 0));
        std::vector<LearningPattern> learning;
        std::vector<const LearningPattern*> held;
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (fold[p] == k)
                held.push_back(&patterns[p]);
            else if (fold[p] >= 0)
                learning.push_back(patterns[p]);
        }
        int reported = 0;
        // The run reports its last iteration twice: once as it ends, once as the result.
        std::function<void(int)> report = [&](int iteration) {
            int now = std::min(iteration + 1, iterations);
            if (now <= reported)
                return;
            std::lock_guard<std::mutex> lock(progressMutex);
            done += now - reported;
            reported = now;
            if (progress)
                progress(done, total);
        };
        if (held.empty()) {
            report(iterations - 1);
            return;
        }
        LearningRun run(inputCount, outputCount, std::move(learning), settings.learning);
        iterationReporter = &report;
        run.train(reportIteration, 0);
        iterationReporter = nullptr;
        for (const LearningPattern* pattern : held) {
            Classification answer = Classification::of(*run.network(), pattern->input);
            std::vector<int> targets = targetsOf(*pattern);
            int top = -1;
            if (answer.hasEvidence())
                top = static_cast<int>(
                    std::max_element(answer.outputs().get(), answer.outputs().get() + outputCount) -
                    answer.outputs().get());
            bool hit = std::find(targets.begin(), targets.end(), top) != targets.end();
            int actual = hit ? top : targets[0];
            ++mine.confusion[actual][top < 0 ? outputCount : top];
            mine.correct += hit ? 1 : 0;
            bool chosenAny = false, chosenWrong = false;
            for (int o = 0; o < outputCount; ++o) {
                if (!answer.isChosen(o, settings.threshold))
                    continue;
                chosenAny = true;
                chosenWrong =
                    chosenWrong || std::find(targets.begin(), targets.end(), o) == targets.end();
            }
            mine.inbox += chosenAny ? 0 : 1;
            mine.wrong += chosenWrong ? 1 : 0;
            ++mine.messages;
        }
    };
    // Folds learn on threads of their own: each run starts the generator of its thread
    // afresh and reads only its own patterns, so the numbers are those of one thread.
    parallelFor(static_cast<std::size_t>(folds),
                settings.threads > 0 ? static_cast<std::size_t>(settings.threads) : 0,
                [&](std::size_t k, std::size_t) {
                    if (!stop || !stop->load())
                        runFold(static_cast<int>(k));
                });

    Evaluation result;
    result.confusion.assign(static_cast<std::size_t>(outputCount),
                            std::vector<int>(static_cast<std::size_t>(outputCount) + 1, 0));
    int correct = 0, inbox = 0, wrong = 0;
    for (const FoldCounts& c : counts) {
        if (c.confusion.empty())
            continue; // stopped before it ran
        for (int r = 0; r < outputCount; ++r)
            for (int col = 0; col <= outputCount; ++col)
                result.confusion[r][col] += c.confusion[r][col];
        result.messages += c.messages;
        correct += c.correct;
        inbox += c.inbox;
        wrong += c.wrong;
    }
    result.accuracy = ratio(correct, result.messages);
    result.inboxShare = ratio(inbox, result.messages);
    result.wrongFolderShare = ratio(wrong, result.messages);
    for (int o = 0; o < outputCount; ++o) {
        FolderScore score;
        int predicted = 0;
        for (int a = 0; a < outputCount; ++a) {
            score.messages += result.confusion[o][a];
            predicted += result.confusion[a][o];
        }
        score.messages += result.confusion[o][outputCount];
        int hits = result.confusion[o][o];
        score.precision = ratio(hits, predicted);
        score.recall = ratio(hits, score.messages);
        double sum = score.precision + score.recall;
        score.f1 = sum == 0 ? 0 : 2 * score.precision * score.recall / sum;
        result.folders.push_back(score);
    }
    return result;
}

std::string Evaluation::report(const std::vector<std::string>& folderNames,
                               double threshold) const {
    int count = static_cast<int>(folders.size());
    auto name = [&folderNames](int o) {
        return o < static_cast<int>(folderNames.size()) ? folderNames[o] : std::string();
    };
    // Widths in terminal columns, so names in any script line up; a long name is cut.
    constexpr std::size_t widest = 40;
    std::size_t width = 16;
    for (int o = 0; o < count; ++o)
        width = std::max(width, std::min(widest, displayWidth(name(o))));
    std::string text = formatString("accuracy of the top folder:           %.3f\n", accuracy);
    text += formatString("%-37s %.3f\n",
                         formatString("left in the inbox at threshold %g%%:", threshold).c_str(),
                         inboxShare);
    text += formatString("sent to a wrong folder:               %.3f\n\n", wrongFolderShare);
    text += fitToWidth("folder", width) + "  precision  recall     F1  messages\n";
    for (int o = 0; o < count; ++o)
        text += fitToWidth(name(o), width) + formatString("  %9.3f  %6.3f  %5.3f  %8d\n",
                                                          folders[o].precision, folders[o].recall,
                                                          folders[o].f1, folders[o].messages);
    // The columns are numbered: the names would make the matrix too wide to read. The rows
    // carry number and name, the legend of the columns.
    std::size_t cell = 6;
    for (const std::vector<int>& row : confusion)
        for (int value : row)
            cell = std::max(cell, std::to_string(value).size() + 1);
    std::size_t label = std::to_string(count).size() + 1 + width;
    text += "\nconfusion: rows are the true folders, columns the folders decided (the top ones)\n";
    text += fitToWidth("true \\ decided", label);
    for (int c = 0; c < count; ++c)
        text += " " + fitToWidth(std::to_string(c + 1), cell, true);
    text += " " + fitToWidth("none", cell, true) + "\n";
    for (int r = 0; r < count && r < static_cast<int>(confusion.size()); ++r) {
        text += fitToWidth(std::to_string(r + 1), label - width - 1, true) + " " +
                fitToWidth(name(r), width);
        for (int value : confusion[r])
            text += " " + fitToWidth(std::to_string(value), cell, true);
        text += "\n";
    }
    text += "(none: no stimulation matched, so no folder was decided)\n";
    return text;
}

#include "core/LearningRun.h"

#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "core/LearningInputs.h"
#include "core/LearningOrder.h"
#include "core/LearningSetCheck.h"
#include "core/Net.h"
#include "core/Stimulation.h"

#include <algorithm>
#include <utility>

namespace {

// "[" + one character per value + "]": "1" at or above levelHigh, "0" at or below
// levelLow, "?" between.
std::string levelPattern(const DoublePtr& vector) {
    std::string text = "[";
    for (int i = 0; i < doubleCount(vector); ++i)
        text += vector[i] >= levelHigh ? '1' : vector[i] <= levelLow ? '0' : '?';
    return text + "]";
}

void logPattern(const LearningPattern& pattern) {
    debugLog("file '%s' in '%s' out '%s'", pattern.id.c_str(), levelPattern(pattern.input).c_str(),
             levelPattern(pattern.target).c_str());
}

} // namespace

LearningRun::LearningRun(const Net& net, const LearningParameters& parameters)
    : inputCount(net.inputCount()), outputCount(net.outputCount()), settings(parameters),
      matcher(std::in_place, net), source(net.learningSet().messages()) {
    patterns.reserve(static_cast<std::size_t>(net.fileCount()));
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        patterns.push_back({entry->getId(), DoublePtr(), net.getTargetVector(entry.get())});
    }
}

LearningRun::LearningRun(int inputCount, int outputCount, std::vector<LearningPattern> patterns,
                         const LearningParameters& parameters)
    : inputCount(inputCount), outputCount(outputCount), patterns(std::move(patterns)),
      settings(parameters) {}

std::vector<LearningPattern> LearningRun::patternsOf(const Net& net) {
    return LearningRun(net, LearningParameters{}).takePatterns();
}

std::vector<LearningPattern> LearningRun::takePatterns() {
    if (settings.skipUnmatched)
        leaveOutUnmatched();
    else
        readInputs(true);
    return std::move(patterns);
}

bool LearningRun::matchesAStimulation(const DoublePtr& input) {
    for (int i = 0; i < doubleCount(input); ++i)
        if (input[i] >= levelHigh)
            return true;
    return false;
}

int LearningRun::leaveOutUnmatched() {
    readInputs(true);
    auto unmatched = std::remove_if(patterns.begin(), patterns.end(), [](const LearningPattern& p) {
        return !matchesAStimulation(p.input);
    });
    leftOut += static_cast<int>(patterns.end() - unmatched);
    patterns.erase(unmatched, patterns.end());
    return leftOut;
}

void LearningRun::start() {
    // A network the file could not give back would be lost at the next load.
    if (!isSaneNetworkSize(inputCount, settings.hiddenCount, outputCount))
        throw Exception(formatString("a network of %d inputs, %d hidden units and %d outputs "
                                     "is too large to learn",
                                     inputCount, settings.hiddenCount, outputCount));
    // The same learning set gives the same network in any thread and after any earlier
    // use of the generator (a loaded network drew from it).
    BackPropagation::restartRandom();
    trained =
        BackPropagationPtr(new BackPropagation(inputCount, settings.hiddenCount, outputCount));
    trained->setLearningRate(settings.learningRate);
    trained->setDecay(settings.decay);
}

bool LearningRun::takeChecked(const CheckedInputs& read) {
    if (!matcher || !source || !read.matcher || !matcher->sameStimulations(*read.matcher) ||
        read.ids.size() != patterns.size() || read.inputs.size() != patterns.size() ||
        read.folder != source->id())
        return false;
    for (std::size_t i = 0; i < patterns.size(); ++i)
        if (read.ids[i] != patterns[i].id || !read.inputs[i])
            return false;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        patterns[i].input = read.inputs[i];
        logPattern(patterns[i]);
    }
    return true;
}

void LearningRun::readInputs(bool read) {
    if (!matcher || !source)
        return;
    std::string folderId = source->id();
    std::shared_ptr<void> held = source->hold(folderId);
    if (!read)
        return;
    std::vector<LearningInputs::Message> messages;
    std::vector<LearningPattern*> missing;
    for (LearningPattern& pattern : patterns) {
        if (pattern.input)
            continue;
        messages.push_back({folderId + "/" + pattern.id, "learning message " + pattern.id});
        missing.push_back(&pattern);
    }
    std::vector<DoublePtr> inputs =
        LearningInputs::read(*source, *matcher, messages, settings.readingThreads);
    for (std::size_t i = 0; i < missing.size(); ++i) {
        missing[i]->input = inputs[i];
        logPattern(*missing[i]);
    }
}

double LearningRun::train(ProgressCallback callback, int user) {
    if (!trained)
        start();
    int iterations = settings.iterations;
    // Every message is read and matched once, before the first iteration trains: the
    // order of training needs all patterns.
    if (settings.skipUnmatched && iterations > 0)
        leaveOutUnmatched();
    else
        readInputs(iterations > 0);
    std::vector<DoublePtr> inputs, targets;
    if (iterations > 0) {
        for (const LearningPattern& pattern : patterns) {
            inputs.push_back(pattern.input);
            targets.push_back(pattern.target);
        }
    }
    LearningOrder order(inputs, targets);
    double error = 0;
    for (int it = 0; it < iterations; ++it) {
        error = 0;
        for (int j : order.shuffled())
            error += trained->train(inputs[j].get(), targets[j].get());
        if (callback)
            callback(user, it, error);
    }
    if (callback)
        callback(user, iterations, error);
    return error;
}

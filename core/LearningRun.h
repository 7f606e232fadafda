#pragma once

#include "util/DoubleArray.h"
#include "core/BackPropagation.h"
#include "core/InputMatcher.h"
#include "core/LearningMessages.h"

#include <optional>
#include <string>
#include <vector>

class Net;

// Progress of a learning run: the caller's value, the iteration and the summed error of
// that iteration. Called on the learning thread; it must only hand the values on.
using ProgressCallback = void (*)(int user, int iteration, double error);

// One learning pattern: what the network is shown for one message and what it is to
// answer. The input is made from the message's text when the run reads it.
struct LearningPattern {
    std::string id; // the message's id, for the diagnostic line
    DoublePtr input;
    DoublePtr target;
};

struct LearningParameters {
    int hiddenCount = 4;
    int iterations = 500;
    double learningRate = 0.3;
    double decay = 1.0;
    // Threads that read and match the messages (0: one per processor); the training
    // itself is single-threaded and does not depend on it.
    int readingThreads = 0;
    // Learn without the messages no stimulation matches (leaveOutUnmatched): they cannot
    // teach the network anything but to answer nothing.
    bool skipUnmatched = false;
};

struct CheckedInputs;

// A learning run: trains a fresh network of inputs x hidden x outputs on the patterns,
// for all iterations, each iteration in a new order of the patterns (LearningOrder).
// The result depends only on the patterns (the messages' texts and targets), the sizes
// and the parameters: not on the order the messages arrived in, the thread, or what ran
// before.
//
// The run owns everything it reads and the network it trains: made on the net's thread,
// it can be carried out on another, and its network is handed over to the net only when
// the owner installs it (Net::setNetwork). Not for two threads at once.
class LearningRun {
public:
    // The run of the net's learning set: takes now the stimulations (InputMatcher), each
    // entry's id and target vector and where the texts are read; the learning folder is
    // looked up and its messages read when the run trains.
    LearningRun(const Net& net, const LearningParameters& parameters);
    // A run over patterns made already (every input and target given), e.g. a part of a
    // learning set whose texts are held in memory.
    LearningRun(int inputCount, int outputCount, std::vector<LearningPattern> patterns,
                const LearningParameters& parameters);

    // Every pattern of the net's learning set, its message read and matched now, in
    // learning-set order: for runs over parts of the learning set that do not read the
    // messages again. The learning folder's lookup may raise ComException.
    static std::vector<LearningPattern> patternsOf(const Net& net);
    // Reads and matches every message whose input is still missing, as train does, and
    // hands the patterns over (the run keeps none): for work over the learning set on
    // another thread than the net's, such as a cross-validation.
    // With skipUnmatched, without the patterns no stimulation matches.
    std::vector<LearningPattern> takePatterns();

    // Whether some stimulation matches the message of that input vector (an input at
    // levelHigh): what the check before learning asks of every learning message.
    static bool matchesAStimulation(const DoublePtr& input);
    // Reads and matches every message whose input is still missing and drops the patterns
    // no stimulation matches, keeping the order of the others, so the run learns exactly
    // the network of a learning set without those messages. train and takePatterns do it
    // with skipUnmatched. How many the run has left out so far.
    int leaveOutUnmatched();
    int leftOutUnmatched() const { return leftOut; }

    // Takes the input vectors a check of the same net read (checkLearningSet), when the
    // learning folder, its entries and the stimulations are still the ones it read, so
    // that a check and its run read every message once between them. Whether it took them.
    bool takeChecked(const CheckedInputs& read);

    // Makes the fresh network: network() holds it from here on, also when the run ends by
    // an exception. Sizes beyond isSaneNetworkSize raise Exception before anything changes.
    void start();
    // Starts when not started, reads and matches every message whose input is still
    // missing, once and before the first iteration, in pattern order (with a diagnostic
    // line each), then trains. The callback (may be null) gets every iteration's summed
    // error and then once more the iteration number `iterations` with the last error.
    // Returns the last iteration's error (0 when none ran).
    double train(ProgressCallback callback, int user);

    const BackPropagationPtr& network() const { return trained; }
    const LearningParameters& parameters() const { return settings; }

private:
    // Looks up the learning folder and, when read is set, reads and matches the messages
    // of the patterns that have no input yet.
    void readInputs(bool read);

    int inputCount;
    int outputCount;
    std::vector<LearningPattern> patterns;
    LearningParameters settings;
    std::optional<InputMatcher> matcher;    // for the patterns still without input
    std::optional<LearningMessages> source; // where their texts are read
    BackPropagationPtr trained;
    int leftOut = 0;
};

#pragma once

#include "core/LearningRun.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Net;

struct EvaluationParameters {
    int folds = 5;
    LearningParameters learning;
    double threshold = 80; // percent: what the sorter would act on
    std::uint32_t seed = 1;
    int threads = 0; // folds learnt at once; 0: one per processor
};

struct FolderScore {
    int messages = 0; // held-out messages whose folder it is
    double precision = 0, recall = 0, f1 = 0;
};

// The numbers of one cross-validation. A message counts as rightly placed when the
// folder with the highest output is one of its targets; one that no stimulation matches
// has no top folder (the sorter leaves it in the inbox).
struct Evaluation {
    int messages = 0; // held out over all folds: every message assigned to a folder
    double accuracy = 0;
    double inboxShare = 0;       // nothing chosen at the threshold: it stays in the inbox
    double wrongFolderShare = 0; // a folder chosen at the threshold that is not a target
    std::vector<FolderScore> folders;
    // [the message's folder][its top folder]; the last column counts the messages without
    // a top folder. The message's folder is its top folder when that is a target, else
    // its first target.
    std::vector<std::vector<int>> confusion;

    // The numbers as lines of text for a person: the shares, a table of the folders
    // (named in output order) and the confusion matrix.
    std::string report(const std::vector<std::string>& folderNames, double threshold) const;
};

// K-fold cross-validation of a net's learning set with its stimulations: each fold is
// learnt from the others (the learning run, in memory) and classifies its own messages.
// Folds are stratified by folder (a message's first target) and dealt from an order fixed
// by the seed and by what the messages teach (not where they lie), so the same learning
// set gives the same numbers. Messages assigned to no folder take no part.
class CrossValidation {
public:
    // Gets the done and total iterations over all folds; called on the folds' threads, one
    // call at a time, the count rising.
    using Progress = std::function<void(long long done, long long total)>;

    // Reads and matches every learning message now (LearningRun::takePatterns; with
    // parameters.learning.skipUnmatched, those no stimulation matches take no part).
    CrossValidation(const Net& net, const EvaluationParameters& parameters);
    CrossValidation(int inputCount, int outputCount, std::vector<LearningPattern> patterns,
                    const EvaluationParameters& parameters);

    // The fold of each pattern (-1: assigned to no folder), for `folds` folds.
    static std::vector<int> foldsOf(const std::vector<LearningPattern>& patterns, int folds,
                                    std::uint32_t seed);

    // Runs every fold, as many at once as the machine has processors. With stop set
    // (checked before each fold), ends early and returns the numbers of the folds done.
    Evaluation run(const Progress& progress = {}, const std::atomic<bool>* stop = nullptr);
    // The learning messages the net's constructor left out as matched by no stimulation.
    int leftOutUnmatched() const { return leftOut; }
    // The learning messages taking part that are assigned to a folder: each fold holds
    // out one at least.
    int assignedCount() const;

private:
    int inputCount;
    int outputCount;
    std::vector<LearningPattern> patterns;
    EvaluationParameters settings;
    int leftOut = 0;
};

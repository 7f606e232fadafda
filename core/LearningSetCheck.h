#pragma once

#include "util/DoubleArray.h"
#include "core/InputMatcher.h"

#include <optional>
#include <string>
#include <vector>

class Net;

// What the check read: every learning message's input vector, in learning-set order, and
// what they were made from. A learning run of the same net takes them instead of reading
// and matching every message again, when the folder, the entries and the stimulations
// are still the ones read.
struct CheckedInputs {
    std::string folder;
    std::vector<std::string> ids;        // the entries' message ids
    std::optional<InputMatcher> matcher; // the stimulations they were matched with
    std::vector<DoublePtr> inputs;
};

// What the check before a learning run found: the learning messages the network cannot
// learn from. A message can be in both lists.
struct LearningSetCheck {
    // Subjects of the messages on which no stimulation responds, in learning-set order.
    std::vector<std::string> noStimulation;
    // Subjects of the messages assigned to no target folder, in learning-set order.
    std::vector<std::string> noTarget;
    // For the user, empty when the check passed: the "main.wrongIn" text, a line feed,
    // one tab-indented subject per line and a line feed; then the "main.wrongOut" text, a
    // line feed and its subjects the same way. Each part only when its list is not empty.
    std::string report;
    CheckedInputs read;
    // Messages assigned to no target folder that a stimulation matches: leaving out the
    // unmatched ones does not leave them out.
    int matchedWithoutTarget = 0;
    int messages = 0; // learning messages checked

    bool passed() const { return noStimulation.empty() && noTarget.empty(); }
    // Whether the set can be learned leaving out the messages no stimulation matches
    // (LearningParameters::skipUnmatched): every other one is assigned, and one is left.
    bool passesLeavingOutUnmatched() const {
        return matchedWithoutTarget == 0 && static_cast<int>(noStimulation.size()) < messages;
    }
};

// Reads every learning message of the net (getFileContent of the learning folder and
// the entry's id; a failure is shown there and counts as an empty text) and checks it
// against the stimulations and its assignments. Logs "checkFileAssignments time %d ms
// check input %d ms" and, when there is a report, "checkFileAssignments 2 time %d ms ".
// Store failures while the learning folder is looked up raise ComException.
// The messages are read and matched on `threads` threads (LearningInputs; 0: one per
// processor).
LearningSetCheck checkLearningSet(const Net& net, int threads = 0);

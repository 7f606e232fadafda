#pragma once

#include <string>
#include <vector>

class Net;

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

    bool passed() const { return noStimulation.empty() && noTarget.empty(); }
};

// Reads every learning message of the net (getFileContent of the learning folder and
// the entry's id; a failure is shown there and counts as an empty text) and checks it
// against the stimulations and its assignments. Logs "checkFileAssignments time %d ms
// check input %d ms" and, when there is a report, "checkFileAssignments 2 time %d ms ".
// Store failures while the learning folder is looked up raise ComException.
LearningSetCheck checkLearningSet(const Net& net);

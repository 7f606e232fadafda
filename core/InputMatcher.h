#pragma once

#include "util/DoubleArray.h"
#include "core/FieldPatterns.h"

#include <memory>
#include <string>

class MatchBudget;
class Net;

// A net's stimulations as one matcher of texts: for every input neuron, in list order,
// whether it responds to a text (one of its patterns matches after normalizeText; the
// text is normalised once and matched by the net's compiled pattern set, PatternSet, in
// one pass). It takes the net's pattern set when made and never looks at the neurons
// again: the learning run matches with it on its own thread while the window thread
// keeps the neurons (a change of a neuron's pattern texts makes the net build a new set
// and leaves this one alone). Every text the program classifies or learns from is
// matched here, under the budget of its message (MatchBudget).
class InputMatcher {
public:
    // Made on the net's thread (it builds the net's pattern set when the net has none
    // for its neurons as they are).
    explicit InputMatcher(const Net& net);

    int inputCount() const { return patterns->inputCount(); }
    // The header fields the stimulations look at besides the body (HeaderField keys); the
    // texts given must carry them attached. Empty: the body alone is read.
    const std::vector<std::string>& headerFields() const { return patterns->headerFields(); }
    // One level per input neuron: levelHigh when it responds to the text, else levelLow.
    DoublePtr inputVector(const std::string& text, MatchBudget& budget) const;
    // Whether some input neuron responds; stops at the first match found.
    bool anyMatches(const std::string& text, MatchBudget& budget) const;
    // Whether both match with the same compiled stimulations (the net's neurons did not
    // change between their making).
    bool sameStimulations(const InputMatcher& other) const { return patterns == other.patterns; }

private:
    std::shared_ptr<const FieldPatterns> patterns;
};

#pragma once

#include "util/DoubleArray.h"
#include "core/REs.h"

#include <string>
#include <vector>

class Net;

// A net's stimulations as one matcher of texts: for every input neuron, in list order,
// whether it responds to a text (one of its patterns matches after normalizeText; the
// text is normalised once for all of them). It takes the neurons' compiled patterns when
// made and never looks at the neurons again: the learning run matches with it on its
// own thread while the window thread keeps the neurons (a change of a neuron's pattern
// texts compiles new patterns for the neuron and leaves these alone). Every text the
// program classifies or learns from is matched here.
class InputMatcher {
public:
    // Made on the net's thread (it compiles what the neurons have not compiled yet).
    explicit InputMatcher(const Net& net);

    int inputCount() const { return static_cast<int>(inputs.size()); }
    // One level per input neuron: levelHigh when it responds to the text, else levelLow.
    DoublePtr inputVector(const std::string& text) const;
    // Whether some input neuron responds; stops at the first that does.
    bool anyMatches(const std::string& text) const;

private:
    std::vector<REsPtr> inputs; // empty for a slot that holds no input neuron
};

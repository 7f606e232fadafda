#include "core/InputMatcher.h"

#include "core/Net.h"
#include "core/Stimulation.h"

#include <vector>

InputMatcher::InputMatcher(const Net& net) : patterns(net.patternSet()) {}

DoublePtr InputMatcher::inputVector(const std::string& text, MatchBudget& budget) const {
    DoublePtr vector = makeDoubles(inputCount());
    if (inputCount() == 0)
        return vector;
    std::vector<char> matched = patterns->matchingInputs(text, budget);
    for (int i = 0; i < inputCount(); ++i)
        vector[i] = matched[i] ? levelHigh : levelLow;
    return vector;
}

bool InputMatcher::anyMatches(const std::string& text, MatchBudget& budget) const {
    if (inputCount() == 0)
        return false;
    return patterns->anyMatches(text, budget);
}

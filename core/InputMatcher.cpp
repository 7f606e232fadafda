#include "core/InputMatcher.h"

#include "core/Net.h"
#include "core/Stimulation.h"

InputMatcher::InputMatcher(const Net& net) {
    inputs.reserve(static_cast<std::size_t>(net.inputCount()));
    for (int i = 0; i < net.inputCount(); ++i) {
        ref_ptr<NeuronIn> neuron = net.getInput(i);
        inputs.push_back(neuron ? neuron->getREs() : REsPtr());
    }
}

DoublePtr InputMatcher::inputVector(const std::string& text) const {
    DoublePtr vector = makeDoubles(inputCount());
    if (inputs.empty())
        return vector;
    std::string normalized = normalizeText(text);
    for (int i = 0; i < inputCount(); ++i)
        vector[i] = inputs[i] && anyPatternMatches(*inputs[i], normalized) ? levelHigh : levelLow;
    return vector;
}

bool InputMatcher::anyMatches(const std::string& text) const {
    if (inputs.empty())
        return false;
    std::string normalized = normalizeText(text);
    for (const REsPtr& patterns : inputs) {
        if (patterns && anyPatternMatches(*patterns, normalized))
            return true;
    }
    return false;
}

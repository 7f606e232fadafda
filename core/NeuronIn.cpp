#include "core/NeuronIn.h"

#include "core/Stimulation.h"

#include <utility>

NeuronIn::NeuronIn(std::string name) : Neuron(std::move(name)) {}

std::string NeuronIn::getRegex(int index) const {
    if (index < 0 || index >= regexCount())
        return {};
    return regexes[index];
}

void NeuronIn::setRegex(int index, const std::string& text) {
    if (index < 0 || index >= regexCount())
        return;
    compiled.reset();
    regexes[index] = text;
}

void NeuronIn::addRegex(const std::string& text) {
    compiled.reset();
    regexes.push_back(text);
}

void NeuronIn::removeRegex(int index) {
    if (index < 0 || index >= regexCount())
        return;
    compiled.reset();
    regexes.erase(regexes.begin() + index);
}

REsPtr NeuronIn::getREs() const {
    if (compiled)
        return compiled;
    REsPtr patterns(new REs);
    patterns->reserve(regexes.size());
    for (const std::string& text : regexes)
        patterns->push_back(compilePattern(text));
    compiled = patterns;
    return compiled;
}

bool NeuronIn::matches(const std::string& text) const {
    return matchesNormalized(normalizeText(text));
}

bool NeuronIn::matchesNormalized(const std::string& normalizedText) const {
    return anyPatternMatches(*getREs(), normalizedText);
}

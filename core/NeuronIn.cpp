#include "core/NeuronIn.h"

#include "core/MatchBudget.h"
#include "core/Stimulation.h"

#include <atomic>
#include <utility>

namespace {

std::uint64_t newStamp() {
    static std::atomic<std::uint64_t> next{1};
    return next++;
}

} // namespace

NeuronIn::NeuronIn(std::string name) : Neuron(std::move(name)), stamp(newStamp()) {}

std::string NeuronIn::getRegex(int index) const {
    if (index < 0 || index >= regexCount())
        return {};
    return regexes[index];
}

void NeuronIn::setRegex(int index, const std::string& text) {
    if (index < 0 || index >= regexCount())
        return;
    compiled.reset();
    stamp = newStamp();
    regexes[index] = text;
}

void NeuronIn::addRegex(const std::string& text) {
    compiled.reset();
    stamp = newStamp();
    regexes.push_back(text);
}

void NeuronIn::removeRegex(int index) {
    if (index < 0 || index >= regexCount())
        return;
    compiled.reset();
    stamp = newStamp();
    regexes.erase(regexes.begin() + index);
}

void NeuronIn::setField(const std::string& key) {
    if (key == field)
        return;
    stamp = newStamp();
    field = key;
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
    MatchBudget budget;
    return matchesNormalized(normalizeText(text), budget);
}

bool NeuronIn::matchesNormalized(const std::string& normalizedText, MatchBudget& budget) const {
    return anyPatternMatches(*getREs(), normalizedText, budget);
}

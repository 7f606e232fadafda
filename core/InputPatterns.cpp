#include "core/InputPatterns.h"

#include "core/NeuronIn.h"

#include <string>

std::shared_ptr<const PatternSet> InputPatterns::current(const RefsPtr& inputs) {
    int count = refsCount(inputs);
    std::vector<std::uint64_t> now(count, 0);
    for (int i = 0; i < count; ++i) {
        if (const auto* neuron = (*inputs)[i].as<NeuronIn>())
            now[i] = neuron->patternsStamp();
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (set && now == stamps)
        return set;
    std::vector<std::vector<std::string>> texts(count);
    for (int i = 0; i < count; ++i) {
        if (const auto* neuron = (*inputs)[i].as<NeuronIn>())
            texts[i] = neuron->getRegexes();
    }
    set = std::make_shared<const PatternSet>(texts);
    stamps = std::move(now);
    ++builds;
    return set;
}

int InputPatterns::buildCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return builds;
}

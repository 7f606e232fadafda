#include "core/InputPatterns.h"

#include "core/NeuronIn.h"

#include <string>

std::shared_ptr<const FieldPatterns> InputPatterns::current(const RefsPtr& inputs) {
    std::size_t count = static_cast<std::size_t>(refsCount(inputs));
    std::lock_guard<std::mutex> lock(mutex);
    // The neuron list is looked up only when its entries changed: a downcast per neuron
    // and message would cost more than the scan of a short message.
    bool sameEntries = entries.size() == count;
    for (std::size_t i = 0; i < count && sameEntries; ++i)
        sameEntries = (*inputs)[i].get() == entries[i];
    if (!sameEntries) {
        entries.assign(count, nullptr);
        neurons.assign(count, nullptr);
        for (std::size_t i = 0; i < count; ++i) {
            entries[i] = (*inputs)[i].get();
            neurons[i] = (*inputs)[i].as<NeuronIn>();
        }
    }
    std::vector<std::uint64_t> now(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        now[i] = neurons[i] ? neurons[i]->patternsStamp() : 0;
    if (set && now == stamps)
        return set;
    std::vector<std::vector<std::string>> texts(count);
    std::vector<std::string> fields(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (neurons[i]) {
            texts[i] = neurons[i]->getRegexes();
            fields[i] = neurons[i]->getField();
        }
    }
    set = std::make_shared<const FieldPatterns>(texts, fields);
    stamps = std::move(now);
    ++builds;
    return set;
}

int InputPatterns::buildCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return builds;
}

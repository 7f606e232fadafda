#pragma once

#include "util/Refs.h"
#include "core/FieldPatterns.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class NeuronIn;

// The pattern set of a net's input neurons (NeuronIn). It is built at its first use and
// again whenever a neuron was added, removed or moved or had a pattern text changed,
// and never otherwise: a renamed neuron or another folder keeps it. Callers on several
// threads may ask at once; each keeps the set it got for as long as it matches with it.
class InputPatterns {
public:
    std::shared_ptr<const FieldPatterns> current(const RefsPtr& inputs);
    // How often a set was built (for tests and benchmarks).
    int buildCount() const;

private:
    mutable std::mutex mutex;
    std::vector<const Ref*> entries;      // the list's entries as last seen
    std::vector<const NeuronIn*> neurons; // the same, as input neurons (null: none)
    std::vector<std::uint64_t> stamps;    // of the neurons the set was built from, in order
    std::shared_ptr<const FieldPatterns> set;
    int builds = 0;
};

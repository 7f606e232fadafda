#pragma once

#include "util/DoubleArray.h"

#include <random>
#include <vector>

// The order in which a learning run presents its patterns. Trained one pattern at a time,
// the network leans towards what it saw last: a learning set filled one folder at a time
// and presented in that order teaches it mostly the last folder. So every iteration
// presents the patterns in a new pseudo-random order (a Fisher-Yates shuffle).
//
// The same learning set must give the same network, whatever order its messages arrived
// in (the store's order follows arrival). The shuffles therefore start from a canonical
// order that depends only on what the network is taught, the patterns (input vector,
// target vector) sorted as number sequences, and draw from a generator of their own,
// seeded the same way in every run (not the network's weight generator: its draws of
// 15 bits could not reach most orders of a large set, and the initial weights keep the
// sequence they always had).
class LearningOrder {
public:
    // Indexes into the two lists (of equal length, every vector of the same length per
    // list); an entry without vectors counts as the empty sequence.
    LearningOrder(const std::vector<DoublePtr>& inputs, const std::vector<DoublePtr>& targets);

    // The order of the next iteration: the previous one shuffled again.
    const std::vector<int>& shuffled();

private:
    // Uniform in 0 ... bound - 1 (bound at least 1), without the bias of a plain modulo.
    std::uint32_t below(std::uint32_t bound);

    std::mt19937 generator;
    std::vector<int> order;
};

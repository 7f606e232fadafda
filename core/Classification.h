#pragma once

#include "util/DoubleArray.h"

class BackPropagation;

// What the net makes of one message text: the network's outputs (0 ... 1, one per output
// neuron) and whether any stimulation responded to the text. Without a response every
// input stands at levelLow: the learning-set check refuses such messages, so the network
// never learned what to do with them and its outputs only repeat what its biases lean
// to. Such a text has no evidence and belongs to no folder, whatever the outputs say;
// every program that shows or acts on a classification asks this class.
class Classification {
public:
    // No result: the net is not learned, or its network no longer fits its neurons.
    Classification() = default;
    Classification(DoublePtr outputs, bool evidence);
    // What the network answers for an input vector of its input count (levelHigh for
    // each stimulation that responded): the evidence is whether one did.
    static Classification of(BackPropagation& network, const DoublePtr& input);

    bool hasResult() const { return static_cast<bool>(values); }
    // With a result: whether some stimulation matched the text.
    bool hasEvidence() const { return evidence; }
    int outputCount() const { return doubleCount(values); }
    const DoublePtr& outputs() const { return values; }
    // The network's output in percent; 0 out of range.
    double percent(int output) const;
    // Whether the output reaches threshold percent (inclusive); never without evidence.
    bool isChosen(int output, double threshold) const;

private:
    DoublePtr values;
    bool evidence = false;
};

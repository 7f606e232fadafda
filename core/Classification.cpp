#include "core/Classification.h"

#include "core/BackPropagation.h"
#include "core/Stimulation.h"

#include <utility>

Classification::Classification(DoublePtr outputs, bool evidence)
    : values(std::move(outputs)), evidence(evidence) {}

Classification Classification::of(BackPropagation& network, const DoublePtr& input) {
    bool evidence = false;
    for (int i = 0; i < doubleCount(input) && !evidence; ++i)
        evidence = input[i] >= levelHigh;
    DoublePtr output = makeDoubles(network.getOutputCount());
    network.run(input.get(), output.get());
    return Classification(output, evidence);
}

double Classification::percent(int output) const {
    if (output < 0 || output >= outputCount())
        return 0;
    return values[output] * 100;
}

bool Classification::isChosen(int output, double threshold) const {
    if (!evidence || output < 0 || output >= outputCount())
        return false;
    // One comparison for the sorter, the test dialog and classify, so that what they
    // show is what the sorter does.
    return values[output] >= threshold * 0.01;
}

#include "core/Classification.h"

#include <utility>

Classification::Classification(DoublePtr outputs, bool evidence)
    : values(std::move(outputs)), evidence(evidence) {}

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

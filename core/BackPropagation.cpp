#include "core/BackPropagation.h"

#include <algorithm>
#include <cmath>

namespace {

thread_local std::uint32_t randomState = 1;

double sigmoid(double x) {
    return 1.0 / (std::exp(-x) + 1.0);
}

// Always taken from the stored sum, never from a stored output.
double sigmoidDerivative(double x) {
    double y = sigmoid(x);
    return y * (1.0 - y);
}

// sums[r] = bias[r] + rows[r][0] * x[0] + rows[r][1] * x[1] + ..., added in exactly this
// order. Four rows at a time give the processor four independent chains of additions
// instead of one, without changing any single sum.
template <class Rows>
void weightedSums(const Rows& rows, const double* bias, const double* x, int width, int count,
                  double* sums) {
    int r = 0;
    for (; r + 4 <= count; r += 4) {
        const double* w0 = rows[r].get();
        const double* w1 = rows[r + 1].get();
        const double* w2 = rows[r + 2].get();
        const double* w3 = rows[r + 3].get();
        double s0 = bias[r], s1 = bias[r + 1], s2 = bias[r + 2], s3 = bias[r + 3];
        for (int j = 0; j < width; ++j) {
            double v = x[j];
            s0 += w0[j] * v;
            s1 += w1[j] * v;
            s2 += w2[j] * v;
            s3 += w3[j] * v;
        }
        sums[r] = s0;
        sums[r + 1] = s1;
        sums[r + 2] = s2;
        sums[r + 3] = s3;
    }
    for (; r < count; ++r) {
        const double* w = rows[r].get();
        double s = bias[r];
        for (int j = 0; j < width; ++j)
            s += w[j] * x[j];
        sums[r] = s;
    }
}

} // namespace

BackPropagation::BackPropagation(int inputCount, int hiddenCount, int outputCount)
    : inputCount(std::max(inputCount, 0)), inputs(newArray(this->inputCount)),
      hiddenCount(std::max(hiddenCount, 0)), hiddenOutputs(newArray(this->hiddenCount)),
      hiddenSums(newArray(this->hiddenCount)), hb(nullptr), outputCount(std::max(outputCount, 0)),
      outputs(newArray(this->outputCount)), outputSums(newArray(this->outputCount)),
      outputDeltas(newArray(this->outputCount)), ob(nullptr), decay(1.0), learningRate(0.3),
      error(0.0) {
    // Rows and biases in field order: hw, hb, then ow, ob.
    hw.reserve(this->hiddenCount);
    for (int h = 0; h < this->hiddenCount; ++h)
        hw.push_back(newArray(this->inputCount));
    hb = newArray(this->hiddenCount);
    ow.reserve(this->outputCount);
    for (int o = 0; o < this->outputCount; ++o)
        ow.push_back(newArray(this->hiddenCount));
    ob = newArray(this->outputCount);
    randomize();
}

int BackPropagation::nextRandom() {
    randomState = randomState * 22695477u + 1u;
    return static_cast<int>((randomState >> 16) & 0x7FFF);
}

void BackPropagation::restartRandom() {
    randomState = 1;
}

double BackPropagation::randomValue(double lo, double hi) {
    return lo + (hi - lo) * (nextRandom() * (1.0 / 32767));
}

void BackPropagation::randomize() {
    for (int i = 0; i < inputCount; ++i)
        inputs[i] = randomValue(-1, 1);
    for (int h = 0; h < hiddenCount; ++h) {
        hiddenOutputs[h] = randomValue(-1, 1);
        hb[h] = randomValue(-1, 1);
        double* row = hw[h].get();
        for (int i = 0; i < inputCount; ++i)
            row[i] = randomValue(-1, 1);
    }
    for (int o = 0; o < outputCount; ++o) {
        ob[o] = randomValue(-1, 1);
        double* row = ow[o].get();
        for (int h = 0; h < hiddenCount; ++h)
            row[h] = randomValue(-1, 1);
    }
}

double* BackPropagation::hwRow(int hidden) const {
    if (hidden < 0 || hidden >= hiddenCount)
        return nullptr;
    return hw[hidden].get();
}

double* BackPropagation::owRow(int output) const {
    if (output < 0 || output >= outputCount)
        return nullptr;
    return ow[output].get();
}

void BackPropagation::forward() {
    weightedSums(hw, hb.get(), inputs.get(), inputCount, hiddenCount, hiddenSums.get());
    for (int h = 0; h < hiddenCount; ++h)
        hiddenOutputs[h] = sigmoid(hiddenSums[h]);
    weightedSums(ow, ob.get(), hiddenOutputs.get(), hiddenCount, outputCount, outputSums.get());
}

double BackPropagation::train(const double* input, const double* target) {
    std::copy_n(input, inputCount, inputs.get());
    std::copy_n(target, outputCount, outputs.get());
    forward();

    // Locals, so that stores into the weight rows cannot be taken to change them.
    const double rate = learningRate;
    const double* x = inputs.get();
    const double* hidden = hiddenOutputs.get();
    double* delta = outputDeltas.get();

    double sum = 0.0;
    for (int o = 0; o < outputCount; ++o) {
        double y = sigmoid(outputSums[o]);
        double miss = outputs[o] - y;
        double d = miss * sigmoidDerivative(outputSums[o]);
        delta[o] = d;
        double* row = ow[o].get();
        for (int h = 0; h < hiddenCount; ++h)
            row[h] += d * hidden[h] * rate;
        ob[o] += d * rate;
        sum += miss * miss;
    }

    // The hidden deltas use the output weights as just updated. Each unit's sum over the
    // outputs runs in output order; eight units at a time walk the output rows once.
    constexpr int block = 8;
    for (int h0 = 0; h0 < hiddenCount; h0 += block) {
        int n = std::min(block, hiddenCount - h0);
        double back[block] = {};
        for (int o = 0; o < outputCount; ++o) {
            const double* row = ow[o].get() + h0;
            double d = delta[o];
            for (int k = 0; k < n; ++k)
                back[k] += d * row[k];
        }
        for (int k = 0; k < n; ++k) {
            int h = h0 + k;
            double d = back[k] * sigmoidDerivative(hiddenSums[h]);
            hb[h] += d * rate;
            double step = rate * d;
            double* row = hw[h].get();
            for (int i = 0; i < inputCount; ++i)
                row[i] += step * x[i];
        }
    }

    learningRate = decay * learningRate;
    error = sum;
    return error;
}

void BackPropagation::run(const double* input, double* output) {
    std::copy_n(input, inputCount, inputs.get());
    weightedSums(hw, hb.get(), inputs.get(), inputCount, hiddenCount, hiddenOutputs.get());
    for (int h = 0; h < hiddenCount; ++h)
        hiddenOutputs[h] = sigmoid(hiddenOutputs[h]);
    weightedSums(ow, ob.get(), hiddenOutputs.get(), hiddenCount, outputCount, outputSums.get());
    for (int o = 0; o < outputCount; ++o)
        outputs[o] = sigmoid(outputSums[o]);
    std::copy_n(outputs.get(), outputCount, output);
}

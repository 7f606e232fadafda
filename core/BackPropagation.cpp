#include "core/BackPropagation.h"

#include "core/ProcessorFeatures.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// The two loops that carry nearly all the work: the weighted sums of a layer,
//   sums[r] = bias[r] + rows[r][0] * x[0] + rows[r][1] * x[1] + ...
// added in exactly this order (a stored net must train to the same bits everywhere), and
// the weight update row[i] += step * x[i]. Vector code keeps every sum's order by putting
// one unit in each lane: the columns of four rows are transposed as they are loaded. No
// fused multiply-add is used (the library is built without contraction), so every lane
// rounds as the plain loop does, and each processor gets the same bits.

// Plain loops: the tails of the vector code, and all of it on other processors.
[[maybe_unused]] void weightedSumsPlain(const double* const* rows, const double* bias,
                                        const double* x, int width, int count, double* sums) {
    for (int r = 0; r < count; ++r) {
        const double* w = rows[r];
        double s = bias[r];
        for (int j = 0; j < width; ++j)
            s += w[j] * x[j];
        sums[r] = s;
    }
}

[[maybe_unused]] void addScaledPlain(double* row, double step, const double* x, int count) {
    for (int i = 0; i < count; ++i)
        row[i] += step * x[i];
}

#if defined(__x86_64__)

// SSE2, which every x86-64 processor has: two units per register.
template <int Pairs>
void sumPairs(const double* const* rows, const double* bias, const double* x, int width,
              double* sums) {
    __m128d acc[Pairs];
#pragma GCC unroll 4
    for (int p = 0; p < Pairs; ++p)
        acc[p] = _mm_loadu_pd(bias + 2 * p);
    int j = 0;
    for (; j + 2 <= width; j += 2) {
        __m128d x0 = _mm_set1_pd(x[j]), x1 = _mm_set1_pd(x[j + 1]);
#pragma GCC unroll 4
        for (int p = 0; p < Pairs; ++p) {
            __m128d a = _mm_loadu_pd(rows[2 * p] + j);     // a[j], a[j+1]
            __m128d b = _mm_loadu_pd(rows[2 * p + 1] + j); // b[j], b[j+1]
            acc[p] = _mm_add_pd(acc[p], _mm_mul_pd(_mm_unpacklo_pd(a, b), x0));
            acc[p] = _mm_add_pd(acc[p], _mm_mul_pd(_mm_unpackhi_pd(a, b), x1));
        }
    }
    for (; j < width; ++j) {
        __m128d xj = _mm_set1_pd(x[j]);
#pragma GCC unroll 4
        for (int p = 0; p < Pairs; ++p)
            acc[p] =
                _mm_add_pd(acc[p], _mm_mul_pd(_mm_set_pd(rows[2 * p + 1][j], rows[2 * p][j]), xj));
    }
#pragma GCC unroll 4
    for (int p = 0; p < Pairs; ++p)
        _mm_storeu_pd(sums + 2 * p, acc[p]);
}

void weightedSumsSse2(const double* const* rows, const double* bias, const double* x, int width,
                      int count, double* sums) {
    int r = 0;
    // Four independent chains of additions keep the adder busy.
    for (; r + 8 <= count; r += 8)
        sumPairs<4>(rows + r, bias + r, x, width, sums + r);
    for (; r + 2 <= count; r += 2)
        sumPairs<1>(rows + r, bias + r, x, width, sums + r);
    weightedSumsPlain(rows + r, bias + r, x, width, count - r, sums + r);
}

void addScaledSse2(double* row, double step, const double* x, int count) {
    __m128d s = _mm_set1_pd(step);
    int i = 0;
    for (; i + 2 <= count; i += 2)
        _mm_storeu_pd(row + i,
                      _mm_add_pd(_mm_loadu_pd(row + i), _mm_mul_pd(s, _mm_loadu_pd(x + i))));
    addScaledPlain(row + i, step, x + i, count - i);
}

// AVX2: four units per register.
template <int Quads>
__attribute__((target("avx2"))) void sumQuads(const double* const* rows, const double* bias,
                                              const double* x, int width, double* sums) {
    __m256d acc[Quads];
#pragma GCC unroll 4
    for (int q = 0; q < Quads; ++q)
        acc[q] = _mm256_loadu_pd(bias + 4 * q);
    int j = 0;
    for (; j + 2 <= width; j += 2) {
        __m256d x0 = _mm256_set1_pd(x[j]), x1 = _mm256_set1_pd(x[j + 1]);
#pragma GCC unroll 4
        for (int q = 0; q < Quads; ++q) {
            const double* const* w = rows + 4 * q;
            // a = w0[j], w0[j+1], w2[j], w2[j+1]; b the same of w1 and w3.
            __m256d a = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(w[0] + j)),
                                             _mm_loadu_pd(w[2] + j), 1);
            __m256d b = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(w[1] + j)),
                                             _mm_loadu_pd(w[3] + j), 1);
            acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(_mm256_unpacklo_pd(a, b), x0));
            acc[q] = _mm256_add_pd(acc[q], _mm256_mul_pd(_mm256_unpackhi_pd(a, b), x1));
        }
    }
    for (; j < width; ++j) {
        __m256d xj = _mm256_set1_pd(x[j]);
#pragma GCC unroll 4
        for (int q = 0; q < Quads; ++q) {
            const double* const* w = rows + 4 * q;
            acc[q] = _mm256_add_pd(
                acc[q], _mm256_mul_pd(_mm256_set_pd(w[3][j], w[2][j], w[1][j], w[0][j]), xj));
        }
    }
#pragma GCC unroll 4
    for (int q = 0; q < Quads; ++q)
        _mm256_storeu_pd(sums + 4 * q, acc[q]);
}

__attribute__((target("avx2"))) void weightedSumsAvx2(const double* const* rows, const double* bias,
                                                      const double* x, int width, int count,
                                                      double* sums) {
    int r = 0;
    for (; r + 16 <= count; r += 16)
        sumQuads<4>(rows + r, bias + r, x, width, sums + r);
    for (; r + 4 <= count; r += 4)
        sumQuads<1>(rows + r, bias + r, x, width, sums + r);
    // The compiler does not clear the upper halves for code built for another target, and
    // plain SSE code after dirty upper halves runs many times slower.
    _mm256_zeroupper();
    weightedSumsSse2(rows + r, bias + r, x, width, count - r, sums + r);
}

__attribute__((target("avx2"))) void addScaledAvx2(double* row, double step, const double* x,
                                                   int count) {
    __m256d s = _mm256_set1_pd(step);
    int i = 0;
    for (; i + 4 <= count; i += 4)
        _mm256_storeu_pd(row + i, _mm256_add_pd(_mm256_loadu_pd(row + i),
                                                _mm256_mul_pd(s, _mm256_loadu_pd(x + i))));
    _mm256_zeroupper();
    addScaledSse2(row + i, step, x + i, count - i);
}

#endif

struct Arithmetic {
    void (*weightedSums)(const double* const*, const double*, const double*, int, int, double*);
    void (*addScaled)(double*, double, const double*, int);
};

Arithmetic baselineArithmetic() {
#if defined(__x86_64__)
    return {weightedSumsSse2, addScaledSse2};
#else
    return {weightedSumsPlain, addScaledPlain};
#endif
}

Arithmetic bestArithmetic() {
#if defined(__x86_64__)
    // The C library's reading of the processor, taken at start anyway (see the header).
    if (brevaloHasAvx2())
        return {weightedSumsAvx2, addScaledAvx2};
#endif
    return baselineArithmetic();
}

std::atomic<bool> baselineOnly{false};

const Arithmetic& arithmetic() {
    static const Arithmetic best = bestArithmetic();
    static const Arithmetic baseline = baselineArithmetic();
    return baselineOnly.load(std::memory_order_relaxed) ? baseline : best;
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
    for (const Array& row : hw)
        hwRows.push_back(row.get());
    for (const Array& row : ow)
        owRows.push_back(row.get());
    randomize();
}

int BackPropagation::nextRandom() {
    randomState = randomState * 22695477u + 1u;
    return static_cast<int>((randomState >> 16) & 0x7FFF);
}

void BackPropagation::useBaselineArithmetic(bool baseline) {
    baselineOnly.store(baseline, std::memory_order_relaxed);
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
    arithmetic().weightedSums(hwRows.data(), hb.get(), inputs.get(), inputCount, hiddenCount,
                              hiddenSums.get());
    for (int h = 0; h < hiddenCount; ++h)
        hiddenOutputs[h] = sigmoid(hiddenSums[h]);
    arithmetic().weightedSums(owRows.data(), ob.get(), hiddenOutputs.get(), hiddenCount,
                              outputCount, outputSums.get());
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
    const auto addScaled = arithmetic().addScaled;

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
            addScaled(hwRows[h], step, x, inputCount);
        }
    }

    learningRate = decay * learningRate;
    error = sum;
    return error;
}

void BackPropagation::run(const double* input, double* output) {
    std::copy_n(input, inputCount, inputs.get());
    arithmetic().weightedSums(hwRows.data(), hb.get(), inputs.get(), inputCount, hiddenCount,
                              hiddenOutputs.get());
    for (int h = 0; h < hiddenCount; ++h)
        hiddenOutputs[h] = sigmoid(hiddenOutputs[h]);
    arithmetic().weightedSums(owRows.data(), ob.get(), hiddenOutputs.get(), hiddenCount,
                              outputCount, outputSums.get());
    for (int o = 0; o < outputCount; ++o)
        outputs[o] = sigmoid(outputSums[o]);
    std::copy_n(outputs.get(), outputCount, output);
}

#include "core/BackPropagation.h"
#include "core/LearningOrder.h"
#include "core/Stimulation.h"

#include <benchmark/benchmark.h>

#include <vector>

// The cost of presenting 10,000 learning messages in a new order in every iteration,
// next to the training arithmetic of that iteration (a 100-50-10 network, one train step
// per message): the shuffle alone, the canonical order built once per run, and a whole
// iteration presented in store order and in the shuffled order (which also reads the
// patterns out of order).

namespace {

constexpr int patterns = 10000;
constexpr int inputs = 100;
constexpr int hidden = 50;
constexpr int outputs = 10;

struct LearningSet {
    std::vector<DoublePtr> input, target;
    LearningSet() {
        unsigned state = 1;
        for (int p = 0; p < patterns; ++p) {
            input.push_back(makeDoubles(inputs));
            target.push_back(makeDoubles(outputs));
            for (int i = 0; i < inputs; ++i) {
                state = state * 1103515245u + 12345u;
                input.back()[i] = (state >> 16) % 10 == 0 ? levelHigh : levelLow;
            }
            for (int o = 0; o < outputs; ++o)
                target.back()[o] = o == p % outputs ? levelHigh : levelLow;
        }
    }
};

const LearningSet& learningSet() {
    static LearningSet set;
    return set;
}

void BM_ShuffleOf10000(benchmark::State& state) {
    const LearningSet& set = learningSet();
    LearningOrder order(set.input, set.target);
    for (auto _ : state)
        benchmark::DoNotOptimize(order.shuffled().data());
}

void BM_CanonicalOrderOf10000(benchmark::State& state) {
    const LearningSet& set = learningSet();
    for (auto _ : state) {
        LearningOrder order(set.input, set.target);
        benchmark::DoNotOptimize(&order);
    }
}

// One learning iteration; shuffled:1 takes each iteration's order from LearningOrder.
void BM_TrainingIteration(benchmark::State& state) {
    const LearningSet& set = learningSet();
    bool shuffled = state.range(0) != 0;
    BackPropagation network(inputs, hidden, outputs);
    LearningOrder order(set.input, set.target);
    std::vector<int> storeOrder(patterns);
    for (int p = 0; p < patterns; ++p)
        storeOrder[p] = p;
    for (auto _ : state) {
        const std::vector<int>& sequence = shuffled ? order.shuffled() : storeOrder;
        double error = 0;
        for (int p : sequence)
            error += network.train(set.input[p].get(), set.target[p].get());
        benchmark::DoNotOptimize(error);
    }
}

} // namespace

BENCHMARK(BM_ShuffleOf10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CanonicalOrderOf10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TrainingIteration)->ArgName("shuffled")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

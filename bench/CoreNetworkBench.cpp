#include "core/BackPropagation.h"

#include <benchmark/benchmark.h>

#include <vector>

// One train step and one run of the network at the sizes of a small, a typical and a
// large net. Multiply-adds per step: train does the forward pass (I*H + H*O), the
// output-weight update (H*O), the hidden deltas (H*O) and the hidden-weight update
// (I*H); run does the forward pass only.

namespace {

struct Patterns {
    std::vector<double> input[2], target[2];
    Patterns(int inputs, int outputs) {
        for (int p = 0; p < 2; ++p) {
            for (int i = 0; i < inputs; ++i)
                input[p].push_back((i + p) % 4 ? 0.05 : 0.95);
            for (int o = 0; o < outputs; ++o)
                target[p].push_back(o % 2 == p ? 0.95 : 0.05);
        }
    }
};

void BM_Train(benchmark::State& state) {
    int I = static_cast<int>(state.range(0));
    int H = static_cast<int>(state.range(1));
    int O = static_cast<int>(state.range(2));
    BackPropagation network(I, H, O);
    network.setLearningRate(0.01);
    Patterns patterns(I, O);
    int p = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            network.train(patterns.input[p].data(), patterns.target[p].data()));
        p ^= 1;
    }
    double madds = 2.0 * I * H + 3.0 * H * O;
    state.counters["madd/s"] =
        benchmark::Counter(madds, benchmark::Counter::kIsIterationInvariantRate);
}

// The same with the vector code every x86-64 processor has (what a processor without
// AVX2 runs).
void BM_TrainBaseline(benchmark::State& state) {
    BackPropagation::useBaselineArithmetic(true);
    BM_Train(state);
    BackPropagation::useBaselineArithmetic(false);
}

void BM_Run(benchmark::State& state) {
    int I = static_cast<int>(state.range(0));
    int H = static_cast<int>(state.range(1));
    int O = static_cast<int>(state.range(2));
    BackPropagation network(I, H, O);
    Patterns patterns(I, O);
    std::vector<double> output(O);
    int p = 0;
    for (auto _ : state) {
        network.run(patterns.input[p].data(), output.data());
        benchmark::DoNotOptimize(output.data());
        p ^= 1;
    }
    double madds = 1.0 * I * H + 1.0 * H * O;
    state.counters["madd/s"] =
        benchmark::Counter(madds, benchmark::Counter::kIsIterationInvariantRate);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"I", "H", "O"});
    b->Args({20, 12, 5});
    b->Args({200, 100, 20});
    b->Args({1000, 40, 20}); // a net of 1,000 one-word stimulations
    b->Args({1000, 200, 50});
}

} // namespace

BENCHMARK(BM_Train)->Apply(sizes);
BENCHMARK(BM_TrainBaseline)->Apply(sizes);
BENCHMARK(BM_Run)->Apply(sizes);

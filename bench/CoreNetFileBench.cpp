#include "core/Net.h"

#include "platform/profile/ProfileCache.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// save and load of nets with 100, 1,000 and 5,000 stimulations of 5 patterns each, 20
// target folders and a learned network of N-100-20. The counter "key" is the time per
// key of the file: it must stay flat as the net grows. "cold" loads parse the file
// afresh each time (start-up); "warm" loads find it parsed already (the reload after the
// configuration window has saved).

namespace {

constexpr int hiddenUnits = 100;
constexpr int folders = 20;
constexpr int patternsPerStimulation = 5;

class BenchFolder {
public:
    BenchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brevalo-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

ref_ptr<Net> benchNet(const std::string& fileName, int stimulations) {
    ref_ptr<Net> net(new Net(fileName, nullptr));
    for (int n = 0; n < stimulations; ++n) {
        ref_ptr<NeuronIn> neuron(new NeuronIn("stimulation " + std::to_string(n)));
        for (int p = 0; p < patternsPerStimulation; ++p)
            neuron->addRegex("word" + std::to_string(n) + "[ -]?(form|" + std::to_string(p) +
                             ")\\b");
        net->addInput(neuron.get());
    }
    for (int o = 0; o < folders; ++o) {
        ref_ptr<NeuronOut> neuron(new NeuronOut("Folder " + std::to_string(o)));
        neuron->setAnswer("Dear customer,\r\n\r\nthank you for your message.\r\n");
        neuron->setEmails({"team" + std::to_string(o) + "@example.org", "lead@example.org"});
        net->addOutput(neuron.get());
    }
    net->setNetwork(BackPropagationPtr(new BackPropagation(stimulations, hiddenUnits, folders)));
    return net;
}

double keyCount(int stimulations) {
    // names and patterns, 3 keys per folder, 3 counts, the rows, 2 bias lists, the date
    return stimulations * (1.0 + patternsPerStimulation) + folders * 3.0 + 3 + hiddenUnits +
           folders + 2 + 1;
}

void setCounters(benchmark::State& state, int stimulations, const std::string& fileName) {
    state.counters["key"] =
        benchmark::Counter(keyCount(stimulations), benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
    state.counters["keys"] = keyCount(stimulations);
    state.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(fileName)) / (1024.0 * 1024.0);
}

void BM_NetSave(benchmark::State& state) {
    int stimulations = static_cast<int>(state.range(0));
    BenchFolder dir;
    std::string fileName = dir.path + "/zelko.ini";
    ref_ptr<Net> net = benchNet(fileName, stimulations);
    for (auto _ : state) {
        if (!net->save())
            state.SkipWithError("save failed");
    }
    setCounters(state, stimulations, fileName);
}

void BM_NetLoad(benchmark::State& state) {
    int stimulations = static_cast<int>(state.range(0));
    bool cold = state.range(1) != 0;
    BenchFolder dir;
    std::string fileName = dir.path + "/zelko.ini";
    benchNet(fileName, stimulations)->save();
    ref_ptr<Net> net(new Net(fileName, nullptr));
    for (auto _ : state) {
        if (cold)
            ProfileCache::instance().clear();
        net->load();
        if (net->inputCount() != stimulations || !net->isLearned())
            state.SkipWithError("load lost the net");
    }
    setCounters(state, stimulations, fileName);
}

} // namespace

BENCHMARK(BM_NetSave)
    ->ArgName("stimulations")
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NetLoad)
    ->ArgNames({"stimulations", "cold"})
    ->ArgsProduct({{100, 1000, 5000}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

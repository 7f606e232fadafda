#include "core/Net.h"

#include "util/ComPtr.h"
#include "util/Log.h"
#include "platform/Store.h"
#include "mail/StoreMessages.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A learning run over 1,000 learning messages (about 2 KB of text each) with 100
// stimulations of 5 patterns and 20 target folders, 500 iterations, hidden units
// (100 + 20) / 2. The first iteration reads every message from the Maildir and matches
// all stimulations on it; the other 499 are the network arithmetic alone. The counters
// split the run that way.

namespace {

constexpr int messages = 1000;
constexpr int stimulations = 100;
constexpr int folders = 20;
constexpr int iterations = 500;

using Clock = std::chrono::steady_clock;
std::vector<Clock::time_point> ticks;

void progress(int, int, double) {
    ticks.push_back(Clock::now());
}

unsigned nextRandom(unsigned& state) {
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

std::string body(unsigned& state) {
    std::string text;
    int inSentence = 0;
    while (text.size() < 2048) {
        text += "w" + std::to_string(nextRandom(state) % 400);
        text += ++inSentence % 12 == 0 ? ".\r\n" : " ";
    }
    return text;
}

// The Maildir with the learning folder and the net over it, built once for all three
// benchmarks.
struct LearningBench {
    std::string folder;
    com_ptr<IStoreNamespace> store;
    ref_ptr<Net> net;
    std::string learnFolder;

    LearningBench() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "brevalo-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return;
        folder = pattern;
        std::string root = folder + "/Maildir";
        createStoreRoot(root);
        createStoreNamespace(root, store.out());
        STOREFOLDERID learn = FOLDERID_INVALID;
        store->CreateFolder(FOLDERID_ROOT, "Learn", 0, &learn);
        learnFolder = std::to_string(learn);
        unsigned seed = 1;
        for (int m = 0; m < messages; ++m) {
            std::string name =
                std::to_string(1700000000 + m) + ".M" + std::to_string(m) + "P1.bench";
            std::ofstream(root + "/.Learn/cur/" + name + ":2,S")
                << "From: Sender " << m << " <s" << m << "@example.org>\r\nSubject: message " << m
                << "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii"
                << "\r\n\r\n"
                << body(seed);
        }
        net = new Net(folder + "/zelko.ini", StoreMessages::of(store.get()));
        net->setLearnFolder(learnFolder);
        net->load(); // the learning set
        for (int n = 0; n < stimulations; ++n) {
            ref_ptr<NeuronIn> neuron(new NeuronIn("s" + std::to_string(n)));
            for (int p = 0; p < 5; ++p)
                neuron->addRegex("\\bw" + std::to_string(n * 4 + p % 4) + "\\b" +
                                 (p == 4 ? " w[0-9]+ w" + std::to_string(n) : ""));
            net->addInput(neuron.get());
        }
        for (int o = 0; o < folders; ++o)
            net->addOutput(new NeuronOut("f" + std::to_string(o)));
        for (int f = 0; f < net->fileCount(); ++f) {
            net->getFile(f)->addTarget(net->getOutput(f % folders).get());
            if (f % 3 == 0)
                net->getFile(f)->addTarget(net->getOutput((f / 3) % folders).get());
        }
    }
    ~LearningBench() {
        net.reset();
        store.reset();
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
    }
    std::string path(int f) const { return learnFolder + "/" + net->getFile(f)->getId(); }
};

LearningBench& bench() {
    static LearningBench instance;
    return instance;
}

void BM_LearnRun(benchmark::State& state) {
    ref_ptr<Net> net = bench().net;
    if (!net || net->fileCount() != messages) {
        state.SkipWithError("learning set incomplete");
        return;
    }
    setLogToStderr(false);
    int hidden = (stimulations + folders) / 2;
    double firstMs = 0, restMs = 0, error = 0;
    for (auto _ : state) {
        ticks.clear();
        Clock::time_point start = Clock::now();
        error = net->learn(hidden, iterations, progress, 0, 0.3, 1.0);
        firstMs += std::chrono::duration<double, std::milli>(ticks.front() - start).count();
        restMs += std::chrono::duration<double, std::milli>(ticks.back() - ticks.front()).count();
    }
    setLogToStderr(true);
    double runs = static_cast<double>(state.iterations());
    state.counters["first_iteration_ms"] = firstMs / runs;
    state.counters["other_499_ms"] = restMs / runs;
    state.counters["per_later_iteration_ms"] = restMs / runs / (iterations - 1);
    state.counters["final_error"] = error;
}

// The first iteration's two parts on their own: reading every learning message from
// the store, and matching every stimulation on every text.
void BM_LearnReadMessages(benchmark::State& state) {
    LearningBench& b = bench();
    for (auto _ : state) {
        std::shared_ptr<void> held = b.net->holdFolder(b.learnFolder);
        for (int f = 0; f < b.net->fileCount(); ++f)
            benchmark::DoNotOptimize(b.net->getFileContent(b.path(f)));
    }
    state.counters["per_message_us"] = benchmark::Counter(
        messages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LearnMatchMessages(benchmark::State& state) {
    LearningBench& b = bench();
    std::vector<std::string> texts;
    for (int f = 0; f < b.net->fileCount(); ++f)
        texts.push_back(b.net->getFileContent(b.path(f)));
    for (auto _ : state) {
        for (const std::string& text : texts)
            benchmark::DoNotOptimize(b.net->getInputVector(text));
    }
    state.counters["per_message_us"] = benchmark::Counter(
        messages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_LearnRun)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LearnReadMessages)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LearnMatchMessages)->Iterations(3)->Unit(benchmark::kMillisecond);

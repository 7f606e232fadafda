#include "core/Net.h"

#include "util/Log.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

// classify of one text against nets of one-word stimulations (3 to 1,000), as people
// build them from their own mail: few stimulations match, so nearly every pattern has to
// look at the whole text. Then the pattern every backtracking matcher takes quadratic
// time on ("invoice.*due" on one long sentence full of "invoice"), matched by the scan,
// and a variant that needs the backtracking matcher, under the message's time budget.

namespace {

unsigned nextRandom(unsigned& state) {
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

// Words of 4 to 9 letters; the same index gives the same word.
std::string word(unsigned index) {
    unsigned state = index * 2654435761u + 1;
    std::string text;
    int length = 4 + static_cast<int>(nextRandom(state) % 6);
    for (int i = 0; i < length; ++i)
        text += static_cast<char>('a' + nextRandom(state) % 26);
    return text;
}

// Mail-like text of sentences drawn from 5,000 words; the first stimulation's word (word
// 0) appears once near the end, so one stimulation matches and the rest look in vain.
std::string messageText(std::size_t bytes) {
    std::string text;
    unsigned state = 7;
    int inSentence = 0;
    while (text.size() + 40 < bytes) {
        text += word(100000 + nextRandom(state) % 5000);
        text += ++inSentence % 11 == 0 ? ".\r\n" : " ";
    }
    text += word(0) + " at the end.\r\n";
    return text;
}

ref_ptr<Net> wordNet(int stimulations) {
    ref_ptr<Net> net(new Net("/tmp/zelko.ini", nullptr));
    for (int n = 0; n < stimulations; ++n) {
        NeuronIn* neuron = new NeuronIn("stimulation " + std::to_string(n));
        neuron->addRegex(word(static_cast<unsigned>(n)));
        net->addInput(neuron);
    }
    for (int o = 0; o < 10; ++o)
        net->addOutput(new NeuronOut("folder " + std::to_string(o)));
    net->setNetwork(BackPropagationPtr(new BackPropagation(stimulations, 20, 10)));
    return net;
}

void BM_ClassifyWords(benchmark::State& state) {
    ref_ptr<Net> net = wordNet(static_cast<int>(state.range(1)));
    std::string text = messageText(static_cast<std::size_t>(state.range(0)) * 1024);
    net->classify(text, 80); // compiles the patterns
    for (auto _ : state)
        benchmark::DoNotOptimize(net->classify(text, 80));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// One sentence of "invoice number 12 " repeated, "due" only in the next sentence: a
// backtracking matcher tries every "invoice" to the sentence's end and back.
void BM_QuadraticPattern(benchmark::State& state, const char* pattern) {
    setLogToStderr(false);
    ref_ptr<Net> net(new Net("/tmp/zelko.ini", nullptr));
    NeuronIn* neuron = new NeuronIn("due");
    neuron->addRegex(pattern);
    net->addInput(neuron);
    net->addOutput(new NeuronOut("Invoices"));
    net->setNetwork(BackPropagationPtr(new BackPropagation(1, 2, 1)));
    std::string text;
    while (text.size() < static_cast<std::size_t>(state.range(0)) * 1024)
        text += "invoice number 12 ";
    text += ". Then due soon.";
    net->classify(text, 80);
    for (auto _ : state)
        benchmark::DoNotOptimize(net->classify(text, 80));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    setLogToStderr(true);
}

} // namespace

BENCHMARK(BM_ClassifyWords)
    ->ArgNames({"KB", "stimulations"})
    ->ArgsProduct({{5, 100}, {3, 100, 500, 1000}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_QuadraticPattern, scanned, "invoice.*due")
    ->ArgName("KB")
    ->Arg(40)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_QuadraticPattern, backtracking, "invoice.*due\\h")
    ->ArgName("KB")
    ->Arg(40)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);

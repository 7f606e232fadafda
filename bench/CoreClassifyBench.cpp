#include "core/Net.h"

#include <benchmark/benchmark.h>

#include <string>

// classify of a 5 KB message against 50 stimulations of 4 patterns each. Most patterns
// do not match, so nearly every one scans the whole text: the costly case.

namespace {

const char* const words[] = {
    "hello",   "thanks", "your",     "order",    "number",  "please",  "find",     "attached",
    "the",     "report", "meeting",  "tomorrow", "about",   "project", "budget",   "team",
    "we",      "will",   "send",     "you",      "new",     "price",   "list",     "soon",
    "regards", "best",   "customer", "service",  "account", "update",  "delivery", "date"};

std::string messageText() {
    std::string text;
    unsigned state = 7;
    int inSentence = 0;
    while (text.size() < 5 * 1024) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % (sizeof words / sizeof *words)];
        if (++inSentence == 9) {
            text += ".\r\n";
            inSentence = 0;
        } else {
            text += ' ';
        }
    }
    text.resize(5 * 1024);
    return text;
}

ref_ptr<Net> benchNet() {
    ref_ptr<Net> net(new Net("/tmp/zelko.ini", nullptr));
    for (int n = 0; n < 50; ++n) {
        ref_ptr<NeuronIn> neuron(new NeuronIn("stimulation " + std::to_string(n)));
        std::string k = std::to_string(n);
        neuron->addRegex("invoice" + k);
        neuron->addRegex("special\\s+offer " + k);
        neuron->addRegex("Ticket #?" + k + "\\d+");
        // Every fifth stimulation matches, late in the text.
        neuron->addRegex(n % 5 == 0 ? "delivery\\s+\\w+" : "unsubscribe.*list " + k);
        net->addInput(neuron.get());
    }
    for (int o = 0; o < 10; ++o)
        net->addOutput(new NeuronOut("folder " + std::to_string(o)));
    net->setNetwork(BackPropagationPtr(new BackPropagation(50, 30, 10)));
    return net;
}

void BM_Classify(benchmark::State& state) {
    ref_ptr<Net> net = benchNet();
    std::string text = messageText();
    net->classify(text, 80); // compiles the patterns
    for (auto _ : state)
        benchmark::DoNotOptimize(net->classify(text, 80));
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

} // namespace

BENCHMARK(BM_Classify);

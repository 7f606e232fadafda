// Any zelko.ini loads: as an unlearned net when its network is damaged, else as a net whose
// network fits its counts, holds only finite weights (no more than the file spells out)
// and gives outputs between 0 and 1.
// What was loaded survives a save and a second load unchanged, weights bit for bit.
#include "util/Log.h"
#include "core/Net.h"
#include "core/NetFile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A folder of this process's own for the two net files.
std::string workFolder() {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/brevalo-fuzz-net-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

// Everything load reads (no store: no learning set), weights bit for bit.
std::string describe(const Net& net) {
    std::string out;
    for (int n = 0; n < net.inputCount(); ++n) {
        out += "in[" + net.getInput(n)->getName() + "]";
        for (const std::string& pattern : net.getInput(n)->getRegexes())
            out += " re[" + pattern + "]";
        out += "\n";
    }
    for (int n = 0; n < net.outputCount(); ++n) {
        ref_ptr<NeuronOut> neuron = net.getOutput(n);
        out += "out[" + neuron->getName() + "] answer[" + neuron->getAnswer() + "]";
        for (const std::string& address : neuron->getEmails())
            out += " to[" + address + "]";
        out += "\n";
    }
    const BackPropagationPtr& network = net.getNetwork();
    if (!network)
        return out + "unlearned\n";
    int inputs = network->getInputCount(), hidden = network->getHiddenCount(),
        outputs = network->getOutputCount();
    out += std::to_string(inputs) + "-" + std::to_string(hidden) + "-" + std::to_string(outputs) +
           "\n";
    for (int h = 0; h < hidden; ++h)
        out += encodeNumbers(network->hwRow(h), inputs) + "\n";
    for (int o = 0; o < outputs; ++o)
        out += encodeNumbers(network->owRow(o), hidden) + "\n";
    out += encodeNumbers(network->getHb(), hidden) + "\n";
    return out + encodeNumbers(network->getOb(), outputs) + "\n";
}

void checkNetwork(const Net& net, std::size_t fileSize) {
    const BackPropagationPtr& network = net.getNetwork();
    if (!network)
        return;
    int inputs = network->getInputCount(), hidden = network->getHiddenCount(),
        outputs = network->getOutputCount();
    check(inputs > 0 && hidden > 0 && outputs > 0);
    check(isSaneNetworkSize(inputs, hidden, outputs));
    // Bounded memory: every value held came from 16 digits of the file.
    long long values = static_cast<long long>(hidden) * (inputs + 1) +
                       static_cast<long long>(outputs) * (hidden + 1);
    check(values * 16 <= static_cast<long long>(fileSize));
    auto finite = [](const double* values, int count) {
        for (int i = 0; i < count; ++i)
            check(std::isfinite(values[i]));
    };
    for (int h = 0; h < hidden; ++h)
        finite(network->hwRow(h), inputs);
    for (int o = 0; o < outputs; ++o)
        finite(network->owRow(o), hidden);
    finite(network->getHb(), hidden);
    finite(network->getOb(), outputs);
    // The empty text: no pattern can take long on it.
    DoublePtr output = net.evaluate("");
    for (int o = 0; o < doubleCount(output); ++o)
        check(output[o] >= 0 && output[o] <= 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        setLogToStderr(false);
        return workFolder();
    }();
    const std::string given = folder + "/zelko.ini";
    const std::string saved = folder + "/saved.ini";
    std::ofstream(given, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    ref_ptr<Net> net(new Net(given, nullptr));
    net->load();
    checkNetwork(*net, size);

    unlink(saved.c_str());
    ref_ptr<Net> copy(new Net(saved, nullptr));
    copy->load();
    check(!copy->isLearned() && copy->inputCount() == 0);
    for (int n = 0; n < net->inputCount(); ++n)
        copy->addInput(net->getInput(n).get());
    for (int n = 0; n < net->outputCount(); ++n)
        copy->addOutput(net->getOutput(n).get());
    copy->setNetwork(net->getNetwork());
    check(copy->save());
    ref_ptr<Net> reloaded(new Net(saved, nullptr));
    reloaded->load();
    std::string before = describe(*net), after = describe(*reloaded);
    if (after != before) {
        std::fprintf(stderr, "loaded:\n%s\nsaved and loaded again:\n%s\n", before.c_str(),
                     after.c_str());
        std::abort();
    }
    return 0;
}

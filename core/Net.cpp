#include "core/Net.h"

#include "util/Log.h"
#include "util/RegularFile.h"
#include "util/Text.h"
#include "platform/profile/ProfileBatch.h"
#include "core/HeaderField.h"
#include "core/InputMatcher.h"
#include "core/MatchBudget.h"
#include "core/NetFile.h"
#include "core/NetSnapshot.h"
#include "core/Stimulation.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const sectionIn = "NeuronsIn";
const char* const sectionOut = "NeuronsOut";
const char* const sectionHidden = "NeuronsHidden";

std::string neuronKey(int n, const char* field) {
    return formatString("neuron%d.%s", n, field);
}

std::string patternKey(int n, int p) {
    return formatString("neuron%d.regex%d", n, p);
}

// Neurons 0, 1, ... of the section, each made from its number and name, up to the first
// missing name key.
template <class Make> RefsPtr readNeurons(const NetFile& file, const char* section, Make make) {
    RefsPtr neurons(new Refs);
    for (int n = 0;; ++n) {
        std::optional<std::string> name = file.findText(section, neuronKey(n, "name"));
        if (!name)
            return neurons;
        neurons->push_back(make(n, *name));
    }
}

// The network the file holds, or null: for none stored (counts of 0 or missing), and for
// a damaged one, with *damage saying where.
BackPropagationPtr readNetwork(const NetFile& file, std::string* damage) {
    int counts[3] = {};
    const char* const countKeys[3] = {"inputCount", "outputCount", "hiddenCount"};
    for (int c = 0; c < 3; ++c) {
        std::optional<std::string> text = file.findText(sectionHidden, countKeys[c]);
        if (!text)
            continue;
        counts[c] = toInt(*text, -1);
        if (counts[c] < 0) {
            *damage = formatString("[%s] %s is no count", sectionHidden, countKeys[c]);
            return {};
        }
    }
    const int inputCount = counts[0], outputCount = counts[1], hiddenCount = counts[2];
    if (inputCount == 0 || outputCount == 0 || hiddenCount == 0)
        return {};
    // A corrupt count must not make the reader allocate without bound.
    if (!isSaneNetworkSize(inputCount, hiddenCount, outputCount)) {
        *damage = formatString("[%s] a network of %d inputs, %d hidden units and %d outputs "
                               "is beyond any real net",
                               sectionHidden, inputCount, hiddenCount, outputCount);
        return {};
    }
    // Every row is checked before the network is built: a damaged one (cut short, a
    // value that is no number or not finite) would classify with random or absurd
    // weights, and a file cannot make the reader allocate more than its rows hold.
    // Rows are read again to fill the network rather than kept, so a large net's text is
    // held one row at a time. Rows in file order: hw.*, ow.*, hb, ob.
    const int rowCount = hiddenCount + outputCount + 2;
    auto rowKey = [&](int r) {
        if (r < hiddenCount)
            return formatString("hw.%d", r);
        if (r < hiddenCount + outputCount)
            return formatString("ow.%d", r - hiddenCount);
        return std::string(r == hiddenCount + outputCount ? "hb" : "ob");
    };
    auto rowLength = [&](int r) {
        if (r < hiddenCount)
            return inputCount;
        return r == rowCount - 1 ? outputCount : hiddenCount;
    };
    for (int r = 0; r < rowCount; ++r) {
        std::string key = rowKey(r);
        std::optional<std::string> text = file.findText(sectionHidden, key);
        std::string problem = text ? checkNumbers(*text, rowLength(r)) : "is missing";
        if (!problem.empty()) {
            *damage = formatString("[%s] %s: %s", sectionHidden, key.c_str(), problem.c_str());
            return {};
        }
    }
    BackPropagationPtr network(new BackPropagation(inputCount, hiddenCount, outputCount));
    network->setLearningRate(0.3);
    network->setDecay(1.0);
    for (int r = 0; r < rowCount; ++r) {
        double* slots = r < hiddenCount                 ? network->hwRow(r)
                        : r < hiddenCount + outputCount ? network->owRow(r - hiddenCount)
                        : r == rowCount - 2             ? network->getHb()
                                                        : network->getOb();
        decodeNumbers(file.readText(sectionHidden, rowKey(r), ""), slots, rowLength(r));
    }
    return network;
}

} // namespace

Net::Net(std::string fileName, MessageSourcePtr messages)
    : fileName(fileName), learning(LearningMessages(fileName, messages)),
      settingsFile(fileName, messages) {}

ref_ptr<NeuronIn> Net::getInput(int index) const {
    return refAt<NeuronIn>(inputs, index);
}

ref_ptr<NeuronOut> Net::getOutput(int index) const {
    return refAt<NeuronOut>(outputs, index);
}

ref_ptr<NeuronIn> Net::addInput(NeuronIn* neuron) {
    return appendRef(inputs, neuron);
}

ref_ptr<NeuronOut> Net::addOutput(NeuronOut* neuron) {
    return appendRef(outputs, neuron);
}

ref_ptr<NeuronIn> Net::removeInput(int index) {
    return removeRef<NeuronIn>(inputs, index);
}

ref_ptr<NeuronOut> Net::removeOutput(int index) {
    return removeRef<NeuronOut>(outputs, index);
}

int Net::indexOfInput(const NeuronIn* neuron) const {
    return neuron ? indexOfRef(inputs, neuron) : -1;
}

int Net::indexOfOutput(const NeuronOut* neuron) const {
    return neuron ? indexOfRef(outputs, neuron) : -1;
}

DoublePtr Net::getInputVector(const std::string& text) const {
    MatchBudget budget;
    return getInputVector(text, budget);
}

DoublePtr Net::getInputVector(const std::string& text, MatchBudget& budget) const {
    return InputMatcher(*this).inputVector(text, budget);
}

bool Net::anyStimulationMatches(const std::string& text) const {
    MatchBudget budget;
    return anyStimulationMatches(text, budget);
}

bool Net::anyStimulationMatches(const std::string& text, MatchBudget& budget) const {
    return InputMatcher(*this).anyMatches(text, budget);
}

Classification Net::classification(const std::string& text) const {
    MatchBudget budget;
    return classification(text, budget);
}

bool Net::networkFits() const {
    if (!network)
        return false;
    // Neurons added or removed since learning leave the network with sizes of its own:
    // the input vector and the output array are built over the current lists, so the
    // network would read or write past them. Such a net has to be learned again; until
    // then it classifies nothing.
    if (network->getInputCount() != inputCount() || network->getOutputCount() != outputCount()) {
        debugLog("net learned for %d inputs and %d outputs now has %d and %d: learn it again",
                 network->getInputCount(), network->getOutputCount(), inputCount(), outputCount());
        return false;
    }
    return true;
}

Classification Net::classification(const std::string& text, MatchBudget& budget) const {
    if (!networkFits())
        return {};
    return Classification::of(*network, getInputVector(text, budget));
}

Classification Net::classificationOf(const DoublePtr& inputs) const {
    if (!networkFits())
        return {};
    return Classification::of(*network, inputs);
}

DoublePtr Net::evaluate(const std::string& text) const {
    return classification(text).outputs();
}

RefsPtr Net::classify(const std::string& text, double threshold) const {
    return chosenFolders(classification(text), threshold);
}

RefsPtr Net::chosenFolders(const Classification& result, double threshold) const {
    if (!result.hasResult() || result.outputCount() != outputCount())
        return {};
    RefsPtr chosen(new Refs);
    for (int o = 0; o < result.outputCount(); ++o) {
        if (result.isChosen(o, threshold))
            chosen->push_back((*outputs)[o]);
    }
    return chosen;
}

bool isSaneNetworkSize(int inputCount, int hiddenCount, int outputCount) {
    for (int count : {inputCount, hiddenCount, outputCount}) {
        if (count < 0 || count > maxNetworkCount)
            return false;
    }
    long long weights = static_cast<long long>(hiddenCount) * inputCount +
                        static_cast<long long>(outputCount) * hiddenCount;
    return weights <= maxNetworkWeights;
}

// --- The net file

void Net::load() {
    settingsFile.unpin();
    loadFrom(NetFile::snapshot(fileName), true);
}

void Net::loadForSorting() {
    settingsFile.unpin();
    std::string text;
    if (!readRegularFile(fileName, NetSnapshot::maxNetBytes, &text)) {
        // A missing file (an empty net) or one that cannot be read (damaged): as load()
        // says it.
        loadFrom(NetFile::snapshot(fileName), false);
        return;
    }
    std::string snapshotFile = NetSnapshot::fileFor(fileName);
    if (std::optional<NetSnapshot> kept = NetSnapshot::read(snapshotFile, text)) {
        install(*kept);
        return;
    }
    NetFile file = NetFile::ofText(fileName, text);
    loadFrom(file, false);
    NetSnapshot made = snapshot(file);
    settingsFile.pin(made.settings);
    made.write(snapshotFile, text);
}

NetSnapshot Net::snapshot(const NetFile& file) const {
    NetSnapshot made;
    for (int n = 0; n < inputCount(); ++n) {
        ref_ptr<NeuronIn> neuron = getInput(n);
        made.inputs.push_back({neuron->getName(), neuron->getRegexes(), neuron->getField()});
    }
    for (int n = 0; n < outputCount(); ++n) {
        ref_ptr<NeuronOut> neuron = getOutput(n);
        made.outputs.push_back({neuron->getName(), neuron->getAnswer(), neuron->getEmails()});
    }
    made.damage = damage_;
    made.settings = NetSettings::textsOf(file);
    if (network) {
        made.inputCount = network->getInputCount();
        made.hiddenCount = network->getHiddenCount();
        made.outputCount = network->getOutputCount();
        auto add = [&made](const double* row, int count) {
            made.weights.insert(made.weights.end(), row, row + count);
        };
        for (int h = 0; h < made.hiddenCount; ++h)
            add(network->hwRow(h), made.inputCount);
        for (int o = 0; o < made.outputCount; ++o)
            add(network->owRow(o), made.hiddenCount);
        add(network->getHb(), made.hiddenCount);
        add(network->getOb(), made.outputCount);
    }
    return made;
}

void Net::install(const NetSnapshot& snapshot) {
    RefsPtr newInputs(new Refs);
    for (const NetSnapshot::Stimulation& input : snapshot.inputs) {
        ref_ptr<NeuronIn> neuron(new NeuronIn(input.name));
        for (const std::string& pattern : input.patterns)
            neuron->addRegex(pattern);
        neuron->setField(input.field);
        newInputs->push_back(RefPtr(neuron.get()));
    }
    RefsPtr newOutputs(new Refs);
    for (const NetSnapshot::Folder& output : snapshot.outputs) {
        ref_ptr<NeuronOut> neuron(new NeuronOut(output.name));
        neuron->setAnswer(output.answer);
        neuron->setEmails(output.emails);
        newOutputs->push_back(RefPtr(neuron.get()));
    }
    BackPropagationPtr newNetwork;
    if (!snapshot.weights.empty()) {
        const int in = snapshot.inputCount, hidden = snapshot.hiddenCount,
                  out = snapshot.outputCount;
        newNetwork = BackPropagationPtr(new BackPropagation(in, hidden, out));
        newNetwork->setLearningRate(0.3);
        newNetwork->setDecay(1.0);
        const double* from = snapshot.weights.data();
        auto take = [&from](double* row, int count) {
            std::copy(from, from + count, row);
            from += count;
        };
        for (int h = 0; h < hidden; ++h)
            take(newNetwork->hwRow(h), in);
        for (int o = 0; o < out; ++o)
            take(newNetwork->owRow(o), hidden);
        take(newNetwork->getHb(), hidden);
        take(newNetwork->getOb(), out);
    }
    damage_ = snapshot.damage;
    inputs = newInputs;
    outputs = newOutputs;
    learning.replace(RefsPtr(new Refs));
    network = newNetwork;
    settingsFile.pin(snapshot.settings);
}

void Net::loadFrom(const NetFile& file, bool withLearningSet) {
    // Built aside and installed together, so a store failure leaves the net as it was.
    // Each list ends at the first missing name: an empty name is stored as "__" and is
    // a neuron like any other.
    RefsPtr newInputs = readNeurons(file, sectionIn, [&file](int n, const std::string& name) {
        ref_ptr<NeuronIn> neuron(new NeuronIn(name));
        for (int p = 0;; ++p) {
            std::optional<std::string> pattern = file.findText(sectionIn, patternKey(n, p));
            if (!pattern)
                break;
            neuron->addRegex(*pattern);
        }
        // Absent in files of stimulations that look at the body, as all did before. A value
        // this program does not know (a later one's) is kept as it is and matches nothing,
        // rather than turning the stimulation to the body.
        std::string field = file.readText(sectionIn, neuronKey(n, "field"), "");
        bool known = false;
        std::string key = HeaderField::normalize(field, &known);
        field.erase(std::remove(field.begin(), field.end(), '\0'), field.end());
        neuron->setField(known ? key : field);
        return RefPtr(neuron.get());
    });
    RefsPtr newOutputs = readNeurons(file, sectionOut, [&file](int n, const std::string& name) {
        ref_ptr<NeuronOut> neuron(new NeuronOut(name));
        neuron->setAnswer(file.readText(sectionOut, neuronKey(n, "answer"), ""));
        neuron->setEmails(splitAddresses(file.readText(sectionOut, neuronKey(n, "emails"), "")));
        return RefPtr(neuron.get());
    });
    RefsPtr newFiles = withLearningSet ? learning.read(file, newOutputs) : RefsPtr(new Refs);
    // Whatever else a damaged file holds may be cut short too: it sorts nothing.
    std::string newDamage = file.damage();
    BackPropagationPtr newNetwork;
    if (newDamage.empty())
        newNetwork = readNetwork(file, &newDamage);
    if (!newDamage.empty())
        debugLog("net file %s is damaged: %s; net loaded unlearned", fileName.c_str(),
                 newDamage.c_str());

    damage_ = newDamage;
    inputs = newInputs;
    outputs = newOutputs;
    learning.replace(newFiles);
    network = newNetwork;
}

bool Net::save(std::string* failure) {
    ProfileBatch batch(fileName);
    write(NetFile(fileName, &batch));
    if (batch.commit())
        return true;
    if (failure)
        *failure = batch.error();
    return false;
}

void Net::write(const NetFile& file) const {
    file.deleteSection(sectionIn);
    for (int n = 0; n < inputCount(); ++n) {
        ref_ptr<NeuronIn> neuron = getInput(n);
        file.writeText(sectionIn, neuronKey(n, "name"), neuron->getName());
        for (int p = 0; p < neuron->regexCount(); ++p)
            file.writeText(sectionIn, patternKey(n, p), neuron->getRegex(p));
        if (!neuron->getField().empty())
            file.writeText(sectionIn, neuronKey(n, "field"), neuron->getField());
    }

    file.deleteSection(sectionOut);
    for (int n = 0; n < outputCount(); ++n) {
        ref_ptr<NeuronOut> neuron = getOutput(n);
        file.writeText(sectionOut, neuronKey(n, "name"), neuron->getName());
        file.writeText(sectionOut, neuronKey(n, "answer"), neuron->getAnswer());
        file.writeText(sectionOut, neuronKey(n, "emails"), joinAddresses(neuron->getEmails()));
    }

    learning.write(file, outputs);

    file.deleteSection(sectionHidden);
    if (network) {
        file.writeInt(sectionHidden, "inputCount", network->getInputCount());
        file.writeInt(sectionHidden, "outputCount", network->getOutputCount());
        file.writeInt(sectionHidden, "hiddenCount", network->getHiddenCount());
        for (int h = 0; h < network->getHiddenCount(); ++h)
            file.writeText(sectionHidden, formatString("hw.%d", h),
                           encodeNumbers(network->hwRow(h), network->getInputCount()));
        for (int o = 0; o < network->getOutputCount(); ++o)
            file.writeText(sectionHidden, formatString("ow.%d", o),
                           encodeNumbers(network->owRow(o), network->getHiddenCount()));
        file.writeText(sectionHidden, "hb",
                       encodeNumbers(network->getHb(), network->getHiddenCount()));
        file.writeText(sectionHidden, "ob",
                       encodeNumbers(network->getOb(), network->getOutputCount()));
        file.writeDateTime(sectionHidden, "learnDate", nowLocal());
    }
}

void Net::loadLearningSet() {
    learning.replace(learning.read(NetFile::snapshot(fileName), outputs));
}

DateTime Net::getLearnDate() const {
    return NetFile(fileName).readDateTime(sectionHidden, "learnDate", 0);
}

// --- The learning run

double Net::learn(int hiddenCount, int iterations, ProgressCallback callback, int user,
                  double learningRate, double decay, const CheckedInputs* checked,
                  int* leftOutUnmatched) {
    LearningParameters parameters{hiddenCount, iterations, learningRate, decay};
    parameters.skipUnmatched = leftOutUnmatched != nullptr;
    LearningRun run(*this, parameters);
    if (checked)
        run.takeChecked(*checked);
    run.start();
    network = run.network();
    double error = run.train(callback, user);
    if (leftOutUnmatched)
        *leftOutUnmatched = run.leftOutUnmatched();
    return error;
}

DoublePtr Net::getTargetVector(const FileData* entry) const {
    int count = outputCount();
    DoublePtr vector = makeDoubles(count);
    for (int o = 0; o < count; ++o)
        vector[o] = levelLow;
    if (!entry)
        return vector;
    for (int t = 0; t < entry->targetCount(); ++t) {
        int index = indexOfOutput(entry->getTarget(t).get());
        if (index >= 0)
            vector[index] = levelHigh;
    }
    return vector;
}

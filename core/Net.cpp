#include "core/Net.h"

#include "core/Stimulation.h"
#include "util/Log.h"

#include <utility>

namespace {

template <class T> ref_ptr<T> entryAt(const RefsPtr& list, int index) {
    if (index < 0 || index >= refsCount(list))
        return {};
    return (*list)[index].as<T>();
}

template <class T> ref_ptr<T> append(RefsPtr& list, T* entry) {
    if (!entry)
        return {};
    if (!list)
        list.reset(new Refs);
    list->push_back(RefPtr(entry));
    return ref_ptr<T>(entry);
}

template <class T> ref_ptr<T> removeAt(const RefsPtr& list, int index) {
    if (index < 0 || index >= refsCount(list))
        return {};
    ref_ptr<T> removed = (*list)[index].as<T>();
    list->erase(list->begin() + index);
    return removed;
}

int indexIn(const RefsPtr& list, const Ref* entry) {
    for (int i = 0; i < refsCount(list); ++i) {
        if ((*list)[i].get() == entry)
            return i;
    }
    return -1;
}

} // namespace

Net::Net(std::string fileName, IStoreNamespace* store)
    : fileName(std::move(fileName)), store(store) {}

ref_ptr<NeuronIn> Net::getInput(int index) const {
    return entryAt<NeuronIn>(inputs, index);
}

ref_ptr<NeuronOut> Net::getOutput(int index) const {
    return entryAt<NeuronOut>(outputs, index);
}

ref_ptr<NeuronIn> Net::addInput(NeuronIn* neuron) {
    return append(inputs, neuron);
}

ref_ptr<NeuronOut> Net::addOutput(NeuronOut* neuron) {
    return append(outputs, neuron);
}

ref_ptr<NeuronIn> Net::removeInput(int index) {
    return removeAt<NeuronIn>(inputs, index);
}

ref_ptr<NeuronOut> Net::removeOutput(int index) {
    return removeAt<NeuronOut>(outputs, index);
}

int Net::indexOfInput(const NeuronIn* neuron) const {
    return neuron ? indexIn(inputs, neuron) : -1;
}

int Net::indexOfOutput(const NeuronOut* neuron) const {
    return neuron ? indexIn(outputs, neuron) : -1;
}

ref_ptr<FileData> Net::getFile(int index) const {
    return entryAt<FileData>(files, index);
}

ref_ptr<FileData> Net::appendFile(FileData* entry) {
    return append(files, entry);
}

ref_ptr<FileData> Net::removeFile(int index) {
    return removeAt<FileData>(files, index);
}

int Net::findFile(const std::string& id) const {
    for (int i = 0; i < fileCount(); ++i) {
        const auto* entry = (*files)[i].as<FileData>();
        if (entry && entry->getId() == id)
            return i;
    }
    return -1;
}

DoublePtr Net::getInputVector(const std::string& text) const {
    int count = inputCount();
    DoublePtr vector = makeDoubles(count);
    if (count == 0)
        return vector;
    std::string normalized = normalizeText(text);
    for (int i = 0; i < count; ++i) {
        const auto* neuron = (*inputs)[i].as<NeuronIn>();
        vector[i] = neuron && neuron->matchesNormalized(normalized) ? levelHigh : levelLow;
    }
    return vector;
}

bool Net::anyStimulationMatches(const std::string& text) const {
    int count = inputCount();
    if (count == 0)
        return false;
    std::string normalized = normalizeText(text);
    for (int i = 0; i < count; ++i) {
        const auto* neuron = (*inputs)[i].as<NeuronIn>();
        if (neuron && neuron->matchesNormalized(normalized))
            return true;
    }
    return false;
}

DoublePtr Net::evaluate(const std::string& text) const {
    if (!network)
        return {};
    // Neurons added or removed since learning leave the network with sizes of its own:
    // the input vector and the output array are built over the current lists, so the
    // network would read or write past them. Such a net has to be learned again; until
    // then it classifies nothing.
    if (network->getInputCount() != inputCount() || network->getOutputCount() != outputCount()) {
        debugLog("net learned for %d inputs and %d outputs now has %d and %d: learn it again",
                 network->getInputCount(), network->getOutputCount(), inputCount(), outputCount());
        return {};
    }
    DoublePtr input = getInputVector(text);
    DoublePtr output = makeDoubles(outputCount());
    network->run(input.get(), output.get());
    return output;
}

RefsPtr Net::classify(const std::string& text, double threshold) const {
    double limit = threshold * 0.01;
    DoublePtr output = evaluate(text);
    if (!output)
        return {};
    RefsPtr chosen(new Refs);
    for (int o = 0; o < doubleCount(output); ++o) {
        if (output[o] >= limit)
            chosen->push_back((*outputs)[o]);
    }
    return chosen;
}

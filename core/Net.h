#pragma once

#include "core/BackPropagation.h"
#include "core/FileData.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "util/DoubleArray.h"
#include "util/Ref.h"
#include "util/Refs.h"

#include <string>

class IStoreNamespace;

// The classifier as one object: input neurons (stimulations), output neurons (target
// folders), the learning set and, once learned, the network. Index lookups give null
// when out of range and searches -1; nothing here raises.
class Net : public RefBase {
public:
    // fileName: full path of the net file. store: the mail-store connection, held
    // without a reference of its own (its owner keeps it alive); may be null.
    Net(std::string fileName, IStoreNamespace* store);

    const std::string& getFileName() const { return fileName; }
    IStoreNamespace* getStore() const { return store; }

    int inputCount() const { return refsCount(inputs); }
    int outputCount() const { return refsCount(outputs); }
    ref_ptr<NeuronIn> getInput(int index) const;
    ref_ptr<NeuronOut> getOutput(int index) const;
    // Appends at the end and returns the same neuron (null is not added).
    ref_ptr<NeuronIn> addInput(NeuronIn* neuron);
    ref_ptr<NeuronOut> addOutput(NeuronOut* neuron);
    // Removes at the index and closes the gap; null and no change when out of range.
    ref_ptr<NeuronIn> removeInput(int index);
    ref_ptr<NeuronOut> removeOutput(int index);
    // Position by identity; -1 when absent.
    int indexOfInput(const NeuronIn* neuron) const;
    int indexOfOutput(const NeuronOut* neuron) const;

    int fileCount() const { return refsCount(files); }
    ref_ptr<FileData> getFile(int index) const;
    // Appends one learning-set entry and returns it (null is not added).
    ref_ptr<FileData> appendFile(FileData* entry);
    ref_ptr<FileData> removeFile(int index);
    // Index of the first entry whose id equals the text exactly ("12" is not "012").
    int findFile(const std::string& id) const;

    // Learned exactly when a network is present, whatever its sizes.
    bool isLearned() const { return static_cast<bool>(network); }
    const BackPropagationPtr& getNetwork() const { return network; }
    // Installs a network (replacing any earlier one); null makes the net unlearned.
    void setNetwork(const BackPropagationPtr& newNetwork) { network = newNetwork; }

    // One level per input neuron, in list order: levelHigh when it matches the text,
    // else levelLow. The text is normalised once for all neurons.
    DoublePtr getInputVector(const std::string& text) const;
    // Whether some input neuron matches; stops at the first that does.
    bool anyStimulationMatches(const std::string& text) const;
    // The network outputs (0 ... 1), one per output neuron; empty when the net is not
    // learned or the network no longer fits the neuron lists.
    DoublePtr evaluate(const std::string& text) const;
    // A new list of the output neurons whose output reaches threshold percent, in
    // output order (possibly none); empty whenever evaluate is.
    RefsPtr classify(const std::string& text, double threshold) const;

private:
    std::string fileName;
    RefsPtr inputs;
    RefsPtr outputs;
    RefsPtr files;
    BackPropagationPtr network;
    IStoreNamespace* store;
};

#pragma once

#include "core/BackPropagation.h"
#include "core/Classification.h"
#include "core/FileData.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "util/ComPtr.h"
#include "util/DateTime.h"
#include "util/DoubleArray.h"
#include "util/Ref.h"
#include "util/Refs.h"

#include <string>

class IStoreFolder;
class IStoreNamespace;
class NetFile;

// Progress of a learning run: the caller's value, the iteration and the summed error of
// that iteration. Called on the learning thread; it must only hand the values on.
using ProgressCallback = void (*)(int user, int iteration, double error);

// Networks beyond these sizes cannot come from a real net (its stimulations and folders
// are made by hand): a file claiming them is corrupt and loads unlearned, and learn
// refuses to build them. The weights (hidden x inputs + outputs x hidden) stay within
// 128 MB; with the proposed hidden size of (inputs + outputs) / 2 that allows nets of
// up to about 5,800 stimulations.
constexpr int maxNetworkCount = 100000;
constexpr long long maxNetworkWeights = 1LL << 24;

// Whether a network of these sizes is within the bounds above (no count negative).
bool isSaneNetworkSize(int inputCount, int hiddenCount, int outputCount);

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
    // The network's outputs for the text and whether any stimulation matched it; no
    // result when the net is not learned or the network no longer fits the neuron lists.
    Classification classification(const std::string& text) const;
    // The network outputs (0 ... 1), one per output neuron, evidence or not; empty
    // whenever classification has no result.
    DoublePtr evaluate(const std::string& text) const;
    // A new list of the output neurons the classification chooses at threshold percent,
    // in output order (none for a text no stimulation matches); empty whenever
    // classification has no result.
    RefsPtr classify(const std::string& text, double threshold) const;
    // The same for a classification of this net: empty when it has no result.
    RefsPtr chosenFolders(const Classification& result, double threshold) const;

    // --- The net file (sections "NeuronsIn", "NeuronsOut", "Files", "NeuronsHidden")

    // Replaces inputs, outputs, learning set and network with what the file holds, read
    // from one consistent copy of it. The lists end at the first missing name key (an
    // empty name is kept); network counts of 0 give an unlearned net, and so do counts
    // that are negative or beyond maxNetworkCount / maxNetworkWeights, and a weight row
    // that is missing, cut short, too long, not hexadecimal or holds a NaN or an
    // infinity (each with a log line naming the count or the row).
    // Store failures while the default learning folder is looked up raise ComException
    // and leave the net unchanged.
    void load();
    // Rewrites the four sections as one batch: the file changes from its old content to
    // the new one in a single replacement. False (and a log line) when the file could not
    // be written; it then keeps its old content.
    bool save();
    // Rebuilds only the learning set: the messages now in the learning folder, with their
    // assignments from the file.
    void loadLearningSet();

    // --- The learning set over the mail store

    // One entry per message of the folder (its id as decimal text; empty: the learning
    // folder), in store order, without targets. An id that is no number, a folder that
    // cannot be opened or a net without a store give an empty list.
    RefsPtr listLearnFolder(const std::string& folder) const;
    // Builds the entry of that message of the learning folder and appends it; null (and
    // nothing appended) when the folder or the message cannot be read.
    ref_ptr<FileData> addFile(int messageId);
    // The text of a message addressed as "<folder id>/<message id>" (a backslash works as
    // well as the slash). An id that is no number gives the empty text at once; a store
    // or message failure is shown with showComError and the context "getFileContent(<path>)"
    // and gives the empty text. Safe on the learning thread (after its CoInitialize).
    std::string getFileContent(const std::string& path) const;
    // Opens the folder (its id as decimal text) and returns it; empty when it cannot be
    // opened. While the caller holds it, the store keeps the folder's message list, so
    // reading many of its messages with getFileContent lists the folder once, not once
    // per message.
    com_ptr<IStoreFolder> holdFolder(const std::string& folder) const;

    // "learnFolder" of "Global"; when missing or empty, the id of the folder named by
    // "outlookexpress.folder.learningset" inside the one named "outlookexpress.folder.main"
    // at the top of the store, each created when missing (not written back). Empty for a
    // net without a store. Store failures raise ComException.
    std::string getLearnFolder() const;
    bool setLearnFolder(const std::string& folder);
    // The time the stored network was saved; 0 when the file holds none.
    DateTime getLearnDate() const;

    // --- The learning run

    // Trains a fresh network of inputCount x hiddenCount x outputCount (installed at once,
    // so the net counts as learned from here on, also when the run ends by an exception)
    // on every learning-set entry, for all iterations, each iteration in a new order of
    // the entries (LearningOrder). Message texts are read and matched once, before the
    // first iteration. The result depends only on the learning set (the messages' texts
    // and targets), the sizes and the parameters: not on the order the messages arrived
    // in, the thread, or what ran before. The callback (may be null) gets every iteration's
    // summed error and then once more the iteration number `iterations` with the last
    // error. Returns the last iteration's error (0 when none ran). Sizes beyond
    // isSaneNetworkSize raise Exception before anything changes.
    double learn(int hiddenCount, int iterations, ProgressCallback callback, int user,
                 double learningRate, double decay);
    // levelHigh for every output neuron among the entry's targets, levelLow for the others.
    DoublePtr getTargetVector(const FileData* entry) const;

    // --- The "settings" section: getters read the file every time, setters write at once

    int getJobVariant() const; // default 1
    bool setJobVariant(int value);
    int getStoreMail() const; // default 1
    bool setStoreMail(int value);
    int getEnabled() const; // default 1
    bool setEnabled(int value);
    int getEnabledPeriod() const; // default 0
    bool setEnabledPeriod(int value);
    DateTime getPeriodFrom() const; // default: now (local time)
    bool setPeriodFrom(DateTime value);
    DateTime getPeriodTo() const; // default: now (local time)
    bool setPeriodTo(DateTime value);
    double getThreshold() const; // percent, default 80
    bool setThreshold(double value);
    std::string getFrom() const; // default empty
    bool setFrom(const std::string& value);
    // When missing or empty, the id of the folder named by "outlookexpress.folder.output"
    // inside the main folder, created when missing (not written back); empty for a net
    // without a store. Store failures raise ComException.
    std::string getDestFolder() const;
    bool setDestFolder(const std::string& value);

private:
    // The id text of the named subfolder of the main folder, both created when missing.
    std::string defaultFolder(const char* locKey) const;
    std::string learnFolderIn(const NetFile& file) const;
    RefsPtr readLearningSet(const NetFile& file, const RefsPtr& outputList) const;

    std::string fileName;
    RefsPtr inputs;
    RefsPtr outputs;
    RefsPtr files;
    BackPropagationPtr network;
    IStoreNamespace* store;
};

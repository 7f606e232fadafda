#pragma once

#include "util/DateTime.h"
#include "util/DoubleArray.h"
#include "util/Ref.h"
#include "util/Refs.h"
#include "core/BackPropagation.h"
#include "core/Classification.h"
#include "core/FileData.h"
#include "core/InputPatterns.h"
#include "core/LearningRun.h"
#include "core/LearningSet.h"
#include "core/MessageSource.h"
#include "core/NetSettings.h"
#include "core/NetSnapshot.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"

#include <memory>
#include <string>

class MatchBudget;
class NetFile;

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
// folders), the learning set and, once learned, the network, stored in the net file.
// The learning set (LearningSet), the settings (NetSettings) and the learning run
// (LearningRun) are classes of their own; the operations on them here are thin calls.
// Index lookups give null when out of range and searches -1; nothing here raises.
// A net is used by one thread at a time.
class Net : public RefBase {
public:
    // fileName: full path of the net file. messages: where the learning messages are
    // read (the mail store, or texts in memory); may be null, then the learning set is
    // always empty.
    Net(std::string fileName, MessageSourcePtr messages);

    const std::string& getFileName() const { return fileName; }
    const MessageSourcePtr& getMessages() const { return learning.messages().source(); }
    const LearningSet& learningSet() const { return learning; }
    const NetSettings& settings() const { return settingsFile; }

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

    // The learning set (LearningSet).
    int fileCount() const { return learning.count(); }
    ref_ptr<FileData> getFile(int index) const { return learning.get(index); }
    // Appends one learning-set entry and returns it (null is not added).
    ref_ptr<FileData> appendFile(FileData* entry) { return learning.append(entry); }
    ref_ptr<FileData> removeFile(int index) { return learning.remove(index); }
    // Index of the first entry whose id equals the text exactly ("12" is not "012").
    int findFile(const std::string& id) const { return learning.find(id); }

    // Learned exactly when a network is present, whatever its sizes.
    bool isLearned() const { return static_cast<bool>(network); }
    const BackPropagationPtr& getNetwork() const { return network; }
    // Installs a network (replacing any earlier one); null makes the net unlearned.
    void setNetwork(const BackPropagationPtr& newNetwork) { network = newNetwork; }

    // One level per input neuron, in list order: levelHigh when it matches the text,
    // else levelLow. The text is normalised once and matched by the net's pattern set
    // (PatternSet) in one pass. Patterns given up on under the message's budget count as
    // no match; the forms without a budget give the text one of its own.
    DoublePtr getInputVector(const std::string& text) const;
    DoublePtr getInputVector(const std::string& text, MatchBudget& budget) const;
    // Whether some input neuron matches; stops at the first match found.
    bool anyStimulationMatches(const std::string& text) const;
    bool anyStimulationMatches(const std::string& text, MatchBudget& budget) const;
    // The network's outputs for the text and whether any stimulation matched it; no
    // result when the net is not learned or the network no longer fits the neuron lists.
    Classification classification(const std::string& text) const;
    Classification classification(const std::string& text, MatchBudget& budget) const;
    // The same for an input vector of getInputVector, which may be made on any thread; the
    // network itself runs on one thread at a time.
    Classification classificationOf(const DoublePtr& inputs) const;
    // The patterns of the input neurons as they are now, compiled together; built at the
    // first call and again after each change of the neurons' patterns (InputPatterns).
    std::shared_ptr<const FieldPatterns> patternSet() const {
        return inputPatterns.current(inputs);
    }
    // How often the pattern set was built.
    int patternSetBuilds() const { return inputPatterns.buildCount(); }
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
    // empty name is kept); network counts of 0 give an unlearned net. A damaged file gives
    // an unlearned net too, and damage() says where: one that cannot be read (a missing
    // one is an empty net) or ends inside a line, a network count that is no number,
    // negative or beyond maxNetworkCount / maxNetworkWeights, a weight row that is
    // missing, cut short, too long, not hexadecimal or holds a NaN or an infinity.
    // Store failures while the default learning folder is looked up raise ComException
    // and leave the net unchanged.
    void load();
    // load() for a net that only sorts: stimulations, folders, network and settings (read
    // once, NetSettings::pin), without the learning set, which stays empty. Taken from the
    // net file's snapshot beside it (NetSnapshot) when that was made from the file as it is
    // now, else from the file, and the snapshot written again. Raises nothing.
    void loadForSorting();
    // Why the file was damaged at the last load ("[NeuronsHidden] hw.3: number 5 is not
    // 16 hexadecimal digits"), or empty.
    const std::string& damage() const { return damage_; }
    // Rewrites the four sections as one batch: the file changes from its old content to
    // the new one in a single replacement. False (and a log line) when the file could not
    // be written; it then keeps its old content, and *failure (when given) says why.
    bool save(std::string* failure = nullptr);
    // The rewrite of the four sections, into a file with a batch (NetFile): for a caller
    // that changes other sections in the same replacement of the file.
    void write(const NetFile& file) const;
    // Rebuilds only the learning set: the messages now in the learning folder, with their
    // assignments from the file.
    void loadLearningSet();

    // --- The learning set's messages (LearningMessages)

    // One entry per message of the folder (its id as decimal text; empty: the learning
    // folder), in store order, without targets. An id that is no number, a folder that
    // cannot be opened or a net without messages give an empty list.
    RefsPtr listLearnFolder(const std::string& folder) const {
        return learning.messages().list(folder);
    }
    // Builds the entry of that message of the learning folder and appends it; null (and
    // nothing appended) when the folder or the message cannot be read.
    ref_ptr<FileData> addFile(int messageId) { return learning.add(messageId); }
    // The text of a message addressed as "<folder id>/<message id>" (a backslash works as
    // well as the slash). An id that is no number gives the empty text at once; a store
    // or message failure is shown with showComError ("Reading the learning message <path>")
    // and gives the empty text.
    std::string getFileContent(const std::string& path) const {
        return learning.messages().text(path);
    }
    // The text the stimulations read of that message: getFileContent, with the texts of
    // the header fields they look at attached (HeaderField); the body alone when they
    // look at none.
    std::string getFileInput(const std::string& path) const {
        return learning.messages().text(path, patternSet()->headerFields());
    }
    // Keeps the folder's message list while the result lives, so reading many of its
    // messages with getFileContent lists the folder once, not once per message; empty when
    // it cannot be opened.
    std::shared_ptr<void> holdFolder(const std::string& folder) const {
        return learning.messages().hold(folder);
    }

    // "learnFolder" of "Global"; when missing or empty, the id of the folder named by
    // "outlookexpress.folder.learningset" inside the one named "outlookexpress.folder.main"
    // at the top of the store, each created when missing (not written back). Empty for a
    // net without messages. Store failures raise ComException.
    std::string getLearnFolder() const { return learning.messages().id(); }
    bool setLearnFolder(const std::string& folder) { return learning.messages().setId(folder); }
    // The time the stored network was saved; 0 when the file holds none.
    DateTime getLearnDate() const;

    // --- The learning run (LearningRun)

    // Trains a fresh network of inputCount x hiddenCount x outputCount on every
    // learning-set entry, here and now, and installs it at once, so the net counts as
    // learned from here on, also when the run ends by an exception. The callback (may be
    // null) gets every iteration's summed error and then once more the iteration number
    // `iterations` with the last error. Returns the last iteration's error (0 when none
    // ran). Sizes beyond isSaneNetworkSize raise Exception before anything changes.
    // With `checked`, the input vectors of a check of this net just before (checkLearningSet)
    // are used when nothing changed since, instead of reading every message again.
    // With leftOutUnmatched, the entries no stimulation matches are left out of the run
    // (LearningParameters::skipUnmatched) and their number is stored there.
    double learn(int hiddenCount, int iterations, ProgressCallback callback, int user,
                 double learningRate, double decay, const CheckedInputs* checked = nullptr,
                 int* leftOutUnmatched = nullptr);
    // levelHigh for every output neuron among the entry's targets, levelLow for the others.
    DoublePtr getTargetVector(const FileData* entry) const;

    // --- The "settings" section (NetSettings): getters read the file every time, setters
    // write at once

    int getJobVariant() const { return settingsFile.getJobVariant(); }
    bool setJobVariant(int value) { return settingsFile.setJobVariant(value); }
    int getStoreMail() const { return settingsFile.getStoreMail(); }
    bool setStoreMail(int value) { return settingsFile.setStoreMail(value); }
    int getEnabled() const { return settingsFile.getEnabled(); }
    bool setEnabled(int value) { return settingsFile.setEnabled(value); }
    int getEnabledPeriod() const { return settingsFile.getEnabledPeriod(); }
    bool setEnabledPeriod(int value) { return settingsFile.setEnabledPeriod(value); }
    DateTime getPeriodFrom() const { return settingsFile.getPeriodFrom(); }
    bool setPeriodFrom(DateTime value) { return settingsFile.setPeriodFrom(value); }
    DateTime getPeriodTo() const { return settingsFile.getPeriodTo(); }
    bool setPeriodTo(DateTime value) { return settingsFile.setPeriodTo(value); }
    double getThreshold() const { return settingsFile.getThreshold(); }
    bool setThreshold(double value) { return settingsFile.setThreshold(value); }
    std::string getFrom() const { return settingsFile.getFrom(); }
    bool setFrom(const std::string& value) { return settingsFile.setFrom(value); }
    std::string getDestFolder() const { return settingsFile.getDestFolder(); }
    bool setDestFolder(const std::string& value) { return settingsFile.setDestFolder(value); }

private:
    // A network is present and still has the neuron lists' sizes (else: no result).
    bool networkFits() const;
    void loadFrom(const NetFile& file, bool withLearningSet);
    NetSnapshot snapshot(const NetFile& file) const;
    void install(const NetSnapshot& snapshot);

    std::string fileName;
    RefsPtr inputs;
    RefsPtr outputs;
    LearningSet learning;
    BackPropagationPtr network;
    NetSettings settingsFile;
    mutable InputPatterns inputPatterns;
    std::string damage_;
};

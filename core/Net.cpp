#include "core/Net.h"

#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/Store.h"
#include "platform/profile/Loc.h"
#include "platform/profile/ProfileBatch.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "core/LearningOrder.h"
#include "core/NetFile.h"
#include "core/Stimulation.h"

#include <utility>
#include <vector>

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

const char* const sectionGlobal = "Global";
const char* const sectionIn = "NeuronsIn";
const char* const sectionOut = "NeuronsOut";
const char* const sectionHidden = "NeuronsHidden";
const char* const sectionFiles = "Files";
const char* const sectionSettings = "settings";

std::string neuronKey(int n, const char* field) {
    return formatString("neuron%d.%s", n, field);
}

std::string patternKey(int n, int p) {
    return formatString("neuron%d.regex%d", n, p);
}

std::string fileKey(const std::string& id) {
    return "file_" + id;
}

// One learning-set entry from the store's record of a message.
ref_ptr<FileData> entryOf(const MESSAGEPROPS& props) {
    return ref_ptr<FileData>(new FileData(props.pszSubject,
                                          formatString("%ld", static_cast<long>(props.dwMessageId)),
                                          props.pszDisplayFrom, props.ftReceived));
}

// "[" + one character per value + "]": "1" at or above levelHigh, "0" at or below
// levelLow, "?" between.
std::string levelPattern(const DoublePtr& vector) {
    std::string text = "[";
    for (int i = 0; i < doubleCount(vector); ++i)
        text += vector[i] >= levelHigh ? '1' : vector[i] <= levelLow ? '0' : '?';
    return text + "]";
}

BackPropagationPtr readNetwork(const NetFile& file) {
    int inputCount = file.readInt(sectionHidden, "inputCount", 0);
    int outputCount = file.readInt(sectionHidden, "outputCount", 0);
    int hiddenCount = file.readInt(sectionHidden, "hiddenCount", 0);
    if (inputCount == 0 || outputCount == 0 || hiddenCount == 0)
        return {};
    // A corrupt count must not make the reader allocate without bound.
    if (!isSaneNetworkSize(inputCount, hiddenCount, outputCount)) {
        debugLog("net file %s: network of %d inputs, %d hidden units and %d outputs is corrupt, "
                 "net loaded unlearned",
                 file.fileName().c_str(), inputCount, hiddenCount, outputCount);
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
            debugLog("net file %s: network row \"%s\": %s, net loaded unlearned",
                     file.fileName().c_str(), key.c_str(), problem.c_str());
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

Classification Net::classification(const std::string& text) const {
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
    bool evidence = false;
    for (int i = 0; i < doubleCount(input) && !evidence; ++i)
        evidence = input[i] >= levelHigh;
    DoublePtr output = makeDoubles(outputCount());
    network->run(input.get(), output.get());
    return Classification(output, evidence);
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
    NetFile file = NetFile::snapshot(fileName);
    // Built aside and installed together, so a store failure leaves the net as it was.
    // Each list ends at the first missing name: an empty name is stored as "__" and is
    // a neuron like any other.
    RefsPtr newInputs(new Refs);
    for (int n = 0;; ++n) {
        std::optional<std::string> name = file.findText(sectionIn, neuronKey(n, "name"));
        if (!name)
            break;
        ref_ptr<NeuronIn> neuron(new NeuronIn(*name));
        for (int p = 0;; ++p) {
            std::optional<std::string> pattern = file.findText(sectionIn, patternKey(n, p));
            if (!pattern)
                break;
            neuron->addRegex(*pattern);
        }
        newInputs->push_back(RefPtr(neuron.get()));
    }
    RefsPtr newOutputs(new Refs);
    for (int n = 0;; ++n) {
        std::optional<std::string> name = file.findText(sectionOut, neuronKey(n, "name"));
        if (!name)
            break;
        ref_ptr<NeuronOut> neuron(new NeuronOut(*name));
        neuron->setAnswer(file.readText(sectionOut, neuronKey(n, "answer"), ""));
        neuron->setEmails(splitAddresses(file.readText(sectionOut, neuronKey(n, "emails"), "")));
        newOutputs->push_back(RefPtr(neuron.get()));
    }
    RefsPtr newFiles = readLearningSet(file, newOutputs);
    BackPropagationPtr newNetwork = readNetwork(file);

    inputs = newInputs;
    outputs = newOutputs;
    files = newFiles;
    network = newNetwork;
}

bool Net::save() {
    ProfileBatch batch(fileName);
    NetFile file(fileName, &batch);

    file.deleteSection(sectionIn);
    for (int n = 0; n < inputCount(); ++n) {
        ref_ptr<NeuronIn> neuron = getInput(n);
        file.writeText(sectionIn, neuronKey(n, "name"), neuron->getName());
        for (int p = 0; p < neuron->regexCount(); ++p)
            file.writeText(sectionIn, patternKey(n, p), neuron->getRegex(p));
    }

    file.deleteSection(sectionOut);
    for (int n = 0; n < outputCount(); ++n) {
        ref_ptr<NeuronOut> neuron = getOutput(n);
        file.writeText(sectionOut, neuronKey(n, "name"), neuron->getName());
        file.writeText(sectionOut, neuronKey(n, "answer"), neuron->getAnswer());
        file.writeText(sectionOut, neuronKey(n, "emails"), joinAddresses(neuron->getEmails()));
    }

    file.deleteSection(sectionFiles);
    for (int f = 0; f < fileCount(); ++f) {
        ref_ptr<FileData> entry = getFile(f);
        std::vector<std::string> indexes;
        for (int t = 0; t < entry->targetCount(); ++t) {
            int index = indexOfOutput(entry->getTarget(t).get());
            if (index >= 0)
                indexes.push_back(formatString("%d", index));
        }
        file.writeText(sectionFiles, fileKey(entry->getId()), joinTexts(indexes, ","));
    }

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
    return batch.commit();
}

void Net::loadLearningSet() {
    files = readLearningSet(NetFile::snapshot(fileName), outputs);
}

RefsPtr Net::readLearningSet(const NetFile& file, const RefsPtr& outputList) const {
    RefsPtr entries = listLearnFolder(learnFolderIn(file));
    int outputTotal = refsCount(outputList);
    for (int f = 0; f < refsCount(entries); ++f) {
        auto* entry = (*entries)[f].as<FileData>();
        std::string assigned = file.readText(sectionFiles, fileKey(entry->getId()), "");
        for (const std::string& piece : splitText(assigned, ",")) {
            int index = toInt(piece, -1);
            if (index >= 0 && index < outputTotal)
                entry->addTarget((*outputList)[index].as<NeuronOut>());
        }
    }
    return entries;
}

// --- The learning set over the mail store

RefsPtr Net::listLearnFolder(const std::string& folder) const {
    RefsPtr entries(new Refs);
    std::string folderText = folder.empty() ? getLearnFolder() : folder;
    STOREFOLDERID folderId = storeIdFromText(folderText);
    if (folderId == FOLDERID_INVALID || !store)
        return entries;
    com_ptr<IStoreFolder> opened = openFolder(store, folderId);
    if (!opened)
        return entries;
    MESSAGEPROPS props;
    props.cbSize = 68;
    HENUMSTORE handle = nullptr;
    HRESULT hr = opened->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    while (hr == S_OK) {
        entries->push_back(RefPtr(entryOf(props).get()));
        opened->FreeMessageProps(&props);
        props = MESSAGEPROPS{};
        props.cbSize = 68;
        hr = opened->GetNextMessage(handle, 0, &props);
    }
    if (handle)
        opened->GetMessageClose(handle);
    return entries;
}

ref_ptr<FileData> Net::addFile(int messageId) {
    STOREFOLDERID folderId = storeIdFromText(getLearnFolder());
    if (folderId == FOLDERID_INVALID || !store)
        return {};
    com_ptr<IStoreFolder> opened = openFolder(store, folderId);
    if (!opened)
        return {};
    MESSAGEPROPS props;
    props.cbSize = 68;
    if (FAILED(opened->GetMessageProps(static_cast<MESSAGEID>(messageId), 0, &props)))
        return {};
    ref_ptr<FileData> entry = entryOf(props);
    opened->FreeMessageProps(&props);
    return appendFile(entry.get());
}

std::string Net::getFileContent(const std::string& path) const {
    std::vector<std::string> pieces = splitText(replaceAll(path, "\\", "/"), "/");
    STOREFOLDERID folderId = pieces.size() > 0 ? storeIdFromText(pieces[0]) : FOLDERID_INVALID;
    MESSAGEID messageId = pieces.size() > 1 ? storeIdFromText(pieces[1]) : FOLDERID_INVALID;
    if (folderId == FOLDERID_INVALID || messageId == FOLDERID_INVALID)
        return {};
    try {
        if (!store)
            throw ComException(E_POINTER, "no mail store");
        com_ptr<IStoreFolder> folder;
        checkHr(store->OpenFolder(folderId, 0, folder.out()));
        com_ptr<IMimeMessage> message;
        checkHr(folder->OpenMessage(messageId, message.out()));
        return messageText(message.get());
    } catch (const ComException& e) {
        showComError(e, formatString("getFileContent(%s)", path.c_str()));
        return {};
    }
}

com_ptr<IStoreFolder> Net::holdFolder(const std::string& folder) const {
    STOREFOLDERID folderId = storeIdFromText(folder);
    if (folderId == FOLDERID_INVALID || !store)
        return {};
    return openFolder(store, folderId);
}

std::string Net::defaultFolder(const char* locKey) const {
    if (!store)
        return {};
    STOREFOLDERID main =
        findOrCreateFolder(store, FOLDERID_ROOT, locText("outlookexpress.folder.main"), true);
    STOREFOLDERID folder = findOrCreateFolder(store, main, locText(locKey), true);
    return formatString("%d", static_cast<int>(folder));
}

std::string Net::learnFolderIn(const NetFile& file) const {
    std::string folder = file.readText(sectionGlobal, "learnFolder", "");
    if (!folder.empty())
        return folder;
    return defaultFolder("outlookexpress.folder.learningset");
}

std::string Net::getLearnFolder() const {
    return learnFolderIn(NetFile(fileName));
}

bool Net::setLearnFolder(const std::string& folder) {
    return NetFile(fileName).writeText(sectionGlobal, "learnFolder", folder);
}

DateTime Net::getLearnDate() const {
    return NetFile(fileName).readDateTime(sectionHidden, "learnDate", 0);
}

// --- The learning run

double Net::learn(int hiddenCount, int iterations, ProgressCallback callback, int user,
                  double learningRate, double decay) {
    // A network the file could not give back would be lost at the next load.
    if (!isSaneNetworkSize(inputCount(), hiddenCount, outputCount()))
        throw Exception(formatString("a network of %d inputs, %d hidden units and %d outputs "
                                     "is too large to learn",
                                     inputCount(), hiddenCount, outputCount()));
    // The same learning set gives the same network in any thread and after any earlier
    // use of the generator (a loaded network drew from it).
    BackPropagation::restartRandom();
    BackPropagationPtr fresh(new BackPropagation(inputCount(), hiddenCount, outputCount()));
    network = fresh;
    fresh->setLearningRate(learningRate);
    fresh->setDecay(decay);
    std::string folder = getLearnFolder();
    com_ptr<IStoreFolder> held = holdFolder(folder);

    // Every message is read and matched once, in store order, before the first iteration
    // trains: the order of training needs all patterns.
    int count = iterations > 0 ? fileCount() : 0;
    std::vector<DoublePtr> inputVectors(count);
    std::vector<DoublePtr> targetVectors(count);
    for (int j = 0; j < count; ++j) {
        ref_ptr<FileData> entry = getFile(j);
        std::string text = getFileContent(folder + "/" + entry->getId());
        inputVectors[j] = getInputVector(text);
        targetVectors[j] = getTargetVector(entry.get());
        debugLog("file '%s' in '%s' out '%s'", entry->getId().c_str(),
                 levelPattern(inputVectors[j]).c_str(), levelPattern(targetVectors[j]).c_str());
    }
    LearningOrder order(inputVectors, targetVectors);
    double error = 0;
    for (int it = 0; it < iterations; ++it) {
        error = 0;
        for (int j : order.shuffled())
            error += fresh->train(inputVectors[j].get(), targetVectors[j].get());
        if (callback)
            callback(user, it, error);
    }
    inputVectors.clear();
    targetVectors.clear();
    if (callback)
        callback(user, iterations, error);
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

// --- The "settings" section

int Net::getJobVariant() const {
    return NetFile(fileName).readInt(sectionSettings, "jobvariant", 1);
}

bool Net::setJobVariant(int value) {
    return NetFile(fileName).writeInt(sectionSettings, "jobvariant", value);
}

int Net::getStoreMail() const {
    return NetFile(fileName).readInt(sectionSettings, "storemail", 1);
}

bool Net::setStoreMail(int value) {
    return NetFile(fileName).writeInt(sectionSettings, "storemail", value);
}

int Net::getEnabled() const {
    return NetFile(fileName).readInt(sectionSettings, "enabled", 1);
}

bool Net::setEnabled(int value) {
    return NetFile(fileName).writeInt(sectionSettings, "enabled", value);
}

int Net::getEnabledPeriod() const {
    return NetFile(fileName).readInt(sectionSettings, "enabled.period", 0);
}

bool Net::setEnabledPeriod(int value) {
    return NetFile(fileName).writeInt(sectionSettings, "enabled.period", value);
}

DateTime Net::getPeriodFrom() const {
    return NetFile(fileName).readDateTime(sectionSettings, "enabled.period.from", nowLocal());
}

bool Net::setPeriodFrom(DateTime value) {
    return NetFile(fileName).writeDateTime(sectionSettings, "enabled.period.from", value);
}

DateTime Net::getPeriodTo() const {
    return NetFile(fileName).readDateTime(sectionSettings, "enabled.period.to", nowLocal());
}

bool Net::setPeriodTo(DateTime value) {
    return NetFile(fileName).writeDateTime(sectionSettings, "enabled.period.to", value);
}

double Net::getThreshold() const {
    return NetFile(fileName).readReal(sectionSettings, "threshold", 80.0);
}

bool Net::setThreshold(double value) {
    return NetFile(fileName).writeReal(sectionSettings, "threshold", value);
}

std::string Net::getFrom() const {
    return NetFile(fileName).readText(sectionSettings, "from", "");
}

bool Net::setFrom(const std::string& value) {
    return NetFile(fileName).writeText(sectionSettings, "from", value);
}

std::string Net::getDestFolder() const {
    std::string folder = NetFile(fileName).readText(sectionSettings, "destFolder", "");
    if (!folder.empty())
        return folder;
    return defaultFolder("outlookexpress.folder.output");
}

bool Net::setDestFolder(const std::string& value) {
    return NetFile(fileName).writeText(sectionSettings, "destFolder", value);
}

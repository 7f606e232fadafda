#include "mail/NetExchange.h"

#include "util/ComException.h"
#include "util/DateTime.h"
#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "core/NetFile.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

using nlohmann::json;

namespace {

constexpr const char* formatName = "brevalo-net";
constexpr int formatVersion = 1;

// Calls visit with the key of every message of the net's learning folder, in store order.
template <typename Visit> void forEachKey(const Net& net, IStoreNamespace* store, Visit visit) {
    std::string folderText = net.getLearnFolder();
    com_ptr<IStoreFolder> folder = openFolder(store, storeIdFromText(folderText));
    if (!folder)
        return;
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        com_ptr<IMimeMessage> message;
        checkHr(folder->OpenMessage(storeIdFromText(entry->getId()), message.out()),
                formatString("open message %s of the learning folder", entry->getId().c_str()));
        visit(f, NetExchange::messageKey(message.get()));
    }
}

json networkJson(const BackPropagation& network) {
    json hidden = json::array(), output = json::array();
    for (int h = 0; h < network.getHiddenCount(); ++h)
        hidden.push_back(
            std::vector<double>(network.hwRow(h), network.hwRow(h) + network.getInputCount()));
    for (int o = 0; o < network.getOutputCount(); ++o)
        output.push_back(
            std::vector<double>(network.owRow(o), network.owRow(o) + network.getHiddenCount()));
    return {{"inputs", network.getInputCount()},
            {"hidden", network.getHiddenCount()},
            {"outputs", network.getOutputCount()},
            {"hiddenWeights", hidden},
            {"hiddenBiases",
             std::vector<double>(network.getHb(), network.getHb() + network.getHiddenCount())},
            {"outputWeights", output},
            {"outputBiases",
             std::vector<double>(network.getOb(), network.getOb() + network.getOutputCount())}};
}

void copyRow(const json& values, double* into, int count, const char* what) {
    if (!values.is_array() || static_cast<int>(values.size()) != count)
        throw Exception(formatString("the network's %s do not fit its sizes", what));
    for (int i = 0; i < count; ++i)
        into[i] = values[static_cast<std::size_t>(i)].get<double>();
}

BackPropagationPtr networkOf(const json& value, int inputs, int outputs) {
    if (value.is_null())
        return nullptr;
    int in = value.at("inputs").get<int>(), hidden = value.at("hidden").get<int>(),
        out = value.at("outputs").get<int>();
    if (in != inputs || out != outputs || hidden < 1 || !isSaneNetworkSize(in, hidden, out))
        throw Exception("the network does not fit the stimulations and folders");
    BackPropagationPtr network(new BackPropagation(in, hidden, out));
    const json& hw = value.at("hiddenWeights");
    const json& ow = value.at("outputWeights");
    if (!hw.is_array() || static_cast<int>(hw.size()) != hidden || !ow.is_array() ||
        static_cast<int>(ow.size()) != out)
        throw Exception("the network's weights do not fit its sizes");
    for (int h = 0; h < hidden; ++h)
        copyRow(hw[static_cast<std::size_t>(h)], network->hwRow(h), in, "weights");
    for (int o = 0; o < out; ++o)
        copyRow(ow[static_cast<std::size_t>(o)], network->owRow(o), hidden, "weights");
    copyRow(value.at("hiddenBiases"), network->getHb(), hidden, "biases");
    copyRow(value.at("outputBiases"), network->getOb(), out, "biases");
    return network;
}

} // namespace

std::string NetExchange::messageKey(IMimeMessage* message) {
    std::string id;
    if (SUCCEEDED(message->GetHeader("Message-ID", &id))) {
        id = trimText(id);
        if (!id.empty())
            return id;
    }
    std::string digest;
    checkHr(message->GetContentDigest(&digest), "digest of a learning message");
    return "sha256:" + digest;
}

std::string NetExchange::exportNet(const Net& net, IStoreNamespace* store) {
    json stimulations = json::array(), folders = json::array(), assignments = json::array();
    for (int i = 0; i < net.inputCount(); ++i)
        stimulations.push_back(
            {{"name", net.getInput(i)->getName()}, {"patterns", net.getInput(i)->getRegexes()}});
    for (int o = 0; o < net.outputCount(); ++o) {
        ref_ptr<NeuronOut> folder = net.getOutput(o);
        folders.push_back({{"name", folder->getName()},
                           {"answer", folder->getAnswer()},
                           {"addresses", folder->getEmails()}});
    }
    std::vector<std::pair<std::string, std::vector<int>>> keyed;
    forEachKey(net, store, [&](int f, const std::string& key) {
        ref_ptr<FileData> entry = net.getFile(f);
        std::vector<int> targets;
        for (int t = 0; t < entry->targetCount(); ++t) {
            int index = net.indexOfOutput(entry->getTarget(t).get());
            if (index >= 0)
                targets.push_back(index);
        }
        if (!targets.empty())
            keyed.emplace_back(key, std::move(targets));
    });
    std::stable_sort(keyed.begin(), keyed.end());
    for (const auto& [key, targets] : keyed)
        assignments.push_back({{"message", key}, {"folders", targets}});
    NetSettings::Values values = net.settings().read();
    json settings = {{"jobvariant", values.jobVariant},
                     {"storemail", values.storeMail},
                     {"enabled", values.enabled},
                     {"enabled.period", values.enabledPeriod},
                     {"enabled.period.from", formatTimeStamp(values.periodFrom)},
                     {"enabled.period.to", formatTimeStamp(values.periodTo)},
                     {"threshold", net.getThreshold()},
                     {"from", values.from}};
    json document = {{"format", formatName},
                     {"version", formatVersion},
                     {"stimulations", stimulations},
                     {"folders", folders},
                     {"settings", settings},
                     {"network", net.isLearned() ? networkJson(*net.getNetwork()) : json()},
                     {"learningSet", assignments}};
    return document.dump(2) + "\n";
}

NetImport NetExchange::importNet(const std::string& text, Net& net, IStoreNamespace* store) {
    // Everything is read and checked before the net changes.
    std::vector<ref_ptr<NeuronIn>> inputs;
    std::vector<ref_ptr<NeuronOut>> outputs;
    std::multimap<std::string, std::vector<int>> wanted;
    NetSettings::Values values;
    double threshold = 80;
    BackPropagationPtr network;
    try {
        json document = json::parse(text);
        if (document.at("format") != formatName || document.at("version") != formatVersion)
            throw Exception("it is no net of this program's format");
        for (const json& stimulation : document.at("stimulations")) {
            ref_ptr<NeuronIn> neuron(new NeuronIn(stimulation.at("name").get<std::string>()));
            for (const json& pattern : stimulation.at("patterns"))
                neuron->addRegex(pattern.get<std::string>());
            inputs.push_back(neuron);
        }
        for (const json& folder : document.at("folders")) {
            ref_ptr<NeuronOut> neuron(new NeuronOut(folder.at("name").get<std::string>()));
            neuron->setAnswer(folder.at("answer").get<std::string>());
            neuron->setEmails(folder.at("addresses").get<std::vector<std::string>>());
            outputs.push_back(neuron);
        }
        for (const json& assignment : document.at("learningSet")) {
            std::vector<int> targets = assignment.at("folders").get<std::vector<int>>();
            for (int index : targets)
                if (index < 0 || index >= static_cast<int>(outputs.size()))
                    throw Exception(formatString("an assignment names folder %d of %zu", index,
                                                 outputs.size()));
            wanted.emplace(assignment.at("message").get<std::string>(), targets);
        }
        const json& settings = document.at("settings");
        values.jobVariant = settings.at("jobvariant").get<int>();
        values.storeMail = settings.at("storemail").get<int>();
        values.enabled = settings.at("enabled").get<int>();
        values.enabledPeriod = settings.at("enabled.period").get<int>();
        // As the net file keeps them: to the second.
        values.periodFrom =
            parseTimeStamp(settings.at("enabled.period.from").get<std::string>(), nowLocal());
        values.periodTo =
            parseTimeStamp(settings.at("enabled.period.to").get<std::string>(), nowLocal());
        values.from = settings.at("from").get<std::string>();
        threshold = settings.at("threshold").get<double>();
        network = networkOf(document.at("network"), static_cast<int>(inputs.size()),
                            static_cast<int>(outputs.size()));
    } catch (const json::exception& e) {
        throw Exception(std::string("it is no net: ") + e.what());
    }
    while (net.inputCount() > 0)
        net.removeInput(0);
    while (net.outputCount() > 0)
        net.removeOutput(0);
    for (const ref_ptr<NeuronIn>& neuron : inputs)
        net.addInput(neuron.get());
    for (const ref_ptr<NeuronOut>& neuron : outputs)
        net.addOutput(neuron.get());
    net.setNetwork(network);
    net.loadLearningSet();
    // The file's assignments name the folders it held before.
    for (int f = 0; f < net.fileCount(); ++f)
        while (net.getFile(f)->targetCount() > 0)
            net.getFile(f)->removeTarget(0);
    NetImport result;
    forEachKey(net, store, [&](int f, const std::string& key) {
        ref_ptr<FileData> entry = net.getFile(f);
        auto found = wanted.find(key);
        if (found == wanted.end())
            return;
        for (int index : found->second)
            entry->addTarget(outputs[static_cast<std::size_t>(index)].get());
        wanted.erase(found); // a second message of that key takes the next assignment
        ++result.linked;
    });
    for (const auto& entry : wanted)
        result.missing.push_back(entry.first);
    std::string failure;
    if (!net.save(&failure) || !net.settings().write(values) || !net.setThreshold(threshold))
        throw Exception("the net file could not be written" +
                        (failure.empty() ? std::string() : ": " + failure));
    return result;
}

#include "mail/NetExchange.h"

#include "util/ComException.h"
#include "util/DateTime.h"
#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/Mime.h"
#include "platform/profile/ProfileBatch.h"
#include "core/HeaderField.h"
#include "core/NetFile.h"
#include "core/Net.h"
#include "mail/StoreAccess.h"
#include "mail/TargetFolderName.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
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

// The net's longest text (a pattern, an answer): a net is made by hand.
constexpr std::size_t maxText = 1 << 16;
// The longest an address or the sender may be: one header line.
constexpr std::size_t maxAddress = 998;
// A field of the text that cannot be taken: where it is ("folders[3].name") and why.
Exception badField(const std::string& path, const std::string& problem) {
    return Exception(path + ": " + problem);
}

std::string at(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

const json& member(const json& object, const std::string& path, const char* key) {
    if (!object.is_object())
        throw badField(path.empty() ? std::string("the text") : path, "is no object");
    auto found = object.find(key);
    std::string name = path.empty() ? std::string(key) : path + "." + key;
    if (found == object.end())
        throw badField(name, "is missing");
    return *found;
}

const json& arrayOf(const json& value, const std::string& path, std::size_t most) {
    if (!value.is_array())
        throw badField(path, "is no list");
    if (value.size() > most)
        throw badField(path, formatString("holds %zu entries, more than %zu", value.size(), most));
    return value;
}

std::string textOf(const json& value, const std::string& path, std::size_t most = maxText) {
    if (!value.is_string())
        throw badField(path, "is no text");
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() > most)
        throw badField(path, formatString("is longer than %zu bytes", most));
    if (text.find('\0') != std::string::npos)
        throw badField(path, "holds a NUL character");
    return text;
}

// One line of a header: no line break may end it early and start a field of its own.
std::string lineOf(const json& value, const std::string& path) {
    std::string text = textOf(value, path, maxAddress);
    if (text.find_first_of("\r\n") != std::string::npos)
        throw badField(path, "holds a line break");
    return text;
}

// The range is checked on the JSON number itself: converting one out of range (or a
// fraction) to an integer first would be undefined.
int wholeNumber(const json& value, const std::string& path, int least, int most) {
    bool fits = false;
    if (value.is_number_unsigned())
        fits = value.get<std::uint64_t>() <= static_cast<std::uint64_t>(most) &&
               static_cast<std::int64_t>(value.get<std::uint64_t>()) >= least;
    else if (value.is_number_integer())
        fits = value.get<std::int64_t>() >= least && value.get<std::int64_t>() <= most;
    else if (value.is_number_float()) {
        double number = value.get<double>();
        fits = std::isfinite(number) && number >= least && number <= most &&
               std::floor(number) == number;
    }
    if (!fits)
        throw badField(path, formatString("is not a whole number from %d to %d", least, most));
    return static_cast<int>(value.get<double>());
}

double finiteNumber(const json& value, const std::string& path) {
    if (!value.is_number())
        throw badField(path, "is no number");
    double number = value.get<double>();
    if (!std::isfinite(number))
        throw badField(path, "is not finite");
    return number;
}

// The time as the net file keeps it ("20050305140709"), or empty for the default.
DateTime timeOf(const json& value, const std::string& path) {
    std::string text = textOf(value, path, 14);
    DateTime time = parseTimeStamp(text, nowLocal());
    if (!text.empty() && formatTimeStamp(time) != text)
        throw badField(path, "is no time stamp of 14 digits (YYYYMMDDhhmmss)");
    return time;
}

// A folder the sorter creates under the root target folder by this name.
std::string folderNameOf(const json& value, const std::string& path) {
    std::string name = textOf(value, path);
    std::string problem = TargetFolderName::problem(name);
    if (!problem.empty())
        throw badField(path, problem);
    return name;
}

void copyRow(const json& values, const std::string& path, double* into, int count) {
    arrayOf(values, path, static_cast<std::size_t>(count) + 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        double number = finiteNumber(values[i], at(path, i));
        if (i < static_cast<std::size_t>(count))
            into[i] = number;
    }
    if (static_cast<int>(values.size()) != count)
        throw badField(path, formatString("holds %zu numbers instead of %d", values.size(), count));
}

BackPropagationPtr networkOf(const json& value, int inputs, int outputs) {
    if (value.is_null())
        return nullptr;
    const std::string path = "network";
    int in = wholeNumber(member(value, path, "inputs"), "network.inputs", 0, maxNetworkCount);
    int out = wholeNumber(member(value, path, "outputs"), "network.outputs", 0, maxNetworkCount);
    int hidden = wholeNumber(member(value, path, "hidden"), "network.hidden", 1, maxNetworkCount);
    if (in != inputs)
        throw badField("network.inputs",
                       formatString("is %d, but there are %d stimulations", in, inputs));
    if (out != outputs)
        throw badField("network.outputs",
                       formatString("is %d, but there are %d folders", out, outputs));
    if (!isSaneNetworkSize(in, hidden, out))
        throw badField("network.hidden", formatString("%d hidden units make more weights than "
                                                      "a net may hold",
                                                      hidden));
    BackPropagationPtr network(new BackPropagation(in, hidden, out));
    const json& hw = arrayOf(member(value, path, "hiddenWeights"), "network.hiddenWeights",
                             static_cast<std::size_t>(hidden));
    const json& ow = arrayOf(member(value, path, "outputWeights"), "network.outputWeights",
                             static_cast<std::size_t>(out));
    if (static_cast<int>(hw.size()) != hidden)
        throw badField("network.hiddenWeights",
                       formatString("holds %zu rows instead of %d", hw.size(), hidden));
    if (static_cast<int>(ow.size()) != out)
        throw badField("network.outputWeights",
                       formatString("holds %zu rows instead of %d", ow.size(), out));
    for (int h = 0; h < hidden; ++h)
        copyRow(hw[static_cast<std::size_t>(h)],
                at("network.hiddenWeights", static_cast<std::size_t>(h)), network->hwRow(h), in);
    for (int o = 0; o < out; ++o)
        copyRow(ow[static_cast<std::size_t>(o)],
                at("network.outputWeights", static_cast<std::size_t>(o)), network->owRow(o),
                hidden);
    copyRow(member(value, path, "hiddenBiases"), "network.hiddenBiases", network->getHb(), hidden);
    copyRow(member(value, path, "outputBiases"), "network.outputBiases", network->getOb(), out);
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
    for (int i = 0; i < net.inputCount(); ++i) {
        ref_ptr<NeuronIn> input = net.getInput(i);
        json stimulation = {{"name", input->getName()}, {"patterns", input->getRegexes()}};
        // Only where it looks elsewhere than the body, as in the net file.
        if (!input->getField().empty())
            stimulation["field"] = input->getField();
        stimulations.push_back(stimulation);
    }
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
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        throw Exception(std::string("it is no net: ") + e.what());
    }
    if (!document.is_object() || document.value("format", json()) != formatName ||
        document.value("version", json()) != formatVersion)
        throw Exception("it is no net of this program's format");
    const std::size_t most = maxNetworkCount;
    const json& stimulations = arrayOf(member(document, "", "stimulations"), "stimulations", most);
    for (std::size_t i = 0; i < stimulations.size(); ++i) {
        std::string path = at("stimulations", i);
        ref_ptr<NeuronIn> neuron(
            new NeuronIn(textOf(member(stimulations[i], path, "name"), path + ".name")));
        const json& patterns =
            arrayOf(member(stimulations[i], path, "patterns"), path + ".patterns", most);
        for (std::size_t p = 0; p < patterns.size(); ++p)
            neuron->addRegex(textOf(patterns[p], at(path + ".patterns", p)));
        if (stimulations[i].contains("field")) {
            bool valid = false;
            std::string field = HeaderField::normalize(
                textOf(stimulations[i]["field"], path + ".field", maxAddress), &valid);
            if (!valid)
                throw badField(path + ".field",
                               "is none of body, subject, sender, recipients, list, header:Name");
            neuron->setField(field);
        }
        inputs.push_back(neuron);
    }
    const json& folders = arrayOf(member(document, "", "folders"), "folders", most);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        std::string path = at("folders", i);
        ref_ptr<NeuronOut> neuron(
            new NeuronOut(folderNameOf(member(folders[i], path, "name"), path + ".name")));
        neuron->setAnswer(textOf(member(folders[i], path, "answer"), path + ".answer"));
        const json& addresses =
            arrayOf(member(folders[i], path, "addresses"), path + ".addresses", most);
        std::vector<std::string> emails;
        for (std::size_t a = 0; a < addresses.size(); ++a) {
            std::string address = lineOf(addresses[a], at(path + ".addresses", a));
            // The net file keeps a folder's addresses joined by ";".
            if (address.find(';') != std::string::npos)
                throw badField(at(path + ".addresses", a), "holds a \";\"");
            emails.push_back(address);
        }
        neuron->setEmails(emails);
        outputs.push_back(neuron);
    }
    const int folderCount = static_cast<int>(outputs.size());
    const json& assignments = arrayOf(member(document, "", "learningSet"), "learningSet",
                                      std::numeric_limits<std::size_t>::max());
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        std::string path = at("learningSet", i);
        const json& indexes =
            arrayOf(member(assignments[i], path, "folders"), path + ".folders", most);
        std::vector<int> targets;
        for (std::size_t t = 0; t < indexes.size(); ++t) {
            std::string where = at(path + ".folders", t);
            int index = wholeNumber(indexes[t], where, 0, maxNetworkCount);
            if (index >= folderCount)
                throw badField(where, formatString("names folder %d, but there are %d, numbered "
                                                   "from 0",
                                                   index, folderCount));
            targets.push_back(index);
        }
        wanted.emplace(textOf(member(assignments[i], path, "message"), path + ".message"), targets);
    }
    const json& settings = member(document, "", "settings");
    auto setting = [&](const char* key) -> const json& {
        return member(settings, "settings", key);
    };
    auto name = [](const char* key) { return std::string("settings.") + key; };
    values.jobVariant = wholeNumber(setting("jobvariant"), name("jobvariant"), 1, 3);
    values.storeMail = wholeNumber(setting("storemail"), name("storemail"), 0, 1);
    values.enabled = wholeNumber(setting("enabled"), name("enabled"), 0, 1);
    values.enabledPeriod = wholeNumber(setting("enabled.period"), name("enabled.period"), 0, 1);
    values.periodFrom = timeOf(setting("enabled.period.from"), name("enabled.period.from"));
    values.periodTo = timeOf(setting("enabled.period.to"), name("enabled.period.to"));
    values.from = lineOf(setting("from"), name("from"));
    threshold = finiteNumber(setting("threshold"), name("threshold"));
    if (threshold < 0 || threshold > 100)
        throw badField(name("threshold"), "is not a percentage from 0 to 100");
    network =
        networkOf(member(document, "", "network"), static_cast<int>(inputs.size()), folderCount);
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
    // One replacement of the file: a reader, or a kill, sees the old net or the new one,
    // never the new folders with the old settings.
    ProfileBatch batch(net.getFileName());
    NetFile file(net.getFileName(), &batch);
    net.write(file);
    NetSettings::write(file, values);
    NetSettings::writeThreshold(file, threshold);
    if (!batch.commit())
        throw Exception("the net file could not be written: " + batch.error());
    return result;
}

#include "util/ComPtr.h"
#include "util/ErrorReport.h"
#include "util/Exception.h"
#include "util/Log.h"
#include "util/Text.h"
#include "platform/ComInit.h"
#include "platform/Mime.h"
#include "platform/maildir/MaildirNames.h"
#include "platform/maildir/MaildirUidList.h"
#include "platform/profile/Loc.h"
#include "core/Net.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "core/Stimulation.h"
#include "mail/HtmlText.h"
#include "mail/MessageText.h"
#include "mail/StoreAccess.h"
#include "mail/StoreMessages.h"
#include "sorting/ProgramEnvironment.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// Builds a learned net over a fresh store for the whole-command benchmarks, as a person
// would in the configuration and learning windows: the learning messages are put into a
// learning folder, the stimulations and target folders are added, each learning message is
// assigned to its folders, the net is learned and saved. The store is $MAILDIR and the net
// file "zelko.ini" in $BREVALO_HOME, as for brevalo-cli. The learning messages are copied
// under names "<line>.bench", so the folder's id list maps each store id back to its line.

namespace fs = std::filesystem;

namespace {

const char* const usage =
    "Usage: bench_net --stimulations FILE --learning FILE [--first-match] [--hidden N]\n"
    "                 [--iterations N] [--threshold P] [--drop-unmatched]\n"
    "Builds the net $BREVALO_HOME/zelko.ini over a new store in $MAILDIR.\n"
    "  --stimulations  one stimulation a line: its name, then its patterns, tab-separated\n"
    "  --learning      one learning message a line: a message file, a tab, the names of its\n"
    "                  target folders separated by commas (none: assigned to no folder); the\n"
    "                  folders become the outputs in the order they first appear\n"
    "  --first-match   one target folder per stimulation, named after it, instead; each\n"
    "                  message is assigned to the folder of the first stimulation matching it\n"
    "                  (none: no folder), as a filter of rules in that order delivers it\n"
    "  --hidden        hidden units (default (stimulations + folders) / 2, at least 4)\n"
    "  --iterations    learning iterations (default 500; 0 saves the net unlearned)\n"
    "  --threshold     the net's threshold in percent (default: the net's own)\n"
    "  --drop-unmatched  first remove the learning messages no stimulation matches, so\n"
    "                  that the learning-set check passes\n"
    "   or: bench_net --vectors FILE\n"
    "Prints, for every message of FILE (lines as --learning), its targets, a tab and its\n"
    "input vector under the net $BREVALO_HOME/zelko.ini (one 0 or 1 per stimulation): the\n"
    "inputs the net sees, for other learners.\n";

struct Options {
    std::string stimulations, learning;
    int hidden = 0, iterations = 500;
    double threshold = -1;
    bool dropUnmatched = false;
    bool firstMatch = false;
};

struct LearningMessage {
    std::string path;
    std::vector<std::string> targets;
};

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "bench_net: %s\n", text.c_str());
    std::exit(1);
}

std::vector<std::vector<std::string>> readTabbedLines(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        fail("cannot read " + path);
    std::vector<std::vector<std::string>> lines;
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            lines.push_back(splitText(line, "\t"));
    return lines;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(argument + " needs a value");
            return argv[++i];
        };
        if (argument == "--stimulations")
            options.stimulations = value();
        else if (argument == "--learning")
            options.learning = value();
        else if (argument == "--hidden")
            options.hidden = toInt(value(), -1);
        else if (argument == "--iterations")
            options.iterations = toInt(value(), -1);
        else if (argument == "--threshold")
            options.threshold = std::atof(value().c_str());
        else if (argument == "--first-match")
            options.firstMatch = true;
        else if (argument == "--help") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (argument == "--drop-unmatched")
            options.dropUnmatched = true;
        else
            fail("unknown option " + argument);
    }
    if (options.stimulations.empty() || options.learning.empty())
        fail("--stimulations FILE and --learning FILE are needed");
    if (options.hidden < 0 || options.iterations < 0)
        fail("--hidden and --iterations take whole numbers");
    return options;
}

// The learning messages' store ids: each file was named "<index>.bench", so the folder's
// id list maps every id back to the line of the learning file.
std::map<std::string, int> indexById(const std::string& folderPath) {
    MaildirUidList ids(folderPath);
    if (FAILED(ids.sync()))
        fail("cannot list " + folderPath);
    std::map<std::string, int> index;
    for (const MaildirMessage& message : ids.messages())
        index[std::to_string(message.id)] =
            toInt(message.fileName.substr(0, message.fileName.find('.')), -1);
    return index;
}

int build(const ProgramEnvironment& environment, const Options& options) {
    if (fs::exists(environment.netFile()))
        fail(environment.netFile() + " exists already; name an empty BREVALO_HOME");
    auto started = std::chrono::steady_clock::now();
    // A new store, made as a person makes an empty Maildir: brevalo-cli opens only stores
    // that exist.
    std::error_code made;
    fs::create_directories(environment.home, made);
    for (const char* part : {"cur", "new", "tmp"})
        fs::create_directories(fs::path(environment.storeRoot) / part, made);
    StoreConnection connection = connectStore(environment.storeRoot);
    ref_ptr<Net> net(new Net(environment.netFile(), StoreMessages::of(connection.store.get())));
    net->load();

    STOREFOLDERID learnId =
        findOrCreateFolder(connection.store.get(), FOLDERID_ROOT, "Learn", true);
    std::string learnPath = environment.storeRoot + "/" + MaildirNames::childDirName("", "Learn");
    std::vector<LearningMessage> learning;
    for (const std::vector<std::string>& line : readTabbedLines(options.learning)) {
        LearningMessage message{line[0], {}};
        if (line.size() > 1)
            for (const std::string& target : splitText(line[1], ","))
                if (!target.empty())
                    message.targets.push_back(target);
        std::string name = std::to_string(learning.size()) + ".bench:2,S";
        std::error_code error;
        fs::copy_file(message.path, learnPath + "/cur/" + name, error);
        if (error)
            fail("cannot copy " + message.path + ": " + error.message());
        learning.push_back(message);
    }

    for (const std::vector<std::string>& line : readTabbedLines(options.stimulations)) {
        NeuronIn* input = new NeuronIn(line[0]);
        for (std::size_t p = 1; p < line.size(); ++p)
            input->addRegex(line[p]);
        net->addInput(input);
    }
    std::map<std::string, NeuronOut*> outputs;
    if (options.firstMatch)
        for (int i = 0; i < net->inputCount(); ++i) {
            std::string name = net->getInput(i)->getName();
            outputs[name] = net->addOutput(new NeuronOut(name)).get();
        }
    else
        for (const LearningMessage& message : learning)
            for (const std::string& target : message.targets)
                if (!outputs.count(target))
                    outputs[target] = net->addOutput(new NeuronOut(target)).get();

    net->setLearnFolder(std::to_string(learnId));
    net->loadLearningSet();
    if (net->fileCount() != static_cast<int>(learning.size()))
        fail(formatString("the learning folder lists %d messages, not %zu", net->fileCount(),
                          learning.size()));
    std::map<std::string, int> index = indexById(learnPath);

    int dropped = 0;
    if (options.dropUnmatched) {
        std::shared_ptr<void> held = net->holdFolder(net->getLearnFolder());
        std::set<std::string> unmatched;
        for (int f = 0; f < net->fileCount(); ++f) {
            std::string id = net->getFile(f)->getId();
            if (!net->anyStimulationMatches(net->getFileContent(net->getLearnFolder() + "/" + id)))
                unmatched.insert(id);
        }
        MaildirUidList ids(learnPath);
        ids.sync();
        for (const MaildirMessage& message : ids.messages())
            if (unmatched.count(std::to_string(message.id)))
                fs::remove(learnPath + "/" + message.subdir + "/" + message.fileName);
        dropped = static_cast<int>(unmatched.size());
        held.reset();
        net->loadLearningSet();
    }

    std::shared_ptr<void> held = net->holdFolder(net->getLearnFolder());
    for (int f = 0; f < net->fileCount(); ++f) {
        ref_ptr<FileData> entry = net->getFile(f);
        if (options.firstMatch) {
            std::string text = net->getFileContent(net->getLearnFolder() + "/" + entry->getId());
            for (int i = 0; i < net->inputCount(); ++i)
                if (net->getInput(i)->matches(text)) {
                    entry->addTarget(net->getOutput(i).get());
                    break;
                }
            continue;
        }
        auto found = index.find(entry->getId());
        if (found == index.end() || found->second < 0 ||
            found->second >= static_cast<int>(learning.size()))
            fail("learning message " + entry->getId() + " is not one of ours");
        for (const std::string& target : learning[found->second].targets)
            entry->addTarget(outputs[target]);
    }
    held.reset();

    double error = 0;
    int hidden =
        options.hidden ? options.hidden : std::max(4, (net->inputCount() + net->outputCount()) / 2);
    if (options.iterations > 0)
        error = net->learn(hidden, options.iterations, nullptr, 0, 0.3, 1.0);
    net->setJobVariant(1);
    net->setEnabled(1);
    if (options.threshold >= 0)
        net->setThreshold(options.threshold);
    if (!net->save())
        fail("cannot save " + environment.netFile());
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("net: %d stimulations, %d folders, %d learning messages (%d unmatched dropped), "
                "%s, %.1f s\n",
                net->inputCount(), net->outputCount(), net->fileCount(), dropped,
                options.iterations > 0
                    ? formatString("learned %d-%d-%d, %d iterations, error %.4f", net->inputCount(),
                                   hidden, net->outputCount(), options.iterations, error)
                          .c_str()
                    : "not learned",
                seconds);
    return 0;
}

// The net's input vectors of the messages of the list, one line each.
int printVectors(const ProgramEnvironment& environment, const std::string& list) {
    ref_ptr<Net> net(new Net(environment.netFile(), nullptr));
    net->load();
    for (const std::vector<std::string>& line : readTabbedLines(list)) {
        com_ptr<IMimeMessage> message;
        FILETIME received{};
        checkHr(MimeOleLoadMessageFile(line[0], received, message.out()), "read " + line[0]);
        DoublePtr input = net->getInputVector(messageText(message.get()));
        std::string bits;
        for (int i = 0; i < net->inputCount(); ++i)
            bits += input[i] >= levelHigh ? '1' : '0';
        std::printf("%s\t%s\n", line.size() > 1 ? line[1].c_str() : "", bits.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool vectors = argc == 3 && std::string(argv[1]) == "--vectors";
    Options options = vectors ? Options{} : parse(argc, argv);
    ProgramEnvironment environment =
        ProgramEnvironment::fromProcess(ProgramEnvironment::executableFolder());
    // The learning run logs every message; the benchmark script wants the summary only.
    setLogToStderr(false);
    CoInitialize(nullptr);
    initMessageAccess();
    locOpen(environment.stringsFile());
    int status = 1;
    try {
        status = vectors ? printVectors(environment, argv[2]) : build(environment, options);
    } catch (const ComException& e) {
        fail(comErrorText(e));
    } catch (const Exception& e) {
        fail(e.what());
    }
    finalizeMessageAccess();
    CoUninitialize();
    return status;
}

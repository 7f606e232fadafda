// The net built on the command line, as the configuration window builds it: target
// folders, stimulations and the learning messages' folders.
#include "util/ComException.h"
#include "util/ErrorReport.h"
#include "util/Text.h"
#include "core/HeaderField.h"
#include "core/NetFile.h"
#include "core/NeuronIn.h"
#include "core/NeuronOut.h"
#include "core/Stimulation.h"
#include "mail/LearningAssignment.h"
#include "mail/TargetFolderName.h"
#include "cli/CliSession.h"
#include "cli/CommandUsages.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A stranger's text is bounded: a pattern or an answer is written by hand, an address is
// one header line.
constexpr std::size_t maxText = 1 << 16;
constexpr std::size_t maxAddress = 998;

// The text for a message: a name cut to a sensible length, control characters shown.
std::string shown(const std::string& text) {
    std::string out;
    for (char c : text.substr(0, 200))
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    return "'" + out + (text.size() > 200 ? "...'" : "'");
}

int failed(const char* command, const std::string& message) {
    std::fprintf(stderr, "brevalo-cli %s: %s\n", command, message.c_str());
    return exitFailed;
}

int findOutput(const Net& net, const std::string& name) {
    for (int o = 0; o < net.outputCount(); ++o)
        if (net.getOutput(o)->getName() == name)
            return o;
    for (int o = 0; o < net.outputCount(); ++o)
        if (trimText(net.getOutput(o)->getName()) == trimText(name))
            return o;
    return -1;
}

int findInput(const Net& net, const std::string& name) {
    for (int i = 0; i < net.inputCount(); ++i)
        if (net.getInput(i)->getName() == name)
            return i;
    return -1;
}

// A folder or stimulation added or removed changes what the network's outputs or inputs
// mean: the old network, even where its sizes still fit, would sort into the wrong folders.
const char* const notLearned =
    "the net is not learned now: mail stays in the inbox until brevalo-cli learn";

void forgetNetwork(Net& net) {
    net.setNetwork(nullptr);
}

int save(const ProgramEnvironment& environment, Net& net, const char* command) {
    std::string failure;
    if (net.save(&failure))
        return exitOk;
    return failed(command, "cannot save the net to " + environment.netFile() + ": " + failure +
                               "; the net file keeps what it held before");
}

// The action word and the operands after it; false (status set) after --help or bad usage.
struct Reading {
    std::string action;
    std::vector<std::string> operands;
    std::vector<std::string> addresses;
    std::string answer;
    bool answerGiven = false;
    std::string field;
    bool fieldGiven = false;
    int status = exitOk;
};

bool readActionAndOperands(const char* command, const Arguments& arguments,
                           std::vector<OptionReader::Option> known, Reading& reading) {
    OptionReader options(command, arguments, std::move(known), true);
    while (options.next()) {
        if (options.isOperand()) {
            if (reading.action.empty())
                reading.action = options.value();
            else
                reading.operands.push_back(options.value());
        } else if (options.is("--address")) {
            reading.addresses.push_back(options.value());
        } else if (options.is("--answer")) {
            reading.answer = options.value();
            reading.answerGiven = true;
        } else if (options.is("--field")) {
            reading.field = options.value();
            reading.fieldGiven = true;
        }
    }
    if (!options.finished()) {
        bool list = reading.action == "list";
        if (reading.action != "add" && reading.action != "remove" && !list)
            options.fail("name the action: add, remove or list");
        else if (!list && reading.operands.empty())
            options.fail("name the " + std::string(command) + " to " + reading.action);
        else if (std::string(command) == "folder" && reading.operands.size() > (list ? 0 : 1))
            options.fail("unexpected argument " + shown(reading.operands.back()));
        else if ((reading.action != "add" || list) &&
                 (!reading.addresses.empty() || reading.answerGiven))
            options.fail("--address and --answer go with add");
        else if (reading.action != "add" && reading.fieldGiven)
            options.fail("--field goes with add");
    }
    reading.status = options.exitStatus();
    return !options.finished();
}

int listFolders(const Net& net) {
    if (net.outputCount() == 0)
        std::printf("The net has no target folder yet: brevalo-cli folder add NAME\n");
    for (int o = 0; o < net.outputCount(); ++o) {
        ref_ptr<NeuronOut> folder = net.getOutput(o);
        std::string addresses;
        for (const std::string& address : folder->getEmails())
            addresses += (addresses.empty() ? "" : ", ") + address;
        std::printf("%s\t%s%s\n", folder->getName().c_str(),
                    addresses.empty() ? "(no address)" : addresses.c_str(),
                    folder->getAnswer().empty() ? "" : "\t(answers the sender)");
    }
    return exitOk;
}

int listStimulations(const Net& net) {
    if (net.inputCount() == 0)
        std::printf(
            "The net has no stimulation yet: brevalo-cli stimulation add NAME PATTERN...\n");
    for (int i = 0; i < net.inputCount(); ++i) {
        ref_ptr<NeuronIn> stimulation = net.getInput(i);
        const std::string& field = stimulation->getField();
        // The body, where most look, goes without saying.
        if (field.empty())
            std::printf("%s\n", stimulation->getName().c_str());
        else
            std::printf("%s\t(looks at %s)\n", stimulation->getName().c_str(), field.c_str());
        for (const std::string& pattern : stimulation->getRegexes())
            std::printf("\t%s\n", pattern.c_str());
    }
    return exitOk;
}

} // namespace

int folderCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    Reading reading;
    if (!readActionAndOperands("folder", arguments, {{"--address", true}, {"--answer", true}},
                               reading))
        return reading.status;
    const std::string name = reading.operands.empty() ? "" : reading.operands.front();
    if (reading.action == "add") {
        std::string problem = TargetFolderName::problem(name);
        if (problem.empty() && trimText(name).empty())
            problem = "is blank";
        if (!problem.empty())
            return failed("folder", "the name " + shown(name) + " " + problem);
        for (const std::string& address : reading.addresses)
            if (address.empty() || address.size() > maxAddress ||
                address.find_first_of("\r\n;") != std::string::npos)
                return failed("folder", "the address " + shown(address) +
                                            " is no address of one line without \";\"");
        if (reading.answer.size() > maxText)
            return failed("folder", "the answer is longer than 65536 bytes");
    }
    CliSession session(environment);
    if (int status = reading.action == "list" ? session.open() : session.openForChange())
        return status;
    Net& net = *session.net();
    if (reading.action == "list")
        return listFolders(net);
    int index = findOutput(net, name);
    if (reading.action == "remove") {
        if (index < 0)
            return failed("folder", "the net has no target folder named " + shown(name));
        net.removeOutput(index);
        forgetNetwork(net);
        if (int status = save(environment, net, "folder"))
            return status;
        std::printf("removed the target folder %s; its learning messages keep their other "
                    "folders; %s\n",
                    shown(name).c_str(), notLearned);
        return exitOk;
    }
    if (index >= 0)
        return failed("folder", "the net has a target folder named " + shown(name) + " already");
    ref_ptr<NeuronOut> folder(new NeuronOut(name));
    folder->setEmails(reading.addresses);
    folder->setAnswer(reading.answer);
    net.addOutput(folder.get());
    forgetNetwork(net);
    if (int status = save(environment, net, "folder"))
        return status;
    std::printf("added the target folder %s; give it learning messages: brevalo-cli assign %s "
                "MESSAGE... (or --from-folder STOREFOLDER %s); %s\n",
                shown(name).c_str(), shown(name).c_str(), shown(name).c_str(), notLearned);
    return exitOk;
}

int stimulationCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    Reading reading;
    if (!readActionAndOperands("stimulation", arguments, {{"--field", true}}, reading))
        return reading.status;
    bool fieldValid = true;
    std::string field = HeaderField::normalize(reading.field, &fieldValid);
    if (!fieldValid)
        return failed("stimulation", "the field " + shown(reading.field) +
                                         " is none of body, subject, sender, recipients, list, "
                                         "header:NAME");
    std::string name = reading.operands.empty() ? "" : reading.operands.front();
    std::vector<std::string> patterns;
    if (!reading.operands.empty())
        patterns.assign(reading.operands.begin() + 1, reading.operands.end());
    if (reading.action == "add") {
        if (trimText(name).empty() || name.size() > maxText)
            return failed("stimulation", "the name " + shown(name) + " is blank or too long");
        if (patterns.empty()) {
            std::fprintf(stderr, "brevalo-cli stimulation: name at least one pattern\n");
            return exitUsage;
        }
        bool refused = false;
        for (const std::string& pattern : patterns) {
            std::string reason = pattern.size() > maxText             ? "longer than 65536 bytes"
                                 : pattern.find('\0') != pattern.npos ? "holds a NUL character"
                                                                      : "";
            if (reason.empty())
                reason = compilePattern(pattern)->error();
            if (!reason.empty()) {
                std::fprintf(stderr, "brevalo-cli stimulation: the pattern %s is refused: %s\n",
                             shown(pattern).c_str(), reason.c_str());
                refused = true;
            }
        }
        if (refused)
            return exitFailed;
    }
    CliSession session(environment);
    if (int status = reading.action == "list" ? session.open() : session.openForChange())
        return status;
    Net& net = *session.net();
    if (reading.action == "list")
        return listStimulations(net);
    int index = findInput(net, name);
    if (reading.action == "remove") {
        if (index < 0)
            return failed("stimulation", "the net has no stimulation named " + shown(name));
        ref_ptr<NeuronIn> stimulation = net.getInput(index);
        for (const std::string& pattern : patterns) {
            const std::vector<std::string>& held = stimulation->getRegexes();
            auto found = std::find(held.begin(), held.end(), pattern);
            if (found == held.end())
                return failed("stimulation", "the stimulation " + shown(name) + " has no pattern " +
                                                 shown(pattern));
            stimulation->removeRegex(static_cast<int>(found - held.begin()));
        }
        if (patterns.empty()) {
            net.removeInput(index);
            forgetNetwork(net);
        }
        if (int status = save(environment, net, "stimulation"))
            return status;
        std::printf("removed %s; %s\n",
                    patterns.empty() ? ("the stimulation " + shown(name)).c_str()
                                     : (std::to_string(patterns.size()) + " pattern" +
                                        (patterns.size() == 1 ? "" : "s") + " of " + shown(name))
                                           .c_str(),
                    patterns.empty() ? notLearned : "learn the net again: brevalo-cli learn");
        return exitOk;
    }
    ref_ptr<NeuronIn> stimulation = index >= 0 ? net.getInput(index) : new NeuronIn(name);
    for (const std::string& pattern : patterns)
        stimulation->addRegex(pattern);
    // Extending a stimulation keeps where it looks unless --field says otherwise.
    if (index < 0 || reading.fieldGiven)
        stimulation->setField(field);
    if (index < 0) {
        net.addInput(stimulation.get());
        forgetNetwork(net);
    }
    if (int status = save(environment, net, "stimulation"))
        return status;
    std::printf("%s the stimulation %s (%d pattern%s); %s\n", index < 0 ? "added" : "extended",
                shown(name).c_str(), stimulation->regexCount(),
                stimulation->regexCount() == 1 ? "" : "s",
                index < 0 ? notLearned : "learn the net again: brevalo-cli learn");
    return exitOk;
}

int assignCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    std::string storeFolder;
    bool fromFolder = false;
    std::vector<std::string> operands;
    OptionReader options("assign", arguments, {{"--from-folder", true}}, true);
    while (options.next()) {
        if (options.isOperand()) {
            operands.push_back(options.value());
        } else {
            storeFolder = options.value();
            fromFolder = true;
        }
    }
    if (!options.finished()) {
        if (fromFolder && operands.size() != 1)
            options.fail("--from-folder STOREFOLDER takes one target folder");
        else if (!fromFolder && operands.size() < 2)
            options.fail("name the target folder and at least one message");
    }
    if (options.finished())
        return options.exitStatus();
    const std::string& targetName = operands.front();
    CliSession session(environment);
    if (int status = session.openForChange())
        return status;
    Net& net = *session.net();
    int targetIndex = findOutput(net, targetName);
    if (targetIndex < 0)
        return failed("assign", "the net has no target folder named " + shown(targetName) +
                                    " (brevalo-cli folder list shows them)");
    ref_ptr<NeuronOut> target = net.getOutput(targetIndex);
    int assigned = 0, already = 0;
    try {
        if (fromFolder) {
            STOREFOLDERID source = LearningAssignment::folderAt(session.store(), storeFolder);
            if (source == FOLDERID_INVALID)
                return failed("assign", "the store has no folder " + shown(storeFolder));
            if (source == storeIdFromText(net.getLearnFolder()))
                return failed("assign", shown(storeFolder) +
                                            " is the learning folder itself: name a folder "
                                            "whose messages were sorted by hand");
            LearningAssignment::FromFolder result =
                LearningAssignment::fromFolder(net, session.store(), source, target.get());
            assigned = result.assigned;
            already = result.hadIt;
            if (result.copied > 0)
                std::printf("copied %d message%s of %s into the learning folder\n", result.copied,
                            result.copied == 1 ? "" : "s", shown(storeFolder).c_str());
        } else {
            // Every message is found before any is changed: a typing error changes nothing.
            std::vector<int> found;
            bool missing = false;
            for (std::size_t m = 1; m < operands.size(); ++m) {
                std::string problem;
                int index = LearningAssignment::find(net, session.store(), operands[m], problem);
                if (index < 0) {
                    std::fprintf(stderr, "brevalo-cli assign: %s: %s\n", shown(operands[m]).c_str(),
                                 problem.c_str());
                    missing = true;
                }
                found.push_back(index);
            }
            if (missing) {
                std::fprintf(stderr, "brevalo-cli assign: nothing was assigned\n");
                return exitFailed;
            }
            for (int index : found) {
                ref_ptr<FileData> entry = net.getFile(index);
                if (entry->indexOfTarget(target.get()) >= 0) {
                    ++already;
                    continue;
                }
                entry->addTarget(target.get());
                ++assigned;
            }
        }
    } catch (const ComException& e) {
        return failed("assign", comErrorText(e) + "; nothing was assigned");
    }
    if (assigned > 0)
        if (int status = save(environment, net, "assign"))
            return status;
    std::printf("assigned %d learning message%s to %s", assigned, assigned == 1 ? "" : "s",
                shown(targetName).c_str());
    if (already > 0)
        std::printf(" (%d had it already)", already);
    std::printf(assigned > 0 ? "; learn the net: brevalo-cli learn\n" : "\n");
    return exitOk;
}

#include "core/LearningSetCheck.h"

#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "core/LearningInputs.h"
#include "core/LearningRun.h"
#include "core/Net.h"
#include "core/Stimulation.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsSince(Clock::time_point start) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string subjectList(const std::vector<std::string>& subjects) {
    std::string list;
    for (const std::string& subject : subjects)
        list += "\t" + subject + "\n";
    return list;
}

} // namespace

LearningSetCheck checkLearningSet(const Net& net, int threads) {
    Clock::time_point start = Clock::now();
    LearningSetCheck result;
    CheckedInputs& read = result.read;
    read.folder = net.getLearnFolder();
    std::shared_ptr<void> held = net.holdFolder(read.folder);
    std::vector<LearningInputs::Message> messages;
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        read.ids.push_back(entry->getId());
        messages.push_back({read.folder + "/" + entry->getId(), entry->getName()});
    }
    Clock::time_point inputStart = Clock::now();
    read.matcher.emplace(net);
    read.inputs =
        LearningInputs::read(net.learningSet().messages(), *read.matcher, messages, threads);
    int inputTime = millisecondsSince(inputStart);
    result.messages = net.fileCount();
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        const DoublePtr& input = read.inputs[static_cast<std::size_t>(f)];
        bool matched = LearningRun::matchesAStimulation(input);
        if (!matched)
            result.noStimulation.push_back(entry->getName());
        if (entry->targetCount() == 0) {
            result.noTarget.push_back(entry->getName());
            result.matchedWithoutTarget += matched ? 1 : 0;
        }
    }
    debugLog("checkFileAssignments time %d ms check input %d ms", millisecondsSince(start),
             inputTime);
    if (result.passed())
        return result;
    if (!result.noStimulation.empty())
        result.report += locText("main.wrongIn") + "\n" + subjectList(result.noStimulation) + "\n";
    if (!result.noTarget.empty())
        result.report += locText("main.wrongOut") + "\n" + subjectList(result.noTarget);
    debugLog("checkFileAssignments 2 time %d ms ", millisecondsSince(start));
    return result;
}

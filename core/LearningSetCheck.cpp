#include "core/LearningSetCheck.h"

#include "util/Log.h"
#include "platform/profile/Loc.h"
#include "core/MatchBudget.h"
#include "core/Net.h"

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

LearningSetCheck checkLearningSet(const Net& net) {
    Clock::time_point start = Clock::now();
    Clock::duration inputTime{};
    LearningSetCheck result;
    std::string folder = net.getLearnFolder();
    std::shared_ptr<void> held = net.holdFolder(folder);
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        Clock::time_point fetchStart = Clock::now();
        MatchBudget budget(entry->getName());
        bool matched =
            net.anyStimulationMatches(net.getFileContent(folder + "/" + entry->getId()), budget);
        inputTime += Clock::now() - fetchStart;
        if (!matched)
            result.noStimulation.push_back(entry->getName());
        if (entry->targetCount() == 0)
            result.noTarget.push_back(entry->getName());
    }
    debugLog(
        "checkFileAssignments time %d ms check input %d ms", millisecondsSince(start),
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(inputTime).count()));
    if (result.passed())
        return result;
    if (!result.noStimulation.empty())
        result.report += locText("main.wrongIn") + "\n" + subjectList(result.noStimulation) + "\n";
    if (!result.noTarget.empty())
        result.report += locText("main.wrongOut") + "\n" + subjectList(result.noTarget);
    debugLog("checkFileAssignments 2 time %d ms ", millisecondsSince(start));
    return result;
}

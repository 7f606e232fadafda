#include "util/ErrorReport.h"
#include "core/LearningSetCheck.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"
#include "cli/ProgressBar.h"

#include <cstdio>
#include <cstdlib>

namespace {

ProgressBar* currentProgress = nullptr;

void reportProgress(int, int iteration, double error) {
    if (currentProgress)
        currentProgress->update(iteration, error);
}

const char* plural(std::size_t count, const char* one, const char* more) {
    return count == 1 ? one : more;
}

// Prints the check's report; true when the learning set can be learned (with skipUnmatched,
// leaving out the messages no stimulation matches).
bool printCheck(Net* net, LearningSetCheck& check, bool skipUnmatched = false) {
    // An empty set passes every test and still teaches nothing.
    if (net->fileCount() == 0) {
        std::printf("The learning folder holds no messages: there is nothing to learn from. Copy "
                    "messages into it, or make the messages of a folder sorted by hand examples "
                    "of a target folder: brevalo-cli assign --from-folder STOREFOLDER FOLDER\n");
        return false;
    }
    check = checkLearningSet(*net);
    if (check.passed()) {
        std::printf("The learning set is ready: %d message%s, each matched by a stimulation and "
                    "assigned to a folder.\n",
                    net->fileCount(), net->fileCount() == 1 ? "" : "s");
        return true;
    }
    if (skipUnmatched && check.passesLeavingOutUnmatched())
        return true;
    std::printf("%s", check.report.c_str());
    if (!check.report.empty() && check.report.back() != '\n')
        std::printf("\n");
    if (!check.noStimulation.empty())
        std::printf("Words that tell the folders apart, as stimulations: brevalo-cli suggest\n");
    if (!check.noStimulation.empty() && !skipUnmatched && check.passesLeavingOutUnmatched())
        std::printf("Or learn without the %zu message%s no stimulation matches (%s in the "
                    "learning folder): brevalo-cli learn --skip-unmatched\n",
                    check.noStimulation.size(), plural(check.noStimulation.size(), "", "s"),
                    plural(check.noStimulation.size(), "it stays", "they stay"));
    return false;
}

} // namespace

void printLeftOutUnmatched(int count) {
    std::printf(
        "left out %d learning %s no stimulation\n", count,
        plural(static_cast<std::size_t>(count), "message that matches", "messages that match"));
}

int checkCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    OptionReader options("check", arguments, {});
    while (options.next()) {
    }
    if (options.finished())
        return options.exitStatus();
    CliSession session(environment);
    if (int status = session.open())
        return status;
    LearningSetCheck check;
    return printCheck(session.net(), check) ? exitOk : exitFailed;
}

int learnCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    int hidden = 0, iterations = 500;
    bool skipUnmatched = false;
    OptionReader options("learn", arguments,
                         {{"--hidden", true}, {"--iterations", true}, {"--skip-unmatched", false}});
    while (options.next()) {
        if (options.is("--skip-unmatched"))
            skipUnmatched = true;
        else
            options.count(options.is("--hidden") ? hidden : iterations);
    }
    if (options.finished())
        return options.exitStatus();
    CliSession session(environment);
    if (int status = session.openLearningSetForChange())
        return status;
    Net* net = session.net();
    // The run takes the input vectors the check read: every message is read once.
    LearningSetCheck check;
    if (!printCheck(net, check, skipUnmatched))
        return exitFailed;
    if (hidden == 0)
        hidden = std::max(4, (net->inputCount() + net->outputCount()) / 2);
    std::printf("learning: %d stimulations, %d hidden units, %d folders, %d iterations\n",
                net->inputCount(), hidden, net->outputCount(), iterations);
    ProgressBar progress(stdout, iterations);
    currentProgress = &progress;
    double error = 0;
    int leftOut = 0;
    try {
        error = net->learn(hidden, iterations, reportProgress, 0, 0.3, 1.0, &check.read,
                           skipUnmatched ? &leftOut : nullptr);
    } catch (const ComException& e) {
        currentProgress = nullptr;
        std::fprintf(stderr, "brevalo-cli: cannot learn the net: %s\n", comErrorText(e).c_str());
        return exitFailed;
    }
    currentProgress = nullptr;
    progress.finish(error);
    if (skipUnmatched)
        printLeftOutUnmatched(leftOut);
    std::string failure;
    if (!net->save(&failure)) {
        std::fprintf(stderr,
                     "brevalo-cli: cannot save the learned net to %s: %s; the net file keeps "
                     "the network it held before\n",
                     environment.netFile().c_str(), failure.c_str());
        return exitFailed;
    }
    std::printf("saved the learned net to %s\n", environment.netFile().c_str());
    return exitOk;
}

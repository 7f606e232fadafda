#include "util/ErrorReport.h"
#include "core/CrossValidation.h"
#include "core/NeuronOut.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/ConfusionPicture.h"

#include <algorithm>
#include <cstdio>

namespace {

void printEvaluation(Net* net, const Evaluation& result, int folds, double threshold) {
    int count = net->outputCount();
    std::vector<std::string> names;
    std::size_t width = 16;
    for (int o = 0; o < count; ++o) {
        names.push_back(net->getOutput(o)->getName());
        width = std::max(width, names.back().size());
    }
    int w = static_cast<int>(width);
    std::printf("%d-fold cross-validation over %d learning messages\n", folds, result.messages);
    std::printf("accuracy of the top folder:          %.3f\n", result.accuracy);
    std::printf("left in the inbox at threshold %g%%: %s%.3f\n", threshold,
                threshold < 10    ? "  "
                : threshold < 100 ? " "
                                  : "",
                result.inboxShare);
    std::printf("sent to a wrong folder:              %.3f\n\n", result.wrongFolderShare);
    std::printf("%-*s  precision  recall     F1  messages\n", w, "folder");
    for (int o = 0; o < count; ++o) {
        const FolderScore& s = result.folders[o];
        std::printf("%-*s  %9.3f  %6.3f  %5.3f  %8d\n", w, names[o].c_str(), s.precision, s.recall,
                    s.f1, s.messages);
    }
    std::printf("\nconfusion (rows: the message's folder; columns: the net's top folder, then "
                "no stimulation)\n");
    for (int r = 0; r < count; ++r) {
        std::printf("%-*s", w, names[r].c_str());
        for (int value : result.confusion[r])
            std::printf(" %6d", value);
        std::printf("\n");
    }
}

} // namespace

int evaluateCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    EvaluationParameters parameters;
    parameters.learning.hiddenCount = 0;
    std::string picture;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool known = true;
        if (argument == "--folds")
            known = readCount(arguments, i, "evaluate", "--folds", parameters.folds);
        else if (argument == "--hidden")
            known =
                readCount(arguments, i, "evaluate", "--hidden", parameters.learning.hiddenCount);
        else if (argument == "--iterations")
            known =
                readCount(arguments, i, "evaluate", "--iterations", parameters.learning.iterations);
        else if (argument == "--picture" && i + 1 < arguments.size())
            picture = arguments[++i];
        else {
            std::fprintf(stderr, "brevalo-cli evaluate: %s '%s'\n",
                         argument == "--picture" ? "a file name must follow" : "unknown option",
                         argument.c_str());
            return exitUsage;
        }
        if (!known)
            return exitUsage;
    }
    if (parameters.folds < 2) {
        std::fprintf(stderr, "brevalo-cli evaluate: --folds takes 2 or more\n");
        return exitUsage;
    }
    CliSession session(environment);
    if (int status = session.open())
        return status;
    Net* net = session.net();
    if (net->fileCount() == 0 || net->outputCount() == 0) {
        std::fprintf(stderr, "brevalo-cli: the learning folder holds no messages to learn from\n");
        return exitFailed;
    }
    if (parameters.learning.hiddenCount == 0)
        parameters.learning.hiddenCount = std::max(4, (net->inputCount() + net->outputCount()) / 2);
    parameters.threshold = net->getThreshold();
    Evaluation result;
    try {
        CrossValidation validation(*net, parameters);
        int iterations = parameters.learning.iterations, folds = parameters.folds;
        // One line per fold learnt, on standard error: standard output keeps the numbers.
        result = validation.run([iterations, folds](long long done, long long) {
            if (done % iterations == 0)
                std::fprintf(stderr, "fold %lld of %d learnt\n", done / iterations, folds);
        });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevalo-cli: cannot evaluate the net: %s\n", e.what());
        return exitFailed;
    }
    printEvaluation(net, result, parameters.folds, parameters.threshold);
    if (!picture.empty()) {
        std::vector<std::string> names;
        for (int o = 0; o < net->outputCount(); ++o)
            names.push_back(net->getOutput(o)->getName());
        std::string error;
        if (!ConfusionPicture(result, names).save(picture, &error)) {
            std::fprintf(stderr, "brevalo-cli: cannot write %s: %s\n", picture.c_str(),
                         error.c_str());
            return exitFailed;
        }
        std::printf("wrote the confusion matrix to %s\n", picture.c_str());
    }
    return exitOk;
}

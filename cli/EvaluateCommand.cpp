#include "util/ErrorReport.h"
#include "core/CrossValidation.h"
#include "core/NeuronOut.h"
#include "learning/ConfusionPicture.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Qt draws text only inside an application object; the tool shows no window, so the
// offscreen platform serves on a machine without a display as well.
std::unique_ptr<QGuiApplication> guiApplication() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "brevalo-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
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
    std::vector<std::string> names;
    for (int o = 0; o < net->outputCount(); ++o)
        names.push_back(net->getOutput(o)->getName());
    std::printf("%d-fold cross-validation over %d learning messages\n%s", parameters.folds,
                result.messages, result.report(names, parameters.threshold).c_str());
    if (!picture.empty()) {
        std::string error;
        std::unique_ptr<QGuiApplication> application = guiApplication();
        if (!ConfusionPicture(result, names).save(picture, &error)) {
            std::fprintf(stderr, "brevalo-cli: cannot write %s: %s\n", picture.c_str(),
                         error.c_str());
            return exitFailed;
        }
        std::printf("wrote the confusion matrix to %s\n", picture.c_str());
    }
    return exitOk;
}

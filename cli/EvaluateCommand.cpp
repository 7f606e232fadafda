#include "util/ErrorReport.h"
#include "core/ConfusionPictureModule.h"
#include "core/CrossValidation.h"
#include "core/FileData.h"
#include "core/NeuronOut.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include <dlfcn.h>
#include <unistd.h>

namespace {

// Draws the picture with the module (see ConfusionPictureModule.h): beside the program in
// a build, else in the installed module folder. Loaded only here, so no other command
// loads Qt; it stays loaded until the process ends, as Qt does not expect to be unloaded.
bool drawPicture(const std::string& programFolder, const Evaluation& result,
                 const std::vector<std::string>& names, const std::string& picture) {
    std::string module = programFolder + confusionPictureModule;
    if (access(module.c_str(), R_OK) != 0)
        module = (std::filesystem::path(programFolder) / BREVALO_MODULES_FROM_PROGRAM /
                  confusionPictureModule)
                     .lexically_normal()
                     .string();
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* entry = handle ? dlsym(handle, confusionPictureEntry) : nullptr;
    if (!entry) {
        const char* why = dlerror();
        // dlerror names the path it tried.
        std::fprintf(stderr, "brevalo-cli: cannot draw %s: cannot load the picture module %s: %s\n",
                     picture.c_str(), confusionPictureModule, why ? why : module.c_str());
        return false;
    }
    std::vector<const char*> folderNames;
    for (const std::string& name : names)
        folderNames.push_back(name.c_str());
    char error[512] = "";
    if (reinterpret_cast<DrawConfusion>(entry)(&result, folderNames.data(),
                                               static_cast<int>(folderNames.size()),
                                               picture.c_str(), error, sizeof error) != 0) {
        std::fprintf(stderr, "brevalo-cli: cannot write %s: %s\n", picture.c_str(), error);
        return false;
    }
    return true;
}

} // namespace

int evaluateCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    EvaluationParameters parameters;
    parameters.learning.hiddenCount = 0;
    std::string picture;
    OptionReader options("evaluate", arguments,
                         {{"--folds", true},
                          {"--hidden", true},
                          {"--iterations", true},
                          {"--picture", true},
                          {"--skip-unmatched", false}});
    while (options.next()) {
        if (options.is("--skip-unmatched"))
            parameters.learning.skipUnmatched = true;
        else if (options.is("--folds")) {
            // The most folds is known only with the learning set: checked below.
            const std::string& value = options.value();
            char* end = nullptr;
            long folds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || folds < 2 || folds > std::numeric_limits<int>::max())
                options.fail("--folds takes a whole number of 2 or more (at most the learning "
                             "messages assigned to folders), not '" +
                             value + "'");
            else
                parameters.folds = static_cast<int>(folds);
        } else if (options.is("--hidden"))
            options.count(parameters.learning.hiddenCount);
        else if (options.is("--iterations"))
            options.count(parameters.learning.iterations);
        else if (options.value().empty())
            options.fail("--picture takes a file name");
        else
            picture = options.value();
    }
    if (options.finished())
        return options.exitStatus();
    CliSession session(environment);
    if (int status = session.openLearningSet())
        return status;
    Net* net = session.net();
    if (net->outputCount() == 0) {
        std::fprintf(stderr, "brevalo-cli: the net has no target folders to evaluate\n");
        return exitFailed;
    }
    if (parameters.learning.hiddenCount == 0)
        parameters.learning.hiddenCount = std::max(4, (net->inputCount() + net->outputCount()) / 2);
    parameters.threshold = net->getThreshold();
    Evaluation result;
    try {
        CrossValidation validation(*net, parameters);
        if (parameters.learning.skipUnmatched)
            printLeftOutUnmatched(validation.leftOutUnmatched());
        // Each fold holds out at least one message assigned to a folder: more folds than such
        // messages would learn and test nothing in some. Counted among the messages taking
        // part: --skip-unmatched may leave few.
        int assigned = validation.assignedCount();
        if (assigned < 2) {
            std::fprintf(stderr,
                         "brevalo-cli: evaluate needs two or more learning messages assigned "
                         "to folders, %d take part\n",
                         assigned);
            return exitFailed;
        }
        if (parameters.folds > assigned) {
            std::fprintf(stderr,
                         "brevalo-cli evaluate: --folds %d is more than the %d learning messages "
                         "assigned to folders (each fold holds one out at least): give 2 to %d\n",
                         parameters.folds, assigned, assigned);
            return exitUsage;
        }
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
        if (!drawPicture(environment.programFolder, result, names, picture))
            return exitFailed;
        std::printf("wrote the confusion matrix to %s\n", picture.c_str());
    }
    return exitOk;
}

#include "sorting/ProgramEnvironment.h"
#include "cli/CommandUsages.h"
#include "cli/Commands.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

void printUsage(std::FILE* stream) {
    CommandUsages::printOverview(stream);
}

int main(int argc, char** argv) {
    // The global options stand before the command; what follows it is the command's to
    // read (a value after --from may be "-h").
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        std::string option = argv[first];
        if (option == "--help" || option == "-h") {
            printUsage(stdout);
            return exitOk;
        }
        if (option == "--version") {
            std::printf("brevalo-cli %s\n", BREVALO_VERSION);
            return exitOk;
        }
        std::fprintf(stderr, "brevalo-cli: unknown option '%s' (see --help)\n", option.c_str());
        return exitUsage;
    }
    if (first == argc) {
        printUsage(stderr);
        return exitUsage;
    }
    // The commands read and write text in the person's character set; --help and --version
    // print plain ASCII, so they skip the search of the locale files. deliver writes nothing
    // for people but its diagnostics and runs once per message: the character set is all it
    // reads (one locale file instead of thirteen).
    std::string command = argv[first];
    Arguments arguments(argv + first + 1, argv + argc);
    std::setlocale(command == "deliver" ? LC_CTYPE : LC_ALL, "");
    ProgramEnvironment environment =
        ProgramEnvironment::fromProcess(ProgramEnvironment::executableFolder());
    // deliver opens the language file when it needs the folder names: a message for the
    // inbox does not pay for reading it.
    std::string stringsProblem = command == "deliver" ? "" : environment.openStrings();
    if (!stringsProblem.empty()) {
        std::fprintf(stderr, "brevalo-cli: %s\n", stringsProblem.c_str());
        return exitFailed;
    }
    if (command == "sort")
        return sortCommand(environment, arguments);
    if (command == "classify")
        return classifyCommand(environment, arguments);
    if (command == "learn")
        return learnCommand(environment, arguments);
    if (command == "check")
        return checkCommand(environment, arguments);
    if (command == "deliver")
        return deliverCommand(environment, arguments);
    if (command == "lmtp")
        return lmtpCommand(environment, arguments);
    if (command == "demo")
        return demoCommand(environment, arguments);
    if (command == "log")
        return logCommand(environment, arguments);
    if (command == "undo")
        return undoCommand(environment, arguments);
    if (command == "suggest")
        return suggestCommand(environment, arguments);
    if (command == "evaluate")
        return evaluateCommand(environment, arguments);
    if (command == "export")
        return exportCommand(environment, arguments);
    if (command == "import")
        return importCommand(environment, arguments);
    if (command == "folder")
        return folderCommand(environment, arguments);
    if (command == "stimulation")
        return stimulationCommand(environment, arguments);
    if (command == "assign")
        return assignCommand(environment, arguments);
    std::fprintf(stderr, "brevalo-cli: unknown command '%s' (see --help)\n", command.c_str());
    return exitUsage;
}

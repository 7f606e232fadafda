#include "sorting/ProgramEnvironment.h"
#include "cli/Commands.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const usage =
    "Usage: brevalo-cli COMMAND [OPTIONS]\n"
    "\n"
    "Sorts the mail arriving in a Maildir inbox with the network built in Brevalo.\n"
    "\n"
    "Commands:\n"
    "  sort [--once] [--dry-run]\n"
    "                         sort the mail that arrived since the last sorter stopped,\n"
    "                         then new mail until stopped (SIGINT, SIGTERM); with --once\n"
    "                         sort every message now in the inbox, then exit; with\n"
    "                         --dry-run show what sorting the inbox would do, changing\n"
    "                         nothing\n"
    "  classify [--threshold P] [--tsv] FILE...\n"
    "                         show how the net classifies messages (RFC 822 files, - for\n"
    "                         standard input)\n"
    "  learn [--hidden N] [--iterations N]\n"
    "                         check the learning set, learn it and save the net\n"
    "  check                  check the learning set: messages no stimulation matches,\n"
    "                         messages assigned to no folder\n"
    "  log [-n N] [--since TIME] [--json]\n"
    "                         what the sorter did, newest last (default: the last 20)\n"
    "  undo [-n N | --since TIME | MESSAGE-ID...]\n"
    "                         move sorted messages back into the inbox (default: the\n"
    "                         last one); mail forwarded or answered cannot be unsent\n"
    "  suggest [--per-folder K] [--add]\n"
    "                         list the K words (default 20) that best tell each folder's\n"
    "                         learning messages from the others; --add adds each as a\n"
    "                         stimulation and saves the net\n"
    "  evaluate [--folds K] [--hidden N] [--iterations N] [--picture FILE.png]\n"
    "                         K-fold cross-validation (default 5) of the learning set:\n"
    "                         accuracy, precision, recall and F1 per folder, the confusion\n"
    "                         matrix (--picture: as a heat map); nothing is saved\n"
    "  export FILE            write the net (stimulations, folders, settings, network,\n"
    "                         assignments by Message-ID) as JSON, for another store\n"
    "  import FILE            make the net of an exported file, linking its assignments\n"
    "                         to this store's learning messages by Message-ID\n"
    "  deliver [--maildir DIR] [--from ADDRESS]\n"
    "                         deliver the message on standard input into its folders as\n"
    "                         the sorter would sort it (a delivery agent for a mail\n"
    "                         transfer agent); --from writes the envelope sender as\n"
    "                         Return-Path\n"
    "  lmtp [--socket PATH | --listen 127.0.0.1:PORT] [--maildir-template TEMPLATE]\n"
    "       [--passwd FILE] [--max-size BYTES] [--cache USERS] [--mode OCTAL]\n"
    "                         a resident delivery service speaking LMTP: as root for every\n"
    "                         user of the machine, else for the user who starts it\n"
    "  demo DIR               build a sample Maildir and net in DIR, learn, deliver new\n"
    "                         mail and sort it\n"
    "\n"
    "Options: --help, --version before the command; --help after it too.\n"
    "\n"
    "Environment:\n"
    "  BREVALO_HOME      folder of zelko.ini (net and settings; default:\n"
    "                    $XDG_CONFIG_HOME/brevalo, else ~/.config/brevalo) and of the\n"
    "                    state; may hold a strings.ini of its own\n"
    "  MAILDIR           the mail store root (default: ~/Maildir)\n"
    "  BREVALO_SENDMAIL  command that sends mail (default: /usr/sbin/sendmail -t -oi)\n"
    "  BREVALO_SENDMAIL_TIMEOUT\n"
    "                    seconds the command may take for one mail (1 to 86400, default\n"
    "                    60); past them it is killed, and the mail, which may have\n"
    "                    gone out, is not sent again: its message is kept\n"
    "  XDG_STATE_HOME    where sort keeps the newest inbox message it looked at, in\n"
    "                    brevalo/inbox-seen, and its journal, brevalo/journal.jsonl\n"
    "                    (default: ~/.local/state; with BREVALO_HOME set, in that folder)\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 refused (another sorter runs, or the net is not\n"
    "learned), 64 bad usage, 66 no mail store at the store root (only demo makes one),\n"
    "75 sort --once could not sort some messages (they stay in the inbox; run it again\n"
    "once the cause it names is mended). deliver: 0 delivered, 65 the input is not a\n"
    "message, 75 not delivered now (the transfer agent keeps it and tries again).\n";

} // namespace

void printUsage(std::FILE* stream) {
    std::fputs(usage, stream);
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
    std::string stringsProblem = environment.openStrings();
    if (!stringsProblem.empty()) {
        std::fprintf(stderr, "brevalo-cli: %s\n", stringsProblem.c_str());
        // For deliver a fault of the installation, not of the message: the transfer agent
        // keeps the mail until the file is mended.
        return command == "deliver" ? exitTempFail : exitFailed;
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
    std::fprintf(stderr, "brevalo-cli: unknown command '%s' (see --help)\n", command.c_str());
    return exitUsage;
}

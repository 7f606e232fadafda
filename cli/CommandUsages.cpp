#include "cli/CommandUsages.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const CommandUsage commands[] = {
    {"sort", "[--once] [--dry-run]",
     "sort the mail that arrived since the last sorter stopped,\n"
     "then new mail until stopped (SIGINT, SIGTERM)",
     "  --once      sort every message now in the inbox, then exit\n"
     "  --dry-run   show what sorting the inbox would do, changing nothing\n"},
    {"classify", "[--threshold P] [--tsv] FILE...",
     "show how the net classifies messages (RFC 822 files, - for\nstandard input)",
     "  --threshold P  the percentage a folder needs (default: the net's)\n"
     "  --tsv          tab-separated lines for programs\n"},
    {"folder", "add|remove|list [NAME] [--address A]... [--answer TEXT]",
     "add a target folder to the net (a folder of that name is made\n"
     "below the root target folder), remove one, or list them with\n"
     "their addresses",
     "  --address A    forward its mail to A (may be given again)\n"
     "  --answer TEXT  answer the sender with TEXT\n"},
    {"stimulation", "add|remove|list [NAME] [--field WHERE] [PATTERN...]",
     "add a stimulation (a named group of regular expressions) or\n"
     "patterns to one, remove one, or list them",
     "  --field WHERE  with add: what the patterns look at: body (the\n"
     "                 default), subject, sender (From, Sender,\n"
     "                 Reply-To), recipients (To, Cc, Delivered-To),\n"
     "                 list (List-Id) or header:NAME (any field)\n"},
    {"assign", "FOLDER MESSAGE... | --from-folder STOREFOLDER FOLDER",
     "make learning messages examples of the target folder FOLDER:\n"
     "each MESSAGE named by its id in the learning folder, its file\n"
     "or its Message-ID; or every message of a store folder sorted\n"
     "by hand, copied into the learning folder",
     "  --from-folder STOREFOLDER  the store folder (\"Work\", \"Archive/2024\")\n"},
    {"learn", "[--hidden N] [--iterations N] [--skip-unmatched]",
     "check the learning set, learn it and save the net",
     "  --hidden N        hidden units (default: (stimulations + folders) / 2)\n"
     "  --iterations N    learning iterations (default 500)\n"
     "  --skip-unmatched  leave out the learning messages no stimulation\n"
     "                    matches (they stay in the learning folder)\n"},
    {"check", "",
     "check the learning set: messages no stimulation matches,\n"
     "messages assigned to no folder",
     ""},
    {"log", "[-n N] [--since TIME] [--json]",
     "what the sorter did, newest last (default: the last 20)",
     "  -n N          the last N decisions\n"
     "  --since TIME  the decisions since TIME\n"
     "  --json        one JSON object a line\n"},
    {"undo", "[-n N | --since TIME | MESSAGE-ID...]",
     "move sorted messages back into the inbox (default: the\n"
     "last one); mail forwarded or answered cannot be unsent",
     "  -n N          the last N decisions\n"
     "  --since TIME  the decisions since TIME\n"},
    {"suggest", "[--per-folder K] [--add]",
     "list the K words (default 20) that best tell each folder's\n"
     "learning messages from the others",
     "  --per-folder K  words per folder\n"
     "  --add           add each as a stimulation and save the net\n"},
    {"evaluate",
     "[--folds K] [--hidden N] [--iterations N] [--picture FILE.png] [--skip-unmatched]",
     "K-fold cross-validation (default 5) of the learning set:\n"
     "accuracy, precision, recall and F1 per folder, the confusion\n"
     "matrix; nothing is saved",
     "  --folds K         parts of the set\n"
     "  --hidden N        hidden units\n"
     "  --iterations N    learning iterations\n"
     "  --picture FILE    the confusion matrix as a heat map (PNG)\n"
     "  --skip-unmatched  leave out of the folds the learning messages no\n"
     "                    stimulation matches\n"},
    {"export", "FILE",
     "write the net (stimulations, folders, settings, network,\n"
     "assignments by Message-ID) as JSON, for another store",
     ""},
    {"import", "FILE",
     "make the net of an exported file, linking its assignments\n"
     "to this store's learning messages by Message-ID",
     ""},
    {"deliver", "[--maildir DIR] [--from ADDRESS]",
     "deliver the message on standard input into its folders as\n"
     "the sorter would sort it (a delivery agent for a mail\n"
     "transfer agent)",
     "  --maildir DIR   the mail store (default: MAILDIR)\n"
     "  --from ADDRESS  the envelope sender, written as Return-Path\n"},
    {"lmtp",
     "[--socket PATH | --listen 127.0.0.1:PORT] [--maildir-template TEMPLATE]\n"
     "     [--passwd FILE] [--max-size BYTES] [--cache USERS] [--mode OCTAL]",
     "a resident delivery service speaking LMTP: as root for every\n"
     "user of the machine, else for the user who starts it",
     "  --socket PATH                a Unix socket to listen on\n"
     "  --listen 127.0.0.1:PORT      a TCP port of this machine\n"
     "  --maildir-template TEMPLATE  each user's store (%h home, %u name)\n"
     "  --passwd FILE                the users (default: /etc/passwd)\n"
     "  --max-size BYTES             the largest message taken\n"
     "  --cache USERS                the users' nets kept in memory\n"
     "  --mode OCTAL                 the socket's permissions\n"},
    {"demo", "DIR",
     "build a sample Maildir and net in DIR, learn, deliver new\n"
     "mail and sort it",
     ""},
};

const char* const environment =
    "Environment:\n"
    "  BREVALO_HOME      folder of zelko.ini (net and settings; default:\n"
    "                    $XDG_CONFIG_HOME/brevalo, else ~/.config/brevalo) and of the\n"
    "                    state; may hold a strings.ini of its own\n"
    "  MAILDIR           the mail store root (default: ~/Maildir)\n"
    "  BREVALO_SENDMAIL  command that sends mail (default: /usr/sbin/sendmail -t -oi)\n"
    "  BREVALO_SENDMAIL_TIMEOUT\n"
    "                    seconds the command may take for one mail (1 to 86400,\n"
    "                    default 60); past them it is killed, and the mail, which may\n"
    "                    have gone out, is not sent again: its message is kept\n"
    "  XDG_STATE_HOME    where sort keeps the newest inbox message it looked at, in\n"
    "                    brevalo/inbox-seen, and its journal, brevalo/journal.jsonl\n"
    "                    (default: ~/.local/state; with BREVALO_HOME set, in that\n"
    "                    folder)\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 refused (another sorter runs, or the net is not\n"
    "learned), 64 bad usage, 66 no mail store at the store root (only demo makes\n"
    "one), 75 sort --once could not sort some messages (they stay in the inbox; run\n"
    "it again once the cause it names is mended). deliver: 0 delivered, 65 the input\n"
    "is not a message, 75 not delivered now (the transfer agent keeps it and tries\n"
    "again).\n";

// Each line of the text after the indent.
void printIndented(const char* text, const char* indent, std::FILE* stream) {
    for (const char* line = text; *line;) {
        const char* end = std::strchr(line, '\n');
        std::size_t length = end ? static_cast<std::size_t>(end - line) : std::strlen(line);
        std::fprintf(stream, "%s%.*s\n", indent, static_cast<int>(length), line);
        line += length + (end ? 1 : 0);
    }
}

// The text's words (line ends count as spaces) in lines of at most `width` characters; an
// option in brackets stays whole.
std::string wrapped(const char* text, std::size_t width) {
    std::string lines, line, word;
    int depth = 0;
    auto place = [&] {
        if (word.empty())
            return;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        word.clear();
    };
    for (const char* c = text; *c; ++c) {
        depth += *c == '[' ? 1 : *c == ']' && depth > 0 ? -1 : 0;
        if ((*c == ' ' && depth == 0) || *c == '\n')
            place();
        else
            word += *c;
    }
    place();
    return lines + line;
}

} // namespace

const CommandUsage* CommandUsages::find(const std::string& name) {
    for (const CommandUsage& usage : commands)
        if (name == usage.name)
            return &usage;
    return nullptr;
}

void CommandUsages::printOverview(std::FILE* stream) {
    std::fputs("Usage: brevalo-cli COMMAND [OPTIONS]\n"
               "\n"
               "Sorts the mail arriving in a Maildir inbox with the network built in Brevalo.\n"
               "\n"
               "Commands:\n",
               stream);
    const char* indent = "                         ";
    // The overview fits a terminal of 80 columns: descriptions fill what the indent leaves,
    // a long synopsis goes on below its command's name.
    constexpr std::size_t columns = 80;
    for (const CommandUsage& usage : commands) {
        std::string line = std::string("  ") + usage.name;
        if (*usage.synopsis) {
            std::string below(line.size() + 1, ' ');
            std::string synopsis = wrapped(usage.synopsis, columns - below.size());
            for (std::size_t at = 0; (at = synopsis.find('\n', at)) != std::string::npos;)
                synopsis.insert(++at, below);
            line += " " + synopsis;
        }
        const std::string description = wrapped(usage.description, columns - std::strlen(indent));
        // A short line takes the description's first line beside it.
        if (line.find('\n') == std::string::npos && line.size() < std::strlen(indent) - 1) {
            line.resize(std::strlen(indent), ' ');
            std::size_t rest = description.find('\n');
            std::fprintf(stream, "%s%s\n", line.c_str(), description.substr(0, rest).c_str());
            if (rest != std::string::npos)
                printIndented(description.c_str() + rest + 1, indent, stream);
            continue;
        }
        printIndented(line.c_str(), "", stream);
        printIndented(description.c_str(), indent, stream);
    }
    std::fputs("\nOptions: --help, --version before the command; COMMAND --help shows the\n"
               "command's own usage and options.\n\n",
               stream);
    std::fputs(environment, stream);
}

void CommandUsages::printCommand(const CommandUsage& usage, std::FILE* stream) {
    std::string head = std::string("Usage: brevalo-cli ") + usage.name;
    std::string below(head.size() + 1, ' ');
    std::string synopsis = wrapped(usage.synopsis, 80 - below.size());
    for (std::size_t at = 0; (at = synopsis.find('\n', at)) != std::string::npos;)
        synopsis.insert(++at, below);
    std::fprintf(stream, "%s%s%s\n\n", head.c_str(), *usage.synopsis ? " " : "", synopsis.c_str());
    // Alone, the overview's description reads as a sentence.
    std::string sentence = usage.description;
    if (!sentence.empty() && sentence[0] >= 'a' && sentence[0] <= 'z')
        sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
    if (!sentence.empty() && sentence.back() != '.')
        sentence += '.';
    printIndented(sentence.c_str(), "", stream);
    std::fputs("\nOptions:\n", stream);
    std::fputs(usage.options, stream);
    // The help line's meaning stands in the options' column.
    std::string help = "  -h, --help";
    const char* gap =
        std::strstr(usage.options + std::min<std::size_t>(2, std::strlen(usage.options)), "  ");
    std::size_t column = gap ? static_cast<std::size_t>(gap - usage.options) + 2 : 0;
    while (gap && column < std::strlen(usage.options) && usage.options[column] == ' ')
        ++column;
    help.resize(std::max(help.size() + 2, column), ' ');
    std::fprintf(stream, "%sshow this help\n", help.c_str());
}

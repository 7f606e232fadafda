#include "util/ErrorReport.h"
#include "core/NeuronOut.h"
#include "core/WordSuggester.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/OptionReader.h"

#include <cstdio>

int suggestCommand(const ProgramEnvironment& environment, const Arguments& arguments) {
    int perFolder = 20;
    bool add = false;
    OptionReader options("suggest", arguments, {{"--per-folder", true}, {"--add", false}});
    while (options.next()) {
        if (options.is("--add"))
            add = true;
        else
            options.count(perFolder);
    }
    if (options.finished())
        return options.exitStatus();
    CliSession session(environment);
    if (int status = add ? session.openLearningSetForChange() : session.openLearningSet())
        return status;
    Net* net = session.net();
    SuggestionReport report;
    try {
        report = WordSuggester(*net).suggest(perFolder);
    } catch (const ComException& e) {
        std::fprintf(stderr, "brevalo-cli: cannot suggest words: %s\n", comErrorText(e).c_str());
        return exitFailed;
    }
    int folder = -1;
    for (const WordSuggestion& s : report.suggestions) {
        if (s.folder != folder) {
            folder = s.folder;
            std::printf("%s\n", net->getOutput(folder)->getName().c_str());
        }
        std::printf("  %-24s in %d of %d of its messages, %d of %d others%s\n", s.word.c_str(),
                    s.inFolder, s.folderSize, s.inOthers, s.othersSize,
                    s.common ? " (a common word: --add leaves it out)" : "");
    }
    if (report.suggestions.empty())
        std::printf("No word tells a folder's learning messages from the others; assign more "
                    "messages to the folders.\n");
    if (!report.unmatched.empty()) {
        std::printf("%zu learning message%s would still match no stimulation:\n",
                    report.unmatched.size(), report.unmatched.size() == 1 ? "" : "s");
        for (int index : report.unmatched)
            std::printf("\t%s\n", net->getFile(index)->getName().c_str());
    }
    if (!add)
        return exitOk;
    std::vector<WordSuggestion> chosen;
    for (const WordSuggestion& s : report.suggestions)
        if (!s.common)
            chosen.push_back(s);
    int added = WordSuggester::addTo(*net, chosen);
    if (added == 0) {
        std::printf("added no stimulation: no word suggested is new; nothing was saved\n");
        return exitOk;
    }
    std::string failure;
    if (!net->save(&failure)) {
        std::fprintf(stderr,
                     "brevalo-cli: cannot save the net to %s: %s; the net file keeps the "
                     "stimulations it held before\n",
                     environment.netFile().c_str(), failure.c_str());
        return exitFailed;
    }
    std::printf("added %d stimulation%s and saved the net to %s; learn it again: brevalo-cli "
                "learn\n",
                added, added == 1 ? "" : "s", environment.netFile().c_str());
    return exitOk;
}

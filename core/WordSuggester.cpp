#include "core/WordSuggester.h"

#include "core/HeaderField.h"
#include "core/MatchBudget.h"
#include "core/Net.h"
#include "core/NeuronIn.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <unordered_map>

namespace {

bool isAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What a word boundary does not separate from a letter: digits, the underscore, and the
// bytes of non-ASCII characters (kept together so "café" is no word "caf").
bool joinsWord(unsigned char c) {
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c >= 0x80;
}

double chiSquared(double a, double b, double c, double d) {
    double n = a + b + c + d;
    double denominator = (a + b) * (c + d) * (a + c) * (b + d);
    if (denominator <= 0)
        return 0;
    double cross = a * d - b * c;
    return n * cross * cross / denominator;
}

// Sorted: looked up by binary search. Words of three letters or more only, as wordsOf finds.
constexpr std::string_view commonWords[] = {
    "about",   "above", "after",  "again",   "all",     "also",  "and",     "any",    "are",
    "because", "been",  "before", "being",   "below",   "best",  "between", "both",   "but",
    "can",     "could", "dear",   "did",     "does",    "doing", "done",    "during", "each",
    "few",     "for",   "from",   "further", "get",     "got",   "had",     "has",    "have",
    "having",  "hello", "her",    "here",    "him",     "his",   "how",     "into",   "its",
    "just",    "kind",  "let",    "many",    "may",     "might", "more",    "most",   "much",
    "must",    "not",   "now",    "off",     "once",    "one",   "only",    "other",  "our",
    "out",     "over",  "own",    "please",  "regards", "same",  "shall",   "she",    "should",
    "some",    "such",  "than",   "thank",   "thanks",  "that",  "the",     "their",  "them",
    "then",    "there", "these",  "they",    "this",    "those", "through", "too",    "under",
    "until",   "very",  "was",    "were",    "what",    "when",  "where",   "which",  "while",
    "who",     "why",   "will",   "with",    "would",   "yes",   "you",     "your",   "yours"};

} // namespace

bool WordSuggester::isCommonWord(const std::string& word) {
    return std::binary_search(std::begin(commonWords), std::end(commonWords),
                              std::string_view(word));
}

std::vector<std::string> WordSuggester::wordsOf(const std::string& text) {
    std::vector<std::string> found;
    std::size_t i = 0, size = text.size();
    while (i < size) {
        if (!joinsWord(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        std::size_t start = i;
        bool letters = true;
        for (; i < size && joinsWord(static_cast<unsigned char>(text[i])); ++i)
            letters = letters && isAsciiLetter(static_cast<unsigned char>(text[i]));
        if (!letters || i - start < 3)
            continue;
        std::string word = text.substr(start, i - start);
        for (char& c : word)
            c = static_cast<char>(c | 0x20); // ASCII letters only: this lowers them
        found.push_back(std::move(word));
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

std::string WordSuggester::patternFor(const std::string& word) {
    // Lower case throughout, so the pattern matches without case.
    return "\\b" + word + "\\b";
}

WordSuggester::WordSuggester(const Net& net) : matcher(net), folderCount(net.outputCount()) {
    std::unordered_map<std::string, int> ids;
    std::string folder = net.getLearnFolder();
    std::shared_ptr<void> held = net.holdFolder(folder);
    for (int f = 0; f < net.fileCount(); ++f) {
        ref_ptr<FileData> entry = net.getFile(f);
        std::string text = net.getFileInput(folder + "/" + entry->getId());
        MatchBudget budget(entry->getName());
        matchedByNet.push_back(matcher.anyMatches(text, budget) ? 1 : 0);
        std::vector<int> wordIds;
        for (std::string& word : wordsOf(std::string(HeaderField::split(text)))) {
            auto [at, added] = ids.emplace(word, static_cast<int>(words.size()));
            if (added)
                words.push_back(std::move(word));
            wordIds.push_back(at->second);
        }
        std::sort(wordIds.begin(), wordIds.end());
        messageWords.push_back(std::move(wordIds));
        std::vector<int> targets;
        for (int t = 0; t < entry->targetCount(); ++t) {
            int index = net.indexOfOutput(entry->getTarget(t).get());
            if (index >= 0)
                targets.push_back(index);
        }
        std::sort(targets.begin(), targets.end());
        targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
        messageFolders.push_back(std::move(targets));
    }
}

SuggestionReport WordSuggester::suggest(int perFolder, int minInFolder) const {
    int wordCount = static_cast<int>(words.size());
    // Presence counts: per word over the assigned messages, and per word and folder.
    std::vector<int> inAll(static_cast<std::size_t>(wordCount), 0);
    std::vector<int> inFolder(static_cast<std::size_t>(wordCount) * folderCount, 0);
    std::vector<int> folderSize(static_cast<std::size_t>(folderCount), 0);
    int assigned = 0;
    for (std::size_t m = 0; m < messageWords.size(); ++m) {
        if (messageFolders[m].empty())
            continue;
        ++assigned;
        for (int folder : messageFolders[m])
            ++folderSize[folder];
        for (int w : messageWords[m]) {
            ++inAll[w];
            for (int folder : messageFolders[m])
                ++inFolder[static_cast<std::size_t>(w) * folderCount + folder];
        }
    }
    // Each word goes to the folder it tells best.
    std::vector<std::vector<WordSuggestion>> candidates(static_cast<std::size_t>(folderCount));
    for (int w = 0; w < wordCount; ++w) {
        WordSuggestion best;
        for (int folder = 0; folder < folderCount; ++folder) {
            int a = inFolder[static_cast<std::size_t>(w) * folderCount + folder];
            int b = inAll[w] - a, size = folderSize[folder], others = assigned - size;
            // More common in the folder than outside it: a word telling that a message is
            // not of a folder would make a stimulation that fires on everything else.
            if (a < minInFolder || static_cast<double>(a) * others <= static_cast<double>(b) * size)
                continue;
            double score = chiSquared(a, b, size - a, others - b);
            if (score > best.score)
                best = {words[w], folder, a, size, b, others, score};
        }
        if (best.score > 0)
            candidates[best.folder].push_back(std::move(best));
    }
    SuggestionReport report;
    std::vector<char> suggested(static_cast<std::size_t>(wordCount), 0);
    std::unordered_map<std::string, int> ids;
    for (int w = 0; w < wordCount; ++w)
        ids.emplace(words[w], w);
    for (std::vector<WordSuggestion>& list : candidates) {
        std::sort(list.begin(), list.end(), [](const WordSuggestion& x, const WordSuggestion& y) {
            if (x.score != y.score)
                return x.score > y.score;
            if (x.inFolder != y.inFolder)
                return x.inFolder > y.inFolder;
            return x.word < y.word;
        });
        int taken = 0;
        for (WordSuggestion& suggestion : list) {
            if (taken == perFolder)
                break;
            MatchBudget budget;
            if (matcher.anyMatches(suggestion.word, budget))
                continue; // a stimulation has it already
            suggested[ids[suggestion.word]] = 1;
            suggestion.common = isCommonWord(suggestion.word);
            report.suggestions.push_back(std::move(suggestion));
            ++taken;
        }
    }
    for (std::size_t m = 0; m < messageWords.size(); ++m) {
        if (matchedByNet[m])
            continue;
        bool matched = std::any_of(messageWords[m].begin(), messageWords[m].end(),
                                   [&suggested](int w) { return suggested[w] != 0; });
        if (!matched)
            report.unmatched.push_back(static_cast<int>(m));
    }
    return report;
}

int WordSuggester::addTo(Net& net, const std::vector<WordSuggestion>& suggestions) {
    int added = 0;
    for (const WordSuggestion& suggestion : suggestions) {
        bool named = false;
        for (int i = 0; i < net.inputCount() && !named; ++i)
            named = net.getInput(i)->getName() == suggestion.word;
        if (named)
            continue;
        ref_ptr<NeuronIn> neuron(new NeuronIn(suggestion.word));
        neuron->addRegex(patternFor(suggestion.word));
        net.addInput(neuron.get());
        ++added;
    }
    return added;
}

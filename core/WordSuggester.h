#pragma once

#include "core/InputMatcher.h"

#include <string>
#include <vector>

class Net;

// One word that tells a target folder's learning messages from the others.
struct WordSuggestion {
    std::string word;    // lower case, ASCII letters only
    int folder = 0;      // the output neuron's index
    int inFolder = 0;    // the folder's messages holding the word
    int folderSize = 0;  // the folder's messages
    int inOthers = 0;    // the other messages holding the word
    int othersSize = 0;  // the other messages
    double score = 0;    // chi-squared of presence against belonging to the folder
    bool common = false; // a word of every kind of text ("our", "please"): offered, not chosen
};

// What the suggester found: the suggestions grouped by folder (output order), each
// group best first, and the learning messages they would still leave unmatched.
struct SuggestionReport {
    std::vector<WordSuggestion> suggestions;
    // Learning-set indexes of the messages that neither a stimulation of the net nor a
    // suggested word matches, in learning-set order.
    std::vector<int> unmatched;
};

// Suggests stimulations of one word each: per target folder the words whose presence
// best tells its learning messages from the others (chi-squared on presence), leaving out
// words a stimulation of the net matches already. One word per stimulation, because the
// network weighs each input on its own: a group of words in one stimulation tells less.
class WordSuggester {
public:
    // The words of a text as the suggester counts them: maximal runs of ASCII letters of
    // at least three letters, lower-cased, each once, sorted. A run touching a digit, an
    // underscore or a non-ASCII byte is no word (a number, an identifier, a word the
    // pattern's word boundary would not find).
    static std::vector<std::string> wordsOf(const std::string& text);
    // Whether a lower-case word is one of the words most texts hold whatever they are about
    // ("this", "have", "please"): it may still tell folders apart in a small learning set,
    // but rarely in the mail to come.
    static bool isCommonWord(const std::string& word);
    // The pattern that matches the word as a whole word, without case.
    static std::string patternFor(const std::string& word);

    // Reads every learning message of the net now (its text, its targets, whether a
    // stimulation of the net matches it). Messages assigned to no folder are left out of
    // the counts. Store failures while the learning folder is looked up raise ComException.
    explicit WordSuggester(const Net& net);

    // Up to perFolder words per folder; a word goes to the one folder it tells best, and
    // only when it is in at least minInFolder of that folder's messages and more common
    // there than among the others.
    SuggestionReport suggest(int perFolder, int minInFolder = 2) const;

    // Appends one stimulation per suggestion (named after the word, its pattern
    // patternFor), skipping words that have a stimulation of that name already. Returns
    // how many were added.
    static int addTo(Net& net, const std::vector<WordSuggestion>& suggestions);

private:
    InputMatcher matcher;                         // the net's stimulations as they were when read
    std::vector<std::string> words;               // by word id
    std::vector<std::vector<int>> messageWords;   // per learning message: its word ids, sorted
    std::vector<std::vector<int>> messageFolders; // per learning message: its target indexes
    std::vector<char> matchedByNet;               // per learning message
    int folderCount = 0;
};

#pragma once

#include "core/PatternSet.h"

#include <memory>
#include <string>
#include <vector>

class MatchBudget;

// The patterns of a net's stimulations grouped by where they look (HeaderField): one
// PatternSet per field, each matched against its own text. A net whose stimulations all
// look at the body has the one set it always had and matches the text unsplit, so that
// nothing else is read or matched. Immutable once built; shared between threads.
class FieldPatterns {
public:
    // texts[i] and fields[i]: the pattern texts and field key of input neuron i.
    FieldPatterns(const std::vector<std::vector<std::string>>& texts,
                  const std::vector<std::string>& fields);

    int inputCount() const { return inputs; }
    // The keys looked at besides the body, each once; empty when only the body is.
    const std::vector<std::string>& headerFields() const { return headerKeys; }
    // One flag per input neuron: whether one of its patterns matches its field's text in
    // `text` (a body, with its header texts attached by HeaderField when headerFields()
    // is not empty). Patterns given up on count as no match.
    std::vector<char> matchingInputs(const std::string& text, MatchBudget& budget) const;
    // Whether some input neuron matches; stops at the first match found.
    bool anyMatches(const std::string& text, MatchBudget& budget) const;

private:
    // Each group's text after normalizeText, body first, in group order.
    std::vector<std::string> groupTexts(const std::string& text) const;

    struct Group {
        std::string field;
        std::unique_ptr<const PatternSet> set;
    };
    int inputs = 0;
    std::vector<std::string> headerKeys;
    std::vector<Group> groups; // the body first
};

#pragma once

#include "core/Neuron.h"
#include "core/REs.h"

#include <cstdint>
#include <string>
#include <vector>

class MatchBudget;

// An input neuron (a stimulation): a named group of pattern texts; it matches a text
// when any of its patterns does.
class NeuronIn : public Neuron {
public:
    explicit NeuronIn(std::string name = {});

    using Neuron::setName;

    int regexCount() const { return static_cast<int>(regexes.size()); }
    const std::vector<std::string>& getRegexes() const { return regexes; }
    // The pattern text at the index; empty when the index is out of range.
    std::string getRegex(int index) const;
    // Each of these drops the compiled patterns and takes a new stamp; an index out of
    // range changes nothing.
    void setRegex(int index, const std::string& text);
    void addRegex(const std::string& text);
    void removeRegex(int index);

    // Different for every state of the pattern texts of every neuron of the process, so
    // that a net's compiled pattern set knows when to be built again.
    std::uint64_t patternsStamp() const { return stamp; }

    // Where the patterns look (HeaderField): empty for the body, else a field key such as
    // "subject" or "header:List-Post". A change takes a new stamp, as a pattern's does.
    const std::string& getField() const { return field; }
    void setField(const std::string& key);

    // The compiled patterns, compiled on first use after a change of the pattern texts
    // and kept until the next (the highlighting of the configuration window matches
    // with them; classification and learning with the net's PatternSet). Capture group 1
    // of each covers the whole match. The cache is filled without a lock: a neuron is used
    // by the thread of its net only. The patterns themselves are only read, by any thread.
    REsPtr getREs() const;
    // Whether one of the patterns matches the text after normalizeText, under a match
    // budget of its own (MatchBudget).
    bool matches(const std::string& text) const;
    // The same for a text that has been through normalizeText already, under the budget
    // of the message.
    bool matchesNormalized(const std::string& normalizedText, MatchBudget& budget) const;

private:
    std::vector<std::string> regexes;
    std::string field;
    mutable REsPtr compiled;
    std::uint64_t stamp;
};

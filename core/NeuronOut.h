#pragma once

#include "core/Neuron.h"

#include <string>
#include <vector>

// An output neuron: a target folder with its suggested reply and the addresses of the
// persons responsible for it.
class NeuronOut : public Neuron {
public:
    explicit NeuronOut(std::string name = {});

    using Neuron::setName;

    const std::string& getAnswer() const { return answer; }
    void setAnswer(const std::string& text) { answer = text; }
    const std::vector<std::string>& getEmails() const { return emails; }
    // Replaces the whole list.
    void setEmails(const std::vector<std::string>& addresses) { emails = addresses; }

private:
    std::string answer;
    std::vector<std::string> emails;
};

#pragma once

#include "util/Ref.h"

#include <string>

// Base of the input and output neurons and of the learning-set entries: a named,
// reference-counted object.
class Neuron : public RefBase {
public:
    explicit Neuron(std::string name = {});

    const std::string& getName() const { return name; }

protected:
    // Only the neurons the user edits make this public; a learning-set entry's name
    // (its subject) is fixed.
    void setName(const std::string& newName) { name = newName; }

private:
    std::string name;
};

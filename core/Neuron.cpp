#include "core/Neuron.h"

#include <utility>

Neuron::Neuron(std::string name) : name(std::move(name)) {}

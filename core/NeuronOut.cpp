#include "core/NeuronOut.h"

#include <utility>

NeuronOut::NeuronOut(std::string name) : Neuron(std::move(name)) {}

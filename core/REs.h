#pragma once

#include "util/SmartPtr.h"

#include <pcrecpp.h>

#include <vector>

// The compiled patterns of one input neuron, one per pattern text and in the same order.
using REPtr = smart_ptr<pcrecpp::RE>;
using REs = std::vector<REPtr>;
using REsPtr = smart_ptr<REs>;

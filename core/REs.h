#pragma once

#include "util/SmartPtr.h"
#include "core/Pattern.h"

#include <vector>

// The compiled patterns of one input neuron, one per pattern text and in the same order.
using REPtr = smart_ptr<Pattern>;
using REs = std::vector<REPtr>;
using REsPtr = smart_ptr<REs>;

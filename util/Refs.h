#pragma once

#include "util/Ref.h"
#include "util/SmartPtr.h"

#include <vector>

// The neuron lists, the learning set and classification results. An absent list
// (empty RefsPtr) and an empty list mean the same.
using Refs = std::vector<RefPtr>;
using RefsPtr = smart_ptr<Refs>;

// Number of entries of a possibly absent list.
inline int refsCount(const RefsPtr& list) {
    return list ? static_cast<int>(list->size()) : 0;
}

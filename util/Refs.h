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

// The list operations of the neuron lists and the learning set: lookups give null out of
// range, searches -1.

// The entry at the index as a T; null out of range.
template <class T> ref_ptr<T> refAt(const RefsPtr& list, int index) {
    if (index < 0 || index >= refsCount(list))
        return {};
    return (*list)[index].as<T>();
}

// Appends the entry (creating the list) and returns it; null is not added.
template <class T> ref_ptr<T> appendRef(RefsPtr& list, T* entry) {
    if (!entry)
        return {};
    if (!list)
        list.reset(new Refs);
    list->push_back(RefPtr(entry));
    return ref_ptr<T>(entry);
}

// Removes the entry at the index and closes the gap; null and no change out of range.
template <class T> ref_ptr<T> removeRef(const RefsPtr& list, int index) {
    if (index < 0 || index >= refsCount(list))
        return {};
    ref_ptr<T> removed = (*list)[index].as<T>();
    list->erase(list->begin() + index);
    return removed;
}

// Position by identity; -1 when absent.
inline int indexOfRef(const RefsPtr& list, const Ref* entry) {
    for (int i = 0; i < refsCount(list); ++i) {
        if ((*list)[i].get() == entry)
            return i;
    }
    return -1;
}

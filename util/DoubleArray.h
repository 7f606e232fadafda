#pragma once

#include "util/SmartPtr.h"

#include <cstdint>

// Counted double arrays: zero-filled doubles whose element count is stored in a
// 32-bit word just before element 0. They are freed with deleteDoubleArray only.
double* newDoubleArray(std::int32_t count);
void deleteDoubleArray(double* array);
std::int32_t doubleArrayCount(const double* array);

struct da_doubles {
    static void destroy(double* p) { deleteDoubleArray(p); }
};

using DoublePtr = smart_ptr<double, da_doubles>;

inline DoublePtr makeDoubles(std::int32_t count) {
    return DoublePtr(newDoubleArray(count));
}
inline std::int32_t doubleCount(const DoublePtr& p) {
    return p ? doubleArrayCount(p.get()) : 0;
}

#include "util/DoubleArray.h"

#include <cstdlib>
#include <new>

namespace {
// The count sits in the last 4 bytes of an 8-byte header so element 0 stays aligned.
constexpr std::size_t header = sizeof(double);
} // namespace

double* newDoubleArray(std::int32_t count) {
    if (count < 0)
        count = 0;
    std::size_t bytes = header + sizeof(double) * static_cast<std::size_t>(count);
    auto* raw = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (!raw)
        throw std::bad_alloc();
    auto* elements = reinterpret_cast<double*>(raw + header);
    reinterpret_cast<std::int32_t*>(elements)[-1] = count;
    return elements;
}

void deleteDoubleArray(double* array) {
    if (array)
        std::free(reinterpret_cast<unsigned char*>(array) - header);
}

std::int32_t doubleArrayCount(const double* array) {
    return array ? reinterpret_cast<const std::int32_t*>(array)[-1] : 0;
}

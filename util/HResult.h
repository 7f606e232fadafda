#pragma once

#include <cstdint>

// The result code of every store, MIME and sending call: negative means failure.
// The named codes live in platform/Result.h.
using HRESULT = std::int32_t;

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

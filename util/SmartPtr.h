#pragma once

#include "util/Ref.h"

#include <cstddef>
#include <cstdint>
#include <utility>

// Deletion policies of smart_ptr.
struct da_cpp {
    template <class T> static void destroy(T* p) { delete p; }
};

struct da_array {
    template <class T> static void destroy(T* p) { delete[] p; }
};

// Heap control block of smart_ptr: the count (through RefBase) and the raw pointer.
template <class T, class policy = da_cpp> class _chunk_t : public RefBase {
public:
    explicit _chunk_t(T* p) : ptr(p) {}
    ~_chunk_t() override {
        if (ptr)
            policy::destroy(ptr);
    }
    T* get() const { return ptr; }
    // Hands the raw pointer out; the block is then empty and deletes nothing.
    T* take() { return std::exchange(ptr, nullptr); }

private:
    T* ptr;
};

// Shared owning pointer for objects that are not reference counted themselves.
template <class T, class policy = da_cpp> class smart_ptr {
public:
    using chunk = _chunk_t<T, policy>;

    smart_ptr() = default;
    explicit smart_ptr(T* p) : block(p ? new chunk(p) : nullptr) {}

    T* get() const { return block ? block->get() : nullptr; }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    T& operator[](std::ptrdiff_t i) const { return get()[i]; }
    // A block that holds null (after take) counts as empty.
    bool empty() const { return get() == nullptr; }
    explicit operator bool() const { return !empty(); }

    // Gives up ownership: every holder of this block now sees it empty.
    T* take() { return block ? block->take() : nullptr; }
    void reset() { block.reset(); }
    void reset(T* p) { *this = smart_ptr(p); }
    std::int32_t useCount() const { return block ? block->references() : 0; }

private:
    ref_ptr<chunk> block;
};

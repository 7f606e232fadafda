#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

// Interface of every reference-counted object of the program. Counts are atomic: the
// learning thread and the window thread hold references to the same objects (the
// compiled patterns, the learning run's network, the store's objects) and take and
// drop them at the same time. The objects themselves are not made safe by this: what
// one thread changes, no other thread may use meanwhile.
class Ref {
public:
    virtual ~Ref() = default;
    // Both return the new count; at 0 release() deletes the object.
    virtual std::int32_t addRef() = 0;
    virtual std::int32_t release() = 0;
};

class RefBase : public Ref {
public:
    RefBase() = default;
    RefBase(const RefBase&) : refCount(0) {}
    RefBase& operator=(const RefBase&) { return *this; }

    std::int32_t addRef() override { return refCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    std::int32_t release() override {
        // Release order makes every use before the last release happen before the delete.
        std::int32_t left = refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }
    std::int32_t references() const { return refCount.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int32_t> refCount{0};
};

// Intrusive pointer to a Ref-derived object; may be null.
template <class T> class ref_ptr {
public:
    ref_ptr() = default;
    ref_ptr(T* p) : ptr(p) {
        if (ptr)
            ptr->addRef();
    }
    ref_ptr(const ref_ptr& other) : ref_ptr(other.ptr) {}
    template <class U> ref_ptr(const ref_ptr<U>& other) : ref_ptr(other.get()) {}
    ref_ptr(ref_ptr&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    ~ref_ptr() {
        if (ptr)
            ptr->release();
    }

    ref_ptr& operator=(const ref_ptr& other) {
        reset(other.ptr);
        return *this;
    }
    ref_ptr& operator=(ref_ptr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(ptr, std::exchange(other.ptr, nullptr));
            if (old)
                old->release();
        }
        return *this;
    }
    ref_ptr& operator=(T* p) {
        reset(p);
        return *this;
    }

    // The new target gains its reference before the old one loses its own, so
    // assigning an object to a pointer that already holds it is safe.
    void reset(T* p = nullptr) {
        if (p)
            p->addRef();
        T* old = std::exchange(ptr, p);
        if (old)
            old->release();
    }

    T* get() const { return ptr; }
    T* operator->() const { return ptr; }
    T& operator*() const { return *ptr; }
    explicit operator bool() const { return ptr != nullptr; }
    bool operator==(const ref_ptr& other) const { return ptr == other.ptr; }
    bool operator==(const T* p) const { return ptr == p; }

    // Downcast for lists that hold Ref pointers (the neuron lists).
    template <class U> U* as() const { return dynamic_cast<U*>(ptr); }

private:
    T* ptr = nullptr;
};

using RefPtr = ref_ptr<Ref>;

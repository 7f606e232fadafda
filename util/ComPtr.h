#pragma once

#include <utility>

// Holder of one raw interface pointer (anything with AddRef and Release); empty at
// construction, releases on destruction.
template <class I> class com_ptr_base {
public:
    com_ptr_base() = default;
    com_ptr_base(const com_ptr_base&) = delete;
    com_ptr_base& operator=(const com_ptr_base&) = delete;
    com_ptr_base(com_ptr_base&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    com_ptr_base& operator=(com_ptr_base&& other) noexcept {
        if (this != &other)
            assign(std::exchange(other.ptr, nullptr), false);
        return *this;
    }
    ~com_ptr_base() { reset(); }

    // The new pointer gains its reference (when asked) before the old one is released.
    void assign(I* p, bool addRef) {
        if (p && addRef)
            p->AddRef();
        I* old = std::exchange(ptr, p);
        if (old)
            old->Release();
    }
    void reset() { assign(nullptr, false); }
    // Out-argument slot: the held pointer is released first, so the callee fills an
    // empty slot and the holder owns the reference it gets.
    I** out() {
        reset();
        return &ptr;
    }
    I* get() const { return ptr; }
    I* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }

private:
    I* ptr = nullptr;
};

template <class I> class com_ptr : public com_ptr_base<I> {
public:
    com_ptr() = default;
    // Takes over one reference the caller already owns.
    explicit com_ptr(I* p) { this->assign(p, false); }
    com_ptr(const com_ptr& other) : com_ptr_base<I>() { this->assign(other.get(), true); }
    com_ptr& operator=(const com_ptr& other) {
        this->assign(other.get(), true);
        return *this;
    }
    com_ptr(com_ptr&&) noexcept = default;
    com_ptr& operator=(com_ptr&&) noexcept = default;
};

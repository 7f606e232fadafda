#pragma once

#include <atomic>
#include <cstdint>

// The minimal reference-counted interface base of the store, MIME and sending
// objects, held by com_ptr.
class IUnknown {
public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Implements the count for an interface I. Counts are atomic (as Ref's are): layer
// objects may be created on the learning thread and released on another.
template <class I> class ComObject : public I {
public:
    std::uint32_t AddRef() override { return ++count; }
    std::uint32_t Release() override {
        std::uint32_t left = --count;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ~ComObject() override = default;

private:
    std::atomic<std::uint32_t> count{1};
};

#pragma once

#include <glib-object.h>

#include <utility>

// Owns one reference to a GObject (a GMime object) and drops it with g_object_unref.
template <class T> class GObjectRef {
public:
    GObjectRef() = default;
    // Takes over a reference the caller owns (what the GMime constructors return).
    explicit GObjectRef(T* object) : object(object) {}
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    GObjectRef(GObjectRef&& other) noexcept : object(std::exchange(other.object, nullptr)) {}
    GObjectRef& operator=(GObjectRef&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.object, nullptr));
        return *this;
    }
    ~GObjectRef() { reset(); }

    // Adds a reference to an object somebody else owns (what the GMime getters return).
    static GObjectRef share(T* object) {
        if (object)
            g_object_ref(object);
        return GObjectRef(object);
    }

    void reset(T* replacement = nullptr) {
        T* old = std::exchange(object, replacement);
        if (old)
            g_object_unref(old);
    }
    T* get() const { return object; }
    explicit operator bool() const { return object != nullptr; }

private:
    T* object = nullptr;
};

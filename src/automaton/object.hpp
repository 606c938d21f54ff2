// Borrowed and owned references to Python objects.
//
// The automaton holds Python objects only as its context data and the data
// snapshots of its history; both live in `Object`. Assignment stores the new
// reference before the old one is let go, so code that runs when the old
// object dies (a finaliser) never finds a field pointing at a freed object.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace morvane {

// A reference that somebody else keeps alive; never counted.
class Handle {
public:
    constexpr Handle() noexcept = default;
    constexpr explicit Handle(PyObject* object) noexcept : ptr_(object) {}

    PyObject* ptr() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

protected:
    PyObject* ptr_ = nullptr;
};

// One counted reference of our own.
class Object : public Handle {
public:
    Object() noexcept = default;

    // Takes over a reference the caller owns (a "new reference" result).
    static Object steal(PyObject* object) noexcept {
        Object owned;
        owned.ptr_ = object;
        return owned;
    }
    // Takes a reference of its own to an object somebody else keeps alive.
    static Object borrow(Handle object) noexcept {
        Py_XINCREF(object.ptr());
        return steal(object.ptr());
    }
    static Object none() noexcept { return borrow(Handle(Py_None)); }

    Object(const Object& other) noexcept : Handle(other.ptr_) { Py_XINCREF(ptr_); }
    Object(Object&& other) noexcept : Handle(std::exchange(other.ptr_, nullptr)) {}
    ~Object() { Py_XDECREF(ptr_); }

    // By value: the argument already holds the new reference; after the swap
    // it carries the old one out and drops it when it goes.
    Object& operator=(Object other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

    // Drops the reference; the field is empty before any finaliser runs.
    void reset() noexcept { Py_XDECREF(std::exchange(ptr_, nullptr)); }
};

}  // namespace morvane

// What the toolkit's native entries share at the Python boundary: owned
// references (the main module's RAII type), buffer views, and the guard that
// stops C++ exceptions before they reach the interpreter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <new>
#include <span>
#include <stdexcept>
#include <string>

#include "automaton/object.hpp"

namespace morvane_tools {

using morvane::Object;

// Thrown when a call into the interpreter failed and its exception is set.
struct PythonError {};

// Thrown for arguments that do not describe an automaton; raised as
// ValueError with the message.
struct InvalidArgument : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Takes over a new reference, throwing when the call that made it failed.
inline Object checked(PyObject* result) {
    if (result == nullptr) throw PythonError{};
    return Object::steal(result);
}

// A contiguous read-only view of an object's buffer, released with the view.
template <class Element>
class BufferView {
public:
    BufferView(PyObject* object, const char* what) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) throw PythonError{};
        held_ = true;
        const bool one_byte = view_.itemsize == 1 && sizeof(Element) == 1;
        const bool int32 = view_.itemsize == 4 && sizeof(Element) == 4 && view_.format != nullptr &&
                           (std::string(view_.format) == "i" || std::string(view_.format) == "=i" ||
                            std::string(view_.format) == "<i" || std::string(view_.format) == "@i");
        if (!one_byte && !int32) throw InvalidArgument(std::string(what) + " has the wrong item type");
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) PyBuffer_Release(&view_);
    }

    std::span<const Element> elements() const noexcept {
        return {static_cast<const Element*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(Element)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Runs an entry's body and turns escaping C++ exceptions into Python ones.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body().release();
    } catch (const PythonError&) {
    } catch (const InvalidArgument& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected failure in morvane_tools._native");
    }
    return nullptr;
}

// Pauses the cyclic collector for a scope. The bulk reads and builds make
// millions of objects that can form no cycle and all stay alive: each
// collection would walk every one of them, and one could run a caller's
// finaliser while a table is being walked.
class CollectorPause {
public:
    CollectorPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    bool was_enabled_;
};

}  // namespace morvane_tools

// Error kinds at the boundary, and the guard around every entry.
//
// The guard is where C++ exceptions stop: an engine refusal becomes its
// ValueError or TypeError, std::bad_alloc becomes MemoryError, and anything
// else is an internal failure raised as morvane.PanicException.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <string_view>

#include "automaton/errors.hpp"

namespace morvane::binding {

// The PanicException class, created once per process; null before that.
PyObject* panic_exception_type() noexcept;
bool create_panic_exception_type() noexcept;

void raise_engine_error(const EngineError& error) noexcept;
void raise_panic(const char* message) noexcept;

// Adds "while processing '<parameter>'" to the raised exception through its
// own add_note; if that fails, the exception goes on without the note.
void add_processing_note(std::string_view parameter) noexcept;

// For failures that cannot be reported to any caller (deallocation).
[[noreturn]] void abort_uncaught_panic() noexcept;

// Runs `body` (which returns the entry's result, or a failure value with the
// Python error set) and turns escaping C++ exceptions into Python ones.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept {
    try {
        try {
            return body();
        } catch (const PythonErrorSet&) {
        } catch (const EngineError& error) {
            raise_engine_error(error);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& error) {
            raise_panic(error.what());
        } catch (...) {
            raise_panic(nullptr);
        }
    } catch (...) {
        abort_uncaught_panic();  // a failure while raising a failure
    }
    return failure;
}

}  // namespace morvane::binding

// The life of an instance: construction (the class's __new__) and release.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "binding/arguments.hpp"

namespace morvane::lib {

extern binding::Signature constructor_signature;

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;
void deallocate(PyObject* self) noexcept;

}  // namespace morvane::lib

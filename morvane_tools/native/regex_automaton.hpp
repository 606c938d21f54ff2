// The entry of from_regex's native half (see regex_automaton.cpp).
#pragma once

#include "python.hpp"

namespace morvane_tools {

PyObject* regex_automaton_entry(PyObject* module, PyObject* const* arguments, Py_ssize_t count);

}  // namespace morvane_tools

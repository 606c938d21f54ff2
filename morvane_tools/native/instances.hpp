// Morvane instances to and from the dense form.
#pragma once

#include "dense.hpp"
#include "python.hpp"

namespace morvane_tools {

// (symbols, targets bytes, finals bytearray, initial, names, extra alphabet
// members, extra final names, initial listed) of a Morvane, read through its
// public queries.
// `keep`, a list or null, is given a few of the read's entries: holding them
// until the next read lets that read reuse this one's memory.
Object read_instance(PyObject* instance, PyObject* keep);

// A new instance of `cls` (the Morvane class) holding `automaton`, built
// with its constructor and add_transition; `names` is a list or None (q0,
// q1, ... then).
Object build_instance(PyObject* cls, PyObject* names, PyObject* symbols, const DenseView& automaton,
                      PyObject* extra_alphabet, PyObject* extra_finals, bool initial_listed);

// (targets bytes, finals bytearray) of a dense automaton.
Object dense_bytes(const Dense& automaton);

}  // namespace morvane_tools

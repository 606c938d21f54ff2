// Morvane instances from tables of plain dicts.
#pragma once

#include "dense.hpp"
#include "python.hpp"

namespace morvane_tools {

// A new instance of `cls` (the Morvane class) with the transitions of
// `table`, {state: {symbol: target}}; `states` and `alphabet` are None for
// the names the arguments use. None when anything is not plain (exact dicts,
// exact strs with a UTF-8 form, one-character symbols, sets, lists or tuples
// of names) or a name lies outside the states or the alphabet given: the
// caller then checks everything itself and names the fault.
Object build_from_table(PyObject* cls, PyObject* table, PyObject* initial, PyObject* finals, PyObject* states,
                        PyObject* alphabet);

// One dict {symbol: target name} per state of `automaton`, in state order,
// the symbols in column order: the rows of to_table. `names` is a list with
// a str per state and `symbols` a str with a character per column.
Object rows_of(PyObject* names, PyObject* symbols, const DenseView& automaton);

}  // namespace morvane_tools

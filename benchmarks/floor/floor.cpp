// The floor: a plain dense-table DFA walk written directly against the
// Python/C API, with no argument binding, no borrow flag and no checks beyond
// what the walk itself needs. It is what any implementation of accept and
// simulate over the same table must cost at least, and the benchmark compares
// morvane with it. benchmarks/run.py builds it on the fly; it is not shipped.
//
// The module holds one table at a time:
//
//   load_table(names, symbols, targets, finals, initial)
//       names    list of str, one state name per row
//       symbols  str, one alphabet character per column
//       targets  int32 buffer (array('i')) of len(names) * len(symbols)
//                cells, row-major: the target row, or -1 for no transition
//       finals   iterable of the final rows
//       initial  the initial row
//   accept(text) -> bool
//   simulate(text) -> list of str, a new str object for every visited state
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A state name kept in the interpreter's own layout, so that a new str of it
// is one PyUnicode_New and one memcpy.
struct Name {
    Py_ssize_t length = 0;
    Py_UCS4 max_char = 0;
    std::string units;
};

// Row 0 is the dead row, whose cells all lead back to it, and column 0 stands
// for every character outside the alphabet. Cells hold the target row already
// multiplied by the column count, so one step of a walk is one load.
struct Table {
    std::vector<std::uint32_t> cells;
    std::uint32_t columns = 1;
    std::uint32_t initial = 0;
    std::vector<std::uint8_t> final_rows{0};
    std::vector<Name> names{Name{}};  // by row
    std::uint32_t narrow[256] = {};   // column of each character below 256
    std::unordered_map<Py_UCS4, std::uint32_t> wide;

    std::uint32_t column(Py_UCS4 character) const {
        if (character < 256) return narrow[character];
        const auto found = wide.find(character);
        return found == wide.end() ? 0 : found->second;
    }
    bool is_final(std::uint32_t position) const { return final_rows[position / columns] != 0; }
};

Table table;

template <class Unit, class Visit>
std::uint32_t walk(const Unit* units, Py_ssize_t length, std::uint32_t at, Visit&& visit) {
    const std::uint32_t* cells = table.cells.data();
    for (Py_ssize_t index = 0; index < length; ++index) {
        if constexpr (sizeof(Unit) == 1)
            at = cells[at + table.narrow[units[index]]];
        else
            at = cells[at + table.column(units[index])];
        visit(at);
    }
    return at;
}

// Walks a str in place, with a loop of its own for each code unit width.
template <class Visit>
std::uint32_t walk_text(PyObject* text, std::uint32_t at, Visit&& visit) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return walk(PyUnicode_1BYTE_DATA(text), length, at, visit);
        case PyUnicode_2BYTE_KIND: return walk(PyUnicode_2BYTE_DATA(text), length, at, visit);
        default: return walk(PyUnicode_4BYTE_DATA(text), length, at, visit);
    }
}

Name name_of(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const auto* data = static_cast<const char*>(PyUnicode_DATA(text));
    return Name{length, PyUnicode_MAX_CHAR_VALUE(text),
                std::string(data, static_cast<std::size_t>(length) * PyUnicode_KIND(text))};
}

PyObject* new_str(const Name& name) {
    PyObject* text = PyUnicode_New(name.length, name.max_char);
    if (text) std::memcpy(PyUnicode_DATA(text), name.units.data(), name.units.size());
    return text;
}

// Fills `loaded` from the arguments of load_table; false with an exception set.
bool build(Table& loaded, PyObject* names, PyObject* symbols, const Py_buffer& targets, PyObject* finals,
           unsigned int initial) {
    const Py_ssize_t rows = PyList_GET_SIZE(names);
    const Py_ssize_t width = PyUnicode_GET_LENGTH(symbols);
    loaded.columns = static_cast<std::uint32_t>(width + 1);
    if (static_cast<unsigned long long>(rows + 1) * loaded.columns > UINT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "table too large");
        return false;
    }
    if (targets.itemsize != 4 || targets.len != rows * width * 4) {
        PyErr_SetString(PyExc_ValueError, "targets must hold len(names) * len(symbols) int32 cells");
        return false;
    }
    if (initial >= rows) {
        PyErr_SetString(PyExc_ValueError, "initial row out of range");
        return false;
    }
    for (Py_ssize_t column = 0; column < width; ++column) {
        const Py_UCS4 character = PyUnicode_READ_CHAR(symbols, column);
        const auto index = static_cast<std::uint32_t>(column + 1);
        if (character < 256)
            loaded.narrow[character] = index;
        else
            loaded.wide[character] = index;
    }
    for (Py_ssize_t row = 0; row < rows; ++row) {
        PyObject* name = PyList_GET_ITEM(names, row);
        if (!PyUnicode_Check(name)) {
            PyErr_SetString(PyExc_TypeError, "state names must be str");
            return false;
        }
        loaded.names.push_back(name_of(name));
    }
    loaded.cells.assign(static_cast<std::size_t>(rows + 1) * loaded.columns, 0);
    const auto* cells = static_cast<const std::int32_t*>(targets.buf);
    for (Py_ssize_t row = 0; row < rows; ++row) {
        for (Py_ssize_t column = 0; column < width; ++column) {
            const std::int32_t target = cells[row * width + column];
            if (target < 0) continue;
            if (target >= rows) {
                PyErr_SetString(PyExc_ValueError, "target row out of range");
                return false;
            }
            loaded.cells[static_cast<std::size_t>(row + 1) * loaded.columns + column + 1] =
                static_cast<std::uint32_t>(target + 1) * loaded.columns;
        }
    }
    loaded.final_rows.assign(static_cast<std::size_t>(rows + 1), 0);
    PyObject* iterator = PyObject_GetIter(finals);
    if (!iterator) return false;
    while (PyObject* item = PyIter_Next(iterator)) {
        const long row = PyLong_AsLong(item);
        Py_DECREF(item);
        if (row == -1 && PyErr_Occurred()) break;
        if (row < 0 || row >= rows) {
            PyErr_SetString(PyExc_ValueError, "final row out of range");
            break;
        }
        loaded.final_rows[static_cast<std::size_t>(row + 1)] = 1;
    }
    Py_DECREF(iterator);
    if (PyErr_Occurred()) return false;
    loaded.initial = (initial + 1) * loaded.columns;
    return true;
}

PyObject* load_table(PyObject*, PyObject* args) {
    PyObject *names, *symbols, *targets, *finals;
    unsigned int initial;
    if (!PyArg_ParseTuple(args, "O!UOOI:load_table", &PyList_Type, &names, &symbols, &targets, &finals, &initial))
        return nullptr;
    Py_buffer view;
    if (PyObject_GetBuffer(targets, &view, PyBUF_C_CONTIGUOUS) < 0) return nullptr;
    bool ok = false;
    try {
        Table loaded;
        ok = build(loaded, names, symbols, view, finals, initial);
        if (ok) table = std::move(loaded);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    PyBuffer_Release(&view);
    if (!ok) return nullptr;
    Py_RETURN_NONE;
}

PyObject* accept(PyObject*, PyObject* text) {
    if (!PyUnicode_Check(text)) {
        PyErr_SetString(PyExc_TypeError, "accept() wants a str");
        return nullptr;
    }
    const std::uint32_t last = walk_text(text, table.initial, [](std::uint32_t) {});
    return PyBool_FromLong(last != 0 && table.is_final(last));
}

PyObject* simulate(PyObject*, PyObject* text) {
    if (!PyUnicode_Check(text)) {
        PyErr_SetString(PyExc_TypeError, "simulate() wants a str");
        return nullptr;
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    std::vector<std::uint32_t> path;
    try {
        path.resize(static_cast<std::size_t>(length) + 1);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
    path[0] = table.initial;
    std::uint32_t* out = path.data() + 1;
    walk_text(text, table.initial, [&out](std::uint32_t at) { *out++ = at; });
    for (std::size_t index = 1; index < path.size(); ++index) {
        if (path[index] == 0) {
            PyErr_Format(PyExc_ValueError, "no transition for character %zd", static_cast<Py_ssize_t>(index - 1));
            return nullptr;
        }
    }
    PyObject* list = PyList_New(length + 1);
    if (!list) return nullptr;
    for (Py_ssize_t index = 0; index <= length; ++index) {
        PyObject* name = new_str(table.names[path[index] / table.columns]);
        if (!name) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, index, name);
    }
    return list;
}

// The cheapest possible method with one parameter on the fast calling
// convention: what any single call costs before it does anything.
PyObject* noop(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) { Py_RETURN_NONE; }

// A new (str, object) pair, the str a fresh copy of `name`: the least work
// a call that hands out a history entry can do.
PyObject* pair(PyObject*, PyObject* const* args, Py_ssize_t count) {
    if (count != 2 || !PyUnicode_Check(args[0]) || !PyUnicode_IS_COMPACT_ASCII(args[0])) {
        PyErr_SetString(PyExc_TypeError, "pair(ascii_name, object)");
        return nullptr;
    }
    const Py_ssize_t length = PyUnicode_GET_LENGTH(args[0]);
    PyObject* name = PyUnicode_New(length, 127);
    if (!name) return nullptr;
    std::memcpy(PyUnicode_DATA(name), PyUnicode_DATA(args[0]), static_cast<std::size_t>(length));
    PyObject* result = PyTuple_New(2);
    if (!result) {
        Py_DECREF(name);
        return nullptr;
    }
    PyTuple_SET_ITEM(result, 0, name);
    PyTuple_SET_ITEM(result, 1, Py_NewRef(args[1]));
    return result;
}

PyMethodDef functions[] = {
    {"noop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(noop)), METH_FASTCALL | METH_KEYWORDS,
     "noop(x) -> None"},
    {"pair", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pair)), METH_FASTCALL,
     "pair(name, object) -> (new str, object)"},
    {"load_table", load_table, METH_VARARGS, "load_table(names, symbols, targets, finals, initial)"},
    {"accept", accept, METH_O, "accept(text) -> bool"},
    {"simulate", simulate, METH_O, "simulate(text) -> list of state names"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT, "floor", "A plain dense-table DFA walk, for comparison.", -1,
                      functions, nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_floor() { return PyModule_Create(&module); }

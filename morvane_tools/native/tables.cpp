// A Morvane from a table {state: {symbol: target}} made of plain dicts and
// strs: the table is walked once in C to check every name and gather the
// constructor's sets, then each transition goes to add_transition. Anything
// less plain (another mapping type, a str subclass, a name that cannot be
// used) gives None, and the caller's Python path, which names the place of a
// fault, takes over: no Python code of the caller's runs here.

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "addresses.hpp"
#include "build_order.hpp"
#include "tables.hpp"

namespace morvane_tools {
namespace {

template <class Unit>
bool holds_no_surrogate(const Unit* units, Py_ssize_t length) noexcept {
    for (Py_ssize_t i = 0; i < length; ++i)
        if (units[i] >= 0xd800 && units[i] <= 0xdfff) return false;
    return true;
}

// The class stores names as UTF-8, which a lone surrogate does not have.
bool usable_text(PyObject* object) noexcept {
    if (!PyUnicode_CheckExact(object)) return false;
    const Py_ssize_t length = PyUnicode_GET_LENGTH(object);
    switch (PyUnicode_KIND(object)) {
        case PyUnicode_1BYTE_KIND: return true;
        case PyUnicode_2BYTE_KIND: return holds_no_surrogate(PyUnicode_2BYTE_DATA(object), length);
        default: return holds_no_surrogate(PyUnicode_4BYTE_DATA(object), length);
    }
}

// Symbols met just before, by address: a slot remembers one address, and a
// collision only costs the symbol's check again.
class RecentSymbols {
public:
    bool seen(PyObject* symbol) noexcept {
        PyObject*& slot = slots_[(reinterpret_cast<std::uintptr_t>(symbol) >> 4) % slots_.size()];
        if (slot == symbol) return true;
        slot = symbol;
        return false;
    }

private:
    std::array<PyObject*, 256> slots_{};
};

// A set of usable names from a set, frozenset, list or tuple of exact strs;
// empty when the collection is anything else.
Object plain_name_set(PyObject* collection) {
    if (!PyAnySet_CheckExact(collection) && !PyList_CheckExact(collection) && !PyTuple_CheckExact(collection))
        return {};
    Object items = checked(PySequence_Fast(collection, "a collection"));
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
    PyObject** members = PySequence_Fast_ITEMS(items.ptr());
    for (Py_ssize_t i = 0; i < count; ++i)
        if (!usable_text(members[i])) return {};
    return checked(PySet_New(items.ptr()));
}

bool holds(PyObject* set, PyObject* member) {
    const int found = PySet_Contains(set, member);
    if (found < 0) throw PythonError{};
    return found == 1;
}

void add_to(PyObject* set, PyObject* member) {
    if (PySet_Add(set, member) != 0) throw PythonError{};
}

}  // namespace

Object build_from_table(PyObject* cls, PyObject* table, PyObject* initial, PyObject* finals, PyObject* states,
                        PyObject* alphabet) {
    if (!PyDict_CheckExact(table) || !usable_text(initial)) return Object::none();
    Object final_set = plain_name_set(finals);
    if (!final_set) return Object::none();
    Object state_set, symbol_set;
    const bool states_given = states != Py_None, alphabet_given = alphabet != Py_None;
    if (states_given) {
        state_set = plain_name_set(states);
    } else {
        state_set = checked(PySet_New(final_set.ptr()));
        add_to(state_set.ptr(), initial);
    }
    if (!state_set) return Object::none();
    if (!alphabet_given) {
        symbol_set = checked(PySet_New(nullptr));
    } else if (PyUnicode_CheckExact(alphabet)) {
        // A str stands for the set of its characters.
        if (!usable_text(alphabet)) return Object::none();
        symbol_set = checked(PySet_New(alphabet));
    } else {
        symbol_set = plain_name_set(alphabet);
    }
    if (!symbol_set) return Object::none();

    CollectorPause pause;
    // Rows usually share their target objects: each target object is checked
    // and put into the states once. A row's targets are looked up in chunks,
    // their slots prefetched first, as the map outgrows the caches.
    AddressMap<bool> known_targets(2 * static_cast<std::size_t>(PyDict_GET_SIZE(table)) + 1024);
    RecentSymbols known_symbols;
    // The targets' addresses span [lowest, highest]: the passes share it out.
    std::uintptr_t lowest = UINTPTR_MAX, highest = 0;
    auto new_target = [&](PyObject* target) {
        if (known_targets.find(target) != nullptr) return true;
        if (!usable_text(target)) return false;
        lowest = std::min(lowest, reinterpret_cast<std::uintptr_t>(target));
        highest = std::max(highest, reinterpret_cast<std::uintptr_t>(target));
        if (states_given) {
            if (!holds(state_set.ptr(), target)) return false;
        } else {
            add_to(state_set.ptr(), target);
        }
        known_targets.remember(target, true);
        return true;
    };
    constexpr Py_ssize_t chunk = 32;
    PyObject* chunk_targets[chunk];
    Py_ssize_t at = 0, transitions = 0;
    PyObject *origin, *row;
    while (PyDict_Next(table, &at, &origin, &row)) {
        if (!usable_text(origin) || !PyDict_CheckExact(row)) return Object::none();
        if (states_given) {
            if (!holds(state_set.ptr(), origin)) return Object::none();
        } else {
            add_to(state_set.ptr(), origin);
        }
        Py_ssize_t inner = 0, held = 0;
        PyObject *symbol, *target;
        bool more = true;
        while (more) {
            more = PyDict_Next(row, &inner, &symbol, &target) != 0;
            if (more) {
                if (!known_symbols.seen(symbol)) {
                    if (!usable_text(symbol) || PyUnicode_GET_LENGTH(symbol) != 1) return Object::none();
                    if (alphabet_given) {
                        if (!holds(symbol_set.ptr(), symbol)) return Object::none();
                    } else {
                        add_to(symbol_set.ptr(), symbol);
                    }
                }
                known_targets.prefetch(target);
                chunk_targets[held++] = target;
            }
            if (held == chunk || (!more && held > 0)) {
                for (Py_ssize_t i = 0; i < held; ++i)
                    if (!new_target(chunk_targets[i])) return Object::none();
                held = 0;
            }
        }
        transitions += PyDict_GET_SIZE(row);
    }

    Object instance = checked(PyObject_CallFunctionObjArgs(cls, state_set.ptr(), symbol_set.ptr(), initial,
                                                           final_set.ptr(), nullptr));
    // The method descriptor of the class, called with the instance first:
    // the plain public method without a bound-method object per call.
    Object add_transition = checked(PyObject_GetAttrString(cls, "add_transition"));
    PyObject* arguments[4] = {instance.ptr(), nullptr, nullptr, nullptr};
    // Nothing of the caller's has run since the walk above, so the table is
    // as it was checked; its size is compared all the same. The targets are
    // scattered among all the names and add_transition reads each one: a
    // row's targets are gathered and loaded while the row before it is added.
    struct Pending {
        PyObject* symbol;
        PyObject* target;
    };
    std::vector<Pending> adding, loading;
    PyObject* adding_origin = nullptr;
    Py_ssize_t added = 0;
    auto add_row = [&] {
        arguments[1] = adding_origin;
        for (const Pending& pending : adding) {
            arguments[2] = pending.symbol;
            arguments[3] = pending.target;
            checked(PyObject_Vectorcall(add_transition.ptr(), arguments, 4, nullptr));
        }
        added += static_cast<Py_ssize_t>(adding.size());
        adding.clear();
    };
    // The passes share out the targets by address: any split into shares of
    // about as many names keeps a pass's records in cache, and this one needs
    // no lookup. With more than one pass the transitions are first gathered
    // per pass, in row order: walking the dicts again each pass would cost
    // more than it saves.
    const std::size_t passes = target_passes(static_cast<std::size_t>(PySet_GET_SIZE(state_set.ptr())),
                                             static_cast<std::size_t>(PySet_GET_SIZE(symbol_set.ptr())));
    struct Entry {
        PyObject* origin;
        PyObject* symbol;
        PyObject* target;
    };
    std::vector<std::vector<Entry>> shares(passes > 1 ? passes : 0);
    const std::uintptr_t share = highest < lowest ? 1 : (highest - lowest) / passes + 1;
    for (auto& entries : shares) entries.reserve(static_cast<std::size_t>(transitions) / passes * 9 / 8);
    at = 0;
    while (PyDict_Next(table, &at, &origin, &row)) {
        Py_ssize_t inner = 0;
        PyObject *symbol, *target;
        if (passes > 1) {
            while (PyDict_Next(row, &inner, &symbol, &target))
                shares[(reinterpret_cast<std::uintptr_t>(target) - lowest) / share].push_back({origin, symbol, target});
            continue;
        }
        loading.clear();
        while (PyDict_Next(row, &inner, &symbol, &target)) {
            __builtin_prefetch(target);
            loading.push_back({symbol, target});
        }
        add_row();
        adding.swap(loading);
        adding_origin = origin;
    }
    add_row();
    for (const auto& entries : shares) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (i + 8 < entries.size()) __builtin_prefetch(entries[i + 8].target);
            arguments[1] = entries[i].origin;
            arguments[2] = entries[i].symbol;
            arguments[3] = entries[i].target;
            checked(PyObject_Vectorcall(add_transition.ptr(), arguments, 4, nullptr));
        }
        added += static_cast<Py_ssize_t>(entries.size());
    }
    if (added != transitions) throw std::runtime_error("the table changed while it was being added");
    return instance;
}

Object rows_of(PyObject* names, PyObject* symbols, const DenseView& automaton) {
    const std::size_t n = automaton.state_count(), k = automaton.symbol_count;
    if (!PyList_CheckExact(names) || static_cast<std::size_t>(PyList_GET_SIZE(names)) != n)
        throw InvalidArgument("names must be a list with one name per state");
    if (!PyUnicode_Check(symbols) || static_cast<std::size_t>(PyUnicode_GET_LENGTH(symbols)) != k)
        throw InvalidArgument("symbols must be a str with one character per column");
    std::vector<Object> symbol_strings;
    symbol_strings.reserve(k);
    for (std::size_t column = 0; column < k; ++column)
        symbol_strings.push_back(checked(PyUnicode_Substring(symbols, static_cast<Py_ssize_t>(column),
                                                             static_cast<Py_ssize_t>(column + 1))));
    CollectorPause pause;  // a dict a state, none of them in a cycle
    Object rows = checked(PyList_New(static_cast<Py_ssize_t>(n)));
    // Each entry takes a reference to its target's name, one of any of the
    // states: the next row's names are asked for while this row is made.
    auto prefetch_row = [&](std::size_t state) {
        for (std::size_t column = 0; column < k; ++column)
            if (const StateIndex target = automaton.target(state, column); target != no_transition)
                __builtin_prefetch(PyList_GET_ITEM(names, static_cast<Py_ssize_t>(target)), 1);
    };
    if (n > 0) prefetch_row(0);
    for (std::size_t state = 0; state < n; ++state) {
        if (state + 1 < n) prefetch_row(state + 1);
        Object row = checked(PyDict_New());
        for (std::size_t column = 0; column < k; ++column) {
            const StateIndex target = automaton.target(state, column);
            if (target != no_transition &&
                PyDict_SetItem(row.ptr(), symbol_strings[column].ptr(),
                               PyList_GET_ITEM(names, static_cast<Py_ssize_t>(target))) != 0)
                throw PythonError{};
        }
        PyList_SET_ITEM(rows.ptr(), static_cast<Py_ssize_t>(state), row.release());
    }
    return rows;
}

}  // namespace morvane_tools

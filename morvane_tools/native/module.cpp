// morvane_tools._native: the toolkit's algorithms that need native speed.
// Every entry checks its arguments (the dense form may come from any caller
// of the package's internals) and runs inside `guarded`.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "algorithms.hpp"
#include "counting.hpp"
#include "instances.hpp"
#include "python.hpp"
#include "regex_automaton.hpp"
#include "tables.hpp"

namespace morvane_tools {
namespace {

Py_ssize_t index_argument(PyObject* object, const char* what) {
    const Py_ssize_t value = PyLong_AsSsize_t(object);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
    if (value < 0) throw InvalidArgument(std::string(what) + " must not be negative");
    return value;
}

void expect_arguments(Py_ssize_t given, Py_ssize_t wanted, const char* name) {
    if (given != wanted) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, wanted, given);
        throw PythonError{};
    }
}

// A dense automaton passed as (symbol count, targets, finals, initial),
// checked so that no index leaves the table.
class DenseArgument {
public:
    DenseArgument(PyObject* const* arguments)
        : targets_(arguments[1], "targets"), finals_(arguments[2], "finals") {
        view_.symbol_count = static_cast<std::size_t>(index_argument(arguments[0], "the symbol count"));
        view_.targets = targets_.elements();
        view_.finals = finals_.elements();
        view_.initial = static_cast<StateIndex>(index_argument(arguments[3], "the initial state"));
        const std::size_t n = view_.state_count();
        if (n == 0 || n > 0x7fffffff) throw InvalidArgument("an automaton needs between 1 and 2**31-1 states");
        if (view_.targets.size() != n * view_.symbol_count)
            throw InvalidArgument("the table does not hold one row of targets per state");
        if (static_cast<std::size_t>(view_.initial) >= n) throw InvalidArgument("the initial state is not a state");
        // Shifted by one, a target is in range exactly when it is at most n
        // (no_transition becomes 0, anything below it wraps above n): one
        // running maximum, with no branch per target.
        std::uint32_t highest = 0;
        for (const StateIndex target : view_.targets) highest = std::max(highest, static_cast<std::uint32_t>(target) + 1U);
        if (highest > n) throw InvalidArgument("the table names a target that is not a state");
    }

    const DenseView& view() const noexcept { return view_; }

private:
    BufferView<StateIndex> targets_;
    BufferView<std::uint8_t> finals_;
    DenseView view_;
};

// Operand columns of a product: one entry per result column, each a column
// of the operand's table or -1.
class ColumnArgument {
public:
    ColumnArgument(PyObject* object, const DenseView& operand) : columns_(object, "columns") {
        for (const std::int32_t column : columns_.elements())
            if (column < -1 || column >= static_cast<std::int32_t>(operand.symbol_count))
                throw InvalidArgument("a column map names a column the operand does not have");
    }
    ColumnMap map() const noexcept { return columns_.elements(); }

private:
    BufferView<std::int32_t> columns_;
};

Combine combine_argument(PyObject* object) {
    switch (index_argument(object, "the operation")) {
        case 0: return Combine::union_of;
        case 1: return Combine::intersection;
        case 2: return Combine::difference;
        case 3: return Combine::symmetric_difference;
        default: throw InvalidArgument("unknown product operation");
    }
}

Object word_or_none(const std::optional<std::vector<std::int32_t>>& word) {
    if (!word) return Object::none();
    Object list = checked(PyList_New(static_cast<Py_ssize_t>(word->size())));
    for (std::size_t i = 0; i < word->size(); ++i)
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), checked(PyLong_FromLong((*word)[i])).release());
    return list;
}

// read_morvane(instance[, keep])
PyObject* read_morvane(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        if (count < 1 || count > 2) {
            PyErr_Format(PyExc_TypeError, "read_morvane() takes 1 or 2 arguments (%zd given)", count);
            throw PythonError{};
        }
        PyObject* keep = count == 2 ? arguments[1] : nullptr;
        if (keep != nullptr && !PyList_CheckExact(keep)) throw InvalidArgument("keep must be a list");
        return read_instance(arguments[0], keep);
    });
}

// build_morvane(cls, names, symbols, targets, finals, initial, extra_alphabet, extra_finals, initial_listed)
PyObject* build_morvane(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 9, "build_morvane");
        PyObject* dense[4] = {nullptr, arguments[3], arguments[4], arguments[5]};
        if (!PyUnicode_Check(arguments[2])) throw InvalidArgument("symbols must be a str");
        Object symbol_count = checked(PyLong_FromSsize_t(PyUnicode_GET_LENGTH(arguments[2])));
        dense[0] = symbol_count.ptr();
        const DenseArgument automaton(dense);
        const int initial_listed = PyObject_IsTrue(arguments[8]);
        if (initial_listed < 0) throw PythonError{};
        return build_instance(arguments[0], arguments[1], arguments[2], automaton.view(), arguments[6], arguments[7],
                              initial_listed != 0);
    });
}

// from_table(cls, table, initial, finals, states, alphabet) -> instance or None
PyObject* from_table_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 6, "from_table");
        return build_from_table(arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
    });
}

// rows_of(names, symbols, targets, finals, initial) -> list of dicts
PyObject* rows_of_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 5, "rows_of");
        if (!PyUnicode_Check(arguments[1])) throw InvalidArgument("symbols must be a str");
        Object symbol_count = checked(PyLong_FromSsize_t(PyUnicode_GET_LENGTH(arguments[1])));
        PyObject* dense[4] = {symbol_count.ptr(), arguments[2], arguments[3], arguments[4]};
        const DenseArgument automaton(dense);
        return rows_of(arguments[0], arguments[1], automaton.view());
    });
}

// minimize(symbol_count, targets, finals, initial) -> (targets, finals)
PyObject* minimize_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 4, "minimize");
        const DenseArgument automaton(arguments);
        return dense_bytes(minimize(automaton.view()));
    });
}

// product(a..., columns_a, b..., columns_b, operation) with each automaton
// as its four arguments; `shortest` selects the word search.
template <bool shortest>
PyObject* product_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 11, shortest ? "product_shortest_word" : "product");
        const DenseArgument a(arguments), b(arguments + 5);
        const ColumnArgument columns_a(arguments[4], a.view()), columns_b(arguments[9], b.view());
        if (columns_a.map().size() != columns_b.map().size()) throw InvalidArgument("the column maps differ in length");
        const Combine how = combine_argument(arguments[10]);
        if constexpr (shortest) {
            return word_or_none(product_shortest_word(a.view(), columns_a.map(), b.view(), columns_b.map(), how));
        } else {
            return dense_bytes(product(a.view(), columns_a.map(), b.view(), columns_b.map(), how));
        }
    });
}

// same_language(a..., columns_a, b..., columns_b) -> bool
PyObject* same_language_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 10, "same_language");
        const DenseArgument a(arguments), b(arguments + 5);
        const ColumnArgument columns_a(arguments[4], a.view()), columns_b(arguments[9], b.view());
        if (columns_a.map().size() != columns_b.map().size()) throw InvalidArgument("the column maps differ in length");
        const bool same = same_language(a.view(), columns_a.map(), b.view(), columns_b.map());
        return Object::borrow(morvane::Handle(same ? Py_True : Py_False));
    });
}

// shortest_word(symbol_count, targets, finals, initial) -> list of columns or None
PyObject* shortest_word_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 4, "shortest_word");
        const DenseArgument automaton(arguments);
        return word_or_none(shortest_word(automaton.view()));
    });
}

// reach(symbol_count, targets, finals, initial) -> (reachable, alive), a byte a state
PyObject* reach_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 4, "reach");
        const DenseArgument automaton(arguments);
        const Reach flags = reach(automaton.view());
        Object reachable = checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(flags.reachable.data()),
                                                             static_cast<Py_ssize_t>(flags.reachable.size())));
        Object alive = checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(flags.alive.data()),
                                                         static_cast<Py_ssize_t>(flags.alive.size())));
        return checked(PyTuple_Pack(2, reachable.ptr(), alive.ptr()));
    });
}

// is_infinite(symbol_count, targets, finals, initial) -> bool
PyObject* is_infinite_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 4, "is_infinite");
        const DenseArgument automaton(arguments);
        return Object::borrow(morvane::Handle(has_useful_cycle(automaton.view()) ? Py_True : Py_False));
    });
}

// Numbers of limbs cross to Python as hexadecimal text: public API on
// every supported version, and linear in the digits.
Object python_number(std::span<const std::uint64_t> number) {
    std::string digits;
    digits.reserve(number.size() * 16);
    for (std::size_t limb = number.size(); limb-- > 0;) {
        char chunk[17];
        std::snprintf(chunk, sizeof chunk, "%016llx", static_cast<unsigned long long>(number[limb]));
        digits += chunk;
    }
    return checked(PyLong_FromString(digits.c_str(), nullptr, 16));
}

std::vector<std::uint64_t> limbs_of(PyObject* number) {
    Object text = checked(PyNumber_ToBase(number, 16));  // "0x..." (never negative here)
    Py_ssize_t size = 0;
    const char* digits = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (digits == nullptr) throw PythonError{};
    std::vector<std::uint64_t> limbs((static_cast<std::size_t>(size) + 15) / 16, 0);
    std::size_t bit = 0;
    for (Py_ssize_t at = size; at-- > 2;) {
        const char c = digits[at];
        const std::uint64_t value = c <= '9' ? static_cast<std::uint64_t>(c - '0') : static_cast<std::uint64_t>(c - 'a' + 10);
        limbs[bit / 64] |= value << (bit % 64);
        bit += 4;
    }
    return limbs;
}

// A long count can be interrupted between rows, like the loop it replaces.
void check_signals() {
    if (PyErr_CheckSignals() != 0) throw PythonError{};
}

std::size_t length_argument(PyObject* object) { return static_cast<std::size_t>(index_argument(object, "the length")); }

// count_words(symbol_count, targets, finals, initial, length) -> int
PyObject* count_words_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 5, "count_words");
        const DenseArgument automaton(arguments);
        const WordCounts counts(automaton.view(), length_argument(arguments[4]), false, check_signals);
        return python_number(counts.accepted());
    });
}

// random_word(symbol_count, targets, finals, initial, length, randrange) -> list of columns or None
PyObject* random_word_entry(PyObject*, PyObject* const* arguments, Py_ssize_t count) {
    return guarded([&] {
        expect_arguments(count, 6, "random_word");
        const DenseArgument automaton(arguments);
        const std::size_t length = length_argument(arguments[4]);
        PyObject* randrange = arguments[5];
        const WordCounts counts(automaton.view(), length, true, check_signals);
        auto below = [randrange](std::span<const std::uint64_t> bound) {
            Object limit = python_number(bound);
            Object drawn = checked(PyObject_CallOneArg(randrange, limit.ptr()));
            if (!PyLong_Check(drawn.ptr())) {
                PyErr_Format(PyExc_TypeError, "randrange() returned %.80s, not an int", Py_TYPE(drawn.ptr())->tp_name);
                throw PythonError{};
            }
            Object zero = checked(PyLong_FromLong(0));
            const int negative = PyObject_RichCompareBool(drawn.ptr(), zero.ptr(), Py_LT);
            const int beyond = negative != 0 ? 0 : PyObject_RichCompareBool(drawn.ptr(), limit.ptr(), Py_GE);
            if (negative < 0 || beyond < 0) throw PythonError{};
            if (negative != 0 || beyond != 0) {
                PyErr_Format(PyExc_ValueError, "randrange(%S) returned %S, outside the range asked for", limit.ptr(),
                             drawn.ptr());
                throw PythonError{};
            }
            return limbs_of(drawn.ptr());
        };
        return word_or_none(draw_word(counts, length, below));
    });
}

PyMethodDef functions[] = {
    {"read_morvane", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_morvane)), METH_FASTCALL, nullptr},
    {"build_morvane", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build_morvane)), METH_FASTCALL, nullptr},
    {"from_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_table_entry)), METH_FASTCALL, nullptr},
    {"rows_of", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(rows_of_entry)), METH_FASTCALL, nullptr},
    {"minimize", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(minimize_entry)), METH_FASTCALL, nullptr},
    {"product", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(product_entry<false>)), METH_FASTCALL, nullptr},
    {"product_shortest_word", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(product_entry<true>)), METH_FASTCALL,
     nullptr},
    {"same_language", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(same_language_entry)), METH_FASTCALL,
     nullptr},
    {"shortest_word", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(shortest_word_entry)), METH_FASTCALL, nullptr},
    {"count_words", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(count_words_entry)), METH_FASTCALL, nullptr},
    {"random_word", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(random_word_entry)), METH_FASTCALL, nullptr},
    {"reach", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(reach_entry)), METH_FASTCALL, nullptr},
    {"is_infinite", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(is_infinite_entry)), METH_FASTCALL, nullptr},
    {"regex_automaton", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(regex_automaton_entry)), METH_FASTCALL,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    // No state of its own: every interpreter may load it.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "morvane_tools._native", "Native algorithms of morvane_tools (internal).", 0, functions, slots,
    nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace morvane_tools

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&morvane_tools::definition); }

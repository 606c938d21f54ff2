#include "binding/results.hpp"

#include <array>

#include "automaton/keyed_hash.hpp"

namespace morvane::binding {

namespace {

// The one list builder: a new list of `count` items. fill(put) calls
// put(make) once per item in order, make() giving a new reference or null;
// after a failure no further item is made and the result is null with the
// error set.
template <class Fill>
PyObject* new_list(std::size_t count, Fill&& fill) noexcept {
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    Py_ssize_t filled = 0;
    bool failed = false;
    auto put = [&](auto&& make) {
        if (failed) return;
        PyObject* item = make();
        if (item)
            PyList_SET_ITEM(list.ptr(), filled++, item);
        else
            failed = true;
    };
    fill(put);
    return failed ? nullptr : list.release();
}

// A list of make(0), make(1), ...
template <class Make>
PyObject* list_of(std::size_t count, Make&& make) noexcept {
    return new_list(count, [&](auto& put) {
        for (std::size_t index = 0; index < count; ++index) put([&] { return make(index); });
    });
}

// A new tuple that takes over the given new references; null if any is null.
template <class... Items>
PyObject* new_tuple(Items... items) noexcept {
    PyObject* parts[] = {items...};
    bool complete = true;
    for (PyObject* part : parts) complete &= part != nullptr;
    PyObject* tuple = complete ? PyTuple_New(sizeof...(Items)) : nullptr;
    for (std::size_t index = 0; index < sizeof...(Items); ++index) {
        if (tuple)
            PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(index), parts[index]);
        else
            Py_XDECREF(parts[index]);
    }
    return tuple;
}

// A made text and the references to it that a result's tuples hold but
// have not yet been added to its count.
struct Made {
    Object text;
    std::size_t uses = 0;
};

// The str of each of `count` numbered texts, made by make(number) the first
// time it is asked for and kept for the rest of one result. Numbers index an
// array while there are not many more of them than uses; beyond that (a
// million states, a handful of transitions) a hash finds the made ones.
//
// The references that a result's tuples hold are counted here rather than
// written into each str as the tuple is made: one str may be in thousands of
// tuples, and among many states its object is rarely in cache. credit_uses()
// adds the counts to the strs in one write each; it must run before any of
// those tuples can be let go.
template <class Make>
class TextsOfOneResult {
public:
    TextsOfOneResult(std::size_t count, std::size_t uses, Make make) : make_(make) {
        if (count <= 2 * uses + 64) {
            by_number_.resize(count);
        } else {
            made_.reserve(uses);
            slots_.reserve(uses);
        }
    }
    TextsOfOneResult(const TextsOfOneResult&) = delete;
    TextsOfOneResult& operator=(const TextsOfOneResult&) = delete;

    // The made text of a number: null with the error set when making fails.
    // Never allocates beyond the str: the room for every use is reserved.
    Made* get(std::uint32_t number) noexcept {
        if (!by_number_.empty()) {
            Made& made = by_number_[number];
            if (!made.text) made.text = Object::steal(make_(number));
            return made.text ? &made : nullptr;
        }
        if (const std::uint32_t* index = slots_.find(std::uint64_t{number} + 1)) return &made_[*index];
        Object text = Object::steal(make_(number));
        if (!text) return nullptr;
        slots_.insert(std::uint64_t{number} + 1, static_cast<std::uint32_t>(made_.size()));
        made_.push_back(Made{std::move(text), 0});
        return &made_.back();
    }

    // Asks for a number's entry ahead of its use.
    void prefetch(std::uint32_t number) const noexcept {
        if (!by_number_.empty()) __builtin_prefetch(&by_number_[number], 1);
    }

    void credit_uses() noexcept {
        for (std::vector<Made>* all : {&by_number_, &made_})
            for (Made& made : *all) {
                if (made.uses != 0) Py_SET_REFCNT(made.text.ptr(), Py_REFCNT(made.text.ptr()) + made.uses);
                made.uses = 0;
            }
    }

private:
    Make make_;
    std::vector<Made> by_number_;
    std::vector<Made> made_;
    hashing::ProbingMap<std::uint32_t, false> slots_;  // number + 1 -> index in made_
};

// A new 3-tuple of the given borrowed items; it takes references to them
// that the caller still has to count (see credit_uses). A tuple of str can
// take part in no cycle, so the collector never sees it: it would untrack it
// at its first pass anyway, after walking millions of them.
PyObject* new_untracked_triple(PyObject* first, PyObject* second, PyObject* third) noexcept {
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030E0000 && !defined(Py_GIL_DISABLED)
    // On these versions a tuple is its header and its items, and this is how
    // the tuple type allocates one when its free list is empty; taking that
    // path directly skips the free list's check and the tracking that would
    // be undone at once. (Later versions add a cached hash to the header.)
    PyObject* tuple = reinterpret_cast<PyObject*>(PyObject_GC_NewVar(PyTupleObject, &PyTuple_Type, 3));
    if (!tuple) return nullptr;
#else
    PyObject* tuple = PyTuple_New(3);
    if (!tuple) return nullptr;
    PyObject_GC_UnTrack(tuple);
#endif
    PyTuple_SET_ITEM(tuple, 0, first);
    PyTuple_SET_ITEM(tuple, 1, second);
    PyTuple_SET_ITEM(tuple, 2, third);
    return tuple;
}

PyObject* history_pair(const HistoryView& entry) noexcept {
    return new_tuple(python::new_str(entry.state), Py_NewRef(entry.data.ptr()));
}

}  // namespace

PyObject* to_python(const TextSet& texts) noexcept {
    return list_of(texts.size(), [&](std::size_t index) { return python::new_str(texts[index]); });
}

PyObject* to_python(const TransitionList& transitions) {
    const Automaton& automaton = *transitions.automaton;
    const std::size_t count = transitions.count;
    TextsOfOneResult states(automaton.row_count(), 2 * count,
                            [&](std::uint32_t row) { return python::new_str(automaton.name_of_row(row)); });
    TextsOfOneResult symbols(automaton.column_count(), count, [&](std::uint32_t column) {
        return python::new_symbol(automaton.symbol_of_column(column));
    });
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    std::size_t filled = 0;
    bool failed = false;
    auto add = [&](std::uint32_t row, std::uint32_t column, std::uint32_t target_row) {
        Made* origin = states.get(row);
        Made* symbol = origin ? symbols.get(column) : nullptr;
        Made* target = symbol ? states.get(target_row) : nullptr;
        PyObject* tuple = target ? new_untracked_triple(origin->text.ptr(), symbol->text.ptr(), target->text.ptr())
                                 : nullptr;
        if (!tuple) {
            failed = true;
            return;
        }
        ++origin->uses;
        ++symbol->uses;
        ++target->uses;
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(filled++), tuple);
    };
    // The states' entries are worth loading ahead only when they outgrow the
    // nearer caches: then each transition waits in a ring while its entries load.
    struct Waiting {
        std::uint32_t row, column, target_row;
    };
    constexpr std::size_t ahead = 32;
    std::array<Waiting, ahead> ring;
    std::size_t seen = 0;
    const bool far_apart = automaton.row_count() > (std::uint32_t{1} << 12);
    automaton.for_each_transition([&](std::uint32_t row, std::uint32_t column, std::uint32_t target_row) {
        if (failed || seen == count) return;  // the count is the table's own: never more
        if (!far_apart) {
            ++seen;
            add(row, column, target_row);
            return;
        }
        states.prefetch(row);
        states.prefetch(target_row);
        Waiting& slot = ring[seen++ % ahead];
        if (seen > ahead) add(slot.row, slot.column, slot.target_row);
        slot = {row, column, target_row};
    });
    if (far_apart)
        for (std::size_t index = seen > ahead ? seen - ahead : 0; index < seen && !failed; ++index)
            add(ring[index % ahead].row, ring[index % ahead].column, ring[index % ahead].target_row);
    // Before the list can let any tuple go, on failure too.
    states.credit_uses();
    symbols.credit_uses();
    if (failed) return nullptr;
    if (filled != count) {
        PyErr_SetString(PyExc_SystemError, "the transition table holds fewer transitions than it counts");
        return nullptr;
    }
    return list.release();
}

PyObject* to_python(const std::vector<Symbol>& symbols) noexcept {
    return list_of(symbols.size(), [&](std::size_t index) { return python::new_symbol(symbols[index].code_point); });
}

PyObject* to_python(const std::vector<HistoryView>& entries) noexcept {
    return list_of(entries.size(), [&](std::size_t index) { return history_pair(entries[index]); });
}

PyObject* to_python(const std::optional<HistoryView>& entry) noexcept {
    return entry ? history_pair(*entry) : Py_NewRef(Py_None);
}

// The path is walked again while its list fills.
PyObject* to_python(const StatePath& path) noexcept {
    return new_list(path.size(), [&](auto& put) {
        path.for_each([&](Position at) { put([&] { return python::new_str(path.automaton->name_at(at)); }); });
    });
}

}  // namespace morvane::binding

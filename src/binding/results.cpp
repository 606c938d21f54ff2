#include "binding/results.hpp"

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

// The str of each of `count` numbered texts, made by make(number) the first
// time it is asked for and kept for the rest of one result. Numbers index an
// array while there are not many more of them than uses; beyond that (a
// million states, a handful of transitions) a hash finds the made ones.
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

    // Borrowed from this cache; null with the error set when making fails.
    // Never allocates beyond the str: the room for every use is reserved.
    PyObject* get(std::uint32_t number) noexcept {
        if (!by_number_.empty()) return get_or_make(by_number_[number], number);
        if (const std::uint32_t* index = slots_.find(std::uint64_t{number} + 1)) return made_[*index].ptr();
        Object text = Object::steal(make_(number));
        if (!text) return nullptr;
        slots_.insert(std::uint64_t{number} + 1, static_cast<std::uint32_t>(made_.size()));
        made_.push_back(std::move(text));
        return made_.back().ptr();
    }

    // Loading ahead, in two stages: the cache's slot for a number wanted in
    // a while, then the str itself for one wanted soon, whose reference count
    // is written and which among many states is rarely in cache.
    void prefetch_slot(std::uint32_t number) const noexcept {
        if (!by_number_.empty()) __builtin_prefetch(&by_number_[number]);
    }
    void prefetch_text(std::uint32_t number) const noexcept {
        if (!by_number_.empty())
            if (PyObject* text = by_number_[number].ptr()) __builtin_prefetch(text, 1);
    }

private:
    PyObject* get_or_make(Object& slot, std::uint32_t number) noexcept {
        if (!slot) slot = Object::steal(make_(number));
        return slot.ptr();
    }

    Make make_;
    std::vector<Object> by_number_;
    std::vector<Object> made_;
    hashing::ProbingMap<std::uint32_t, false> slots_;  // number + 1 -> index in made_
};

// A new 3-tuple holding new references to three borrowed items.
PyObject* triple(PyObject* first, PyObject* second, PyObject* third) noexcept {
    if (!first || !second || !third) return nullptr;
    PyObject* tuple = PyTuple_New(3);
    if (!tuple) return nullptr;
    PyTuple_SET_ITEM(tuple, 0, Py_NewRef(first));
    PyTuple_SET_ITEM(tuple, 1, Py_NewRef(second));
    PyTuple_SET_ITEM(tuple, 2, Py_NewRef(third));
    // A tuple of str can take part in no cycle; the collector would untrack it
    // at its first pass anyway, after walking millions of them.
    PyObject_GC_UnTrack(tuple);
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
    const std::size_t count = transitions.entries.size();
    TextsOfOneResult states(automaton.row_count(), 2 * count,
                            [&](std::uint32_t row) { return python::new_str(automaton.name_of_row(row)); });
    TextsOfOneResult symbols(automaton.column_count(), count, [&](std::uint32_t column) {
        return python::new_symbol(automaton.symbol_of_column(column));
    });
    constexpr std::size_t soon = 16, later = 48;
    return list_of(count, [&](std::size_t index) {
        if (index + later < count) {
            const TransitionList::Entry& ahead = transitions.entries[index + later];
            states.prefetch_slot(ahead.row);
            states.prefetch_slot(ahead.target_row);
        }
        if (index + soon < count) {
            const TransitionList::Entry& ahead = transitions.entries[index + soon];
            states.prefetch_text(ahead.row);
            states.prefetch_text(ahead.target_row);
        }
        const TransitionList::Entry& entry = transitions.entries[index];
        return triple(states.get(entry.row), symbols.get(entry.column), states.get(entry.target_row));
    });
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

// Result conversions for the engine's composite results.
#include "binding/frame.hpp"

namespace morvane::binding {

namespace {

// A new list of `count` items made by make(index); null with the error set
// when any item fails.
template <class Make>
PyObject* new_list(std::size_t count, Make&& make) noexcept {
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return nullptr;
    for (std::size_t index = 0; index < count; ++index) {
        PyObject* item = make(index);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(index), item);
    }
    return list.release();
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

PyObject* history_pair(const HistoryView& entry) noexcept {
    return new_tuple(new_str(entry.state), Py_NewRef(entry.data.ptr()));
}

}  // namespace

PyObject* to_python(const std::vector<TransitionView>& transitions) noexcept {
    return new_list(transitions.size(), [&](std::size_t index) {
        const TransitionView& transition = transitions[index];
        return new_tuple(new_str(transition.origin), new_symbol(transition.symbol), new_str(transition.target));
    });
}

PyObject* to_python(const std::vector<Symbol>& symbols) noexcept {
    return new_list(symbols.size(), [&](std::size_t index) { return new_symbol(symbols[index]); });
}

PyObject* to_python(const std::vector<HistoryView>& entries) noexcept {
    return new_list(entries.size(), [&](std::size_t index) { return history_pair(entries[index]); });
}

PyObject* to_python(const std::optional<HistoryView>& entry) noexcept {
    return entry ? history_pair(*entry) : Py_NewRef(Py_None);
}

PyObject* to_python(const StatePath& path) noexcept {
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(path.size())));
    if (!list) return nullptr;
    Py_ssize_t filled = 0;
    bool failed = false;
    path.for_each([&](Position at) {
        if (failed) return;
        PyObject* text = new_str(path.automaton->name_at(at));
        if (!text) {
            failed = true;
            return;
        }
        PyList_SET_ITEM(list.ptr(), filled++, text);
    });
    return failed ? nullptr : list.release();
}

}  // namespace morvane::binding

#include "binding/results.hpp"

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

PyObject* history_pair(const HistoryView& entry) noexcept {
    return new_tuple(python::new_str(entry.state), Py_NewRef(entry.data.ptr()));
}

}  // namespace

PyObject* to_python(std::span<const std::string> texts) noexcept {
    return list_of(texts.size(), [&](std::size_t index) { return python::new_str(texts[index]); });
}

PyObject* to_python(const std::vector<TransitionView>& transitions) noexcept {
    return list_of(transitions.size(), [&](std::size_t index) {
        const TransitionView& transition = transitions[index];
        return new_tuple(python::new_str(transition.origin), python::new_symbol(transition.symbol.code_point),
                         python::new_str(transition.target));
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

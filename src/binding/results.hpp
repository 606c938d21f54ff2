// Conversions of results, chosen by the engine operation's return type: one
// to_python overload per type. Each returns a new reference, or null with a
// Python exception set. Every call builds new objects: no result shares a
// str, list or tuple with another result or with the instance. Within one
// result a text that recurs may be one object (the transition list makes
// each state's and symbol's str once).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automaton/automaton.hpp"
#include "automaton/python_text.hpp"

namespace morvane::binding {

inline PyObject* to_python(bool value) noexcept { return Py_NewRef(value ? Py_True : Py_False); }
inline PyObject* to_python(std::size_t count) noexcept { return PyLong_FromSize_t(count); }
inline PyObject* to_python(std::string_view text) noexcept { return python::new_str(text); }
inline PyObject* to_python(const std::string& text) noexcept { return python::new_str(text); }
// A stored object (context data, snapshot): itself, with a new reference.
inline PyObject* to_python(Handle stored) noexcept { return Py_NewRef(stored.ptr()); }
PyObject* to_python(const TextSet& texts) noexcept;  // a list in the set's order
PyObject* to_python(const TransitionList& transitions);  // may throw std::bad_alloc
PyObject* to_python(const std::vector<Symbol>& symbols) noexcept;
PyObject* to_python(const std::vector<HistoryView>& entries) noexcept;
PyObject* to_python(const std::optional<HistoryView>& entry) noexcept;
PyObject* to_python(const StatePath& path) noexcept;

}  // namespace morvane::binding

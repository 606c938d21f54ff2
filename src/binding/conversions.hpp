// Conversions of arguments, chosen by the engine's parameter type: one
// from_python overload per type. Each returns false with a Python exception
// set; the frame adds the "while processing" note.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "automaton/automaton.hpp"
#include "automaton/python_text.hpp"

namespace morvane::binding {

// Text: a str (or subclass) as UTF-8, viewed in place for the call.
inline bool from_python(PyObject* object, Text& out) noexcept { return python::to_text(object, out); }

bool to_symbol_general(PyObject* object, Symbol& out) noexcept;

// Symbol: a str of exactly one code point.
inline bool from_python(PyObject* object, Symbol& out) noexcept {
    if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object) && PyUnicode_GET_LENGTH(object) == 1) {
        out = Symbol{static_cast<unsigned char>(*python::ascii_data(object))};
        return true;
    }
    return to_symbol_general(object, out);
}

// A whole input: a str read in place. Whether it holds a lone surrogate is
// left to the walk, which reads every unit anyway and dies on one (see
// walk/lone_surrogates.hpp); the engine then throws UnencodableInput and
// the frame finishes the conversion, raising its error.
bool from_python(PyObject* object, InputText& out) noexcept;

// The rest of a conversion that a walk left unfinished: false with the
// error of a plain conversion set. Only an input's conversion has a rest.
bool finish_conversion(PyObject* object, const InputText& converted) noexcept;
template <class Value>
bool finish_conversion(PyObject*, const Value&) noexcept {
    return true;
}
// Such a conversion is the last of its operation: no later argument's error
// can then come before its own.
template <class Value>
inline constexpr bool conversion_finished_later = std::is_same_v<Value, InputText>;

// A set or frozenset (or subclass) of str, each member as UTF-8.
bool from_python(PyObject* object, std::vector<std::string>& out) noexcept;

// Any object: not converted, handed over as it is.
inline bool from_python(PyObject* object, Handle& out) noexcept {
    out = Handle(object);
    return true;
}

}  // namespace morvane::binding

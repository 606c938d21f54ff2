// Conversions between Python objects and the engine's values.
//
// Argument conversions return false with a Python exception set; the frame
// adds the "while processing" note. Result conversions return a new
// reference, or nullptr with an exception set.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "automaton/automaton.hpp"

namespace morvane::binding {

// ---- arguments
bool to_text_general(PyObject* object, Text& out) noexcept;
bool to_symbol_general(PyObject* object, Symbol& out) noexcept;

// The characters of a compact ASCII str, which are its UTF-8 as they stand.
inline const char* ascii_data(PyObject* text) noexcept {
    return reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(text) + 1);
}

// A str (or subclass) as UTF-8. The view lives as long as the object.
inline bool to_text(PyObject* object, Text& out) noexcept {
    if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
        out = Text(ascii_data(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
        return true;
    }
    return to_text_general(object, out);
}

// A str of exactly one code point.
inline bool to_symbol(PyObject* object, Symbol& out) noexcept {
    if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object) && PyUnicode_GET_LENGTH(object) == 1) {
        out = Symbol{static_cast<unsigned char>(*ascii_data(object))};
        return true;
    }
    return to_symbol_general(object, out);
}
// A str read in place, after checking it holds no lone surrogate.
bool to_input(PyObject* object, InputText& out) noexcept;
// A set or frozenset (or subclass) of str, each member as UTF-8.
bool to_text_set(PyObject* object, std::vector<std::string>& out) noexcept;
// The interpreter's own integer conversion (int or __index__), 64-bit.
bool to_int64(PyObject* object, std::int64_t& out) noexcept;

// TypeError "'<type>' object is not an instance of '<expected>'".
void raise_cast_error(PyObject* object, const char* expected) noexcept;

// ---- results
// Each call makes a new str: no result shares an object with another or
// with the instance (the empty string excepted: the interpreter has one).
PyObject* new_str(std::string_view utf8) noexcept;
PyObject* new_symbol(Symbol symbol) noexcept;
PyObject* new_str_list(std::span<const std::string> texts) noexcept;

}  // namespace morvane::binding

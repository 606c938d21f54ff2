// Text and integers between Python objects and the engine, beside the
// owned-reference type (object.hpp). The call frame converts arguments and
// results with these; context typing converts the context data with them.
//
// Conversions to the engine return false with a Python exception set.
// Conversions to Python return a new reference, or null with an exception set.
#pragma once

#include "automaton/object.hpp"

#include <cstdint>
#include <string_view>

namespace morvane::python {

// TypeError "'<type>' object is not an instance of '<expected>'", or
// "'None' is not an instance of '<expected>'".
void raise_cast_error(PyObject* object, const char* expected) noexcept;

bool to_text_general(PyObject* object, std::string_view& out) noexcept;

// The characters of a compact ASCII str, which are its UTF-8 as they stand.
inline const char* ascii_data(PyObject* text) noexcept {
    return reinterpret_cast<const char*>(reinterpret_cast<PyASCIIObject*>(text) + 1);
}

// A str (or subclass) as UTF-8. The view lives as long as the object.
inline bool to_text(PyObject* object, std::string_view& out) noexcept {
    if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
        out = std::string_view(ascii_data(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
        return true;
    }
    return to_text_general(object, out);
}

// The interpreter's own integer conversion (int or __index__), 64-bit.
bool to_int64(PyObject* object, std::int64_t& out) noexcept;

// A new str on every call, one-character Latin-1 texts included (the
// interpreter's decoder would share its cached ones); only the empty string
// is the interpreter's one. `utf8` must be valid.
PyObject* new_str(std::string_view utf8) noexcept;
// A new str of one character.
PyObject* new_symbol(char32_t code_point) noexcept;

}  // namespace morvane::python

#include "automaton/python_text.hpp"

#include <cstring>

#include "automaton/utf8.hpp"

namespace morvane::python {

void raise_cast_error(PyObject* object, const char* expected) noexcept {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    const Object qualname = Object::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!qualname) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.ptr(), expected);
}

bool to_text_general(PyObject* object, std::string_view& out) noexcept {
    if (!PyUnicode_Check(object)) {
        raise_cast_error(object, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);  // cached in the object
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

bool to_int64(PyObject* object, std::int64_t& out) noexcept {
    static_assert(sizeof(long) == sizeof(std::int64_t), "64-bit Linux: long is 64 bits");
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

PyObject* new_str(std::string_view utf8) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    unsigned char high = 0;
    for (std::size_t index = 0; index < size; ++index) high |= bytes[index];
    if (high < 0x80) {  // ASCII: copy the bytes into a fresh object
        PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(size), 127);
        if (text && size) std::memcpy(PyUnicode_1BYTE_DATA(text), bytes, size);
        return text;
    }
    Py_ssize_t length = 0;
    char32_t max_char = 0;
    for (std::size_t index = 0; index < size; ++length) {
        const char32_t code_point = utf8::decode(bytes, index);
        if (code_point > max_char) max_char = code_point;
    }
    PyObject* text = PyUnicode_New(length, max_char);
    if (!text) return nullptr;
    const int kind = PyUnicode_KIND(text);
    void* data = PyUnicode_DATA(text);
    Py_ssize_t position = 0;
    for (std::size_t index = 0; index < size; ++position) PyUnicode_WRITE(kind, data, position, utf8::decode(bytes, index));
    return text;
}

PyObject* new_symbol(char32_t code_point) noexcept {
    PyObject* text = PyUnicode_New(1, code_point);
    if (text) PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), 0, code_point);
    return text;
}

}  // namespace morvane::python

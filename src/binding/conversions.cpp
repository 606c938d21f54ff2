#include "binding/conversions.hpp"

#include <new>

#include "automaton/walk/lone_surrogates.hpp"

namespace morvane::binding {

namespace {

bool is_surrogate(Py_UCS4 unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }

// Whether a str can be encoded as UTF-8, without caching an encoded copy in it.
bool is_encodable(PyObject* text) noexcept {
    return !walk::holds_lone_surrogate(PyUnicode_DATA(text), static_cast<std::size_t>(PyUnicode_GET_LENGTH(text)),
                                       static_cast<int>(PyUnicode_KIND(text)));
}

// Raises the interpreter's own UnicodeEncodeError for a str that has a lone
// surrogate, by letting the interpreter try to encode it.
void raise_encode_error(PyObject* text) noexcept {
    if (PyUnicode_AsUTF8AndSize(text, nullptr) != nullptr)
        PyErr_SetString(PyExc_SystemError, "expected an unencodable string");
}

}  // namespace

bool to_symbol_general(PyObject* object, Symbol& out) noexcept {
    if (!PyUnicode_Check(object)) {
        python::raise_cast_error(object, "str");
        return false;
    }
    if (PyUnicode_GET_LENGTH(object) == 1) {
        const Py_UCS4 code_point = PyUnicode_READ_CHAR(object, 0);
        if (is_surrogate(code_point)) {
            raise_encode_error(object);
            return false;
        }
        out = Symbol{static_cast<char32_t>(code_point)};
        return true;
    }
    // An unencodable string reports the encoding error, whatever its length.
    if (!is_encodable(object)) {
        raise_encode_error(object);
        return false;
    }
    PyErr_SetString(PyExc_ValueError, "expected a string of length 1");
    return false;
}

bool from_python(PyObject* object, InputText& out) noexcept {
    if (!PyUnicode_Check(object)) {
        python::raise_cast_error(object, "str");
        return false;
    }
    out = InputText{PyUnicode_DATA(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)),
                    static_cast<int>(PyUnicode_KIND(object))};
    return true;
}

bool finish_conversion(PyObject* object, const InputText&) noexcept {
    if (is_encodable(object)) return true;
    raise_encode_error(object);
    return false;
}

bool from_python(PyObject* object, std::vector<std::string>& out) noexcept {
    if (!PyAnySet_Check(object)) {
        python::raise_cast_error(object, "set");
        return false;
    }
    const Object iterator = Object::steal(PyObject_GetIter(object));
    if (!iterator) return false;
    try {
        std::vector<std::string> members;
        members.reserve(static_cast<std::size_t>(PySet_GET_SIZE(object)));
        while (const Object item = Object::steal(PyIter_Next(iterator.ptr()))) {
            Text text;
            if (!python::to_text(item.ptr(), text)) return false;
            members.emplace_back(text);
        }
        if (PyErr_Occurred()) return false;
        out = std::move(members);
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

}  // namespace morvane::binding

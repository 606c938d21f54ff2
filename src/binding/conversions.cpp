#include "binding/conversions.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <new>

namespace morvane::binding {

namespace {

bool is_surrogate(Py_UCS4 unit) noexcept { return unit >= 0xD800 && unit <= 0xDFFF; }

// Whole vectors of units at a time (the compiler's vector extension, so any
// processor's baseline): -O2 leaves the plain loop one unit a step, and on
// long strings this scan cost as much as the walk itself.
typedef std::uint16_t Units16 __attribute__((vector_size(16)));
typedef std::uint32_t Units32 __attribute__((vector_size(16)));

template <class Unit>
bool holds_surrogate(const Unit* units, Py_ssize_t length) noexcept {
    using Vector = std::conditional_t<sizeof(Unit) == 2, Units16, Units32>;
    constexpr Py_ssize_t lanes = sizeof(Vector) / sizeof(Unit);
    const Unit mask = static_cast<Unit>(0xFFFFF800u), surrogates = static_cast<Unit>(0xD800u);
    Vector seen{};
    Py_ssize_t index = 0;
    for (; length - index >= lanes; index += lanes) {
        Vector units_here;
        std::memcpy(&units_here, units + index, sizeof units_here);
        seen |= (Vector)((units_here & mask) == surrogates);
    }
    bool found = false;
    for (Py_ssize_t lane = 0; lane < lanes; ++lane) found |= seen[lane] != 0;
    for (; index < length; ++index) found |= (units[index] & mask) == surrogates;
    return found;
}

// Whether a str can be encoded as UTF-8, without caching an encoded copy in it.
bool is_encodable(PyObject* text) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return true;
        case PyUnicode_2BYTE_KIND: return !holds_surrogate(PyUnicode_2BYTE_DATA(text), length);
        default: return !holds_surrogate(PyUnicode_4BYTE_DATA(text), length);
    }
}

// The code point at `index` of valid UTF-8; moves `index` past it.
Py_UCS4 decode_utf8(const unsigned char* bytes, std::size_t& index) noexcept {
    const unsigned char lead = bytes[index];
    if (lead < 0x80) {
        index += 1;
        return lead;
    }
    if (lead < 0xE0) {
        index += 2;
        return ((lead & 0x1Fu) << 6) | (bytes[index - 1] & 0x3Fu);
    }
    if (lead < 0xF0) {
        index += 3;
        return ((lead & 0x0Fu) << 12) | ((bytes[index - 2] & 0x3Fu) << 6) | (bytes[index - 1] & 0x3Fu);
    }
    index += 4;
    return ((lead & 0x07u) << 18) | ((bytes[index - 3] & 0x3Fu) << 12) | ((bytes[index - 2] & 0x3Fu) << 6) |
           (bytes[index - 1] & 0x3Fu);
}

// Raises the interpreter's own UnicodeEncodeError for a str that has a lone
// surrogate, by letting the interpreter try to encode it.
void raise_encode_error(PyObject* text) noexcept {
    if (PyUnicode_AsUTF8AndSize(text, nullptr) != nullptr)
        PyErr_SetString(PyExc_SystemError, "expected an unencodable string");
}

}  // namespace

void raise_cast_error(PyObject* object, const char* expected) noexcept {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    const Object qualname = Object::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!qualname) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.ptr(), expected);
}

bool to_text_general(PyObject* object, Text& out) noexcept {
    if (!PyUnicode_Check(object)) {
        raise_cast_error(object, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);  // ASCII: the string's own buffer
    if (!utf8) return false;
    out = Text(utf8, static_cast<std::size_t>(size));
    return true;
}

bool to_symbol_general(PyObject* object, Symbol& out) noexcept {
    if (!PyUnicode_Check(object)) {
        raise_cast_error(object, "str");
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

bool to_input(PyObject* object, InputText& out) noexcept {
    if (!PyUnicode_Check(object)) {
        raise_cast_error(object, "str");
        return false;
    }
    if (!is_encodable(object)) {
        raise_encode_error(object);
        return false;
    }
    out = InputText{PyUnicode_DATA(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)),
                    static_cast<int>(PyUnicode_KIND(object))};
    return true;
}

bool to_text_set(PyObject* object, std::vector<std::string>& out) noexcept {
    if (!PyAnySet_Check(object)) {
        raise_cast_error(object, "set");
        return false;
    }
    const Object iterator = Object::steal(PyObject_GetIter(object));
    if (!iterator) return false;
    try {
        std::vector<std::string> members;
        members.reserve(static_cast<std::size_t>(PySet_GET_SIZE(object)));
        while (const Object item = Object::steal(PyIter_Next(iterator.ptr()))) {
            Text text;
            if (!to_text(item.ptr(), text)) return false;
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

bool to_int64(PyObject* object, std::int64_t& out) noexcept {
    static_assert(sizeof(long) == sizeof(std::int64_t), "64-bit Linux: long is 64 bits");
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

// ---- results ---------------------------------------------------------------

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
    // Decode by hand (the text is valid UTF-8): the interpreter's decoder
    // would hand out its shared object for one-character Latin-1 results.
    Py_ssize_t length = 0;
    Py_UCS4 max_char = 0;
    for (std::size_t index = 0; index < size; ++length) {
        const Py_UCS4 code_point = decode_utf8(bytes, index);
        if (code_point > max_char) max_char = code_point;
    }
    PyObject* text = PyUnicode_New(length, max_char);
    if (!text) return nullptr;
    const int kind = PyUnicode_KIND(text);
    void* data = PyUnicode_DATA(text);
    Py_ssize_t position = 0;
    for (std::size_t index = 0; index < size; ++position) {
        PyUnicode_WRITE(kind, data, position, decode_utf8(bytes, index));
    }
    return text;
}

PyObject* new_symbol(Symbol symbol) noexcept {
    PyObject* text = PyUnicode_New(1, symbol.code_point);
    if (text) PyUnicode_WRITE(PyUnicode_KIND(text), PyUnicode_DATA(text), 0, symbol.code_point);
    return text;
}

PyObject* new_str_list(std::span<const std::string> texts) noexcept {
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    if (!list) return nullptr;
    for (std::size_t index = 0; index < texts.size(); ++index) {
        PyObject* text = new_str(texts[index]);
        if (!text) return nullptr;
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(index), text);
    }
    return list.release();
}

}  // namespace morvane::binding

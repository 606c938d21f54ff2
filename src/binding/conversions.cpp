#include "binding/conversions.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
    // Four vectors a step: the loop's own bookkeeping would otherwise cost
    // as much as the compares.
    for (; length - index >= 4 * lanes; index += 4 * lanes) {
        Vector a, b, c, d;  // apart, not an array: an array would go through memory
        std::memcpy(&a, units + index, sizeof a);
        std::memcpy(&b, units + index + lanes, sizeof b);
        std::memcpy(&c, units + index + 2 * lanes, sizeof c);
        std::memcpy(&d, units + index + 3 * lanes, sizeof d);
        seen |= (Vector)((a & mask) == surrogates) | (Vector)((b & mask) == surrogates) |
                (Vector)((c & mask) == surrogates) | (Vector)((d & mask) == surrogates);
    }
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

#if defined(__x86_64__)
template <class Unit>
__attribute__((target("avx2"))) inline __m256i surrogate_lanes(const Unit* units) noexcept {
    const __m256i masked = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(units)),
                                            sizeof(Unit) == 2 ? _mm256_set1_epi16(static_cast<short>(0xF800))
                                                              : _mm256_set1_epi32(static_cast<int>(0xFFFFF800u)));
    return sizeof(Unit) == 2 ? _mm256_cmpeq_epi16(masked, _mm256_set1_epi16(static_cast<short>(0xD800)))
                             : _mm256_cmpeq_epi32(masked, _mm256_set1_epi32(0xD800));
}

// Twice the width where the processor has it: long strings are scanned whole
// before every walk, and the fast walks take little more than this scan.
template <class Unit>
__attribute__((target("avx2"))) bool holds_surrogate_avx2(const Unit* units, Py_ssize_t length) noexcept {
    constexpr Py_ssize_t lanes = 32 / sizeof(Unit);
    __m256i seen = _mm256_setzero_si256();
    Py_ssize_t index = 0;
    for (; length - index >= 4 * lanes; index += 4 * lanes) {
        const Unit* at = units + index;
        seen = _mm256_or_si256(seen, _mm256_or_si256(_mm256_or_si256(surrogate_lanes(at), surrogate_lanes(at + lanes)),
                                                     _mm256_or_si256(surrogate_lanes(at + 2 * lanes),
                                                                     surrogate_lanes(at + 3 * lanes))));
    }
    return !_mm256_testz_si256(seen, seen) || holds_surrogate(units + index, length - index);
}
#endif

template <class Unit>
bool holds_surrogate_anywhere(const Unit* units, Py_ssize_t length) noexcept {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return holds_surrogate_avx2(units, length);
#endif
    return holds_surrogate(units, length);
}

// Whether a str can be encoded as UTF-8, without caching an encoded copy in it.
bool is_encodable(PyObject* text) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND: return true;
        case PyUnicode_2BYTE_KIND: return !holds_surrogate_anywhere(PyUnicode_2BYTE_DATA(text), length);
        default: return !holds_surrogate_anywhere(PyUnicode_4BYTE_DATA(text), length);
    }
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
    if (!is_encodable(object)) {
        raise_encode_error(object);
        return false;
    }
    out = InputText{PyUnicode_DATA(object), static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)),
                    static_cast<int>(PyUnicode_KIND(object))};
    return true;
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

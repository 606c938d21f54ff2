// Naming the context data's type and rewriting the data as text or integer.
//
// The engine holds Python objects only as context data and history
// snapshots, and this is the one unit of it that calls into the interpreter
// for them: type names, str(), the integer conversion, the unraisable hook,
// and through them Python code of the caller's (__str__, __index__). It runs
// under a borrow, so such code cannot change this record while it runs.
#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"
#include "automaton/python_text.hpp"

namespace morvane {

namespace {

// UTF-8 of a str; lone surrogates become U+FFFD, one for each of the three
// bytes that "surrogatepass" gives them.
std::string utf8_replacing_surrogates(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) return std::string(utf8, static_cast<std::size_t>(size));
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonErrorSet{};
    PyErr_Clear();
    const Object bytes = Object::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!bytes) throw PythonErrorSet{};
    const Object repaired =
        Object::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.ptr()), PyBytes_GET_SIZE(bytes.ptr()), "replace"));
    if (!repaired) throw PythonErrorSet{};
    const char* utf8 = PyUnicode_AsUTF8AndSize(repaired.ptr(), &size);
    if (!utf8) throw PythonErrorSet{};
    return std::string(utf8, static_cast<std::size_t>(size));
}

// What str() gives for the object. When str() raises, the error goes to the
// unraisable hook and "<unprintable NAME object>" stands in, NAME being the
// type's name turned into text the same way, which may fail in turn and
// nest. Only a chain that would never end (a name that is an instance of its
// own type) is cut, past kMaxNestedNames levels.
constexpr int kMaxNestedNames = 8;

std::string display_text(Handle object, int level = 0) {
    const Object text = Object::steal(PyObject_Str(object.ptr()));
    if (text) return utf8_replacing_surrogates(text.ptr());
    PyErr_WriteUnraisable(object.ptr());
    if (level < kMaxNestedNames) {
        const Object name = Object::steal(PyType_GetName(Py_TYPE(object.ptr())));
        if (name) return "<unprintable " + display_text(name, level + 1) + " object>";
        PyErr_Clear();
    }
    return "<unprintable object>";
}

// Errors that "no integer value" may swallow; interrupts, exits and a
// failing allocator are not questions about the value and go on up.
bool is_ordinary_error() noexcept {
    return PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError);
}

}  // namespace

std::string Automaton::context_type() const {
    const Object name = Object::steal(PyType_GetName(Py_TYPE(data_.ptr())));
    if (!name) {
        PyErr_Clear();
        return "unknown";
    }
    return display_text(name);
}

void Automaton::transform_data(Text data_type_result, Text operation, Handle assert_val) {
    Object result;
    if (operation == "clear") {
        result = Object::none();
    } else if (data_type_result == "str") {
        std::string base;
        Text data_text;
        if (python::to_text(data_.ptr(), data_text)) {
            base = data_text;
        } else {
            PyErr_Clear();
            base = display_text(data_);
        }
        if (operation == "concat") {
            Text suffix;
            if (!python::to_text(assert_val.ptr(), suffix)) throw PythonErrorSet{};
            base += suffix;
        }
        // A new object even for one Latin-1 character, which the
        // interpreter's own decoder would share.
        result = Object::steal(python::new_str(base));
    } else if (data_type_result == "int") {
        std::int64_t value = 0;
        if (!python::to_int64(data_.ptr(), value)) {
            if (!is_ordinary_error()) throw PythonErrorSet{};
            PyErr_Clear();
            value = 0;
        }
        if (operation == "add") {
            std::int64_t addend = 0;
            if (!python::to_int64(assert_val.ptr(), addend)) throw PythonErrorSet{};
            // Two's-complement wrap-around, done in unsigned arithmetic where it is defined.
            value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) + static_cast<std::uint64_t>(addend));
        }
        result = Object::steal(PyLong_FromLongLong(value));
    } else {
        throw EngineError(EngineError::Kind::type, "Tipo de dado nao suportado. Use 'str' ou 'int'.");
    }
    if (!result) throw PythonErrorSet{};
    data_ = std::move(result);
}

}  // namespace morvane

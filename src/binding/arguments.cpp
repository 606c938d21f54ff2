#include "binding/arguments.hpp"

#include <cstring>
#include <new>
#include <string>

namespace morvane::binding {

bool intern_names(Signature& signature) noexcept {
    for (std::size_t index = 0; index < signature.count; ++index) {
        if (signature.interned[index]) continue;
        const std::string_view name = signature.names[index];
        PyObject* text = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
        if (!text) return false;
        PyUnicode_InternInPlace(&text);
        signature.interned[index] = text;
    }
    return true;
}

namespace {

bool same_text(PyObject* keyword, std::string_view name) noexcept {
    // Parameter names are ASCII, so only an ASCII keyword can equal one; a
    // keyword that has no UTF-8 encoding is never ASCII.
    return PyUnicode_Check(keyword) && PyUnicode_IS_ASCII(keyword) &&
           static_cast<std::size_t>(PyUnicode_GET_LENGTH(keyword)) == name.size() &&
           std::memcmp(PyUnicode_DATA(keyword), name.data(), name.size()) == 0;
}

// Index of the parameter a keyword names, or -1.
Py_ssize_t parameter_index(const Signature& signature, PyObject* keyword) noexcept {
    for (std::size_t index = 0; index < signature.count; ++index)
        if (signature.interned[index] == keyword) return static_cast<Py_ssize_t>(index);
    for (std::size_t index = 0; index < signature.count; ++index)
        if (same_text(keyword, signature.names[index])) return static_cast<Py_ssize_t>(index);
    return -1;
}

void raise_too_many(const Signature& signature, Py_ssize_t given) noexcept {
    PyErr_Format(PyExc_TypeError, "Morvane.%s() takes %zu positional arguments but %zd %s given", signature.method,
                 signature.count, given, given == 1 ? "was" : "were");
}

void raise_missing(const Signature& signature, PyObject** bound) noexcept {
    try {
        std::size_t missing = 0;
        for (std::size_t index = 0; index < signature.count; ++index) missing += bound[index] == nullptr;
        std::string message = "Morvane.";
        message += signature.method;
        message += "() missing " + std::to_string(missing) + " required positional argument";
        message += missing == 1 ? ": " : "s: ";
        std::size_t listed = 0;
        for (std::size_t index = 0; index < signature.count; ++index) {
            if (bound[index] != nullptr) continue;
            if (listed > 0) message += missing == 2 ? " and " : listed + 1 == missing ? ", and " : ", ";
            message += '\'';
            message += signature.names[index];
            message += '\'';
            ++listed;
        }
        PyErr_SetString(PyExc_TypeError, message.c_str());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

// Binds one keyword argument; false with the error set.
bool bind_keyword(const Signature& signature, PyObject* keyword, PyObject* value, PyObject** bound) noexcept {
    const Py_ssize_t index = parameter_index(signature, keyword);
    if (index < 0) {
        // Keyword names are str whenever the interpreter made the call; a
        // C caller may pass anything, which is shown by its repr.
        PyErr_Format(PyExc_TypeError,
                     PyUnicode_Check(keyword) ? "Morvane.%s() got an unexpected keyword argument '%U'"
                                              : "Morvane.%s() got an unexpected keyword argument '%R'",
                     signature.method, keyword);
        return false;
    }
    if (bound[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "Morvane.%s() got multiple values for argument '%U'", signature.method, keyword);
        return false;
    }
    bound[index] = value;
    return true;
}

// The steps common to both forms: positionals, then keywords, then the
// check for missing ones.
template <class ForEachKeyword>
bool bind_all(Signature& signature, PyObject* const* positional, Py_ssize_t count, PyObject** bound,
              ForEachKeyword&& for_each_keyword) noexcept {
    if (count > static_cast<Py_ssize_t>(signature.count)) {
        raise_too_many(signature, count);
        return false;
    }
    for (std::size_t index = 0; index < signature.count; ++index)
        bound[index] = static_cast<Py_ssize_t>(index) < count ? positional[index] : nullptr;
    if (!for_each_keyword([&](PyObject* keyword, PyObject* value) {
            return bind_keyword(signature, keyword, value, bound);
        }))
        return false;
    for (std::size_t index = 0; index < signature.count; ++index) {
        if (bound[index] == nullptr) {
            raise_missing(signature, bound);
            return false;
        }
    }
    return true;
}

}  // namespace

bool bind_slow(Signature& signature, PyObject* const* args, Py_ssize_t positional, PyObject* keyword_names,
               PyObject** bound) noexcept {
    return bind_all(signature, args, positional, bound, [&](auto&& bind_one) {
        if (keyword_names == nullptr) return true;
        const Py_ssize_t keywords = PyTuple_GET_SIZE(keyword_names);
        for (Py_ssize_t index = 0; index < keywords; ++index)
            if (!bind_one(PyTuple_GET_ITEM(keyword_names, index), args[positional + index])) return false;
        return true;
    });
}

bool bind(Signature& signature, PyObject* args, PyObject* kwargs, PyObject** bound) noexcept {
    return bind_all(signature, PySequence_Fast_ITEMS(args), PyTuple_GET_SIZE(args), bound, [&](auto&& bind_one) {
        if (kwargs == nullptr) return true;
        Py_ssize_t position = 0;
        PyObject* keyword;
        PyObject* value;
        while (PyDict_Next(kwargs, &position, &keyword, &value))
            if (!bind_one(keyword, value)) return false;
        return true;
    });
}

}  // namespace morvane::binding

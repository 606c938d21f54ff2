// Binding a call's positional and keyword arguments to named parameters.
//
// Every parameter of this class is positional-or-keyword and required.
// Binding works on the interpreter's argument vector in place: the bound
// values are borrowed pointers in a caller-provided array, and a keyword
// name is matched first by identity against our interned names (the usual
// case, since the interpreter interns keyword names), then by content. The
// names are interned when the module executes, before any call can come.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace morvane::binding {

inline constexpr std::size_t kMaxParameters = 4;

struct Signature {
    // Builds one signature; `method` as in "Morvane.<method>()".
    constexpr Signature(const char* method_name, std::initializer_list<std::string_view> parameter_names)
        : method(method_name), count(parameter_names.size()) {
        std::size_t index = 0;
        for (std::string_view name : parameter_names) names[index++] = name;
    }

    const char* method;
    std::size_t count;
    std::array<std::string_view, kMaxParameters> names{};
    std::array<PyObject*, kMaxParameters> interned{};  // made once, when the module first executes; never released
};

// Interns the parameter names once; false with the error set when that fails.
bool intern_names(Signature& signature) noexcept;

// Vectorcall form, any call shape. `bound` receives `signature.count`
// borrowed pointers.
bool bind_slow(Signature& signature, PyObject* const* args, Py_ssize_t positional, PyObject* keyword_names,
               PyObject** bound) noexcept;

// Vectorcall form. Returns the bound arguments in parameter order, or null
// with the error set. The usual call (all arguments by position) is bound
// where it stands: the argument vector itself is the result.
inline PyObject* const* bind(Signature& signature, PyObject* const* args, Py_ssize_t positional,
                             PyObject* keyword_names, PyObject** storage) noexcept {
    if (keyword_names == nullptr && positional == static_cast<Py_ssize_t>(signature.count)) return args;
    return bind_slow(signature, args, positional, keyword_names, storage) ? storage : nullptr;
}

// Tuple-and-dict form, for the constructor.
bool bind(Signature& signature, PyObject* args, PyObject* kwargs, PyObject** bound) noexcept;

}  // namespace morvane::binding

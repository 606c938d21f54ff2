// The call frame: every method, property and the constructor go through it.
//
//   guard -> bind -> borrow -> convert arguments in order -> operation
//         -> convert result -> release borrow
//
// An entry is generated from the engine's member function alone: its
// parameter types choose the conversions (from_python, conversions.hpp), its
// constness chooses the borrow (const: shared, otherwise exclusive) and its
// return type the result conversion (to_python, results.hpp). The
// registration table names the function and its parameters.
#pragma once

#include <array>
#include <tuple>
#include <type_traits>
#include <utility>

#include "automaton/automaton.hpp"
#include "binding/arguments.hpp"
#include "binding/borrow.hpp"
#include "binding/conversions.hpp"
#include "binding/errors.hpp"
#include "binding/instance.hpp"
#include "binding/results.hpp"

namespace morvane::binding {

// Converts the bound arguments in parameter order; the first failure stops
// the rest and carries a note naming its parameter.
template <class Values, std::size_t... I>
bool convert_arguments(const Signature& signature, PyObject* const* bound, Values& values,
                       std::index_sequence<I...>) noexcept {
    auto convert_one = [&](PyObject* object, auto& value, std::string_view name) {
        if (from_python(object, value)) return true;
        add_processing_note(name);
        return false;
    };
    return (convert_one(bound[I], std::get<I>(values), signature.names[I]) && ...);
}

// ---- what an engine operation looks like -------------------------------------

template <class F>
struct Operation;

template <Access A, class R, class... Args>
struct OperationShape {
    static constexpr Access access = A;
    static constexpr std::size_t arity = sizeof...(Args);
    using Result = R;
    using Values = std::tuple<std::remove_cvref_t<Args>...>;
};

template <class R, class... Args>
struct Operation<R (Automaton::*)(Args...)> : OperationShape<Access::exclusive, R, Args...> {};
template <class R, class... Args>
struct Operation<R (Automaton::*)(Args...) noexcept> : OperationShape<Access::exclusive, R, Args...> {};
template <class R, class... Args>
struct Operation<R (Automaton::*)(Args...) const> : OperationShape<Access::shared, R, Args...> {};
template <class R, class... Args>
struct Operation<R (Automaton::*)(Args...) const noexcept> : OperationShape<Access::shared, R, Args...> {};

// Borrows the record, runs the operation on converted values and converts
// its result while the borrow is still held.
template <auto Op, class Prepare>
PyObject* run_borrowed(PyObject* self, Prepare&& prepare) {
    using Shape = Operation<decltype(Op)>;
    Instance& instance = Instance::of(self);
    Borrow<Shape::access> borrow(instance.borrow);
    if (!borrow) return nullptr;
    typename Shape::Values values;
    if (!prepare(values)) return nullptr;
    Automaton& automaton = instance.automaton();
    // decltype(auto): a reference result (a set of the record) is converted in place, not copied.
    auto call = [&](auto&... arguments) -> decltype(auto) { return (automaton.*Op)(arguments...); };
    if constexpr (std::is_void_v<typename Shape::Result>) {
        std::apply(call, values);
        Py_RETURN_NONE;
    } else {
        return to_python(std::apply(call, values));
    }
}

// ---- entries -------------------------------------------------------------------

// Methods with parameters: the fast calling convention with keywords.
template <auto Op, Signature& S>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
    using Shape = Operation<decltype(Op)>;
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        std::array<PyObject*, Shape::arity> storage;
        PyObject* const* bound = bind(S, args, PyVectorcall_NARGS(nargsf), kwnames, storage.data());
        if (!bound) return nullptr;
        return run_borrowed<Op>(self, [&](auto& values) {
            return convert_arguments(S, bound, values, std::make_index_sequence<Shape::arity>{});
        });
    });
}

// Methods without parameters (the interpreter has already refused any
// argument; Unused is PyObject) and read-only properties (Unused is void).
template <auto Op, class Unused>
PyObject* plain_entry(PyObject* self, Unused*) noexcept {
    return guarded<PyObject*>(nullptr, [&] { return run_borrowed<Op>(self, [](auto&) { return true; }); });
}

}  // namespace morvane::binding

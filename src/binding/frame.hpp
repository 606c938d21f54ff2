// The call frame: every method, property and the constructor go through it.
//
//   guard -> bind -> borrow -> convert arguments in order -> operation
//         -> convert result -> release borrow
//
// One conversion may be finished by the operation itself: an input's check
// for lone surrogates is left to the walk that reads it anyway. When the
// walk finds one (UnencodableInput, before any result and any change), the
// frame finishes that conversion, and its error is raised as if the
// conversion had failed in its turn; such a parameter comes last, so no
// other argument's error could have come first.
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

// After the operation refused an input: finishes the conversions the
// operation took over, raising the first one's error with its note.
template <class Values, std::size_t... I>
void raise_finished_conversion_error(const Signature& signature, PyObject* const* bound, const Values& values,
                                     std::index_sequence<I...>) noexcept {
    auto finish_one = [&](PyObject* object, const auto& value, std::string_view name) {
        if (finish_conversion(object, value)) return true;
        add_processing_note(name);
        return false;
    };
    if ((finish_one(bound[I], std::get<I>(values), signature.names[I]) && ...))
        raise_panic("a walk refused an input whose conversion finds nothing wrong");
}

template <class... Values>
constexpr bool conversions_finished_later_come_last(const std::tuple<Values...>*) {
    constexpr bool later[] = {false, conversion_finished_later<Values>...};
    for (std::size_t index = 1; index < sizeof...(Values); ++index)
        if (later[index]) return false;
    return true;
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
    static_assert(conversions_finished_later_come_last(static_cast<const Values*>(nullptr)),
                  "a parameter whose conversion the operation finishes must be the last");
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
// its result while the borrow is still held. `finish` raises the error of a
// conversion that the operation found unfinishable.
template <auto Op, class Prepare, class Finish>
PyObject* run_borrowed(PyObject* self, Prepare&& prepare, Finish&& finish) {
    using Shape = Operation<decltype(Op)>;
    Instance& instance = Instance::of(self);
    Borrow<Shape::access> borrow(instance.borrow);
    if (!borrow) return nullptr;
    typename Shape::Values values;
    if (!prepare(values)) return nullptr;
    Automaton& automaton = instance.automaton();
    // decltype(auto): a reference result (a set of the record) is converted in place, not copied.
    auto call = [&](auto&... arguments) -> decltype(auto) { return (automaton.*Op)(arguments...); };
    try {
        if constexpr (std::is_void_v<typename Shape::Result>) {
            std::apply(call, values);
            Py_RETURN_NONE;
        } else {
            return to_python(std::apply(call, values));
        }
    } catch (const UnencodableInput&) {
        finish(values);
        return nullptr;
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
        constexpr auto parameters = std::make_index_sequence<Shape::arity>{};
        return run_borrowed<Op>(
            self, [&](auto& values) { return convert_arguments(S, bound, values, parameters); },
            [&](const auto& values) { raise_finished_conversion_error(S, bound, values, parameters); });
    });
}

// Methods without parameters (the interpreter has already refused any
// argument; Unused is PyObject) and read-only properties (Unused is void).
template <auto Op, class Unused>
PyObject* plain_entry(PyObject* self, Unused*) noexcept {
    return guarded<PyObject*>(nullptr, [&] {
        return run_borrowed<Op>(self, [](auto&) { return true; },
                                [](const auto&) { raise_panic("an operation without arguments refused one"); });
    });
}

}  // namespace morvane::binding

// The memory layout of a Morvane instance: the interpreter's object header,
// the automaton record, then the borrow flag.
#pragma once

#include <new>

#include "automaton/automaton.hpp"
#include "binding/borrow.hpp"

namespace morvane::binding {

struct Instance {
    PyObject_HEAD
    alignas(Automaton) unsigned char record[sizeof(Automaton)];
    BorrowFlag borrow;

    static Instance& of(PyObject* self) noexcept { return *reinterpret_cast<Instance*>(self); }
    Automaton& automaton() noexcept { return *std::launder(reinterpret_cast<Automaton*>(record)); }
};

}  // namespace morvane::binding

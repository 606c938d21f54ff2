#include "binding/borrow.hpp"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace morvane::binding {

void raise_borrow_error(Access access, const BorrowFlag& flag) noexcept {
    if (!flag.built()) {
        PyErr_SetString(PyExc_TypeError, "'Morvane' object was not initialised by Morvane(...)");
        return;
    }
    PyErr_SetString(PyExc_RuntimeError, access == Access::shared ? "Already mutably borrowed" : "Already borrowed");
}

}  // namespace morvane::binding

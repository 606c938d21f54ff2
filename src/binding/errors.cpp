#include "binding/errors.hpp"

#include <cstdio>
#include <cstdlib>

#include "automaton/object.hpp"

namespace morvane::binding {

namespace {

PyObject* panic_type = nullptr;  // one per process, never released

constexpr const char* kPanicDoc =
    "An internal invariant of morvane broke. It derives from BaseException, so that "
    "'except Exception' does not swallow it; please report it with the code that raised it.";
constexpr const char* kPanicDefaultMessage = "internal failure in morvane";

}  // namespace

PyObject* panic_exception_type() noexcept { return panic_type; }

bool create_panic_exception_type() noexcept {
    if (panic_type) return true;
    panic_type = PyErr_NewExceptionWithDoc("morvane.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
    return panic_type != nullptr;
}

void raise_engine_error(const EngineError& error) noexcept {
    PyObject* kind = error.kind() == EngineError::Kind::value ? PyExc_ValueError : PyExc_TypeError;
    // Built from an explicit length: state names may hold NUL characters.
    const std::string& message = error.message();
    const Object text =
        Object::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(kind, text.ptr());
}

void raise_panic(const char* message) noexcept {
    PyErr_SetString(panic_type ? panic_type : PyExc_SystemError,
                    message && *message ? message : kPanicDefaultMessage);
}

void abort_uncaught_panic() noexcept {
    // The words are fixed by the system's contract, not chosen here.
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

void add_processing_note(std::string_view parameter) noexcept {
    PyObject* raised = PyErr_GetRaisedException();
    if (!raised) return;
    const Object error = Object::steal(raised);
    const Object note = Object::steal(PyUnicode_FromFormat("while processing '%.*s'", static_cast<int>(parameter.size()),
                                                           parameter.data()));
    const Object method = Object::steal(PyUnicode_InternFromString("add_note"));
    if (note && method) {
        const Object result = Object::steal(PyObject_CallMethodOneArg(error.ptr(), method.ptr(), note.ptr()));
        (void)result;
    }
    PyErr_Clear();  // a failure to add the note is dropped
    PyErr_SetRaisedException(Object(error).release());
}

}  // namespace morvane::binding

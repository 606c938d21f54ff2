// How the engine refuses an operation. The call frame turns these into
// Python exceptions; no C++ exception ever reaches the interpreter.
#pragma once

#include <stdexcept>
#include <string>

namespace morvane {

// An operation refused with one of the automaton's own messages.
class EngineError : public std::exception {
public:
    enum class Kind { value, type };

    EngineError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

    Kind kind() const noexcept { return kind_; }
    // UTF-8; may hold NUL characters copied from state names.
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string message_;
};

// A whole input holds a lone surrogate, which no str that UTF-8 can encode
// holds. Found by the walk rather than before it (the walk dies on one):
// the call frame then raises the error its argument's conversion gives.
struct UnencodableInput {};

// A Python exception is already set (raised by user code or the C API)
// and is to be propagated as it is.
struct PythonErrorSet {};

}  // namespace morvane

#include "automaton/automaton.hpp"

#include <stdexcept>

namespace morvane {

Automaton::Automaton(std::vector<std::string> states, std::vector<std::string> alphabet, std::string initial,
                     std::vector<std::string> finals)
    : states_(std::move(states)),
      alphabet_(std::move(alphabet)),
      data_(Object::none()),
      initial_state_(std::move(initial)),
      current_(0),
      finals_(std::move(finals)),
      columns_(alphabet_) {
    // Row 0 is the dead row, rows 1..n the states in code-point order, and
    // row n + 1 the initial state when it is not among them.
    const std::uint32_t initial_row = row_of(initial_state_);
    const std::uint64_t rows = states_.size() + (initial_row == 0 ? 2 : 1);
    if (rows >= UINT32_MAX) throw std::length_error("too many states");
    transitions_ = TransitionTable(rows, columns_.count());
    initial_ = transitions_.position(initial_row == 0 ? static_cast<std::uint32_t>(rows - 1) : initial_row);
    current_ = initial_;

    // Probe with the smaller set: finals are often a few among many states.
    final_rows_.assign(rows, 0);
    if (finals_.size() < states_.size()) {
        for (std::size_t index = 0; index < finals_.size(); ++index)
            if (const std::uint32_t row = row_of(finals_[index])) final_rows_[row] = 1;
    } else {
        for (std::uint32_t row = 1; row <= states_.size(); ++row)
            final_rows_[row] = finals_.contains(states_[row - 1]) ? 1 : 0;
    }
    if (initial_row == 0) final_rows_[rows - 1] = finals_.contains(initial_state_) ? 1 : 0;
}

// Fields are released in declaration order, which is not the order C++ would
// destroy them in: the context data goes before the history snapshots, and
// the snapshots go oldest first.
Automaton::~Automaton() {
    states_.release();
    alphabet_.release();
    data_.reset();
    std::string().swap(initial_state_);
    finals_.release();
    transitions_.release();
    history_.clear();
}

std::string_view Automaton::name_at(Position position) const noexcept {
    const std::uint32_t row = transitions_.row(position);
    return row <= states_.size() ? states_[row - 1] : std::string_view(initial_state_);
}

}  // namespace morvane

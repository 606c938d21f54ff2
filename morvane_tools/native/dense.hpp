// The dense form of a deterministic automaton that every algorithm here works
// on: states 0..n-1, symbols 0..k-1 (columns), a row-major table of targets
// with no_transition for a missing one. A missing transition rejects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace morvane_tools {

using StateIndex = std::int32_t;
inline constexpr StateIndex no_transition = -1;

// An automaton whose storage somebody else owns (a Python buffer or a Dense).
struct DenseView {
    std::size_t symbol_count = 0;
    std::span<const StateIndex> targets;
    std::span<const std::uint8_t> finals;
    StateIndex initial = 0;

    std::size_t state_count() const noexcept { return finals.size(); }
    StateIndex target(std::size_t state, std::size_t symbol) const noexcept {
        return targets[state * symbol_count + symbol];
    }
    bool is_final(StateIndex state) const noexcept {
        return state != no_transition && finals[static_cast<std::size_t>(state)] != 0;
    }
};

struct Dense {
    std::size_t symbol_count = 0;
    std::vector<StateIndex> targets;
    std::vector<std::uint8_t> finals;
    StateIndex initial = 0;

    std::size_t state_count() const noexcept { return finals.size(); }
    DenseView view() const noexcept { return {symbol_count, targets, finals, initial}; }
};

// Columns of a result alphabet mapped to the columns of an operand's alphabet
// (no_transition where the operand lacks that symbol).
using ColumnMap = std::span<const std::int32_t>;

}  // namespace morvane_tools

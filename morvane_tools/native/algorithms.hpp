// Algorithms on dense automata: plain C++, no Python objects.
#pragma once

#include <optional>
#include <vector>

#include "dense.hpp"

namespace morvane_tools {

// The minimal automaton of the language: unreachable and dead states dropped,
// equivalent states merged (Hopcroft's partition refinement, O(n k log n)),
// states numbered breadth-first from the initial state (state 0) with the
// columns in order, so that equivalent inputs give identical tables.
Dense minimize(const DenseView& automaton);

enum class Combine { union_of, intersection, difference, symmetric_difference };

// The product over the pairs reachable from the pair of initial states, with
// the result's columns mapped onto each operand's by `columns_a` and
// `columns_b`. A side without a transition stays in its implicit dead state;
// pairs that can accept nothing whatever follows are left out as missing
// transitions. States are numbered breadth-first, the initial pair first.
Dense product(const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b, Combine how);

// The shortest word (as result columns; ties go to the smaller column first)
// that the product accepts, found breadth-first without building the product
// table; nullopt when it accepts nothing.
std::optional<std::vector<std::int32_t>> product_shortest_word(
    const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b, Combine how);

// Whether the two automata accept the same words over the result columns.
bool same_language(const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b);

// The same for one automaton.
std::optional<std::vector<std::int32_t>> shortest_word(const DenseView& automaton);

// A flag a state: reached from the initial state; and, counting every
// state reachable or not, able to reach a final state.
struct Reach {
    std::vector<std::uint8_t> reachable, alive;
};
Reach reach(const DenseView& automaton);

// Whether a cycle runs through states reachable from the initial one that
// can still reach a final state (the language is then infinite).
bool has_useful_cycle(const DenseView& automaton);

}  // namespace morvane_tools

// Exact counts of accepted words by length, as unsigned numbers of 64-bit
// limbs (least significant first), and uniform draws among those words.
// Plain C++, no Python objects.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "dense.hpp"

namespace morvane_tools {

class WordCounts {
public:
    // Counts the words of up to `length` symbols from every state, keeping
    // every length's row (for draws) or only the last. `between_rows` runs
    // before each row and may throw to stop a long count.
    WordCounts(const DenseView& automaton, std::size_t length, bool keep_every_row,
               const std::function<void()>& between_rows);

    // The words of `length` symbols accepted from `state`; any length up to
    // the counted one when every row is kept, else only the counted one.
    std::span<const std::uint64_t> count(std::size_t length, StateIndex state) const noexcept;
    std::span<const std::uint64_t> accepted() const noexcept { return count(length_, automaton_.initial); }
    const DenseView& automaton() const noexcept { return automaton_; }

private:
    struct Row {
        std::vector<std::uint64_t> limbs;  // one number after another, each as wide as the widest
        std::size_t width_of(std::size_t state_count) const noexcept;
    };
    DenseView automaton_;
    std::size_t length_;
    bool every_row_;
    std::vector<Row> rows_;
};

bool is_zero(std::span<const std::uint64_t> number) noexcept;
int compare(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept;
// a -= b, where b <= a.
void subtract(std::vector<std::uint64_t>& a, std::span<const std::uint64_t> b) noexcept;

// One of the accepted words of `length` symbols (as columns), each with the
// same chance, or nullopt when there is none. From `length` down to 1,
// `below(n)` draws a number in [0, n) that picks among the continuations
// in column order, each weighted by the words it leaves; the counts need
// every row.
std::optional<std::vector<std::int32_t>> draw_word(
    const WordCounts& counts, std::size_t length,
    const std::function<std::vector<std::uint64_t>(std::span<const std::uint64_t>)>& below);

}  // namespace morvane_tools

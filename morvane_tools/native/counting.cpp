// Counting the accepted words of one length, and drawing one of them
// uniformly. counts[r][s], the words of length r accepted from state s, is
// the finals for r = 0 and otherwise the sum of counts[r-1] over the
// targets of s. The numbers grow by up to log2(k) bits a step, so each row
// holds them in as many 64-bit limbs as its largest needs.

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "counting.hpp"

namespace morvane_tools {
namespace {

// Adds `addend` (its `width` limbs) into `sum`, which has room for the carry.
inline void add_into(std::uint64_t* sum, const std::uint64_t* addend, std::size_t width) noexcept {
    unsigned char carry = 0;
    std::size_t limb = 0;
    for (; limb < width; ++limb) {
        const std::uint64_t partial = sum[limb] + addend[limb];
        const unsigned char first = partial < addend[limb];
        sum[limb] = partial + carry;
        carry = first | (sum[limb] < partial);
    }
    for (; carry != 0; ++limb) carry = ++sum[limb] == 0;
}

// The limbs a number really uses (at least one).
std::size_t used_limbs(std::span<const std::uint64_t> number) noexcept {
    std::size_t width = number.size();
    while (width > 1 && number[width - 1] == 0) --width;
    return width;
}

}  // namespace

bool is_zero(std::span<const std::uint64_t> number) noexcept {
    return std::all_of(number.begin(), number.end(), [](std::uint64_t limb) { return limb == 0; });
}

std::size_t WordCounts::Row::width_of(std::size_t state_count) const noexcept {
    return state_count == 0 ? 1 : limbs.size() / state_count;
}

WordCounts::WordCounts(const DenseView& automaton, std::size_t length, bool keep_every_row,
                       const std::function<void()>& between_rows)
    : automaton_(automaton), length_(length), every_row_(keep_every_row) {
    const std::size_t n = automaton.state_count(), k = automaton.symbol_count;
    Row first;
    first.limbs.resize(n);
    for (std::size_t state = 0; state < n; ++state) first.limbs[state] = automaton.finals[state] != 0;
    rows_.push_back(std::move(first));
    for (std::size_t r = 1; r <= length; ++r) {
        between_rows();
        const Row& previous = rows_.back();
        const std::size_t width = previous.width_of(n);
        // Up to k numbers of `width` limbs add up to less than k * 2**(64 width).
        const std::size_t room = width + 1;
        Row next;
        next.limbs.assign(n * room, 0);
        std::size_t widest = 1;
        for (std::size_t state = 0; state < n; ++state) {
            std::uint64_t* sum = next.limbs.data() + state * room;
            for (std::size_t column = 0; column < k; ++column) {
                const StateIndex target = automaton.target(state, column);
                if (target != no_transition)
                    add_into(sum, previous.limbs.data() + static_cast<std::size_t>(target) * width, width);
            }
            widest = std::max(widest, used_limbs({sum, room}));
        }
        if (widest < room) {
            // Narrowed in place: each number moves to an earlier place.
            for (std::size_t state = 1; state < n; ++state)
                std::memmove(next.limbs.data() + state * widest, next.limbs.data() + state * room,
                             widest * sizeof(std::uint64_t));
            next.limbs.resize(n * widest);
            next.limbs.shrink_to_fit();
        }
        if (keep_every_row)
            rows_.push_back(std::move(next));
        else
            rows_.back() = std::move(next);
    }
}

std::span<const std::uint64_t> WordCounts::count(std::size_t length, StateIndex state) const noexcept {
    const Row& row = every_row_ ? rows_[length] : rows_.back();
    const std::size_t width = row.width_of(automaton_.state_count());
    return {row.limbs.data() + static_cast<std::size_t>(state) * width, width};
}

int compare(std::span<const std::uint64_t> a, std::span<const std::uint64_t> b) noexcept {
    const std::size_t width = std::max(a.size(), b.size());
    for (std::size_t limb = width; limb-- > 0;) {
        const std::uint64_t x = limb < a.size() ? a[limb] : 0, y = limb < b.size() ? b[limb] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void subtract(std::vector<std::uint64_t>& a, std::span<const std::uint64_t> b) noexcept {
    unsigned char borrow = 0;
    for (std::size_t limb = 0; limb < a.size(); ++limb) {
        const std::uint64_t y = limb < b.size() ? b[limb] : 0;
        const std::uint64_t partial = a[limb] - y;
        const unsigned char first = a[limb] < y;
        a[limb] = partial - borrow;
        borrow = first | (partial < borrow);
    }
}

std::optional<std::vector<std::int32_t>> draw_word(const WordCounts& counts, std::size_t length,
                                                   const std::function<std::vector<std::uint64_t>(
                                                       std::span<const std::uint64_t>)>& below) {
    const DenseView& automaton = counts.automaton();
    StateIndex state = automaton.initial;
    if (is_zero(counts.count(length, state))) return std::nullopt;
    std::vector<std::int32_t> word;
    word.reserve(length);
    for (std::size_t remaining = length; remaining > 0; --remaining) {
        std::vector<std::uint64_t> pick = below(counts.count(remaining, state));
        StateIndex chosen = no_transition;
        std::int32_t chosen_column = -1;
        for (std::size_t column = 0; column < automaton.symbol_count && chosen == no_transition; ++column) {
            const StateIndex target = automaton.target(static_cast<std::size_t>(state), column);
            if (target == no_transition) continue;
            const auto weight = counts.count(remaining - 1, target);
            if (compare(pick, weight) < 0) {
                chosen = target;
                chosen_column = static_cast<std::int32_t>(column);
            } else {
                subtract(pick, weight);
            }
        }
        // The draw is below the state's count, the sum of these weights.
        if (chosen == no_transition) throw std::logic_error("a draw fell outside the words counted");
        word.push_back(chosen_column);
        state = chosen;
    }
    return word;
}

}  // namespace morvane_tools

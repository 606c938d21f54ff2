// Product automata over reachable pairs, shortest accepted words, and the
// finiteness test.

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "algorithms.hpp"

namespace morvane_tools {
namespace {

// Pair (a, b) -> product state, open addressing with linear probing. Keys
// are never zero: both sides are stored plus one (no_transition becomes 0).
class PairIndex {
public:
    PairIndex() : slots_(1024) {}

    static std::uint64_t key(StateIndex a, StateIndex b) noexcept {
        return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a + 1)) << 32) |
               static_cast<std::uint32_t>(b + 1);
    }

    // The state of the pair, or `fresh` after recording it under that number.
    StateIndex find_or_add(std::uint64_t pair, StateIndex fresh) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        Slot& slot = probe(pair);
        if (slot.key == pair) return slot.state;
        slot = {pair, fresh};
        ++count_;
        return fresh;
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        StateIndex state = 0;
    };

    Slot& probe(std::uint64_t pair) noexcept {
        const std::size_t mask = slots_.size() - 1;
        std::uint64_t hash = pair * 0x9e3779b97f4a7c15ULL;
        std::size_t at = static_cast<std::size_t>(hash ^ (hash >> 29)) & mask;
        while (slots_[at].key != 0 && slots_[at].key != pair) at = (at + 1) & mask;
        return slots_[at];
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot& slot : old)
            if (slot.key != 0) probe(slot.key) = slot;
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

bool accepts(Combine how, bool in_a, bool in_b) noexcept {
    switch (how) {
        case Combine::union_of: return in_a || in_b;
        case Combine::intersection: return in_a && in_b;
        case Combine::difference: return in_a && !in_b;
        case Combine::symmetric_difference: return in_a != in_b;
    }
    return false;
}

// A pair from which no word can be accepted, whatever the operands hold
// beyond the missing side.
bool hopeless(Combine how, StateIndex a, StateIndex b) noexcept {
    switch (how) {
        case Combine::intersection: return a == no_transition || b == no_transition;
        case Combine::difference: return a == no_transition;
        default: return a == no_transition && b == no_transition;
    }
}

StateIndex step(const DenseView& automaton, ColumnMap columns, StateIndex state, std::size_t symbol) noexcept {
    if (state == no_transition) return no_transition;
    const std::int32_t column = columns[symbol];
    return column < 0 ? no_transition : automaton.target(static_cast<std::size_t>(state), static_cast<std::size_t>(column));
}

// Breadth-first walk of the reachable pairs. `on_pair(index, a, b)` is
// called once per pair as it is taken from the queue and may stop the walk by
// returning false; `on_edge(from, symbol, to)` for every transition kept.
template <class OnPair, class OnEdge>
void walk_product(const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b, Combine how,
                  std::size_t symbol_count, OnPair&& on_pair, OnEdge&& on_edge) {
    PairIndex index;
    std::vector<std::pair<StateIndex, StateIndex>> queue;
    queue.emplace_back(a.initial, b.initial);
    index.find_or_add(PairIndex::key(a.initial, b.initial), 0);
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const auto [state_a, state_b] = queue[head];
        if (!on_pair(head, state_a, state_b)) return;
        for (std::size_t symbol = 0; symbol < symbol_count; ++symbol) {
            const StateIndex next_a = step(a, columns_a, state_a, symbol);
            const StateIndex next_b = step(b, columns_b, state_b, symbol);
            if (hopeless(how, next_a, next_b)) continue;
            if (queue.size() >= 0x7fffffff) throw std::bad_alloc();  // beyond the index type
            const auto fresh = static_cast<StateIndex>(queue.size());
            const StateIndex next = index.find_or_add(PairIndex::key(next_a, next_b), fresh);
            if (next == fresh) queue.emplace_back(next_a, next_b);
            on_edge(head, symbol, next);
        }
    }
}

}  // namespace

Dense product(const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b, Combine how) {
    Dense result;
    const std::size_t k = columns_a.size();
    result.symbol_count = k;
    walk_product(
        a, columns_a, b, columns_b, how, k,
        [&](std::size_t, StateIndex state_a, StateIndex state_b) {
            result.finals.push_back(accepts(how, a.is_final(state_a), b.is_final(state_b)));
            result.targets.resize(result.targets.size() + k, no_transition);
            return true;
        },
        [&](std::size_t from, std::size_t symbol, StateIndex to) { result.targets[from * k + symbol] = to; });
    return result;
}

std::optional<std::vector<std::int32_t>> product_shortest_word(
    const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b, Combine how) {
    // Breadth-first with columns in order reaches every pair first by its
    // shortest, then smallest, word; the first accepting pair taken from the
    // queue ends the walk.
    struct Parent {
        std::size_t from;
        std::int32_t symbol;
    };
    std::vector<Parent> parents{{0, -1}};
    std::optional<std::size_t> found;
    walk_product(
        a, columns_a, b, columns_b, how, columns_a.size(),
        [&](std::size_t at, StateIndex state_a, StateIndex state_b) {
            if (accepts(how, a.is_final(state_a), b.is_final(state_b))) found = at;
            return !found;
        },
        [&](std::size_t from, std::size_t symbol, StateIndex to) {
            if (static_cast<std::size_t>(to) == parents.size()) parents.push_back({from, static_cast<std::int32_t>(symbol)});
        });
    if (!found) return std::nullopt;
    std::vector<std::int32_t> word;
    for (std::size_t at = *found; at != 0; at = parents[at].from) word.push_back(parents[at].symbol);
    std::reverse(word.begin(), word.end());
    return word;
}

bool same_language(const DenseView& a, ColumnMap columns_a, const DenseView& b, ColumnMap columns_b) {
    // Hopcroft and Karp: the states of both automata, each side's missing
    // transitions going to a dead state of its own, in one partition. The
    // initial states are merged, then pair by pair their successors; the
    // languages differ exactly when a merge meets two states that disagree on
    // acceptance. Nearly linear in the states, with no table of pairs, and it
    // stops at the first disagreement. Each state knows its class directly
    // (a merge relabels the smaller class, n log n relabellings in all), so
    // the successors of a pair cost one comparison each and no walk up a
    // tree; merges are rare, and kept out of the loop.
    const std::size_t na = a.state_count(), nb = b.state_count(), k = columns_a.size();
    const std::size_t dead_a = na, first_b = na + 1, dead_b = first_b + nb;
    std::vector<std::uint32_t> label(dead_b + 1), next_member(dead_b + 1), size(dead_b + 1, 1);
    for (std::size_t state = 0; state < label.size(); ++state) label[state] = next_member[state] = static_cast<std::uint32_t>(state);
    auto accepting = [&](std::size_t state) {
        if (state < na) return a.finals[state] != 0;
        return state >= first_b && state < dead_b && b.finals[state - first_b] != 0;
    };
    std::vector<std::pair<std::size_t, std::size_t>> pending;
    pending.reserve(label.size());  // a merge joins two classes: fewer merges than states
    // Joins the classes of two states of different labels.
    auto merge = [&](std::size_t in_a, std::size_t in_b) __attribute__((noinline)) {
        if (accepting(in_a) != accepting(in_b)) return false;
        std::size_t kept = label[in_a], joined = label[in_b];
        if (size[kept] < size[joined]) std::swap(kept, joined);
        // Members form a ring per class: relabel the smaller ring, then splice.
        std::size_t member = joined;
        do {
            label[member] = static_cast<std::uint32_t>(kept);
            member = next_member[member];
        } while (member != joined);
        std::swap(next_member[kept], next_member[joined]);
        size[kept] += size[joined];
        pending.emplace_back(in_a, in_b);
        return true;
    };
    const std::size_t initial_a = static_cast<std::size_t>(a.initial), initial_b = first_b + static_cast<std::size_t>(b.initial);
    if (label[initial_a] != label[initial_b] && !merge(initial_a, initial_b)) return false;
    while (!pending.empty()) {
        const auto [in_a, in_b] = pending.back();
        pending.pop_back();
        // A dead state's row is all missing.
        const StateIndex* row_a = in_a == dead_a ? nullptr : &a.targets[in_a * a.symbol_count];
        const StateIndex* row_b = in_b == dead_b ? nullptr : &b.targets[(in_b - first_b) * b.symbol_count];
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const std::int32_t column_a = columns_a[symbol], column_b = columns_b[symbol];
            const StateIndex next_a = row_a != nullptr && column_a >= 0 ? row_a[column_a] : no_transition;
            const StateIndex next_b = row_b != nullptr && column_b >= 0 ? row_b[column_b] : no_transition;
            const std::size_t to_a = next_a == no_transition ? dead_a : static_cast<std::size_t>(next_a);
            const std::size_t to_b = next_b == no_transition ? dead_b : first_b + static_cast<std::size_t>(next_b);
            if (label[to_a] != label[to_b] && !merge(to_a, to_b)) return false;
        }
    }
    return true;
}

std::optional<std::vector<std::int32_t>> shortest_word(const DenseView& automaton) {
    // The product with a one-state automaton that accepts everything.
    std::vector<std::int32_t> columns(automaton.symbol_count);
    for (std::size_t symbol = 0; symbol < columns.size(); ++symbol) columns[symbol] = static_cast<std::int32_t>(symbol);
    const std::vector<StateIndex> loop(automaton.symbol_count, 0);
    const std::uint8_t accepting[1] = {1};
    const DenseView everything{automaton.symbol_count, loop, accepting, 0};
    return product_shortest_word(automaton, columns, everything, columns, Combine::intersection);
}

bool has_useful_cycle(const DenseView& automaton) {
    // Kahn's algorithm over the trim part: reachable states that reach a
    // final one. Whatever is left after peeling sources lies on a cycle.
    const std::size_t n = automaton.state_count(), k = automaton.symbol_count;
    std::vector<std::uint8_t> reachable(n, 0);
    std::vector<StateIndex> stack{automaton.initial};
    reachable[static_cast<std::size_t>(automaton.initial)] = 1;
    std::vector<std::uint32_t> reverse_start(n + 1, 0);
    std::vector<StateIndex> reverse;
    while (!stack.empty()) {
        const auto state = static_cast<std::size_t>(stack.back());
        stack.pop_back();
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const StateIndex target = automaton.target(state, symbol);
            if (target == no_transition) continue;
            ++reverse_start[static_cast<std::size_t>(target) + 1];
            if (!reachable[static_cast<std::size_t>(target)]) {
                reachable[static_cast<std::size_t>(target)] = 1;
                stack.push_back(target);
            }
        }
    }
    for (std::size_t i = 1; i <= n; ++i) reverse_start[i] += reverse_start[i - 1];
    reverse.resize(reverse_start[n]);
    {
        std::vector<std::uint32_t> fill(reverse_start.begin(), reverse_start.end() - 1);
        for (std::size_t state = 0; state < n; ++state) {
            if (!reachable[state]) continue;
            for (std::size_t symbol = 0; symbol < k; ++symbol) {
                const StateIndex target = automaton.target(state, symbol);
                if (target != no_transition) reverse[fill[static_cast<std::size_t>(target)]++] = static_cast<StateIndex>(state);
            }
        }
    }
    std::vector<std::uint8_t> useful(n, 0);
    for (std::size_t state = 0; state < n; ++state) {
        if (reachable[state] && automaton.finals[state]) {
            useful[state] = 1;
            stack.push_back(static_cast<StateIndex>(state));
        }
    }
    while (!stack.empty()) {
        const auto state = static_cast<std::size_t>(stack.back());
        stack.pop_back();
        for (std::uint32_t at = reverse_start[state]; at < reverse_start[state + 1]; ++at) {
            const auto origin = static_cast<std::size_t>(reverse[at]);
            if (!useful[origin]) {
                useful[origin] = 1;
                stack.push_back(reverse[at]);
            }
        }
    }
    // Out-degrees within the useful part; peel states without successors.
    std::vector<std::uint32_t> out_degree(n, 0);
    std::size_t remaining = 0;
    for (std::size_t state = 0; state < n; ++state) {
        if (!useful[state]) continue;
        ++remaining;
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const StateIndex target = automaton.target(state, symbol);
            if (target != no_transition && useful[static_cast<std::size_t>(target)]) ++out_degree[state];
        }
        if (out_degree[state] == 0) stack.push_back(static_cast<StateIndex>(state));
    }
    while (!stack.empty()) {
        const auto state = static_cast<std::size_t>(stack.back());
        stack.pop_back();
        --remaining;
        for (std::uint32_t at = reverse_start[state]; at < reverse_start[state + 1]; ++at) {
            const auto origin = static_cast<std::size_t>(reverse[at]);
            if (useful[origin] && --out_degree[origin] == 0) stack.push_back(reverse[at]);
        }
    }
    return remaining != 0;
}

Reach reach(const DenseView& automaton) {
    const std::size_t n = automaton.state_count(), k = automaton.symbol_count;
    Reach flags{std::vector<std::uint8_t>(n, 0), std::vector<std::uint8_t>(n, 0)};
    std::vector<StateIndex> stack{automaton.initial};
    flags.reachable[static_cast<std::size_t>(automaton.initial)] = 1;
    while (!stack.empty()) {
        const auto state = static_cast<std::size_t>(stack.back());
        stack.pop_back();
        for (std::size_t symbol = 0; symbol < k; ++symbol)
            if (const StateIndex target = automaton.target(state, symbol);
                target != no_transition && !flags.reachable[static_cast<std::size_t>(target)]) {
                flags.reachable[static_cast<std::size_t>(target)] = 1;
                stack.push_back(target);
            }
    }
    // Every transition reversed, grouped by target.
    std::vector<std::size_t> start(n + 1, 0);
    for (const StateIndex target : automaton.targets)
        if (target != no_transition) ++start[static_cast<std::size_t>(target) + 1];
    for (std::size_t i = 1; i <= n; ++i) start[i] += start[i - 1];
    std::vector<StateIndex> origins(start[n]);
    std::vector<std::size_t> fill(start.begin(), start.end() - 1);
    for (std::size_t state = 0; state < n; ++state)
        for (std::size_t symbol = 0; symbol < k; ++symbol)
            if (const StateIndex target = automaton.target(state, symbol); target != no_transition)
                origins[fill[static_cast<std::size_t>(target)]++] = static_cast<StateIndex>(state);
    for (std::size_t state = 0; state < n; ++state)
        if (automaton.finals[state]) {
            flags.alive[state] = 1;
            stack.push_back(static_cast<StateIndex>(state));
        }
    while (!stack.empty()) {
        const auto state = static_cast<std::size_t>(stack.back());
        stack.pop_back();
        for (std::size_t at = start[state]; at < start[state + 1]; ++at)
            if (const auto origin = static_cast<std::size_t>(origins[at]); !flags.alive[origin]) {
                flags.alive[origin] = 1;
                stack.push_back(origins[at]);
            }
    }
    return flags;
}

}  // namespace morvane_tools

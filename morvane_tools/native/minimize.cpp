// Minimisation by Hopcroft's partition refinement.
//
// The reachable part is renumbered breadth-first and completed with one sink
// state standing for every missing transition; after refinement the sink's
// block is exactly the set of dead states, which the result leaves out again.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "algorithms.hpp"

namespace morvane_tools {
namespace {

using Position = std::uint32_t;

// The reachable states in breadth-first order (columns in order).
std::vector<StateIndex> reachable_order(const DenseView& automaton) {
    const std::size_t k = automaton.symbol_count;
    std::vector<std::uint8_t> seen(automaton.state_count(), 0);
    std::vector<StateIndex> order;
    order.push_back(automaton.initial);
    seen[static_cast<std::size_t>(automaton.initial)] = 1;
    for (std::size_t head = 0; head < order.size(); ++head) {
        const std::size_t state = static_cast<std::size_t>(order[head]);
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const StateIndex target = automaton.target(state, symbol);
            if (target != no_transition && !seen[static_cast<std::size_t>(target)]) {
                seen[static_cast<std::size_t>(target)] = 1;
                order.push_back(target);
            }
        }
    }
    return order;
}

// A partition of 0..N-1 into blocks, each a contiguous range of `members`;
// the members of a block that the current splitter marked sit at its front.
class Partition {
public:
    explicit Partition(std::size_t size) : members_(size), position_(size), block_of_(size, 0) {}

    // Starts from a partition given as a block number per state, blocks
    // numbered 0..count-1.
    void start(const std::vector<std::uint32_t>& blocks, std::size_t count) {
        std::vector<Position> next(count + 1, 0);
        for (const std::uint32_t block : blocks) ++next[block + 1];
        for (std::size_t block = 0; block < count; ++block) {
            next[block + 1] += next[block];
            add_block(next[block], next[block + 1]);
        }
        for (std::size_t state = 0; state < blocks.size(); ++state) {
            const Position at = next[blocks[state]]++;
            members_[at] = static_cast<StateIndex>(state);
            position_[state] = at;
            block_of_[state] = blocks[state];
        }
    }

    std::size_t block_count() const noexcept { return first_.size(); }
    std::size_t block_size(std::size_t block) const noexcept { return end_[block] - first_[block]; }
    std::uint32_t block_of(StateIndex state) const noexcept { return block_of_[static_cast<std::size_t>(state)]; }
    StateIndex representative(std::size_t block) const noexcept { return members_[first_[block]]; }
    std::span<const StateIndex> members(std::size_t block) const noexcept {
        return {members_.data() + first_[block], block_size(block)};
    }

    // Marks a state; the blocks touched for the first time are recorded.
    void mark(StateIndex state) {
        const std::uint32_t block = block_of_[static_cast<std::size_t>(state)];
        const Position at = position_[static_cast<std::size_t>(state)];
        Position& boundary = marked_end_[block];
        if (at < boundary) return;
        if (boundary == first_[block]) touched_.push_back(block);
        const StateIndex other = members_[boundary];
        members_[at] = other;
        position_[static_cast<std::size_t>(other)] = at;
        members_[boundary] = state;
        position_[static_cast<std::size_t>(state)] = boundary;
        ++boundary;
    }

    // Splits every touched block into its marked and unmarked parts; the
    // smaller part becomes a new block, passed to `on_new_block`.
    template <class OnNewBlock>
    void split_touched(OnNewBlock&& on_new_block) {
        for (const std::uint32_t block : touched_) {
            const Position first = first_[block], middle = marked_end_[block], end = end_[block];
            marked_end_[block] = first;
            if (middle == end) continue;  // every member marked: no split
            Position new_first, new_end;
            if (middle - first <= end - middle) {
                new_first = first, new_end = middle;
                first_[block] = middle;
                marked_end_[block] = middle;
            } else {
                new_first = middle, new_end = end;
                end_[block] = middle;
            }
            const auto new_block = static_cast<std::uint32_t>(first_.size());
            add_block(new_first, new_end);
            for (Position at = new_first; at < new_end; ++at) block_of_[static_cast<std::size_t>(members_[at])] = new_block;
            on_new_block(new_block);
        }
        touched_.clear();
    }

private:
    void add_block(Position first, Position end) {
        first_.push_back(first);
        end_.push_back(end);
        marked_end_.push_back(first);
    }

    std::vector<StateIndex> members_;
    std::vector<Position> position_;
    std::vector<std::uint32_t> block_of_;
    std::vector<Position> first_, end_, marked_end_;
    std::vector<std::uint32_t> touched_;
};

// Moore's rounds: each state's block becomes (its block, the blocks of its
// targets). A round reads the table in order and the block numbers at
// random from one small array, so it is cache friendly; on typical automata
// a handful of rounds reaches the final partition. A long chain would need
// one round per state, so rounds stop once one of them splits little, and
// Hopcroft's refinement finishes from there. True when the partition is final.
bool refine_by_rounds(const std::vector<StateIndex>& delta, std::size_t k, std::vector<std::uint32_t>& block,
                      std::size_t& block_count) {
    const std::size_t total = block.size();
    struct Slot {
        std::uint64_t hash;
        std::uint32_t state;  // the first state seen with this signature
        std::uint32_t block;  // its new block, plus one (0: slot free)
    };
    std::size_t capacity = 16;
    while (capacity < total * 2) capacity *= 2;
    std::vector<Slot> slots(capacity);
    std::vector<std::uint32_t> refined(total);
    auto same_signature = [&](std::size_t a, std::size_t b) {
        if (block[a] != block[b]) return false;
        for (std::size_t symbol = 0; symbol < k; ++symbol)
            if (block[static_cast<std::size_t>(delta[a * k + symbol])] != block[static_cast<std::size_t>(delta[b * k + symbol])])
                return false;
        return true;
    };
    for (;;) {
        std::fill(slots.begin(), slots.end(), Slot{0, 0, 0});
        std::uint32_t count = 0;
        for (std::size_t state = 0; state < total; ++state) {
            std::uint64_t hash = block[state] * 0x9e3779b97f4a7c15ULL + 1;
            for (std::size_t symbol = 0; symbol < k; ++symbol) {
                hash ^= block[static_cast<std::size_t>(delta[state * k + symbol])];
                hash *= 0xff51afd7ed558ccdULL;
                hash ^= hash >> 32;
            }
            std::size_t at = static_cast<std::size_t>(hash) & (capacity - 1);
            for (;; at = (at + 1) & (capacity - 1)) {
                Slot& slot = slots[at];
                if (slot.block == 0) {
                    slot = {hash, static_cast<std::uint32_t>(state), ++count};
                    refined[state] = count - 1;
                    break;
                }
                if (slot.hash == hash && same_signature(slot.state, state)) {
                    refined[state] = slot.block - 1;
                    break;
                }
            }
        }
        const std::size_t before = block_count;
        block.swap(refined);
        block_count = count;
        if (count == before || count == total) return true;
        // Go on while a round adds half as many blocks again, or closes a
        // quarter of the gap to one block per state: either way the rounds
        // left are logarithmic in the number of states.
        if (count * 2 < before * 3 && (count - before) * 4 < total - before) return false;
    }
}

// Hopcroft's refinement from the given partition, O(n k log n).
void refine_by_splitters(const std::vector<StateIndex>& delta, std::size_t k, std::vector<std::uint32_t>& block,
                         std::size_t& block_count) {
    const std::size_t total = block.size();
    // Predecessors per (symbol, target), in one array with offsets.
    std::vector<Position> predecessor_start(k * total + 1, 0);
    std::vector<StateIndex> predecessors(total * k);
    for (std::size_t state = 0; state < total; ++state)
        for (std::size_t symbol = 0; symbol < k; ++symbol)
            ++predecessor_start[symbol * total + static_cast<std::size_t>(delta[state * k + symbol])];
    for (std::size_t i = 1; i <= k * total; ++i) predecessor_start[i] += predecessor_start[i - 1];
    for (std::size_t state = total; state-- > 0;)
        for (std::size_t symbol = k; symbol-- > 0;)
            predecessors[--predecessor_start[symbol * total + static_cast<std::size_t>(delta[state * k + symbol])]] =
                static_cast<StateIndex>(state);

    Partition partition(total);
    partition.start(block, block_count);

    // Splitters (block, symbol): at the start every block but the largest,
    // with every symbol. A block split off later is always the smaller part,
    // so adding it with every symbol keeps Hopcroft's bound whether or not
    // its parent was still waiting.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> waiting;
    auto add_splitters = [&](std::uint32_t splitter_block) {
        for (std::size_t symbol = 0; symbol < k; ++symbol)
            waiting.emplace_back(splitter_block, static_cast<std::uint32_t>(symbol));
    };
    std::uint32_t largest = 0;
    for (std::uint32_t b = 1; b < block_count; ++b)
        if (partition.block_size(b) > partition.block_size(largest)) largest = b;
    for (std::uint32_t b = 0; b < block_count; ++b)
        if (b != largest) add_splitters(b);

    std::vector<StateIndex> splitter;
    while (!waiting.empty()) {
        const auto [splitter_block, symbol] = waiting.back();
        waiting.pop_back();
        const auto members = partition.members(splitter_block);
        splitter.assign(members.begin(), members.end());  // marking reorders blocks
        for (const StateIndex state : splitter) {
            const std::size_t key = symbol * total + static_cast<std::size_t>(state);
            for (Position at = predecessor_start[key]; at < predecessor_start[key + 1]; ++at) partition.mark(predecessors[at]);
        }
        partition.split_touched(add_splitters);
    }
    block_count = partition.block_count();
    for (std::size_t state = 0; state < total; ++state) block[state] = partition.block_of(static_cast<StateIndex>(state));
}

}  // namespace

Dense minimize(const DenseView& automaton) {
    const std::size_t k = automaton.symbol_count;
    Dense result;
    result.symbol_count = k;

    std::vector<StateIndex> order = reachable_order(automaton);
    const std::size_t reachable = order.size();
    const std::size_t total = reachable + 1;  // with the sink
    if (total * (k + 1) >= std::numeric_limits<Position>::max() / 2) throw std::bad_alloc();
    const auto sink = static_cast<StateIndex>(reachable);

    // The complete table over the local numbering.
    std::vector<StateIndex> delta(total * k);
    {
        std::vector<StateIndex> local(automaton.state_count(), no_transition);
        for (std::size_t i = 0; i < reachable; ++i) local[static_cast<std::size_t>(order[i])] = static_cast<StateIndex>(i);
        for (std::size_t i = 0; i < reachable; ++i) {
            for (std::size_t symbol = 0; symbol < k; ++symbol) {
                const StateIndex target = automaton.target(static_cast<std::size_t>(order[i]), symbol);
                delta[i * k + symbol] = target == no_transition ? sink : local[static_cast<std::size_t>(target)];
            }
        }
        for (std::size_t symbol = 0; symbol < k; ++symbol) delta[reachable * k + symbol] = sink;
    }

    std::vector<std::uint8_t> final_flags(total, 0);
    for (std::size_t i = 0; i < reachable; ++i) final_flags[i] = automaton.finals[static_cast<std::size_t>(order[i])] != 0;
    std::vector<std::uint32_t> block(final_flags.begin(), final_flags.end());
    std::size_t block_count = *std::max_element(block.begin(), block.end()) + 1u;
    if (!refine_by_rounds(delta, k, block, block_count)) refine_by_splitters(delta, k, block, block_count);

    // The quotient, dead block left out, blocks numbered breadth-first.
    std::vector<StateIndex> representative(block_count, no_transition);
    for (std::size_t state = total; state-- > 0;) representative[block[state]] = static_cast<StateIndex>(state);
    const std::uint32_t dead = block[static_cast<std::size_t>(sink)];
    std::vector<StateIndex> number(block_count, no_transition);
    std::vector<std::uint32_t> queue;
    queue.push_back(block[0]);
    number[queue[0]] = 0;
    for (std::size_t head = 0; head < queue.size(); ++head) {
        if (queue[head] == dead) continue;
        const auto state = static_cast<std::size_t>(representative[queue[head]]);
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const std::uint32_t target = block[static_cast<std::size_t>(delta[state * k + symbol])];
            if (target != dead && number[target] == no_transition) {
                number[target] = static_cast<StateIndex>(queue.size());
                queue.push_back(target);
            }
        }
    }
    result.targets.assign(queue.size() * k, no_transition);
    result.finals.assign(queue.size(), 0);
    for (std::size_t i = 0; i < queue.size(); ++i) {
        if (queue[i] == dead) continue;
        const auto state = static_cast<std::size_t>(representative[queue[i]]);
        result.finals[i] = final_flags[state];
        for (std::size_t symbol = 0; symbol < k; ++symbol) {
            const std::uint32_t target = block[static_cast<std::size_t>(delta[state * k + symbol])];
            if (target != dead) result.targets[i * k + symbol] = number[target];
        }
    }
    return result;
}

}  // namespace morvane_tools

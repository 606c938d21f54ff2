// The order of add_transition calls when building a large instance.
//
// Each call looks up its origin and its target among the class's states.
// Over a large automaton whose targets are spread at random, the target's
// records (its name object, its slot in the class's name index) miss the
// caches nearly every call, and those misses cost more than the call itself.
// Made in passes, each adding only the transitions into one share of the
// targets, a pass keeps that share's records in cache, while each origin is
// looked up once a pass for its several transitions there. That pays only
// where the states outgrow the caches and an origin keeps several
// transitions a pass; otherwise one pass, in row order, as before.
#pragma once

#include <algorithm>
#include <cstddef>

namespace morvane_tools {

inline std::size_t target_passes(std::size_t state_count, std::size_t symbol_count) noexcept {
    constexpr std::size_t states_a_pass = 20'000;
    constexpr std::size_t transitions_a_pass_for_an_origin = 5;
    const std::size_t by_states = (state_count + states_a_pass - 1) / states_a_pass;
    return std::max<std::size_t>(1, std::min(by_states, symbol_count / transitions_a_pass_for_an_origin));
}

}  // namespace morvane_tools

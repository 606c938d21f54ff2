#include "automaton/keyed_hash.hpp"

#include <random>

namespace morvane::hashing {

namespace {

Key draw_key() {
    std::random_device device;  // the kernel's entropy source on Linux
    auto draw64 = [&device] {
        return (std::uint64_t{device()} << 32) | device();
    };
    // Odd multipliers keep the folded products from collapsing.
    Key key{draw64(), draw64() | 1, draw64() | 1, 0};
    key.seed = key.a ^ detail::fold_multiply(key.a ^ key.b, key.c);
    return key;
}

}  // namespace

// random_device throws only when the system has no entropy source at all;
// loading the module then fails, which is the best that can be done.
const Key process_key_value = draw_key();

}  // namespace morvane::hashing

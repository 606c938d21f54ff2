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
    return Key{draw64(), draw64() | 1, draw64() | 1};
}

}  // namespace

const Key& process_key() noexcept {
    // random_device may throw only when no entropy source exists at all;
    // there is then nothing better to do than to stop.
    static const Key key = draw_key();
    return key;
}

}  // namespace morvane::hashing

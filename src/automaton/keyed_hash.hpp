// Keyed hashing for the automaton's sets and its transition table.
//
// The key is drawn at random once per process, so which names collide, and
// the order in which a table iterates, differ from run to run: an input
// cannot be crafted in advance to degrade the tables into linear scans.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace morvane::hashing {

struct Key {
    std::uint64_t a, b, c;
    std::uint64_t seed;  // derived from the others once, not per hash
};

// The process's key, drawn when the module is loaded.
extern const Key process_key_value;
inline const Key& process_key() noexcept { return process_key_value; }

namespace detail {

__extension__ typedef unsigned __int128 uint128;

inline std::uint64_t fold_multiply(std::uint64_t x, std::uint64_t y) noexcept {
    const uint128 product = static_cast<uint128>(x) * y;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}
inline std::uint64_t read64(const unsigned char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline std::uint64_t read32(const unsigned char* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace detail

// A wyhash-style keyed hash of a byte string.
inline std::uint64_t hash_bytes(std::string_view text) noexcept {
    using namespace detail;
    const Key& key = process_key();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::uint64_t seed = key.seed ^ n;
    std::uint64_t lo, hi;
    if (n <= 16) {
        if (n >= 4) {
            const std::size_t shift = (n >> 3) << 2;
            lo = (read32(p) << 32) | read32(p + shift);
            hi = (read32(p + n - 4) << 32) | read32(p + n - 4 - shift);
        } else if (n > 0) {
            lo = (std::uint64_t{p[0]} << 16) | (std::uint64_t{p[n >> 1]} << 8) | p[n - 1];
            hi = 0;
        } else {
            lo = hi = 0;
        }
    } else {
        std::size_t rest = n;
        while (rest > 16) {
            seed = fold_multiply(read64(p) ^ key.b, read64(p + 8) ^ seed);
            p += 16;
            rest -= 16;
        }
        lo = read64(p + rest - 16);
        hi = read64(p + rest - 8);
    }
    return fold_multiply(key.b ^ n, fold_multiply(lo ^ key.b, hi ^ seed));
}

// Byte equality, with the short lengths of typical names done by a few
// overlapping loads instead of a call to memcmp.
inline bool same_bytes(std::string_view a, std::string_view b) noexcept {
    using namespace detail;
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(a.data());
    const auto* q = reinterpret_cast<const unsigned char*>(b.data());
    if (n >= 8 && n <= 16) return read64(p) == read64(q) && read64(p + n - 8) == read64(q + n - 8);
    if (n >= 4 && n < 8) return read32(p) == read32(q) && read32(p + n - 4) == read32(q + n - 4);
    if (n > 0 && n < 4) return p[0] == q[0] && p[n >> 1] == q[n >> 1] && p[n - 1] == q[n - 1];
    return n == 0 || std::memcmp(p, q, n) == 0;
}

// A keyed mix of a 64-bit integer key.
inline std::uint64_t hash_u64(std::uint64_t value) noexcept {
    const Key& key = process_key();
    return detail::fold_multiply(value ^ key.a, key.c);
}

// Open-addressing table size: a power of two at least twice `count`.
inline std::size_t table_size_for(std::size_t count) noexcept {
    std::size_t size = 8;
    while (size < count * 2) size <<= 1;
    return size;
}

}  // namespace morvane::hashing

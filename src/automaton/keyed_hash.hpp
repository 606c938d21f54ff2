// Keyed hashing and the one hash table of the engine, which holds the
// automaton's sets and its hashed transition cells.
//
// The key is drawn at random once per process, so which names collide, and
// the order in which a table iterates, differ from run to run: an input
// cannot be crafted in advance to degrade the tables into linear scans.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

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
    std::size_t size = 16;
    while (size < count * 2) size <<= 1;
    return size;
}

// A map from nonzero 64-bit keys to values by open addressing: linear
// probing, deletion by backward shift (no tombstones, so probe runs stay
// short however many entries come and go), keys and values in two arrays.
// It grows at three quarters full and, after an erase, shrinks below one
// eighth full, to about half full either way: its size follows the live
// count without rebuilding on every add and remove near a threshold.
// With KeysAreHashes the keys are hashes already and choose their slot as
// they are; other keys are mixed with the process's key first.
template <class Value, bool KeysAreHashes>
class ProbingMap {
public:
    std::size_t size() const noexcept { return count_; }

    // The value of the first entry under `key` that accept(value) takes, or null.
    template <class Accept>
    const Value* find(std::uint64_t key, Accept&& accept) const noexcept {
        if (count_ == 0) return nullptr;
        const std::size_t mask = keys_.size() - 1;
        for (std::size_t slot = home(key) & mask;; slot = (slot + 1) & mask) {
            if (keys_[slot] == key && accept(values_[slot])) return &values_[slot];
            if (keys_[slot] == 0) return nullptr;
        }
    }
    const Value* find(std::uint64_t key) const noexcept {
        return find(key, [](const Value&) { return true; });
    }

    // Room for `count` entries without growing.
    void reserve(std::size_t count) {
        if (count * 4 > keys_.size() * 3) rehash(table_size_for(count));
    }
    // Adds an entry, beside any other under the same key.
    void insert(std::uint64_t key, Value value) {
        if ((count_ + 1) * 4 > keys_.size() * 3) rehash(keys_.empty() ? table_size_for(0) : keys_.size() * 2);
        place(key, value);
        ++count_;
    }
    // Adds an entry unless `key` has one; false when it has.
    bool insert_unique(std::uint64_t key, Value value) {
        if (find(key)) return false;
        insert(key, value);
        return true;
    }
    // Removes the entry under `key`, for maps whose keys are unique; false when absent.
    bool erase(std::uint64_t key) noexcept {
        if (count_ == 0) return false;
        const std::size_t mask = keys_.size() - 1;
        std::size_t hole = home(key) & mask;
        for (; keys_[hole] != key; hole = (hole + 1) & mask)
            if (keys_[hole] == 0) return false;
        // Pull later members of the probe run back over the hole.
        for (std::size_t next = (hole + 1) & mask; keys_[next] != 0; next = (next + 1) & mask) {
            const std::size_t wanted = home(keys_[next]) & mask;
            if (((next - wanted) & mask) >= ((next - hole) & mask)) {
                keys_[hole] = keys_[next];
                values_[hole] = values_[next];
                hole = next;
            }
        }
        keys_[hole] = 0;
        values_[hole] = Value{};
        --count_;
        if (keys_.size() > table_size_for(0) && count_ * 8 < keys_.size()) {
            try {
                rehash(table_size_for(count_));
            } catch (...) {
                // The entry is gone; the larger table only costs memory.
            }
        }
        return true;
    }

    // visit(key, value) for every entry, in slot order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t slot = 0; slot < keys_.size(); ++slot)
            if (keys_[slot] != 0) visit(keys_[slot], values_[slot]);
    }

    // Frees everything now rather than when the map is destroyed.
    void release() noexcept {
        std::vector<std::uint64_t>().swap(keys_);
        std::vector<Value>().swap(values_);
        count_ = 0;
    }

private:
    static std::uint64_t home(std::uint64_t key) noexcept {
        if constexpr (KeysAreHashes)
            return key;
        else
            return hash_u64(key);
    }

    // Where `key` goes in a table that has room, after any entry under it.
    void place(std::uint64_t key, Value value) noexcept {
        const std::size_t mask = keys_.size() - 1;
        std::size_t slot = home(key) & mask;
        while (keys_[slot] != 0) slot = (slot + 1) & mask;
        keys_[slot] = key;
        values_[slot] = value;
    }

    void rehash(std::size_t slots) {
        std::vector<std::uint64_t> old_keys(slots, 0);
        std::vector<Value> old_values(slots, Value{});
        old_keys.swap(keys_);
        old_values.swap(values_);
        for (std::size_t slot = 0; slot < old_keys.size(); ++slot)
            if (old_keys[slot] != 0) place(old_keys[slot], old_values[slot]);
    }

    std::vector<std::uint64_t> keys_;  // 0 marks a free slot
    std::vector<Value> values_;
    std::size_t count_ = 0;
};

}  // namespace morvane::hashing

// A fixed set of text strings (UTF-8), kept in code-point order and found
// by keyed hashing. The automaton's states, alphabet and finals never change
// after construction, so each is built once, sorted once, and its index in
// the order doubles as a dense id.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automaton/keyed_hash.hpp"

namespace morvane {

class TextSet {
public:
    static constexpr std::uint32_t npos = UINT32_MAX;

    TextSet() = default;
    // Takes the members in any order, duplicates allowed.
    explicit TextSet(std::vector<std::string> members);

    // Position of `text` in code-point order, or npos.
    std::uint32_t find(std::string_view text) const noexcept {
        if (members_.empty()) return npos;
        const std::uint64_t hash = hashing::hash_bytes(text);
        const std::uint64_t tag = hash >> 32;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
            const std::uint64_t entry = slots_[slot];
            if (entry == 0) return npos;
            const std::uint32_t index = static_cast<std::uint32_t>(entry) - 1;
            if ((entry >> 32) == tag && hashing::same_bytes(members_[index], text)) return index;
        }
    }
    bool contains(std::string_view text) const noexcept { return find(text) != npos; }

    std::size_t size() const noexcept { return members_.size(); }
    const std::string& operator[](std::size_t index) const noexcept { return members_[index]; }
    // Ascending by code point (byte order of UTF-8).
    std::span<const std::string> sorted() const noexcept { return members_; }

    // Frees everything now rather than when the set is destroyed.
    void release() noexcept;

private:
    std::vector<std::string> members_;
    // (high half of the member's hash << 32) | (member index + 1); 0 marks a
    // free slot. The stored hash half skips most comparisons of other names.
    std::vector<std::uint64_t> slots_;
};

}  // namespace morvane

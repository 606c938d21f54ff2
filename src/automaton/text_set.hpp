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
        const std::uint32_t* index = indexes_.find(key_of(text), [&](std::uint32_t candidate) {
            return hashing::same_bytes(members_[candidate], text);
        });
        return index ? *index : npos;
    }
    bool contains(std::string_view text) const noexcept { return find(text) != npos; }

    std::size_t size() const noexcept { return members_.size(); }
    const std::string& operator[](std::size_t index) const noexcept { return members_[index]; }
    // Ascending by code point (byte order of UTF-8).
    std::span<const std::string> sorted() const noexcept { return members_; }

    // Frees everything now rather than when the set is destroyed.
    void release() noexcept;

private:
    // The member's hash with the top bit set: never 0, and its low bits, which
    // choose the slot, are the hash's own.
    static std::uint64_t key_of(std::string_view text) noexcept {
        return hashing::hash_bytes(text) | (std::uint64_t{1} << 63);
    }

    std::vector<std::string> members_;
    hashing::ProbingMap<std::uint32_t, true> indexes_;  // hash -> position in members_
};

}  // namespace morvane

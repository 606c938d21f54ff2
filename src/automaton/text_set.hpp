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

namespace morvane {

class TextSet {
public:
    static constexpr std::uint32_t npos = UINT32_MAX;

    TextSet() = default;
    // Takes the members in any order, duplicates allowed.
    explicit TextSet(std::vector<std::string> members);

    // Position of `text` in code-point order, or npos.
    std::uint32_t find(std::string_view text) const noexcept;
    bool contains(std::string_view text) const noexcept { return find(text) != npos; }

    std::size_t size() const noexcept { return members_.size(); }
    const std::string& operator[](std::size_t index) const noexcept { return members_[index]; }
    // Ascending by code point (byte order of UTF-8).
    std::span<const std::string> sorted() const noexcept { return members_; }

    // Frees everything now rather than when the set is destroyed.
    void release() noexcept;

private:
    std::vector<std::string> members_;
    std::vector<std::uint32_t> slots_;  // member index + 1; 0 marks a free slot
};

}  // namespace morvane

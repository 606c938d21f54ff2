// A fixed set of text strings (UTF-8), kept in code-point order and found
// by keyed hashing. The automaton's states, alphabet and finals never change
// after construction, so each is built once, sorted once, and its index in
// the order doubles as a dense id.
//
// A set is one block: the hash slots, then where each member ends, then the
// members' bytes back to back. A slot carries what a probe needs to reject
// or confirm a candidate (a tag of the hash, the member's place and length),
// so a lookup in a large set touches its slot and then the bytes, which are
// packed far tighter than one string object each; a small set costs one
// allocation of a few dozen bytes.
#pragma once

#include <cstdint>
#include <memory>
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
        if (count_ == 0) return npos;
        const std::uint64_t hash = hashing::hash_bytes(text);
        const std::uint32_t tag = tag_of(hash);
        const Slot* slots = block_.get();
        for (std::uint64_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = slots[at];
            if (slot.tag == tag && slot.length == text.size() &&
                hashing::same_bytes(std::string_view(bytes_ + slot.begin, slot.length), text))
                return slot.index;
            if (slot.tag == 0) return npos;
        }
    }
    bool contains(std::string_view text) const noexcept { return find(text) != npos; }

    std::size_t size() const noexcept { return count_; }
    // The member at `index` in code-point order (byte order of UTF-8).
    std::string_view operator[](std::size_t index) const noexcept {
        return std::string_view(bytes_ + ends_[index], ends_[index + 1] - ends_[index]);
    }

    // Frees everything now rather than when the set is destroyed.
    void release() noexcept;

private:
    struct Slot {
        std::uint32_t tag;  // 0 marks a free slot
        std::uint32_t index;
        std::uint32_t begin;
        std::uint32_t length;
    };
    struct FreeBlock {
        void operator()(Slot* block) const noexcept { ::operator delete(block); }
    };

    // The hash's high half, never 0; its low bits choose the slot.
    static std::uint32_t tag_of(std::uint64_t hash) noexcept { return static_cast<std::uint32_t>(hash >> 32) | 1; }

    std::unique_ptr<Slot, FreeBlock> block_;  // the slots first, then the ends and bytes
    const std::uint32_t* ends_ = nullptr;  // in block_: count_ + 1 offsets into bytes_
    const char* bytes_ = nullptr;          // in block_
    std::uint32_t count_ = 0;
    std::uint32_t mask_ = 0;  // slots - 1
};

}  // namespace morvane

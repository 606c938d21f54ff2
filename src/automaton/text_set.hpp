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
        const std::uint32_t tag = tag_of(hash, text.size());
        const Slot* slots = block_.get();
        if (text.size() <= kInline) {
            const std::uint64_t wanted = packed(text);
            for (std::uint64_t at = hash & mask_;; at = (at + 1) & mask_) {
                if (slots[at].tag == tag && slots[at].text == wanted) return slots[at].index;
                if (slots[at].tag == 0) return npos;
            }
        }
        for (std::uint64_t at = hash & mask_;; at = (at + 1) & mask_) {
            const Slot& slot = slots[at];
            if (slot.tag == tag && (slot.text >> 32) == text.size() &&
                hashing::same_bytes(std::string_view(bytes_ + static_cast<std::uint32_t>(slot.text), text.size()), text))
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
    // Names up to this long are held in their slot itself, so finding one
    // reads nothing but the slot.
    static constexpr std::size_t kInline = 8;

    struct Slot {
        std::uint32_t tag;  // 0 marks a free slot
        std::uint32_t index;
        std::uint64_t text;  // packed(member) when short, else its offset in bytes_ | its length << 32
    };
    struct FreeBlock {
        void operator()(Slot* block) const noexcept { ::operator delete(block); }
    };

    // The hash's high half with the length (up to 255) in its low byte; never
    // 0. The hash's low bits choose the slot.
    static std::uint32_t tag_of(std::uint64_t hash, std::size_t length) noexcept {
        return (static_cast<std::uint32_t>(hash >> 32) & 0xFFFFFE00u) | 0x100u |
               static_cast<std::uint32_t>(length < 255 ? length : 255);
    }
    static std::uint64_t little_endian32(const unsigned char* p) noexcept {
        return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 | std::uint64_t{p[3]} << 24;
    }
    // A text of at most kInline bytes as a number, byte i in bits 8i..8i+7,
    // the rest zero: equal numbers and equal lengths mean equal texts. The
    // overlapping reads of a short text put the same byte in the same place.
    static std::uint64_t packed(std::string_view text) noexcept {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t n = text.size();
        if (n >= 4) return little_endian32(p) | little_endian32(p + n - 4) << (8 * (n - 4));
        if (n == 0) return 0;
        return std::uint64_t{p[0]} | std::uint64_t{p[n >> 1]} << (8 * (n >> 1)) | std::uint64_t{p[n - 1]} << (8 * (n - 1));
    }

    std::unique_ptr<Slot, FreeBlock> block_;  // the slots first, then the ends and bytes
    const std::uint32_t* ends_ = nullptr;  // in block_: count_ + 1 offsets into bytes_
    const char* bytes_ = nullptr;          // in block_
    std::uint32_t count_ = 0;
    std::uint32_t mask_ = 0;  // slots - 1
};

}  // namespace morvane

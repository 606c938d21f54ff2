#include "automaton/text_set.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace morvane {

namespace {

// A member to sort by: its first eight bytes as a big-endian number decide
// most comparisons without reading the text again.
struct SortKey {
    std::uint64_t prefix;
    const std::string* text;
};

std::uint64_t prefix_of(const std::string& text) noexcept {
    unsigned char first[8] = {};
    std::memcpy(first, text.data(), std::min<std::size_t>(text.size(), 8));
    std::uint64_t prefix = 0;
    for (const unsigned char byte : first) prefix = (prefix << 8) | byte;
    return prefix;
}

}  // namespace

TextSet::TextSet(std::vector<std::string> members) {
    // Code-point order is the byte order of UTF-8: the prefixes compare as
    // unsigned bytes, and so does std::string.
    std::vector<SortKey> order;
    order.reserve(members.size());
    for (const std::string& member : members) order.push_back({prefix_of(member), &member});
    std::sort(order.begin(), order.end(), [](const SortKey& a, const SortKey& b) {
        return a.prefix != b.prefix ? a.prefix < b.prefix : *a.text < *b.text;
    });
    order.erase(std::unique(order.begin(), order.end(),
                            [](const SortKey& a, const SortKey& b) { return a.prefix == b.prefix && *a.text == *b.text; }),
                order.end());
    if (order.empty()) return;
    std::uint64_t total = 0;
    for (const SortKey& key : order) total += key.text->size();
    if (order.size() >= npos / 2 || total > UINT32_MAX) throw std::length_error("too many members in one set");
    const auto count = static_cast<std::uint32_t>(order.size());

    // At most three quarters full, so a probe always meets a free slot soon.
    std::uint64_t slots = 2;
    while (slots * 3 < std::uint64_t{count} * 4) slots <<= 1;
    const std::size_t slot_bytes = slots * sizeof(Slot);
    const std::size_t end_bytes = (std::size_t{count} + 1) * sizeof(std::uint32_t);
    char* raw = static_cast<char*>(::operator new(slot_bytes + end_bytes + total));
    Slot* slot_array = reinterpret_cast<Slot*>(raw);
    block_.reset(slot_array);
    std::uninitialized_value_construct_n(slot_array, slots);
    auto* ends = reinterpret_cast<std::uint32_t*>(raw + slot_bytes);
    std::uninitialized_value_construct_n(ends, count + 1);
    char* bytes = raw + slot_bytes + end_bytes;

    // Sorting left the members scattered and the slots are hashed: both loops
    // load a little ahead, so that many misses are in flight at once.
    constexpr std::uint32_t ahead = 8;
    std::vector<std::uint64_t> hashes(count);
    std::uint32_t offset = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (index + ahead < count) __builtin_prefetch(order[index + ahead].text);
        const std::string& member = *order[index].text;
        ends[index] = offset;
        if (!member.empty()) std::memcpy(bytes + offset, member.data(), member.size());
        hashes[index] = hashing::hash_bytes(member);
        offset += static_cast<std::uint32_t>(member.size());
    }
    ends[count] = offset;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (index + ahead < count) __builtin_prefetch(&slot_array[hashes[index + ahead] & (slots - 1)], 1);
        std::uint64_t at = hashes[index] & (slots - 1);
        while (slot_array[at].tag != 0) at = (at + 1) & (slots - 1);
        const std::uint32_t begin = ends[index], length = ends[index + 1] - begin;
        const std::uint64_t text = length <= kInline ? packed(std::string_view(bytes + begin, length))
                                                     : begin | std::uint64_t{length} << 32;
        slot_array[at] = Slot{tag_of(hashes[index], length), index, text};
    }
    ends_ = ends;
    bytes_ = bytes;
    count_ = count;
    mask_ = static_cast<std::uint32_t>(slots - 1);
}

void TextSet::release() noexcept {
    block_.reset();
    ends_ = nullptr;
    bytes_ = nullptr;
    count_ = 0;
    mask_ = 0;
}

}  // namespace morvane

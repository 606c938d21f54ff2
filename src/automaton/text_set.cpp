#include "automaton/text_set.hpp"

#include <algorithm>
#include <stdexcept>

#include "automaton/keyed_hash.hpp"

namespace morvane {

TextSet::TextSet(std::vector<std::string> members) : members_(std::move(members)) {
    // std::string compares as unsigned bytes, which for UTF-8 is code-point order.
    std::sort(members_.begin(), members_.end());
    members_.erase(std::unique(members_.begin(), members_.end()), members_.end());
    if (members_.size() >= npos) throw std::length_error("too many members in one set");

    slots_.assign(hashing::table_size_for(members_.size()), 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        std::size_t slot = hashing::hash_bytes(members_[index]) & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = index + 1;
    }
}

std::uint32_t TextSet::find(std::string_view text) const noexcept {
    if (members_.empty()) return npos;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hashing::hash_bytes(text) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t entry = slots_[slot];
        if (entry == 0) return npos;
        if (members_[entry - 1] == text) return entry - 1;
    }
}

void TextSet::release() noexcept {
    std::vector<std::string>().swap(members_);
    std::vector<std::uint32_t>().swap(slots_);
}

}  // namespace morvane

#include "automaton/text_set.hpp"

#include <algorithm>
#include <stdexcept>


namespace morvane {

TextSet::TextSet(std::vector<std::string> members) : members_(std::move(members)) {
    // std::string compares as unsigned bytes, which for UTF-8 is code-point order.
    std::sort(members_.begin(), members_.end());
    members_.erase(std::unique(members_.begin(), members_.end()), members_.end());
    if (members_.size() >= npos) throw std::length_error("too many members in one set");

    slots_.assign(hashing::table_size_for(members_.size()), 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t index = 0; index < members_.size(); ++index) {
        const std::uint64_t hash = hashing::hash_bytes(members_[index]);
        std::size_t slot = hash & mask;
        while (slots_[slot] != 0) slot = (slot + 1) & mask;
        slots_[slot] = ((hash >> 32) << 32) | (index + 1);
    }
}

void TextSet::release() noexcept {
    std::vector<std::string>().swap(members_);
    std::vector<std::uint64_t>().swap(slots_);
}

}  // namespace morvane

#include "automaton/text_set.hpp"

#include <algorithm>
#include <stdexcept>

namespace morvane {

TextSet::TextSet(std::vector<std::string> members) : members_(std::move(members)) {
    // std::string compares as unsigned bytes, which for UTF-8 is code-point order.
    std::sort(members_.begin(), members_.end());
    members_.erase(std::unique(members_.begin(), members_.end()), members_.end());
    if (members_.size() >= npos) throw std::length_error("too many members in one set");
    indexes_.reserve(members_.size());
    for (std::uint32_t index = 0; index < members_.size(); ++index) indexes_.insert(key_of(members_[index]), index);
}

void TextSet::release() noexcept {
    std::vector<std::string>().swap(members_);
    indexes_.release();
}

}  // namespace morvane

// Python objects already dealt with, by address. Callers hold every object
// they record alive for as long as the map lives, so one address is one
// object: a name met again is known without reading its characters. Past its
// limit the map takes no more (the objects are then evidently not shared, and
// a larger map would cost memory for nothing); lookups still answer.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scratch.hpp"

namespace morvane_tools {

template <class Value>
class AddressMap {
public:
    explicit AddressMap(std::size_t limit) : limit_(limit) {
        std::size_t capacity = 16;
        while (capacity < limit_ * 2) capacity *= 2;
        slots_.assign(capacity, Slot{});
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(capacity));
    }

    bool taking() const noexcept { return count_ < limit_; }

    void prefetch(const void* object) const noexcept { __builtin_prefetch(&slots_[slot_of(object)]); }

    const Value* find(const void* object) const noexcept {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = slot_of(object);; at = (at + 1) & mask) {
            if (slots_[at].object == object) return &slots_[at].value;
            if (slots_[at].object == nullptr) return nullptr;
        }
    }

    void remember(const void* object, Value value) noexcept {
        if (!taking()) return;
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = slot_of(object);
        while (slots_[at].object != nullptr && slots_[at].object != object) at = (at + 1) & mask;
        if (slots_[at].object == nullptr) ++count_;
        slots_[at] = {object, value};
    }

    struct Slot {
        const void* object = nullptr;
        Value value{};
    };

private:

    std::size_t slot_of(const void* object) const noexcept {
        return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(object) * 0x9e3779b97f4a7c15ULL) >> shift_);
    }

    ReusedVector<Slot> slots_;
    std::size_t limit_;
    std::size_t count_ = 0;
    unsigned shift_ = 0;
};

}  // namespace morvane_tools

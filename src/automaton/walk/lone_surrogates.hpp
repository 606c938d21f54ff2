// Lone surrogates (U+D800 to U+DFFF) among a string's code units: a str may
// hold them, UTF-8 cannot, so an input holding one is refused.
//
// No alphabet holds a surrogate, so every walk dies on one: an input that a
// walk goes through holds none, and only an input that dies needs this scan,
// and then only from where it died.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane::walk {

bool holds_lone_surrogate(const std::uint16_t* units, std::size_t length) noexcept;
bool holds_lone_surrogate(const std::uint32_t* units, std::size_t length) noexcept;

// `units` of `unit_size` bytes each (1, 2 or 4); one-byte units never are.
inline bool holds_lone_surrogate(const void* units, std::size_t length, int unit_size) noexcept {
    switch (unit_size) {
        case 1: return false;
        case 2: return holds_lone_surrogate(static_cast<const std::uint16_t*>(units), length);
        default: return holds_lone_surrogate(static_cast<const std::uint32_t*>(units), length);
    }
}

}  // namespace morvane::walk

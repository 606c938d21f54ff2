#include "automaton/walk/lone_surrogates.hpp"

#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace morvane::walk {

namespace {

// Whole vectors of units at a time (the compiler's vector extension, so any
// processor's baseline): -O2 leaves the plain loop one unit a step.
typedef std::uint16_t Units16 __attribute__((vector_size(16)));
typedef std::uint32_t Units32 __attribute__((vector_size(16)));

template <class Unit>
bool scan_portable(const Unit* units, std::size_t length) noexcept {
    using Vector = std::conditional_t<sizeof(Unit) == 2, Units16, Units32>;
    constexpr std::size_t lanes = sizeof(Vector) / sizeof(Unit);
    const Unit mask = static_cast<Unit>(0xFFFFF800u), surrogates = static_cast<Unit>(0xD800u);
    Vector seen{};
    std::size_t index = 0;
    // Four vectors a step: the loop's own bookkeeping would otherwise cost
    // as much as the compares.
    for (; length - index >= 4 * lanes; index += 4 * lanes) {
        Vector a, b, c, d;  // apart, not an array: an array would go through memory
        std::memcpy(&a, units + index, sizeof a);
        std::memcpy(&b, units + index + lanes, sizeof b);
        std::memcpy(&c, units + index + 2 * lanes, sizeof c);
        std::memcpy(&d, units + index + 3 * lanes, sizeof d);
        seen |= (Vector)((a & mask) == surrogates) | (Vector)((b & mask) == surrogates) |
                (Vector)((c & mask) == surrogates) | (Vector)((d & mask) == surrogates);
    }
    for (; length - index >= lanes; index += lanes) {
        Vector units_here;
        std::memcpy(&units_here, units + index, sizeof units_here);
        seen |= (Vector)((units_here & mask) == surrogates);
    }
    bool found = false;
    for (std::size_t lane = 0; lane < lanes; ++lane) found |= seen[lane] != 0;
    for (; index < length; ++index) found |= (units[index] & mask) == surrogates;
    return found;
}

#if defined(__x86_64__)
template <class Unit>
__attribute__((target("avx2"))) inline __m256i surrogate_lanes(const Unit* units) noexcept {
    const __m256i masked = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(units)),
                                            sizeof(Unit) == 2 ? _mm256_set1_epi16(static_cast<short>(0xF800))
                                                              : _mm256_set1_epi32(static_cast<int>(0xFFFFF800u)));
    return sizeof(Unit) == 2 ? _mm256_cmpeq_epi16(masked, _mm256_set1_epi16(static_cast<short>(0xD800)))
                             : _mm256_cmpeq_epi32(masked, _mm256_set1_epi32(0xD800));
}

// Twice the width where the processor has it.
template <class Unit>
__attribute__((target("avx2"))) bool scan_avx2(const Unit* units, std::size_t length) noexcept {
    constexpr std::size_t lanes = 32 / sizeof(Unit);
    __m256i seen = _mm256_setzero_si256();
    std::size_t index = 0;
    for (; length - index >= 4 * lanes; index += 4 * lanes) {
        const Unit* at = units + index;
        seen = _mm256_or_si256(seen, _mm256_or_si256(_mm256_or_si256(surrogate_lanes(at), surrogate_lanes(at + lanes)),
                                                     _mm256_or_si256(surrogate_lanes(at + 2 * lanes),
                                                                     surrogate_lanes(at + 3 * lanes))));
    }
    return !_mm256_testz_si256(seen, seen) || scan_portable(units + index, length - index);
}
#endif

template <class Unit>
bool scan(const Unit* units, std::size_t length) noexcept {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return scan_avx2(units, length);
#endif
    return scan_portable(units, length);
}

}  // namespace

bool holds_lone_surrogate(const std::uint16_t* units, std::size_t length) noexcept { return scan(units, length); }
bool holds_lone_surrogate(const std::uint32_t* units, std::size_t length) noexcept { return scan(units, length); }

}  // namespace morvane::walk

// Walks that compose byte shuffles instead of chaining loads.
//
// Each input class's transition function is a byte vector (lane q: where
// state q goes). A stretch of input composed into one such vector tells,
// for every start state at once, where the stretch ends; so K stretches can
// be composed side by side, each a chain of shuffles of its own, and only
// the K results are chained. A block of K stretches is checked once for the
// dead state, so a rejected input stops within a block of where it died.
//
// Each function carries its instruction set as a target attribute; callers
// reach it only after the processor has been asked.
#include "automaton/walk/kernels.hpp"

#include <algorithm>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
// GCC 12's AVX-512 broadcasts start from a deliberately undefined register
// and then warn about it when inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace morvane::walk::kernels {

namespace {

// Stretches per block and the longest stretch: enough independent chains to
// cover the shuffle's latency; long enough that the per-block combination
// costs little. Shorter leftovers get shorter stretches down to kMinStretch.
constexpr std::size_t kShuffleChains = 8;  // as many chains as the kernels spell out
constexpr std::size_t kPermuteChains = 8;
constexpr std::size_t kLongestStretch = 128;
constexpr std::size_t kMinStretch = 8;
// The pair walk reads its input in bursts, a block's translation at a time,
// and then walks as long without reading: the processor's prefetcher sees
// no stream to follow, and an input that is not in cache waits on memory at
// every block (a 2-byte input out of cache walked a third slower). So each
// block of a wide input asks for the one this many blocks ahead of it; a
// 1-byte input is read slowly enough without, and the requests cost it more
// than they save. The shuffle walk reads a block as eight streams running
// backwards, which the prefetcher follows no better: it asks the same way,
// all of a block at once (its steps are slow enough that the burst drains).
constexpr std::size_t kPrefetchBlocks = 2;

// The read-ahead asks for the second-level cache, not the first: the lines
// are still there a block before they are read, and an input that is
// already in cache pays a little less for being asked for. Asking for only
// some lines of a block (every other one, or a page's first few) costs
// more than asking for none: it seems to throw the processor's own
// prefetcher off the stream.
template <class Unit>
inline void prefetch(const Unit* units, std::size_t from, std::size_t to) noexcept {
    const char* bytes = reinterpret_cast<const char*>(units);
    for (std::size_t at = from * sizeof(Unit); at < to * sizeof(Unit); at += 64)
        __builtin_prefetch(bytes + at, 0, 2);
}

}  // namespace

#if defined(__x86_64__)

namespace {

// Backward composition: w maps a state at position i to the stretch's end
// state, so w := w o M[c] walks i down. pshufb takes M[c] straight from memory.
template <class Unit>
__attribute__((target("avx2"))) std::uint32_t shuffle16_walk(const Tables& tables, const Unit* units,
                                                             std::size_t length, std::uint32_t state) noexcept {
    constexpr std::size_t K = kShuffleChains;
    const auto* maps = reinterpret_cast<const __m128i*>(tables.shuffles);
    const ClassOf<Unit> class_of(tables);
    const __m128i identity = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i at = _mm_set1_epi8(static_cast<char>(state));
    std::size_t done = 0;
    while (length - done >= K * kMinStretch) {
        const std::size_t stretch = std::min(kLongestStretch, (length - done) / K);
        const Unit* block = units + done;
        if constexpr (sizeof(Unit) > 1)
            if (const std::size_t ahead = done + kPrefetchBlocks * K * stretch; ahead < length)
                prefetch(units, ahead, std::min(length, ahead + K * stretch));
        // The chains are spelled out: as an array they would live in memory,
        // and a store and a load would join every link.
        const Unit* p[K];
        for (std::size_t j = 0; j < K; ++j) p[j] = block + j * stretch;
        const Unit *p0 = p[0], *p1 = p[1], *p2 = p[2], *p3 = p[3], *p4 = p[4], *p5 = p[5], *p6 = p[6], *p7 = p[7];
        __m128i w0 = identity, w1 = identity, w2 = identity, w3 = identity;
        __m128i w4 = identity, w5 = identity, w6 = identity, w7 = identity;
        for (std::size_t i = stretch; i-- > 0;) {
            w0 = _mm_shuffle_epi8(w0, _mm_load_si128(maps + class_of(p0[i])));
            w1 = _mm_shuffle_epi8(w1, _mm_load_si128(maps + class_of(p1[i])));
            w2 = _mm_shuffle_epi8(w2, _mm_load_si128(maps + class_of(p2[i])));
            w3 = _mm_shuffle_epi8(w3, _mm_load_si128(maps + class_of(p3[i])));
            w4 = _mm_shuffle_epi8(w4, _mm_load_si128(maps + class_of(p4[i])));
            w5 = _mm_shuffle_epi8(w5, _mm_load_si128(maps + class_of(p5[i])));
            w6 = _mm_shuffle_epi8(w6, _mm_load_si128(maps + class_of(p6[i])));
            w7 = _mm_shuffle_epi8(w7, _mm_load_si128(maps + class_of(p7[i])));
        }
        for (const __m128i& w : {w0, w1, w2, w3, w4, w5, w6, w7}) at = _mm_shuffle_epi8(w, at);
        done += K * stretch;
        if ((_mm_cvtsi128_si32(at) & 0xFF) == 0) return 0;
    }
    return shuffle_tail(tables, 16, units + done, length - done, _mm_cvtsi128_si32(at) & 0xFF);
}

// The pair walk in two passes over each block: first every pair of
// characters becomes the byte offset of its composed function (a pass bound
// by throughput, not by any chain), then the chains load one offset and one
// function a pair.
//
// Translating by rows: each row of 16 code points holding members has its
// 16 classes in a vector; a unit's class is its row's entry at the unit's
// low four bits, found by one compare and one shuffle a row. Units of no
// such row are outside the alphabet: class 0. Merged rows share one vector
// row: the key to compare with is then looked up by the low four bits too.
//
// Rows as a count known when compiling: their keys and classes then stay in
// registers across the whole block. 2-byte units compare their keys as
// bytes when every row's key is below 0xFF (code points below U+0FF0), as
// in most alphabets: packed with unsigned saturation, larger keys become
// 0xFF, which no row has. Out says what is written: a class byte a unit
// (std::uint8_t), or a pair offset per two units (std::uint16_t).
enum class RowForm { byte_keys, merged, wide_keys };

// 2-byte units pack two vectors into one, which leaves each 32 units' pair
// offsets in this order; grouped, the translation keeps it (pairs never
// straddle the packing's quarters) and the chains read the offsets so.
constexpr std::size_t kGroupOrder[16] = {0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15};
constexpr std::size_t grouped_place(std::size_t pair) noexcept { return (pair & ~std::size_t{15}) | kGroupOrder[pair & 15]; }

// The low nibbles of 32 units and their keys (the bits above), as bytes:
// 2-byte units are packed with unsigned saturation, so a key past 0xFF
// becomes 0xFF, and come out in the packing's order (a0-7 b0-7 | a8-15 b8-15).
struct SplitUnits {
    __m256i low, key;
};
template <class Unit>
__attribute__((target("avx2"), always_inline)) inline SplitUnits split_units(const Unit* units) noexcept {
    static_assert(sizeof(Unit) <= 2);
    const __m256i low_nibble = _mm256_set1_epi8(0x0F);
    if constexpr (sizeof(Unit) == 1) {
        const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units));
        return {_mm256_and_si256(bytes, low_nibble), _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low_nibble)};
    } else {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + 16));
        const __m256i nibble16 = _mm256_set1_epi16(0x0F);
        return {_mm256_packus_epi16(_mm256_and_si256(a, nibble16), _mm256_and_si256(b, nibble16)),
                _mm256_packus_epi16(_mm256_srli_epi16(a, 4), _mm256_srli_epi16(b, 4))};
    }
}

template <class Unit, std::uint32_t Rows, RowForm Form, class Out>
__attribute__((target("avx2"))) std::size_t translate_by_rows(const Tables& tables, const Unit* units,
                                                              std::size_t length, Out* out, bool grouped) noexcept {
    constexpr bool byte_keys = Form != RowForm::wide_keys;
    __m256i keys[Rows > 0 ? Rows : 1], row_classes[Rows > 0 ? Rows : 1];
    for (std::uint32_t row = 0; row < Rows; ++row) {
        const auto* vector_row = reinterpret_cast<const __m128i*>(tables.row_classes) + 2 * row;
        row_classes[row] = _mm256_broadcastsi128_si256(_mm_load_si128(vector_row));
        if constexpr (Form == RowForm::merged)
            keys[row] = _mm256_broadcastsi128_si256(_mm_load_si128(vector_row + 1));
        else
            keys[row] = byte_keys ? _mm256_set1_epi8(static_cast<char>(tables.row_keys[row]))
                                  : _mm256_set1_epi16(static_cast<short>(tables.row_keys[row]));
    }
    // Byte pairs (first, second) become first * classes + second in one
    // multiply-add of unsigned bytes by signed weights; the pair walk takes
    // at most 32 classes, so the offsets (below 32 * 32 * 16) fit 16 bits.
    const __m256i weights = _mm256_set1_epi16(static_cast<short>(tables.classes | 0x100));
    std::size_t done = 0;
    for (; length - done >= 32; done += 32) {
        __m256i low, key, classes = _mm256_setzero_si256();
        if constexpr (sizeof(Unit) == 1 || byte_keys) {
            const SplitUnits split = split_units(units + done);
            low = split.low;
            key = split.key;
        } else {
            // Keys past 0xFF: compared as 16 bits, before packing.
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + done));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + done + 16));
            const __m256i nibble16 = _mm256_set1_epi16(0x0F);
            low = _mm256_packus_epi16(_mm256_and_si256(a, nibble16), _mm256_and_si256(b, nibble16));
            const __m256i key_a = _mm256_srli_epi16(a, 4), key_b = _mm256_srli_epi16(b, 4);
            for (std::uint32_t row = 0; row < Rows; ++row) {
                const __m256i in_row = _mm256_packs_epi16(_mm256_cmpeq_epi16(key_a, keys[row]),
                                                          _mm256_cmpeq_epi16(key_b, keys[row]));
                classes = _mm256_or_si256(classes, _mm256_and_si256(in_row, _mm256_shuffle_epi8(row_classes[row], low)));
            }
        }
        if constexpr (byte_keys)
            for (std::uint32_t row = 0; row < Rows; ++row) {
                const __m256i row_key = Form == RowForm::merged ? _mm256_shuffle_epi8(keys[row], low) : keys[row];
                classes = _mm256_or_si256(classes, _mm256_and_si256(_mm256_cmpeq_epi8(key, row_key),
                                                                    _mm256_shuffle_epi8(row_classes[row], low)));
            }
        if constexpr (sizeof(Unit) == 2)
            if (sizeof(Out) == 1 || !grouped) classes = _mm256_permute4x64_epi64(classes, 0xD8);  // in order
        if constexpr (sizeof(Out) == 1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done), classes);
        } else {
            const __m256i pairs = _mm256_slli_epi16(_mm256_maddubs_epi16(classes, weights), 4);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done / 2), pairs);
        }
    }
    return done;
}

template <class Unit, RowForm Form, class Out, std::uint32_t... Rows>
__attribute__((target("avx2"))) std::size_t translate_by_rows(const Tables& tables, std::uint32_t rows,
                                                              const Unit* units, std::size_t length, Out* out,
                                                              bool grouped,
                                                              std::integer_sequence<std::uint32_t, Rows...>) noexcept {
    std::size_t done = 0;
    ((rows == Rows ? (done = translate_by_rows<Unit, Rows, Form>(tables, units, length, out, grouped), 0) : 0), ...);
    return done;
}

// The units that the rows translate, in multiples of 32: none where the
// alphabet has too many rows, or for 4-byte units. Pair offsets of 2-byte
// units come grouped when asked.
template <class Unit, class Out>
__attribute__((target("avx2"))) std::size_t translate_rows(const Tables& tables, const Unit* units,
                                                           std::size_t length, Out* out, bool grouped = false) noexcept {
    constexpr auto counts = std::make_integer_sequence<std::uint32_t, kMaxVectorRows + 1>{};
    std::size_t done = 0;
    if constexpr (sizeof(Unit) == 1) {
        if (tables.byte_rows != kNoVectorRows)
            done = tables.merged_rows
                       ? translate_by_rows<Unit, RowForm::merged>(tables, tables.byte_rows, units, length, out,
                                                                   false, counts)
                       : translate_by_rows<Unit, RowForm::byte_keys>(tables, tables.byte_rows, units, length, out,
                                                                      false, counts);
    } else if constexpr (sizeof(Unit) == 2) {
        const std::uint32_t rows = tables.wide_rows;
        // The keys ascend: the last is the largest.
        if (rows != kNoVectorRows && tables.merged_rows)
            done = translate_by_rows<Unit, RowForm::merged>(tables, rows, units, length, out, grouped, counts);
        else if (rows != kNoVectorRows && (rows == 0 || tables.row_keys[rows - 1] < 0xFF))
            done = translate_by_rows<Unit, RowForm::byte_keys>(tables, rows, units, length, out, grouped, counts);
        else if (rows != kNoVectorRows)
            done = translate_by_rows<Unit, RowForm::wide_keys>(tables, rows, units, length, out, grouped, counts);
    }
    return done;
}

// Every pair of units becomes the byte offset of its composed function, in
// order or grouped (2-byte units, whole groups of 32 units).
template <class Unit>
__attribute__((target("avx2"))) void translate_pairs(const Tables& tables, const Unit* units, std::size_t length,
                                                     std::uint16_t* offsets, bool grouped) noexcept {
    std::size_t done = translate_rows(tables, units, length, offsets, grouped);
    const ClassOf<Unit> class_of(tables);
    const std::uint32_t class_count = tables.classes;
    for (; done < length; done += 2)
        offsets[grouped ? grouped_place(done / 2) : done / 2] =
            static_cast<std::uint16_t>((class_of(units[done]) * class_count + class_of(units[done + 1])) * 16);
}

template <class Unit>
__attribute__((target("avx2"))) std::uint32_t pairs16_walk(const Tables& tables, const Unit* units,
                                                           std::size_t length, std::uint32_t state) noexcept {
    constexpr std::size_t K = kShuffleChains;
    const std::uint8_t* pairs = tables.pair_shuffles;
    alignas(32) std::uint16_t offsets[K * kLongestStretch / 2];
    const __m128i identity = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i at = _mm_set1_epi8(static_cast<char>(state));
    std::size_t done = 0;
    while (length - done >= K * kMinStretch) {
        std::size_t stretch = std::min(kLongestStretch, (length - done) / K) & ~std::size_t{1};
        // Whole groups of 32 units where they fit: the chains then walk a
        // group's pairs spelled out, and 2-byte units keep the group order.
        const bool groups = stretch >= 32;
        if (groups) stretch &= ~std::size_t{31};
        const bool grouped = sizeof(Unit) == 2 && groups;
        translate_pairs(tables, units + done, K * stretch, offsets, grouped);
        // A wide input's block kPrefetchBlocks ahead is asked for a line at a
        // time between the chains' steps, a group's share of it with each
        // group: the whole block's requests in one burst held the walk up
        // (waiting, it seems, for free miss buffers), even in cache.
        const char* ahead = nullptr;
        if constexpr (sizeof(Unit) > 1)
            if (groups && done + (kPrefetchBlocks + 1) * K * stretch <= length)
                ahead = reinterpret_cast<const char*>(units + done + kPrefetchBlocks * K * stretch);
        const std::size_t half = stretch / 2;
        const std::uint16_t *o0 = offsets, *o1 = o0 + half, *o2 = o1 + half, *o3 = o2 + half, *o4 = o3 + half,
                            *o5 = o4 + half, *o6 = o5 + half, *o7 = o6 + half;
        auto map = [pairs](std::uint16_t offset) __attribute__((always_inline)) {
            return _mm_load_si128(reinterpret_cast<const __m128i*>(pairs + offset));
        };
        __m128i w0 = identity, w1 = identity, w2 = identity, w3 = identity;
        __m128i w4 = identity, w5 = identity, w6 = identity, w7 = identity;
        auto step = [&](std::size_t i) __attribute__((target("avx2"), always_inline)) {
            w0 = _mm_shuffle_epi8(w0, map(o0[i]));
            w1 = _mm_shuffle_epi8(w1, map(o1[i]));
            w2 = _mm_shuffle_epi8(w2, map(o2[i]));
            w3 = _mm_shuffle_epi8(w3, map(o3[i]));
            w4 = _mm_shuffle_epi8(w4, map(o4[i]));
            w5 = _mm_shuffle_epi8(w5, map(o5[i]));
            w6 = _mm_shuffle_epi8(w6, map(o6[i]));
            w7 = _mm_shuffle_epi8(w7, map(o7[i]));
        };
        // A group is 32 units a chain, so 4 * sizeof(Unit) lines of input
        // over its 16 steps.
        constexpr std::size_t steps_a_line = 4 / sizeof(Unit) > 0 ? 4 / sizeof(Unit) : 1;
        auto read_ahead = [&ahead]() __attribute__((always_inline)) {
            if constexpr (sizeof(Unit) > 1)
                if (ahead != nullptr) {
                    __builtin_prefetch(ahead, 0, 2);
                    ahead += 64;
                }
        };
        if (groups) {
            // A group's pairs from last to first, each where the translation put it.
            for (std::size_t group = half; group > 0;) {
                group -= 16;
                [&]<std::size_t... k>(std::index_sequence<k...>) __attribute__((target("avx2"), always_inline)) {
                    ((step(group + (sizeof(Unit) == 2 ? kGroupOrder[15 - k] : 15 - k)),
                      k % steps_a_line == 0 ? read_ahead() : void()),
                     ...);
                }(std::make_index_sequence<16>{});
            }
        } else {
            for (std::size_t i = half; i-- > 0;) step(i);
        }
        for (const __m128i& w : {w0, w1, w2, w3, w4, w5, w6, w7}) at = _mm_shuffle_epi8(w, at);
        done += K * stretch;
        if ((_mm_cvtsi128_si32(at) & 0xFF) == 0) return 0;
    }
    return shuffle_tail(tables, 16, units + done, length - done, _mm_cvtsi128_si32(at) & 0xFF);
}

// Forward composition with vpermb: v := M[c] o v, M[c] from memory.
template <class Unit>
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::uint32_t permute64_walk(const Tables& tables,
                                                                                     const Unit* units,
                                                                                     std::size_t length,
                                                                                     std::uint32_t state) noexcept {
    constexpr std::size_t K = kPermuteChains;
    const auto* maps = reinterpret_cast<const __m512i*>(tables.shuffles);
    const ClassOf<Unit> class_of(tables);
    alignas(64) static constexpr std::uint8_t identity_bytes[64] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
        22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43,
        44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63};
    const __m512i identity = _mm512_load_si512(identity_bytes);
    __m512i at = _mm512_set1_epi8(static_cast<char>(state));
    std::size_t done = 0;
    while (length - done >= K * kMinStretch) {
        const std::size_t stretch = std::min(kLongestStretch, (length - done) / K);
        const Unit* block = units + done;
        const Unit* p[K];
        for (std::size_t j = 0; j < K; ++j) p[j] = block + j * stretch;
        const Unit *p0 = p[0], *p1 = p[1], *p2 = p[2], *p3 = p[3], *p4 = p[4], *p5 = p[5], *p6 = p[6], *p7 = p[7];
        __m512i v0 = identity, v1 = identity, v2 = identity, v3 = identity;
        __m512i v4 = identity, v5 = identity, v6 = identity, v7 = identity;
        for (std::size_t i = 0; i < stretch; ++i) {
            v0 = _mm512_permutexvar_epi8(v0, _mm512_load_si512(maps + class_of(p0[i])));
            v1 = _mm512_permutexvar_epi8(v1, _mm512_load_si512(maps + class_of(p1[i])));
            v2 = _mm512_permutexvar_epi8(v2, _mm512_load_si512(maps + class_of(p2[i])));
            v3 = _mm512_permutexvar_epi8(v3, _mm512_load_si512(maps + class_of(p3[i])));
            v4 = _mm512_permutexvar_epi8(v4, _mm512_load_si512(maps + class_of(p4[i])));
            v5 = _mm512_permutexvar_epi8(v5, _mm512_load_si512(maps + class_of(p5[i])));
            v6 = _mm512_permutexvar_epi8(v6, _mm512_load_si512(maps + class_of(p6[i])));
            v7 = _mm512_permutexvar_epi8(v7, _mm512_load_si512(maps + class_of(p7[i])));
        }
        for (const __m512i& v : {v0, v1, v2, v3, v4, v5, v6, v7}) at = _mm512_permutexvar_epi8(at, v);
        done += K * stretch;
        if ((_mm_cvtsi128_si32(_mm512_castsi512_si128(at)) & 0xFF) == 0) return 0;
    }
    return shuffle_tail(tables, 64, units + done, length - done,
                        _mm_cvtsi128_si32(_mm512_castsi512_si128(at)) & 0xFF);
}

template <class Unit>
__attribute__((target("avx2"))) std::size_t translate_classes_by_rows(const Tables& tables, const Unit* units,
                                                                      std::size_t length,
                                                                      std::uint8_t* classes) noexcept {
    return translate_rows(tables, units, length, classes);
}

// A unit's span column is unit - span_low where that is below the last
// column, else the last: units below span_low wrap around to above it.
template <class Unit>
__attribute__((target("avx2"))) std::size_t translate_span_by_vector(const Tables& tables, const Unit* units,
                                                                     std::size_t length,
                                                                     std::uint8_t* columns) noexcept {
    std::size_t done = 0;
    if constexpr (sizeof(Unit) == 1) {
        const __m256i low = _mm256_set1_epi8(static_cast<char>(tables.span_low));
        const __m256i last = _mm256_set1_epi8(static_cast<char>(tables.span_width - 1));
        for (; length - done >= 32; done += 32) {
            const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + done));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + done),
                                _mm256_min_epu8(_mm256_sub_epi8(bytes, low), last));
        }
    } else if constexpr (sizeof(Unit) == 2) {
        const __m256i low = _mm256_set1_epi16(static_cast<short>(tables.span_low));
        const __m256i last = _mm256_set1_epi16(static_cast<short>(tables.span_width - 1));
        for (; length - done >= 32; done += 32) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + done));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + done + 16));
            const __m256i packed = _mm256_packus_epi16(_mm256_min_epu16(_mm256_sub_epi16(a, low), last),
                                                       _mm256_min_epu16(_mm256_sub_epi16(b, low), last));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + done), _mm256_permute4x64_epi64(packed, 0xD8));
        }
    }
    return done;
}

// A unit's nibble column: its row's offset plus its low nibble's, both by
// shuffle, or the last column where the bit tables say it is no member.
// Wider units than a byte have keys past 0xF: lifted to 0x80 and beyond,
// they find no row bit.
template <class Unit>
__attribute__((target("avx2"))) std::size_t translate_nibbles_by_vector(const Tables& tables, const Unit* units,
                                                                        std::size_t length,
                                                                        std::uint8_t* columns) noexcept {
    const auto* table = reinterpret_cast<const __m128i*>(tables.nibble_columns);
    const __m256i row_offsets = _mm256_broadcastsi128_si256(_mm_loadu_si128(table));
    const __m256i place_offsets = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 1));
    const __m256i low_rows = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 2));
    const __m256i high_rows = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 3));
    const __m256i low_row_bit = _mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16,
                                                 32, 64, -128, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i high_row_bit = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128, 0, 0, 0, 0, 0,
                                                  0, 0, 0, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m256i last = _mm256_set1_epi8(static_cast<char>(tables.nibble_width - 1));
    std::size_t done = 0;
    if constexpr (sizeof(Unit) <= 2) {
        for (; length - done >= 32; done += 32) {
            const auto [low, packed_key] = split_units(units + done);
            const __m256i key =
                sizeof(Unit) == 1 ? packed_key : _mm256_adds_epu8(packed_key, _mm256_set1_epi8(0x70));
            const __m256i member = _mm256_or_si256(
                _mm256_and_si256(_mm256_shuffle_epi8(low_rows, low), _mm256_shuffle_epi8(low_row_bit, key)),
                _mm256_and_si256(_mm256_shuffle_epi8(high_rows, low), _mm256_shuffle_epi8(high_row_bit, key)));
            const __m256i column =
                _mm256_add_epi8(_mm256_shuffle_epi8(row_offsets, key), _mm256_shuffle_epi8(place_offsets, low));
            __m256i capped = _mm256_min_epu8(
                _mm256_or_si256(column, _mm256_cmpeq_epi8(member, _mm256_setzero_si256())), last);
            if constexpr (sizeof(Unit) == 2) capped = _mm256_permute4x64_epi64(capped, 0xD8);  // in order
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(columns + done), capped);
        }
    }
    return done;
}

}  // namespace

bool shuffle16_available() noexcept { return __builtin_cpu_supports("avx2"); }
bool translate_available() noexcept { return __builtin_cpu_supports("avx2"); }
bool permute64_available() noexcept {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

#elif defined(__aarch64__)

namespace {

constexpr std::size_t kNeonChains = 4;  // as many chains as the NEON kernels spell out

// NEON's tbl is pshufb's twin: the same backward composition.
template <class Unit>
std::uint32_t shuffle16_walk(const Tables& tables, const Unit* units, std::size_t length,
                             std::uint32_t state) noexcept {
    constexpr std::size_t K = kNeonChains;
    const ClassOf<Unit> class_of(tables);
    static constexpr std::uint8_t identity_bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const uint8x16_t identity = vld1q_u8(identity_bytes);
    uint8x16_t at = vdupq_n_u8(static_cast<std::uint8_t>(state));
    std::size_t done = 0;
    while (length - done >= K * kMinStretch) {
        const std::size_t stretch = std::min(kLongestStretch, (length - done) / K);
        const Unit* block = units + done;
        const Unit *p0 = block, *p1 = block + stretch, *p2 = block + 2 * stretch, *p3 = block + 3 * stretch;
        uint8x16_t w0 = identity, w1 = identity, w2 = identity, w3 = identity;
        for (std::size_t i = stretch; i-- > 0;) {
            w0 = vqtbl1q_u8(w0, vld1q_u8(tables.shuffles + 16 * class_of(p0[i])));
            w1 = vqtbl1q_u8(w1, vld1q_u8(tables.shuffles + 16 * class_of(p1[i])));
            w2 = vqtbl1q_u8(w2, vld1q_u8(tables.shuffles + 16 * class_of(p2[i])));
            w3 = vqtbl1q_u8(w3, vld1q_u8(tables.shuffles + 16 * class_of(p3[i])));
        }
        at = vqtbl1q_u8(w3, vqtbl1q_u8(w2, vqtbl1q_u8(w1, vqtbl1q_u8(w0, at))));
        done += K * stretch;
        if (vgetq_lane_u8(at, 0) == 0) return 0;
    }
    return shuffle_tail(tables, 16, units + done, length - done, vgetq_lane_u8(at, 0));
}

template <class Unit>
std::uint32_t pairs16_walk(const Tables& tables, const Unit* units, std::size_t length,
                           std::uint32_t state) noexcept {
    constexpr std::size_t K = kNeonChains;
    const std::uint32_t classes = tables.classes;
    const ClassOf<Unit> class_of(tables);
    static constexpr std::uint8_t identity_bytes[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const uint8x16_t identity = vld1q_u8(identity_bytes);
    uint8x16_t at = vdupq_n_u8(static_cast<std::uint8_t>(state));
    std::size_t done = 0;
    while (length - done >= K * kMinStretch) {
        const std::size_t stretch = std::min(kLongestStretch, (length - done) / K) & ~std::size_t{1};
        const Unit* block = units + done;
        const Unit *p0 = block, *p1 = block + stretch, *p2 = block + 2 * stretch, *p3 = block + 3 * stretch;
        auto pair = [&](const Unit* q) { return tables.pair_shuffles + 16 * (class_of(q[0]) * classes + class_of(q[1])); };
        uint8x16_t w0 = identity, w1 = identity, w2 = identity, w3 = identity;
        for (std::size_t i = stretch; i >= 2;) {
            i -= 2;
            w0 = vqtbl1q_u8(w0, vld1q_u8(pair(p0 + i)));
            w1 = vqtbl1q_u8(w1, vld1q_u8(pair(p1 + i)));
            w2 = vqtbl1q_u8(w2, vld1q_u8(pair(p2 + i)));
            w3 = vqtbl1q_u8(w3, vld1q_u8(pair(p3 + i)));
        }
        at = vqtbl1q_u8(w3, vqtbl1q_u8(w2, vqtbl1q_u8(w1, vqtbl1q_u8(w0, at))));
        done += K * stretch;
        if (vgetq_lane_u8(at, 0) == 0) return 0;
    }
    return shuffle_tail(tables, 16, units + done, length - done, vgetq_lane_u8(at, 0));
}

template <class Unit>
std::uint32_t permute64_walk(const Tables&, const Unit*, std::size_t, std::uint32_t) noexcept {
    return 0;  // never chosen: permute64_available() is false here
}

template <class Unit>
std::size_t translate_classes_by_rows(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept {
    return 0;  // never asked: translates_by_vector() is false here
}
template <class Unit>
std::size_t translate_span_by_vector(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept {
    return 0;  // never asked: translate_available() is false here
}
template <class Unit>
std::size_t translate_nibbles_by_vector(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept {
    return 0;  // never asked: translate_available() is false here
}

}  // namespace

bool shuffle16_available() noexcept { return true; }
bool translate_available() noexcept { return false; }
bool permute64_available() noexcept { return false; }

#else

namespace {
template <class Unit>
std::uint32_t shuffle16_walk(const Tables&, const Unit*, std::size_t, std::uint32_t) noexcept { return 0; }
template <class Unit>
std::uint32_t pairs16_walk(const Tables&, const Unit*, std::size_t, std::uint32_t) noexcept { return 0; }
template <class Unit>
std::uint32_t permute64_walk(const Tables&, const Unit*, std::size_t, std::uint32_t) noexcept { return 0; }
template <class Unit>
std::size_t translate_classes_by_rows(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept { return 0; }
template <class Unit>
std::size_t translate_span_by_vector(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept { return 0; }
template <class Unit>
std::size_t translate_nibbles_by_vector(const Tables&, const Unit*, std::size_t, std::uint8_t*) noexcept { return 0; }
}  // namespace

bool shuffle16_available() noexcept { return false; }
bool translate_available() noexcept { return false; }
bool permute64_available() noexcept { return false; }

#endif

// The entries the header declares, without a target of their own: each
// reaches its walk only after the processor has been asked.
template <class Unit>
std::uint32_t shuffle16(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return shuffle16_walk(tables, units, length, state);
}

template <class Unit>
std::uint32_t pairs16(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return pairs16_walk(tables, units, length, state);
}

template <class Unit>
std::uint32_t permute64(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return permute64_walk(tables, units, length, state);
}

template <class Unit>
bool translates_by_vector(const Tables& tables) noexcept {
    static const bool vector = translate_available();
    if (!vector) return false;
    if constexpr (sizeof(Unit) == 1) return tables.byte_rows != kNoVectorRows;
    return sizeof(Unit) == 2 && tables.wide_rows != kNoVectorRows;
}

template <class Unit>
void translate_classes(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* classes) noexcept {
    std::size_t done = translates_by_vector<Unit>(tables) ? translate_classes_by_rows(tables, units, length, classes) : 0;
    const ClassOf<Unit> class_of(tables);
    for (; done < length; ++done) classes[done] = static_cast<std::uint8_t>(class_of(units[done]));
}

template std::uint32_t shuffle16(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t shuffle16(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t shuffle16(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t pairs16(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t pairs16(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t pairs16(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t permute64(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t permute64(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t permute64(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;

template <class Unit>
void translate_span(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* columns) noexcept {
    std::size_t done = translate_span_by_vector(tables, units, length, columns);
    const std::uint32_t last = tables.span_width - 1;
    for (; done < length; ++done) {
        const std::uint32_t column = static_cast<std::uint32_t>(units[done]) - tables.span_low;
        columns[done] = static_cast<std::uint8_t>(column < last ? column : last);
    }
}

template <class Unit>
void translate_nibbles(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* columns) noexcept {
    std::size_t done = translate_nibbles_by_vector(tables, units, length, columns);
    const std::uint8_t* table = tables.nibble_columns;
    for (; done < length; ++done) {
        const auto unit = static_cast<std::uint32_t>(units[done]);
        const std::uint32_t row = unit >> 4, place = unit & 15;
        const bool member = unit <= 0xFF && (table[(row < 8 ? 32 : 48) + place] >> (row & 7) & 1) != 0;
        columns[done] = static_cast<std::uint8_t>(member ? table[row] + table[16 + place] : tables.nibble_width - 1);
    }
}

template void translate_nibbles(const Tables&, const std::uint8_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_nibbles(const Tables&, const std::uint16_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_nibbles(const Tables&, const std::uint32_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_span(const Tables&, const std::uint8_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_span(const Tables&, const std::uint16_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_span(const Tables&, const std::uint32_t*, std::size_t, std::uint8_t*) noexcept;
template bool translates_by_vector<std::uint8_t>(const Tables&) noexcept;
template bool translates_by_vector<std::uint16_t>(const Tables&) noexcept;
template bool translates_by_vector<std::uint32_t>(const Tables&) noexcept;
template void translate_classes(const Tables&, const std::uint8_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_classes(const Tables&, const std::uint16_t*, std::size_t, std::uint8_t*) noexcept;
template void translate_classes(const Tables&, const std::uint32_t*, std::size_t, std::uint8_t*) noexcept;

}  // namespace morvane::walk::kernels

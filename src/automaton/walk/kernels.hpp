// The walking loops behind CompiledWalk. Every kernel takes the state to
// start from and returns the state reached, 0 once the input has died.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvane::walk::kernels {

// Read-only view of a compiled walk's tables.
struct Tables {
    const std::uint8_t* const* class_pages;
    std::uint32_t last_page;
    std::uint32_t classes;
    const std::uint16_t* rows16;  // one of rows16 / rows32 is set
    const std::uint32_t* rows32;
    const std::uint8_t* shuffles;  // 16 or 64 bytes a class, aligned
    const std::uint8_t* pair_shuffles;  // 16 bytes a pair of classes, aligned
    // Where pair_shuffles is set: the rows of 16 code points that hold
    // members, as vector rows: those for rows below U+0100 (byte_rows of
    // them) and below U+10000 (wide_rows); kNoVectorRows when there are too
    // many. Each has its key and 32 bytes: 16 classes by low nibble, then
    // by low nibble the byte key of the row holding it (used when
    // merged_rows: rows sharing a vector row).
    const std::uint16_t* row_keys;
    const std::uint8_t* row_classes;
    std::uint32_t byte_rows;
    std::uint32_t wide_rows;
    bool merged_rows;
    // Up to 64 states, where the members below U+0100 lie within 254
    // consecutive code points from span_low: rows over those code points
    // themselves, span_width columns a row (column: code point - span_low;
    // the last column, every other unit, leads to the dead state), each cell
    // the target state multiplied by span_width. They serve units of up to
    // span_units bytes (2 when the alphabet has no members from U+0100 to
    // U+FFFF), translated by one subtraction and one minimum: 0 when unset.
    const std::uint16_t* span_rows;
    std::uint32_t span_low;
    std::uint32_t span_width;
    std::uint32_t span_units;
    // Up to 64 states, where the members below U+0100 are spread over many
    // rows of 16 code points: a member's column is its row's offset plus its
    // low nibble's, both found by shuffle; every other unit (found by two
    // bit tables, rows 0-7 and 8-15 by low nibble) takes the last column,
    // which leads to the dead state. nibble_columns holds 16 row offsets by
    // high nibble, 16 low nibble offsets, then the two bit tables. Rows of
    // nibble_width columns, each cell the target state multiplied by
    // nibble_width; nibble_units as span_units.
    const std::uint16_t* nibble_rows;
    const std::uint8_t* nibble_columns;
    std::uint32_t nibble_width;
    std::uint32_t nibble_units;
};

// Translating a block by vector compares costs a few instructions a row:
// past this many rows a table lookup per character is cheaper.
inline constexpr std::uint32_t kMaxVectorRows = 8;
inline constexpr std::uint32_t kNoVectorRows = UINT32_MAX;

// The input class of one code unit. For one-byte strings the first page is
// the whole map; wider units go through their page.
template <class Unit>
struct ClassOf {
    const std::uint8_t* const* pages;
    std::uint32_t last_page;
    explicit ClassOf(const Tables& tables) noexcept : pages(tables.class_pages), last_page(tables.last_page) {}
    std::uint32_t operator()(Unit unit) const noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return pages[0][unit];
        } else {
            const std::uint32_t page = static_cast<std::uint32_t>(unit) >> 8;
            return pages[page < last_page ? page : last_page][unit & 0xFF];
        }
    }
};

// Portable kernels over compact rows.
template <class Unit>
std::uint32_t rows(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;
template <class Unit>
std::uint32_t speculative(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;
template <class Unit>
std::uint32_t staged(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;

// Whether blocks of these units translate to classes by vector here: the
// processor has the instructions and the alphabet few enough rows.
template <class Unit>
bool translates_by_vector(const Tables& tables) noexcept;
bool translate_available() noexcept;
// Every unit's class, as a byte: by vector as far as translates_by_vector
// allows, the rest one lookup a unit.
template <class Unit>
void translate_classes(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* classes) noexcept;
// Every unit's column of the span rows, as a byte; only where span_units
// covers the unit and translate_available().
template <class Unit>
void translate_span(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* columns) noexcept;
// The same for the nibble rows, where nibble_units covers the unit.
template <class Unit>
void translate_nibbles(const Tables& tables, const Unit* units, std::size_t length, std::uint8_t* columns) noexcept;

// Vector kernels; each runs only where kernel_runs_here says so.
template <class Unit>
std::uint32_t shuffle16(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;
template <class Unit>
std::uint32_t pairs16(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;
template <class Unit>
std::uint32_t permute64(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept;
bool shuffle16_available() noexcept;
bool permute64_available() noexcept;

// A chain of single steps through the shuffle bytes; finishes what the
// vector kernels leave over.
template <class Unit>
std::uint32_t shuffle_tail(const Tables& tables, std::uint32_t width, const Unit* units, std::size_t length,
                           std::uint32_t state) noexcept {
    const ClassOf<Unit> class_of(tables);
    for (std::size_t index = 0; index < length && state != 0; ++index)
        state = tables.shuffles[class_of(units[index]) * width + state];
    return state;
}

}  // namespace morvane::walk::kernels

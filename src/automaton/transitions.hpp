// The transition table: (state, symbol) -> state, at most one target a key.
//
// States are rows and alphabet symbols are columns, both dense numbers fixed
// at construction. Row 0 is the dead row and column 0 stands for every
// character outside the alphabet; a missing transition leads to row 0, so the
// walking loops never test for absence separately. Cells hold the target's
// row already multiplied by the column count, so one step of a walk is a
// single load: next = cells[current + column].
//
// A state is therefore known everywhere by its position: row * columns.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "automaton/text_set.hpp"
#include "automaton/walk/compiled_walk.hpp"

namespace morvane {

// Maps a character to its column: the position of its one-character text
// among the alphabet's single-character members, counted from 1. A paged
// map of byte cells while there are fewer than 256 columns (the usual case:
// 256 bytes for a Latin-1 alphabet), of 4-byte cells beyond.
class SymbolColumns {
public:
    SymbolColumns() = default;
    explicit SymbolColumns(const TextSet& alphabet);

    // Columns including column 0.
    std::uint32_t count() const noexcept { return static_cast<std::uint32_t>(symbols_.size()); }
    // 0 for a character that is not a member of the alphabet.
    std::uint32_t column(char32_t symbol) const noexcept {
        return narrow_ ? narrow_map_(symbol) : wide_map_(symbol);
    }
    // Runs visit(map) with the map itself, so a loop over many characters
    // is compiled once per cell width instead of testing it per character.
    template <class Visit>
    decltype(auto) with_map(Visit&& visit) const {
        return narrow_ ? visit(narrow_map_) : visit(wide_map_);
    }
    // Columns ascend by code point, so walking them in order is sorted.
    char32_t symbol(std::uint32_t column) const noexcept { return symbols_[column]; }
    std::span<const char32_t> symbols() const noexcept { return symbols_; }

private:
    std::vector<char32_t> symbols_{0};  // column -> code point; [0] is a placeholder
    bool narrow_ = true;
    walk::PagedMap<std::uint8_t> narrow_map_;
    walk::PagedMap<std::uint32_t> wide_map_;
};

// Hashed cells for tables too sparse for a dense array: key is the cell
// index (row * columns + column), value the target row.
class SparseCells {
public:
    std::uint32_t find(std::uint64_t cell) const noexcept;
    bool insert(std::uint64_t cell, std::uint32_t target_row);  // false when present
    bool erase(std::uint64_t cell) noexcept;
    std::size_t size() const noexcept { return count_; }
    template <class Visit>
    void for_each(Visit&& visit) const {
        for (std::size_t slot = 0; slot < keys_.size(); ++slot)
            if (keys_[slot] != 0) visit(keys_[slot] - 1, values_[slot]);
    }
    void release() noexcept;

private:
    static constexpr std::size_t kSmallestSlots = 16;
    void rehash(std::size_t slots);
    std::vector<std::uint64_t> keys_;   // cell + 1; 0 marks a free slot
    std::vector<std::uint32_t> values_;
    std::size_t count_ = 0;
};

// A state's row multiplied by the table's column count; 0 is the dead row.
using Position = std::uint64_t;

class TransitionTable {
public:
    TransitionTable() = default;
    TransitionTable(std::uint64_t rows, std::uint32_t columns);

    std::uint32_t columns() const noexcept { return columns_; }
    std::size_t size() const noexcept { return count_; }

    Position position(std::uint32_t row_index) const noexcept { return Position{row_index} * columns_; }
    std::uint32_t row(Position at) const noexcept { return static_cast<std::uint32_t>(at / columns_); }

    // Where `column` leads from `from`; 0 when there is no transition.
    Position next(Position from, std::uint32_t column) const noexcept {
        return dense_.empty() ? position(sparse_.find(from + column)) : dense_[from + column];
    }
    bool insert(Position from, std::uint32_t column, Position to);  // false when present
    bool erase(Position from, std::uint32_t column);                 // false when absent

    // visit(row, column, target_row) for every transition, in storage order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        if (!dense_.empty()) {
            for (std::uint64_t cell = 0; cell < dense_.size(); ++cell)
                if (dense_[cell] != 0) emit(visit, cell, row(dense_[cell]));
        } else {
            sparse_.for_each([&](std::uint64_t cell, std::uint32_t target_row) { emit(visit, cell, target_row); });
        }
    }

    // The walking loops read the representation directly.
    bool is_dense() const noexcept { return !dense_.empty(); }
    const std::uint32_t* dense_cells() const noexcept { return dense_.data(); }
    const SparseCells& sparse_cells() const noexcept { return sparse_; }

    void release() noexcept;

private:
    template <class Visit>
    void emit(Visit& visit, std::uint64_t cell, std::uint32_t target_row) const {
        visit(static_cast<std::uint32_t>(cell / columns_), static_cast<std::uint32_t>(cell % columns_), target_row);
    }
    void become_dense();
    void become_sparse();

    std::uint64_t rows_ = 0;
    std::uint32_t columns_ = 1;
    std::size_t count_ = 0;
    std::vector<std::uint32_t> dense_;  // row-major; each cell the target position, 0 when empty
    SparseCells sparse_;
};

// Decodes UTF-8 that is known to be valid: the single code point of `text`,
// or -1 when it holds zero or several.
long single_code_point(std::string_view text) noexcept;
// Appends the UTF-8 encoding of a code point.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace morvane

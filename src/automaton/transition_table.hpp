// The transition table's storage: (state, symbol) -> state, at most one
// target a key, and the map from characters to the table's columns.
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
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "automaton/keyed_hash.hpp"
#include "automaton/text_set.hpp"
#include "automaton/walk/compiled_walk.hpp"

namespace morvane {

// Maps a character to its column: the position of its one-character text
// among the alphabet's single-character members, counted from 1. A paged
// map of byte cells while there are fewer than 256 columns (the usual case:
// 256 bytes for a Latin-1 alphabet), of 4-byte cells beyond.
//
// The maps depend on nothing but the symbols and never change, so automata
// with the same symbols share one copy: many small automata over one
// alphabet then cost one page between them, not one each.
class SymbolColumns {
public:
    SymbolColumns() = default;
    explicit SymbolColumns(const TextSet& alphabet);

    // Columns including column 0.
    std::uint32_t count() const noexcept { return count_; }
    // 0 for a character that is not a member of the alphabet.
    std::uint32_t column(char32_t symbol) const noexcept {
        if (latin1_) return symbol < 256 ? latin1_[symbol] : maps_->narrow(symbol);
        return maps_->wide(symbol);
    }
    // Runs visit(map) with the map itself, so a loop over many characters
    // is compiled once per cell width instead of testing it per character.
    template <class Visit>
    decltype(auto) with_map(Visit&& visit) const {
        return latin1_ ? visit(NarrowMap{latin1_, &maps_->narrow}) : visit(maps_->wide);
    }
    // Columns ascend by code point, so walking them in order is sorted.
    char32_t symbol(std::uint32_t column) const noexcept { return maps_->symbols[column]; }
    std::span<const char32_t> symbols() const noexcept { return maps_->symbols; }

    struct Maps {
        std::vector<char32_t> symbols{0};  // column -> code point; [0] is a placeholder
        walk::PagedMap<std::uint8_t> narrow;
        walk::PagedMap<std::uint32_t> wide;
    };

private:
    // The narrow map as the walks read it, its first page at hand: a walk
    // over a Latin-1 string starts without first reaching into the shared maps.
    struct NarrowMap {
        const std::uint8_t* first_page;
        const walk::PagedMap<std::uint8_t>* map;
        const std::uint8_t* latin1() const noexcept { return first_page; }
        std::uint8_t operator()(char32_t code_point) const noexcept { return (*map)(code_point); }
    };

    std::shared_ptr<const Maps> maps_;
    const std::uint8_t* latin1_ = nullptr;  // the narrow map's first page; null for the wide map
    std::uint32_t count_ = 1;
};

// A state's row multiplied by the table's column count; 0 is the dead row.
using Position = std::uint64_t;

class TransitionTable {
public:
    TransitionTable() = default;
    TransitionTable(std::uint64_t rows, std::uint32_t columns);

    std::uint32_t columns() const noexcept { return columns_; }
    std::uint32_t row_count() const noexcept { return static_cast<std::uint32_t>(rows_); }
    std::size_t size() const noexcept { return count_; }

    Position position(std::uint32_t row_index) const noexcept { return Position{row_index} * columns_; }
    std::uint32_t row(Position at) const noexcept { return static_cast<std::uint32_t>(at / columns_); }

    // Where `column` leads from `from`; 0 when there is no transition.
    Position next(Position from, std::uint32_t column) const noexcept {
        if (!dense_.empty()) return dense_[from + column];
        const std::uint32_t* target_row = sparse_.find(from + column + 1);
        return target_row ? position(*target_row) : 0;
    }
    bool insert(Position from, std::uint32_t column, Position to);  // false when present
    bool erase(Position from, std::uint32_t column);                 // false when absent

    // visit(row, column, target_row) for every transition, in storage order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        if (!dense_.empty()) {
            // Row by row: the origin and the column are counted, not divided out of the cell's index.
            const std::uint32_t* cells = dense_.data();
            for (std::uint64_t origin = 0; origin < rows_; ++origin, cells += columns_)
                for (std::uint32_t column = 0; column < columns_; ++column)
                    if (cells[column] != 0) visit(static_cast<std::uint32_t>(origin), column, row(cells[column]));
        } else {
            sparse_.for_each([&](std::uint64_t key, std::uint32_t target_row) { emit(visit, key - 1, target_row); });
        }
    }

    // The walking loops read the representation directly.
    bool is_dense() const noexcept { return !dense_.empty(); }
    const std::uint32_t* dense_cells() const noexcept { return dense_.data(); }

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
    // For tables too sparse for an array: (cell index + 1) -> target row.
    hashing::ProbingMap<std::uint32_t, false> sparse_;
};

}  // namespace morvane

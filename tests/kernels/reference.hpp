// The plain walk that every kernel is checked against: a dense table of
// rows x columns, a column found by an ordered map, one lookup a character,
// a stop at the first miss.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "automaton/walk/compiled_walk.hpp"

namespace morvane::walk::testing {

struct Automaton {
    std::uint32_t rows = 0;            // row 0 dead
    std::vector<char32_t> symbols{0};  // column -> code point
    std::map<char32_t, std::uint32_t> column_of;
    std::vector<std::uint32_t> cells;  // rows x columns, target row, 0 when absent
    std::vector<Edge> edges;
    std::vector<std::uint8_t> final_rows;
    std::uint32_t initial_row = 1;

    std::uint32_t columns() const { return static_cast<std::uint32_t>(symbols.size()); }
    std::uint32_t column(char32_t c) const {
        const auto found = column_of.find(c);
        return found == column_of.end() ? 0 : found->second;
    }
    // The edges of `cells`, for building a compiled walk.
    void collect_edges() {
        edges.clear();
        for (std::uint32_t row = 1; row < rows; ++row)
            for (std::uint32_t column = 1; column < columns(); ++column)
                if (const std::uint32_t target = cells[std::size_t{row} * columns() + column])
                    edges.push_back({row, column, target});
    }
    // The reference: one lookup per character, stop at the first miss.
    std::uint32_t walk(const std::vector<char32_t>& input) const {
        std::uint32_t row = initial_row;
        for (const char32_t c : input) {
            row = cells[std::size_t{row} * columns() + column(c)];
            if (row == 0) return 0;
        }
        return row;
    }
};

}  // namespace morvane::walk::testing

// Whole-input walks: acceptance from the initial state, simulation from the
// current state. Both read the caller's string in place, one code unit at a
// time, and never change the record.
#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"

namespace morvane {

namespace {

// One step through a dense table: cells hold target positions directly.
struct DenseSteps {
    const std::uint32_t* cells;
    Position operator()(Position from, std::uint32_t column) const noexcept { return cells[from + column]; }
};

// One step through hashed cells.
struct SparseSteps {
    const TransitionTable* table;
    Position operator()(Position from, std::uint32_t column) const noexcept { return table->next(from, column); }
};

template <class Unit>
std::uint32_t column_of(const SymbolColumns& columns, Unit unit) noexcept {
    if constexpr (sizeof(Unit) == 1)
        return columns.latin1_columns()[unit];
    else
        return unit < 256 ? columns.latin1_columns()[unit] : columns.wide_column(unit);
}

// Walks `input` from `start`; stops at the dead row. Calls visit(position)
// after each successful step. Returns the last position reached and how many
// units were consumed.
template <class Unit, class Steps, class Visit>
std::pair<Position, std::size_t> walk(const Unit* units, std::size_t length, Position start,
                                      const SymbolColumns& columns, Steps steps, Visit&& visit) noexcept {
    Position at = start;
    for (std::size_t index = 0; index < length; ++index) {
        const Position next = steps(at, column_of(columns, units[index]));
        if (next == 0) return {at, index};
        at = next;
        visit(at);
    }
    return {at, length};
}

// Runs `body(units, steps)` with the input's unit type and the table's
// representation fixed, so each combination gets its own tight loop.
template <class Body>
auto dispatch(InputText input, const TransitionTable& table, Body&& body) {
    auto with_steps = [&](const auto* units) {
        if (table.is_dense()) return body(units, DenseSteps{table.dense_cells()});
        return body(units, SparseSteps{&table});
    };
    switch (input.unit_size) {
        case 1: return with_steps(static_cast<const std::uint8_t*>(input.data));
        case 2: return with_steps(static_cast<const std::uint16_t*>(input.data));
        default: return with_steps(static_cast<const std::uint32_t*>(input.data));
    }
}

char32_t unit_at(InputText input, std::size_t index) noexcept {
    switch (input.unit_size) {
        case 1: return static_cast<const std::uint8_t*>(input.data)[index];
        case 2: return static_cast<const std::uint16_t*>(input.data)[index];
        default: return static_cast<const std::uint32_t*>(input.data)[index];
    }
}

}  // namespace

bool Automaton::accept(InputText input) const noexcept {
    const auto [last, consumed] = dispatch(input, transitions_, [&](const auto* units, auto steps) {
        return walk(units, input.length, initial_, columns_, steps, [](Position) {});
    });
    return consumed == input.length && final_rows_[transitions_.row(last)] != 0;
}

StatePath Automaton::simulate(InputText input) const {
    // Walk once to find out whether the input goes through, storing nothing,
    // so a failing call costs what accept costs; the path is walked again
    // only while its result is built.
    const auto [last, consumed] = dispatch(input, transitions_, [&](const auto* units, auto steps) {
        return walk(units, input.length, current_, columns_, steps, [](Position) {});
    });
    if (consumed != input.length) {
        std::string message = "Erro: Nao ha transicao definida a partir do estado '";
        message += name_at(last);
        message += "' com o simbolo '";
        append_utf8(message, unit_at(input, consumed));
        message += "'.";
        throw EngineError(EngineError::Kind::value, std::move(message));
    }
    return StatePath{this, input, current_};
}

void StatePath::visit_each(void (*visit)(void*, Position), void* context) const {
    visit(context, start);
    dispatch(input, automaton->transitions_, [&](const auto* units, auto steps) {
        return walk(units, input.length, start, automaton->columns_, steps,
                    [&](Position at) { visit(context, at); });
    });
}

}  // namespace morvane

// Whole-input walks: acceptance from the initial state, simulation from the
// current state. Both read the caller's string in place, one code unit at a
// time, and never change the record.
//
// The string may hold lone surrogates, which no str encodable as UTF-8
// holds: both refuse such an input, before any result. No alphabet holds a
// surrogate, so every walk dies on one; only a walk that dies looks for
// them, from where it died on.
#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"
#include "automaton/utf8.hpp"
#include "automaton/walk/lone_surrogates.hpp"

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

template <class Map, class Unit>
std::uint32_t column_of(const Map& columns, Unit unit) noexcept {
    if constexpr (sizeof(Unit) == 1)
        return columns.latin1()[unit];
    else
        return columns(unit);
}

// Walks `input` from `start`; stops at the dead row. Calls visit(position)
// after each successful step. Returns the last position reached and how many
// units were consumed.
template <class Unit, class Map, class Steps, class Visit>
std::pair<Position, std::size_t> walk_table(const Unit* units, std::size_t length, Position start, const Map& columns,
                                      Steps steps, Visit&& visit) noexcept {
    Position at = start;
    for (std::size_t index = 0; index < length; ++index) {
        const Position next = steps(at, column_of(columns, units[index]));
        if (next == 0) return {at, index};
        at = next;
        visit(at);
    }
    return {at, length};
}

// Runs `body(units, columns, steps)` with the input's unit type, the column
// map's cell width and the table's representation fixed, so each
// combination gets its own tight loop.
template <class Body>
auto dispatch(InputText input, const SymbolColumns& symbol_columns, const TransitionTable& table, Body&& body) {
    auto with_steps = [&](const auto* units) {
        return symbol_columns.with_map([&](const auto& columns) {
            if (table.is_dense()) return body(units, columns, DenseSteps{table.dense_cells()});
            return body(units, columns, SparseSteps{&table});
        });
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

// Throws UnencodableInput when the units from `from` on hold a lone surrogate.
[[gnu::noinline]] void refuse_lone_surrogates(InputText input, std::size_t from) {
    const void* rest = static_cast<const char*>(input.data) + from * static_cast<std::size_t>(input.unit_size);
    if (walk::holds_lone_surrogate(rest, input.length - from, input.unit_size)) throw UnencodableInput{};
}

}  // namespace

// Out of line, so that the short inputs' path stays small enough to inline.
[[gnu::noinline]] const walk::CompiledWalk* Automaton::compiled_walk(std::size_t input_length) const noexcept {
    return compiled_walk_.for_input(input_length, transitions_.size(), [&] {
        std::vector<walk::Edge> edges;
        edges.reserve(transitions_.size());
        transitions_.for_each([&](std::uint32_t row, std::uint32_t column, std::uint32_t target_row) {
            edges.push_back({row, column, target_row});
        });
        const std::size_t rows = final_rows_.size();
        const std::size_t table_bytes =
            transitions_.is_dense() ? rows * columns_.count() * sizeof(std::uint32_t) : edges.size() * 24;
        return walk::CompiledWalk::build({static_cast<std::uint32_t>(rows), columns_.symbols(), edges,
                                          transitions_.row(initial_), final_rows_, table_bytes});
    });
}

bool Automaton::accept(InputText input) const {
    // Fields copied out one by one: the loops below then read registers, not
    // a copy of the whole struct that would wait on the caller's stores.
    const void* const data = input.data;
    const std::size_t length = input.length;
    const int unit_size = input.unit_size;
    if (length >= walk::Cache::shortest) [[unlikely]] {
        if (const walk::CompiledWalk* compiled = compiled_walk(length)) {
            const walk::Ending ending = compiled->ending(data, length, unit_size);
            // The kernels tell only that the input died, not where.
            if (ending == walk::Ending::died && unit_size != 1)
                refuse_lone_surrogates(InputText{data, length, unit_size}, 0);
            return ending == walk::Ending::accepted;
        }
    }
    const auto [last, consumed] = dispatch(InputText{data, length, unit_size}, columns_, transitions_,
                                           [this, length](const auto* units, const auto& columns, auto steps) {
                                               return walk_table(units, length, initial_, columns, steps,
                                                                 [](Position) {});
                                           });
    if (consumed != length) {
        if (unit_size != 1) refuse_lone_surrogates(InputText{data, length, unit_size}, consumed);
        return false;
    }
    return final_rows_[transitions_.row(last)] != 0;
}

StatePath Automaton::simulate(InputText input) const {
    // Walk once to find out whether the input goes through, storing nothing,
    // so a failing call costs what accept costs; the path is walked again
    // only while its result is built.
    const auto [last, consumed] = dispatch(input, columns_, transitions_, [&](const auto* units, const auto& columns,
                                                                                auto steps) {
        return walk_table(units, input.length, current_, columns, steps, [](Position) {});
    });
    if (consumed != input.length) {
        refuse_lone_surrogates(input, consumed);
        std::string message = "Erro: Nao ha transicao definida a partir do estado '";
        message += name_at(last);
        message += "' com o simbolo '";
        utf8::append(message, unit_at(input, consumed));
        message += "'.";
        throw EngineError(EngineError::Kind::value, std::move(message));
    }
    return StatePath{this, input, current_};
}

void StatePath::visit_each(void (*visit)(void*, Position), void* context) const {
    visit(context, start);
    dispatch(input, automaton->columns_, automaton->transitions_, [&](const auto* units, const auto& columns,
                                                                       auto steps) {
        return walk_table(units, input.length, start, columns, steps, [&](Position at) { visit(context, at); });
    });
}

}  // namespace morvane

// The automaton record: a deterministic finite automaton with text states,
// its current state, one Python object of context data and an undo history.
//
// State names are interned at construction: each state is a row of the
// transition table, numbered in code-point order of the names, and known by
// its position (row * columns). The initial state keeps a row of its own
// when it is not among the states, so the current state is always a row.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "automaton/history.hpp"
#include "automaton/object.hpp"
#include "automaton/text_set.hpp"
#include "automaton/transition_table.hpp"

namespace morvane {

// Text handed in by a caller, as UTF-8. Valid only during the call.
using Text = std::string_view;

// One Unicode code point other than a surrogate.
struct Symbol {
    char32_t code_point;
};

// A whole input read in place: the code units of a Python string (1, 2 or
// 4 bytes each). It may hold lone surrogates: accept and simulate refuse it
// then, throwing UnencodableInput.
struct InputText {
    const void* data;
    std::size_t length;
    int unit_size;
};

class Automaton;

// Every transition as numbers (origin row, column and target row, in the
// table's own order), read from the table while the caller holds the record:
// nothing is copied. The names behind the numbers are the record's, which
// never change; a caller makes each state's and symbol's text once however
// many transitions share it.
struct TransitionList {
    const Automaton* automaton;
    std::size_t count;
};

struct HistoryView {
    std::string_view state;
    Handle data;
};

// The states visited by a simulation that went through: the starting state,
// then one per character. Nothing is stored; for_each walks the input again,
// so a path costs no memory beyond the result built from it.
struct StatePath {
    const Automaton* automaton;
    InputText input;
    Position start;

    std::size_t size() const noexcept { return input.length + 1; }
    // visit(position) for each state of the path, in order.
    template <class Visit>
    void for_each(Visit&& visit) const {
        visit_each([](void* context, Position at) { (*static_cast<std::remove_reference_t<Visit>*>(context))(at); },
                   &visit);
    }
    void visit_each(void (*visit)(void*, Position), void* context) const;
};

class Automaton {
public:
    Automaton(std::vector<std::string> states, std::vector<std::string> alphabet, std::string initial,
              std::vector<std::string> finals);
    ~Automaton();
    Automaton(Automaton&&) noexcept = default;
    Automaton(const Automaton&) = delete;
    Automaton& operator=(const Automaton&) = delete;

    // ---- record and queries
    std::string_view current_state() const noexcept { return name_at(current_); }
    std::string_view initial_state() const noexcept { return initial_state_; }
    // Each in code-point order.
    const TextSet& states() const noexcept { return states_; }
    const TextSet& alphabet() const noexcept { return alphabet_; }
    const TextSet& finals() const noexcept { return finals_; }
    std::string_view name_at(Position position) const noexcept;

    // ---- transition table
    void add_transition(Text of, Symbol with, Text for_);
    void remove_transition(Text of, Symbol with);
    bool has_transition(Text of, Symbol with) const noexcept;
    TransitionList transitions() const noexcept;
    // Rows (the dead row 0 included) and columns of the table, and the names
    // behind them, for reading a TransitionList.
    std::uint32_t row_count() const noexcept { return transitions_.row_count(); }
    // visit(row, column, target_row) for each of a TransitionList's `count` transitions.
    template <class Visit>
    void for_each_transition(Visit&& visit) const {
        transitions_.for_each(visit);
    }
    std::uint32_t column_count() const noexcept { return columns_.count(); }
    std::string_view name_of_row(std::uint32_t row) const noexcept { return name_at(transitions_.position(row)); }
    char32_t symbol_of_column(std::uint32_t column) const noexcept { return columns_.symbol(column); }
    std::vector<Symbol> available_symbols() const;

    // ---- stepping and history
    bool step(Symbol symbol);
    void force_state(Text state_id);
    bool undo() noexcept;
    void reset() noexcept;
    std::vector<HistoryView> history() const;
    std::size_t history_len() const noexcept { return history_.size(); }
    std::optional<HistoryView> peek_history() const noexcept;
    void clear_history() noexcept;

    // ---- acceptance and simulation
    bool accept(InputText input) const;
    StatePath simulate(InputText input) const;
    bool is_final(Text state) const noexcept { return finals_.contains(state); }
    bool is_accepted() const noexcept { return final_rows_[transitions_.row(current_)] != 0; }

    // ---- context data
    Handle data() const noexcept { return data_; }
    void set_data(Handle new_data) noexcept;
    void update_context(Handle new_data) noexcept;
    void clear_data() noexcept;

    // ---- context typing
    std::string context_type() const;
    void transform_data(Text data_type_result, Text operation, Handle assert_val);

private:
    friend struct StatePath;

    // The compiled walk for a long input, nullptr to walk the table.
    const walk::CompiledWalk* compiled_walk(std::size_t input_length) const noexcept;

    // The row of a state name, or 0 when it is not a state.
    std::uint32_t row_of(Text name) const noexcept {
        const std::uint32_t index = states_.find(name);
        return index == TextSet::npos ? 0 : index + 1;
    }

    // The record's fields, in the order they are released (see ~Automaton).
    TextSet states_;
    TextSet alphabet_;
    Object data_;
    std::string initial_state_;
    Position current_;
    TextSet finals_;
    SymbolColumns columns_;
    TransitionTable transitions_;
    History history_;

    // Derived once at construction.
    Position initial_;
    std::vector<std::uint8_t> final_rows_;  // by row: 1 when the row's name is final
    // Derived from the table on demand; every change to the table drops it.
    mutable walk::Cache compiled_walk_;
};

}  // namespace morvane

// The automaton's transition operations: add, remove, test and list
// transitions, and the symbols that leave the current state.
#include <algorithm>

#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"
#include "automaton/utf8.hpp"

namespace morvane {

namespace {

std::string symbol_text(Symbol symbol) {
    std::string text;
    utf8::append(text, symbol.code_point);
    return text;
}

}  // namespace

void Automaton::add_transition(Text of, Symbol with, Text for_) {
    const std::uint32_t from = row_of(of);
    const std::uint32_t to = from == 0 ? 0 : row_of(for_);
    if (from == 0 || to == 0)
        throw EngineError(EngineError::Kind::value, "Erro: Um ou ambos os estados nao pertencem ao automato.");
    // The column exists exactly when the symbol's text is an alphabet member.
    const std::uint32_t column = columns_.column(with.code_point);
    if (column == 0)
        throw EngineError(EngineError::Kind::value,
                          "Erro: O simbolo '" + symbol_text(with) + "' nao pertence ao alfabeto do automato.");
    if (!transitions_.insert(transitions_.position(from), column, transitions_.position(to)))
        throw EngineError(EngineError::Kind::value, "Erro: O estado '" + std::string(of) +
                                                        "' ja possui uma transicao definida para o simbolo '" +
                                                        symbol_text(with) + "'.");
    compiled_walk_.invalidate();
}

void Automaton::remove_transition(Text of, Symbol with) {
    const std::uint32_t from = row_of(of);
    const std::uint32_t column = columns_.column(with.code_point);
    if (from == 0 || column == 0 || !transitions_.erase(transitions_.position(from), column))
        throw EngineError(EngineError::Kind::value, "Erro: Nao existe transicao definida para o estado '" +
                                                        std::string(of) + "' com o simbolo '" + symbol_text(with) +
                                                        "'.");
    compiled_walk_.invalidate();
}

bool Automaton::has_transition(Text of, Symbol with) const noexcept {
    const std::uint32_t from = row_of(of);
    const std::uint32_t column = columns_.column(with.code_point);
    return from != 0 && column != 0 && transitions_.next(transitions_.position(from), column) != 0;
}

TransitionList Automaton::transitions() const noexcept { return TransitionList{this, transitions_.size()}; }

std::vector<Symbol> Automaton::available_symbols() const {
    // Columns ascend by code point, so columns in order are symbols in order.
    std::vector<std::uint32_t> columns;
    if (columns_.count() <= transitions_.size()) {
        for (std::uint32_t column = 1; column < columns_.count(); ++column)
            if (transitions_.next(current_, column) != 0) columns.push_back(column);
    } else {
        // A huge alphabet over few transitions: scanning them is cheaper.
        const std::uint32_t current_row = transitions_.row(current_);
        transitions_.for_each([&](std::uint32_t row, std::uint32_t column, std::uint32_t) {
            if (row == current_row) columns.push_back(column);
        });
        std::sort(columns.begin(), columns.end());
    }
    std::vector<Symbol> symbols;
    symbols.reserve(columns.size());
    for (const std::uint32_t column : columns) symbols.push_back(Symbol{columns_.symbol(column)});
    return symbols;
}

}  // namespace morvane

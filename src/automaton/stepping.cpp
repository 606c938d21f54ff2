// Stepping, forcing, undo and reset, and the queries on the history.
#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"

namespace morvane {

bool Automaton::step(Symbol symbol) {
    history_.push(current_, data_);
    const Position next = transitions_.next(current_, columns_.column(symbol.code_point));
    if (next == 0) return false;
    current_ = next;
    return true;
}

void Automaton::force_state(Text state_id) {
    const std::uint32_t row = row_of(state_id);
    if (row == 0) throw EngineError(EngineError::Kind::value, "O estado destino nao existe no automato.");
    history_.push(current_, data_);
    current_ = transitions_.position(row);
}

bool Automaton::undo() noexcept {
    if (history_.empty()) return false;
    History::Entry entry = history_.pop();
    current_ = entry.state;
    data_ = std::move(entry.data);  // the snapshot's reference moves into the record
    return true;
}

void Automaton::reset() noexcept {
    current_ = initial_;
    data_ = Object::none();
    history_.clear();
}

std::vector<HistoryView> Automaton::history() const {
    std::vector<HistoryView> views;
    views.reserve(history_.size());
    history_.for_each([&](const History::Entry& entry) { views.push_back({name_at(entry.state), entry.data}); });
    return views;
}

std::optional<HistoryView> Automaton::peek_history() const noexcept {
    if (history_.empty()) return std::nullopt;
    const History::Entry& entry = history_.newest();
    return HistoryView{name_at(entry.state), entry.data};
}

void Automaton::clear_history() noexcept { history_.clear(); }

}  // namespace morvane

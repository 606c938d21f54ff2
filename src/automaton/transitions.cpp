#include "automaton/transitions.hpp"

#include <algorithm>
#include <new>

#include "automaton/automaton.hpp"
#include "automaton/errors.hpp"

#include "automaton/keyed_hash.hpp"

namespace morvane {

// ---- UTF-8 ---------------------------------------------------------------

long single_code_point(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (n == 0 || n > 4) return -1;
    const std::size_t expected = p[0] < 0x80 ? 1 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : 4;
    if (expected != n) return -1;
    switch (n) {
        case 1: return p[0];
        case 2: return ((p[0] & 0x1FL) << 6) | (p[1] & 0x3F);
        case 3: return ((p[0] & 0x0FL) << 12) | ((p[1] & 0x3FL) << 6) | (p[2] & 0x3F);
        default: return ((p[0] & 0x07L) << 18) | ((p[1] & 0x3FL) << 12) | ((p[2] & 0x3FL) << 6) | (p[3] & 0x3F);
    }
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// ---- Symbol columns --------------------------------------------------------

SymbolColumns::SymbolColumns(const TextSet& alphabet) {
    // The alphabet is sorted by code point, so columns come out sorted too.
    for (const std::string& member : alphabet.sorted()) {
        const long code_point = single_code_point(member);
        if (code_point >= 0) symbols_.push_back(static_cast<char32_t>(code_point));
    }
    const std::span<const char32_t> keys = std::span<const char32_t>(symbols_).subspan(1);
    narrow_ = symbols_.size() <= 256;
    if (narrow_) {
        std::vector<std::uint8_t> columns(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) columns[i] = static_cast<std::uint8_t>(i + 1);
        narrow_map_ = walk::PagedMap<std::uint8_t>(keys, columns);
    } else {
        std::vector<std::uint32_t> columns(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) columns[i] = static_cast<std::uint32_t>(i + 1);
        wide_map_ = walk::PagedMap<std::uint32_t>(keys, columns);
    }
}

// ---- Sparse cells ----------------------------------------------------------
// Linear probing with deletion by backward shift: no tombstones, so probe
// lengths stay short however many transitions come and go.

std::uint32_t SparseCells::find(std::uint64_t cell) const noexcept {
    if (count_ == 0) return 0;
    const std::size_t mask = keys_.size() - 1;
    const std::uint64_t key = cell + 1;
    for (std::size_t slot = hashing::hash_u64(key) & mask;; slot = (slot + 1) & mask) {
        if (keys_[slot] == key) return values_[slot];
        if (keys_[slot] == 0) return 0;
    }
}

bool SparseCells::insert(std::uint64_t cell, std::uint32_t target_row) {
    // Grows at three quarters full and shrinks (in erase) below one eighth,
    // to about half full either way: a table that follows its live count
    // without rebuilding on every add and remove at a threshold.
    if ((count_ + 1) * 4 > keys_.size() * 3) rehash(keys_.empty() ? kSmallestSlots : keys_.size() * 2);
    const std::size_t mask = keys_.size() - 1;
    const std::uint64_t key = cell + 1;
    std::size_t slot = hashing::hash_u64(key) & mask;
    for (; keys_[slot] != 0; slot = (slot + 1) & mask)
        if (keys_[slot] == key) return false;
    keys_[slot] = key;
    values_[slot] = target_row;
    ++count_;
    return true;
}

bool SparseCells::erase(std::uint64_t cell) noexcept {
    if (count_ == 0) return false;
    const std::size_t mask = keys_.size() - 1;
    const std::uint64_t key = cell + 1;
    std::size_t hole = hashing::hash_u64(key) & mask;
    for (; keys_[hole] != key; hole = (hole + 1) & mask)
        if (keys_[hole] == 0) return false;
    // Pull later members of the probe run back over the hole.
    for (std::size_t next = (hole + 1) & mask; keys_[next] != 0; next = (next + 1) & mask) {
        const std::size_t home = hashing::hash_u64(keys_[next]) & mask;
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            keys_[hole] = keys_[next];
            values_[hole] = values_[next];
            hole = next;
        }
    }
    keys_[hole] = 0;
    values_[hole] = 0;
    --count_;
    if (keys_.size() > kSmallestSlots && count_ * 8 < keys_.size()) {
        try {
            rehash(std::max(kSmallestSlots, hashing::table_size_for(count_)));
        } catch (const std::bad_alloc&) {
            // The removal has happened; the larger table only costs memory.
        }
    }
    return true;
}

void SparseCells::rehash(std::size_t slots) {
    std::vector<std::uint64_t> old_keys(slots, 0);
    std::vector<std::uint32_t> old_values(old_keys.size(), 0);
    old_keys.swap(keys_);
    old_values.swap(values_);
    const std::size_t mask = keys_.size() - 1;
    for (std::size_t i = 0; i < old_keys.size(); ++i) {
        if (old_keys[i] == 0) continue;
        std::size_t slot = hashing::hash_u64(old_keys[i]) & mask;
        while (keys_[slot] != 0) slot = (slot + 1) & mask;
        keys_[slot] = old_keys[i];
        values_[slot] = old_values[i];
    }
}

void SparseCells::release() noexcept {
    std::vector<std::uint64_t>().swap(keys_);
    std::vector<std::uint32_t>().swap(values_);
    count_ = 0;
}

// ---- Transition table ------------------------------------------------------
// Dense while it pays: a table of up to kSmallCells cells always, a larger one
// while at least one cell in kDenseAbove holds a transition (at most 48 bytes
// of cells per transition). It goes back to hashed cells only when fewer than
// one in kSparseBelow does, so alternating adds and removes do not rebuild it.

namespace {
constexpr std::uint64_t kSmallCells = 4096;
constexpr std::uint64_t kDenseAbove = 12;
constexpr std::uint64_t kSparseBelow = 48;
}  // namespace

TransitionTable::TransitionTable(std::uint64_t rows, std::uint32_t columns) : rows_(rows), columns_(columns) {}

bool TransitionTable::insert(Position from, std::uint32_t column, Position to) {
    const std::uint64_t cells = rows_ * columns_;
    if (dense_.empty() && cells <= UINT32_MAX && (cells <= kSmallCells || cells <= kDenseAbove * (count_ + 1))) {
        try {
            become_dense();
        } catch (const std::bad_alloc&) {
            // Hashed cells are slower, not wrong: carry on with them.
        }
    }
    if (!dense_.empty()) {
        std::uint32_t& cell = dense_[from + column];
        if (cell != 0) return false;
        cell = static_cast<std::uint32_t>(to);
    } else if (!sparse_.insert(from + column, row(to))) {
        return false;
    }
    ++count_;
    return true;
}

bool TransitionTable::erase(Position from, std::uint32_t column) {
    if (!dense_.empty()) {
        std::uint32_t& cell = dense_[from + column];
        if (cell == 0) return false;
        cell = 0;
    } else if (!sparse_.erase(from + column)) {
        return false;
    }
    --count_;
    const std::uint64_t cells = rows_ * columns_;
    if (!dense_.empty() && cells > kSmallCells && cells > kSparseBelow * count_) {
        try {
            become_sparse();
        } catch (const std::bad_alloc&) {
            // The removal has happened; staying dense only costs memory.
        }
    }
    return true;
}

void TransitionTable::become_dense() {
    std::vector<std::uint32_t> cells(rows_ * columns_, 0);
    sparse_.for_each([&](std::uint64_t cell, std::uint32_t target_row) {
        cells[cell] = static_cast<std::uint32_t>(position(target_row));
    });
    dense_.swap(cells);
    sparse_.release();
}

void TransitionTable::become_sparse() {
    SparseCells sparse;
    for (std::uint64_t cell = 0; cell < dense_.size(); ++cell)
        if (dense_[cell] != 0) sparse.insert(cell, row(dense_[cell]));
    sparse_ = std::move(sparse);
    std::vector<std::uint32_t>().swap(dense_);
}

void TransitionTable::release() noexcept {
    std::vector<std::uint32_t>().swap(dense_);
    sparse_.release();
    count_ = 0;
}

}  // namespace morvane

// ---- The automaton's transition operations -----------------------------------

namespace morvane {

namespace {

std::string symbol_text(Symbol symbol) {
    std::string text;
    append_utf8(text, symbol.code_point);
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

std::vector<TransitionView> Automaton::transitions() const {
    std::vector<TransitionView> views;
    views.reserve(transitions_.size());
    transitions_.for_each([&](std::uint32_t row, std::uint32_t column, std::uint32_t target_row) {
        views.push_back({name_at(transitions_.position(row)), Symbol{columns_.symbol(column)},
                         name_at(transitions_.position(target_row))});
    });
    return views;
}

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

#include "automaton/transition_table.hpp"

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "automaton/utf8.hpp"

namespace morvane {

// ---- Symbol columns --------------------------------------------------------

namespace {

// The column maps in use, by their symbols. Only construction reads or adds
// entries; a map dies with its last automaton and leaves an expired entry,
// which is swept once such entries could be half the table.
class SharedMaps {
public:
    std::shared_ptr<const SymbolColumns::Maps> get(const std::u32string& symbols) {
        const std::lock_guard<std::mutex> hold(mutex_);
        auto found = maps_.find(symbols);
        if (found != maps_.end())
            if (std::shared_ptr<const SymbolColumns::Maps> shared = found->second.lock()) return shared;
        std::shared_ptr<const SymbolColumns::Maps> made = build(symbols);
        if (found != maps_.end()) {
            found->second = made;
        } else {
            if (maps_.size() >= 2 * swept_size_ + 16) sweep();
            maps_.emplace(symbols, made);
        }
        return made;
    }

private:
    static std::shared_ptr<const SymbolColumns::Maps> build(const std::u32string& keys) {
        auto maps = std::make_shared<SymbolColumns::Maps>();
        maps->symbols.insert(maps->symbols.end(), keys.begin(), keys.end());
        if (keys.size() < 256) {
            std::vector<std::uint8_t> columns(keys.size());
            for (std::size_t i = 0; i < keys.size(); ++i) columns[i] = static_cast<std::uint8_t>(i + 1);
            maps->narrow = walk::PagedMap<std::uint8_t>(keys, columns);
        } else {
            std::vector<std::uint32_t> columns(keys.size());
            for (std::size_t i = 0; i < keys.size(); ++i) columns[i] = static_cast<std::uint32_t>(i + 1);
            maps->wide = walk::PagedMap<std::uint32_t>(keys, columns);
        }
        return maps;
    }

    void sweep() noexcept {
        std::erase_if(maps_, [](const auto& entry) { return entry.second.expired(); });
        swept_size_ = maps_.size();
    }

    std::mutex mutex_;
    std::unordered_map<std::u32string, std::weak_ptr<const SymbolColumns::Maps>> maps_;
    std::size_t swept_size_ = 0;
};

SharedMaps& shared_maps() {
    static SharedMaps* maps = new SharedMaps;  // never destroyed: automata may outlive static destruction
    return *maps;
}

}  // namespace

SymbolColumns::SymbolColumns(const TextSet& alphabet) {
    // The alphabet is sorted by code point, so columns come out sorted too.
    std::u32string symbols;
    for (std::size_t index = 0; index < alphabet.size(); ++index) {
        const long code_point = utf8::single_code_point(alphabet[index]);
        if (code_point >= 0) symbols.push_back(static_cast<char32_t>(code_point));
    }
    maps_ = shared_maps().get(symbols);
    latin1_ = symbols.size() < 256 ? maps_->narrow.latin1() : nullptr;
    count_ = static_cast<std::uint32_t>(symbols.size() + 1);
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
    } else if (!sparse_.insert_unique(from + column + 1, row(to))) {
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
    } else if (!sparse_.erase(from + column + 1)) {
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
    sparse_.for_each([&](std::uint64_t key, std::uint32_t target_row) {
        cells[key - 1] = static_cast<std::uint32_t>(position(target_row));
    });
    dense_.swap(cells);
    sparse_.release();
}

void TransitionTable::become_sparse() {
    hashing::ProbingMap<std::uint32_t, false> sparse;
    sparse.reserve(count_);
    for (std::uint64_t cell = 0; cell < dense_.size(); ++cell)
        if (dense_[cell] != 0) sparse.insert(cell + 1, row(dense_[cell]));
    sparse_ = std::move(sparse);
    std::vector<std::uint32_t>().swap(dense_);
}

void TransitionTable::release() noexcept {
    std::vector<std::uint32_t>().swap(dense_);
    sparse_.release();
    count_ = 0;
}

}  // namespace morvane

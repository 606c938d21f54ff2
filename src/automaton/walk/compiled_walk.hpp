// A transition table compiled for whole-input walks.
//
// The table itself is shaped for editing: a row per state, a column per
// alphabet symbol, cells found by one load. A long walk wants something
// else: few rows (only the states the initial state reaches), few columns
// (symbols that act alike on every state share one input class), and, when
// the states fit in a vector register, each class's transition function as
// a byte shuffle, so that independent stretches of the input can be
// composed side by side instead of waiting on one load per character.
//
// A compiled walk is built from a snapshot of the table and is stale after
// any change to it; the automaton drops it on every add or remove.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace morvane::walk {

// One transition of the source table, in its own numbering: row 0 is the
// dead row and column 0 stands for every character outside the alphabet.
struct Edge {
    std::uint32_t row;
    std::uint32_t column;
    std::uint32_t target_row;
};

// What a compiled walk is built from.
struct Source {
    std::uint32_t rows;                  // the dead row included
    std::span<const char32_t> symbols;   // column -> code point; [0] unused
    std::span<const Edge> edges;
    std::uint32_t initial_row;
    std::span<const std::uint8_t> final_rows;  // by row: 1 when final
    std::size_t table_bytes;             // what the table itself takes
};

// The ways a compiled walk can run; each gives the same answer.
enum class Kernel : std::uint8_t {
    rows,         // one chain over compact rows
    speculative,  // compact rows, chunks started from guessed states, repaired
    staged,       // the same over blocks translated to classes first
    shuffle16,    // up to 16 states: byte shuffles (AVX2 or NEON)
    pairs16,      // the same, one shuffle per two characters (up to 16 classes)
    permute64,    // up to 64 states: AVX-512 VBMI byte permutes
};
inline constexpr Kernel all_kernels[] = {Kernel::rows,      Kernel::speculative, Kernel::staged,
                                         Kernel::shuffle16, Kernel::pairs16,     Kernel::permute64};
const char* kernel_name(Kernel kernel) noexcept;
// Whether this processor has the instructions `kernel` needs.
bool kernel_runs_here(Kernel kernel) noexcept;

// Maps a code point to a small number in two steps: its 256-character page,
// then its place in the page. Pages without members share one static block
// of zeros, and code points past the last page land there too, so a lookup
// is two loads and a compare, without a branch.
template <class Cell>
class PagedMap {
public:
    // Empty and not to be looked up: holds nothing, allocates nothing.
    PagedMap() = default;
    // values[i] for code point keys[i]; everything else maps to 0.
    PagedMap(std::span<const char32_t> keys, std::span<const Cell> values);
    PagedMap(PagedMap&&) noexcept = default;
    PagedMap& operator=(PagedMap&&) noexcept = default;

    Cell operator()(char32_t code_point) const noexcept {
        const std::uint32_t page = code_point >> 8;
        return pages_[page < last_page_ ? page : last_page_][code_point & 0xFF];
    }
    // The first page alone: the whole map for one-byte strings.
    const Cell* latin1() const noexcept { return first_page_; }
    const Cell* const* pages() const noexcept { return pages_.data(); }
    std::uint32_t last_page() const noexcept { return last_page_; }
    std::size_t memory() const noexcept { return pages_.capacity() * sizeof(Cell*) + blocks_.capacity() * sizeof(Cell); }

private:
    std::vector<const Cell*> pages_;  // the last entry is the shared zero block
    const Cell* first_page_ = nullptr;  // pages_[0], one load nearer
    std::vector<Cell> blocks_;        // 256 cells a page that has members
    std::uint32_t last_page_ = 0;
};

// How a walk over a whole input ends.
enum class Ending : std::uint8_t { died, rejected, accepted };

class CompiledWalk {
public:
    // nullptr when the table does not pay for compiling (more than 255 input
    // classes, or compact rows much larger than the table); std::bad_alloc
    // passes through.
    static std::unique_ptr<CompiledWalk> build(const Source& source);

    // How the input ends from the initial state: dead somewhere, or through
    // to a state that rejects or accepts. `units` are the code units of a
    // string of `unit_size` bytes each (1, 2 or 4).
    Ending ending(const void* units, std::size_t length, int unit_size) const noexcept {
        return ending_with(chosen_, units, length, unit_size);
    }
    // The same through one particular kernel; a kernel that does not fit this
    // walk's size or this processor falls back to the one chosen.
    Ending ending_with(Kernel kernel, const void* units, std::size_t length, int unit_size) const noexcept;

    // The source row where the walk ends, 0 when the input dies: what the
    // kernels are checked by.
    std::uint32_t end_row_with(Kernel kernel, const void* units, std::size_t length, int unit_size) const noexcept;

    Kernel chosen() const noexcept { return chosen_; }
    bool fits(Kernel kernel) const noexcept;
    std::uint32_t states() const noexcept { return states_; }
    std::uint32_t classes() const noexcept { return classes_; }
    std::size_t memory() const noexcept;

    struct Layout;

private:
    CompiledWalk() = default;
    std::uint32_t end_state(Kernel kernel, const void* units, std::size_t length, int unit_size) const noexcept;
    void build_vector_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values);
    void build_span_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values,
                         std::size_t table_bytes);
    void build_nibble_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values,
                           std::size_t table_bytes);

    std::uint32_t states_ = 0;   // state 0 is dead, 1 the initial state
    std::uint32_t classes_ = 0;  // class 0 leads every state to the dead state
    Kernel chosen_ = Kernel::rows;
    bool merged_rows_ = false;  // see row_keys_
    PagedMap<std::uint8_t> class_of_;
    // Compact rows, row-major by class; each cell the target state already
    // multiplied by the class count. 16-bit cells while they fit.
    std::vector<std::uint16_t> rows16_;
    std::vector<std::uint32_t> rows32_;
    std::vector<Ending> ending_;  // by state: died for the dead state
    std::vector<std::uint32_t> row_of_;  // by state: the source row
    // By class, the transition function as bytes (lane q: the target of
    // state q; lanes past the last state map to themselves), 16 or 64 bytes
    // a class, aligned for vector loads.
    std::unique_ptr<std::uint8_t[], void (*)(std::uint8_t*)> shuffles_{nullptr, nullptr};
    std::uint32_t shuffle_width_ = 0;
    // Up to 16 states and 16 classes: by pair of classes (first * classes +
    // second), the two transition functions composed, 16 bytes a pair.
    std::unique_ptr<std::uint8_t[], void (*)(std::uint8_t*)> pair_shuffles_{nullptr, nullptr};
    // With the pairs, the rows of 16 code points below U+10000 that hold a
    // member of the alphabet, by key (code point >> 4): few rows let a block
    // of input be translated to classes by vector compares and shuffles.
    // Each vector row holds one such row, or (merged_rows_) several whose
    // members sit at different low nibbles: 32 bytes, the 16 classes by low
    // nibble, then the key each low nibble belongs to. row_keys_ has one key
    // a vector row (when merged, its last row's). Kept only while there are
    // at most kernels::kMaxVectorRows rows.
    std::vector<std::uint16_t> row_keys_;
    std::unique_ptr<std::uint8_t[], void (*)(std::uint8_t*)> row_classes_{nullptr, nullptr};
    std::uint32_t byte_rows_ = 0;  // how many vector rows hold the rows below U+0100 (they come first)
    std::uint32_t wide_rows_ = 0;  // all of them, or kernels::kNoVectorRows
    // Up to 64 states and an alphabet whose members below U+0100 are few
    // consecutive code points: rows over the code points themselves (see
    // kernels::Tables), so that a block translates by a subtraction.
    std::vector<std::uint16_t> span_rows_;
    std::uint32_t span_low_ = 0;
    std::uint32_t span_width_ = 0;
    std::uint32_t span_units_ = 0;
    // Where there is no span and the alphabet's members below U+0100 sit in
    // more rows of 16 code points than vector compares translate: rows over
    // columns that shuffles find by a unit's high and low nibble (see
    // kernels::Tables).
    std::vector<std::uint16_t> nibble_rows_;
    std::uint8_t nibble_columns_[64] = {};
    std::uint32_t nibble_width_ = 0;
    std::uint32_t nibble_units_ = 0;
};

// The compiled walk of one table, built once plain walks of long inputs have
// covered about one character per transition since the table last changed,
// so that building never costs more than the walks it replaces.
class Cache {
public:
    // Inputs shorter than this always take the plain walk: their set-up
    // would cost more than the kernels save.
    static constexpr std::size_t shortest = 64;

    // The compiled walk to use for an input of `length`, or nullptr to walk
    // the table. `build` returns a std::unique_ptr<CompiledWalk>.
    template <class Build>
    const CompiledWalk* for_input(std::size_t length, std::size_t transitions, Build&& build) noexcept {
        if (length < shortest) return nullptr;
        if (!current_) {
            walked_ += length;
            if (walked_ < transitions) return nullptr;
            try {
                walk_ = build();
            } catch (...) {
                walk_.reset();  // out of memory: the table walk is slower, not wrong
            }
            current_ = true;
        }
        return walk_.get();
    }
    // The table changed.
    void invalidate() noexcept {
        walk_.reset();
        current_ = false;
        walked_ = 0;
    }

private:
    std::unique_ptr<CompiledWalk> walk_;
    std::uint64_t walked_ = 0;
    bool current_ = false;
};

}  // namespace morvane::walk

#include "automaton/walk/compiled_walk.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "automaton/walk/kernels.hpp"

namespace morvane::walk {

// ---- Paged map ---------------------------------------------------------------

namespace {
template <class Cell>
const Cell* zero_page() noexcept {
    alignas(64) static constexpr Cell zeros[256] = {};
    return zeros;
}
}  // namespace

template <class Cell>
PagedMap<Cell>::PagedMap(std::span<const char32_t> keys, std::span<const Cell> values) {
    std::uint32_t pages = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (values[i] != 0) pages = std::max<std::uint32_t>(pages, (keys[i] >> 8) + 1);
    // Number the pages that have members, then lay their blocks out.
    std::vector<std::uint32_t> block_of(pages, 0);
    std::uint32_t blocks = 0;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (values[i] != 0 && block_of[keys[i] >> 8] == 0) block_of[keys[i] >> 8] = ++blocks;
    blocks_.assign(std::size_t{blocks} * 256, 0);
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (values[i] != 0) blocks_[(block_of[keys[i] >> 8] - 1) * 256 + (keys[i] & 0xFF)] = values[i];
    pages_.resize(std::size_t{pages} + 1);
    for (std::uint32_t page = 0; page < pages; ++page)
        pages_[page] = block_of[page] == 0 ? zero_page<Cell>() : blocks_.data() + (block_of[page] - 1) * 256;
    pages_[pages] = zero_page<Cell>();
    first_page_ = pages_[0];
    last_page_ = pages;
}

template class PagedMap<std::uint8_t>;
template class PagedMap<std::uint32_t>;

// ---- Kernels and the processor -------------------------------------------------

const char* kernel_name(Kernel kernel) noexcept {
    switch (kernel) {
        case Kernel::rows: return "rows";
        case Kernel::speculative: return "speculative";
        case Kernel::staged: return "staged";
        case Kernel::shuffle16: return "shuffle16";
        case Kernel::pairs16: return "pairs16";
        case Kernel::permute64: return "permute64";
    }
    return "?";
}

bool kernel_runs_here(Kernel kernel) noexcept {
    static const bool shuffle16 = kernels::shuffle16_available();
    static const bool permute64 = kernels::permute64_available();
    switch (kernel) {
        case Kernel::shuffle16:
        case Kernel::pairs16: return shuffle16;
        case Kernel::permute64: return permute64;
        default: return true;
    }
}

// ---- Building ------------------------------------------------------------------

namespace {

// Beyond this many classes the class map would need wider cells; such
// alphabets walk the table itself.
constexpr std::uint32_t kMaxClasses = 255;
// Up to this many states the staged walk's short chunks pay.
constexpr std::uint32_t kStagedStates = 64;
// Pairs of classes square the table: 32 classes make 16 KB, which still
// stays in the first-level cache. A small automaton over a-z has 27 classes
// (each letter and everything else), and its pairs walk in about half the
// time of any other walk.
constexpr std::uint32_t kMaxPairClasses = 32;
// From this many vector rows a byte, translating by nibble is the faster
// (a fixed few shuffles, against a compare and a shuffle a row); below it,
// about as fast, so the nibble rows are not built.
constexpr std::uint32_t kNibbleFromRows = 6;

void free_aligned(std::uint8_t* bytes) { std::free(bytes); }

// Columns that lead every row to the same place form one class; a column
// with no transitions at all joins column 0 in class 0.
std::vector<std::uint8_t> column_classes(const Source& source, std::uint32_t& classes) {
    const std::size_t columns = source.symbols.size();
    std::vector<Edge> by_column(source.edges.begin(), source.edges.end());
    std::sort(by_column.begin(), by_column.end(), [](const Edge& a, const Edge& b) {
        return a.column != b.column ? a.column < b.column : a.row < b.row;
    });
    std::vector<std::size_t> first(columns + 1, 0);
    for (const Edge& edge : by_column) ++first[edge.column + 1];
    for (std::size_t column = 0; column < columns; ++column) first[column + 1] += first[column];
    auto same = [&](std::size_t a, std::size_t b) {
        if (first[a + 1] - first[a] != first[b + 1] - first[b]) return false;
        for (std::size_t i = 0; i < first[a + 1] - first[a]; ++i) {
            const Edge& x = by_column[first[a] + i];
            const Edge& y = by_column[first[b] + i];
            if (x.row != y.row || x.target_row != y.target_row) return false;
        }
        return true;
    };
    auto before = [&](std::size_t a, std::size_t b) {
        const std::size_t na = first[a + 1] - first[a], nb = first[b + 1] - first[b];
        if (na != nb) return na < nb;
        for (std::size_t i = 0; i < na; ++i) {
            const Edge& x = by_column[first[a] + i];
            const Edge& y = by_column[first[b] + i];
            if (x.row != y.row) return x.row < y.row;
            if (x.target_row != y.target_row) return x.target_row < y.target_row;
        }
        return false;
    };
    // Sorted by behaviour, the empty columns come first: column 0 among them.
    std::vector<std::size_t> order(columns);
    for (std::size_t column = 0; column < columns; ++column) order[column] = column;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return before(a, b) || (!before(b, a) && a < b);
    });
    std::vector<std::uint8_t> class_of(columns, 0);
    classes = 1;
    for (std::size_t i = 0; i < columns; ++i) {
        const std::size_t column = order[i];
        if (first[column + 1] == first[column]) continue;  // class 0
        if (i > 0 && first[order[i - 1] + 1] != first[order[i - 1]] && same(order[i - 1], column)) {
            class_of[column] = class_of[order[i - 1]];
            continue;
        }
        if (classes > kMaxClasses) {
            classes = kMaxClasses + 1;
            return {};
        }
        class_of[column] = static_cast<std::uint8_t>(classes++);
    }
    return class_of;
}

}  // namespace

struct CompiledWalk::Layout {
    static kernels::Tables tables(const CompiledWalk& walk) noexcept {
        return kernels::Tables{walk.class_of_.pages(),
                               walk.class_of_.last_page(),
                               walk.classes_,
                               walk.rows16_.empty() ? nullptr : walk.rows16_.data(),
                               walk.rows32_.empty() ? nullptr : walk.rows32_.data(),
                               walk.shuffles_.get(),
                               walk.pair_shuffles_.get(),
                               walk.row_keys_.data(),
                               walk.row_classes_.get(),
                               walk.byte_rows_,
                               walk.wide_rows_,
                               walk.merged_rows_,
                               walk.span_rows_.empty() ? nullptr : walk.span_rows_.data(),
                               walk.span_low_,
                               walk.span_width_,
                               walk.span_units_,
                               walk.nibble_rows_.empty() ? nullptr : walk.nibble_rows_.data(),
                               walk.nibble_columns_,
                               walk.nibble_width_,
                               walk.nibble_units_};
    }
};

std::unique_ptr<CompiledWalk> CompiledWalk::build(const Source& source) {
    std::uint32_t classes = 0;
    const std::vector<std::uint8_t> class_of_column = column_classes(source, classes);
    if (classes > kMaxClasses) return nullptr;

    // Number the states the initial row reaches, in breadth-first order:
    // 0 is dead, 1 the initial state. Unreachable rows play no part.
    std::vector<std::uint32_t> edges_from(std::size_t{source.rows} + 1, 0);
    for (const Edge& edge : source.edges) ++edges_from[edge.row + 1];
    for (std::uint32_t row = 0; row < source.rows; ++row) edges_from[row + 1] += edges_from[row];
    std::vector<Edge> by_row(source.edges.size());
    {
        std::vector<std::uint32_t> fill(edges_from.begin(), edges_from.end() - 1);
        for (const Edge& edge : source.edges) by_row[fill[edge.row]++] = edge;
    }
    std::vector<std::uint32_t> state_of(source.rows, 0);
    std::vector<std::uint32_t> row_of{0, source.initial_row};
    state_of[source.initial_row] = 1;
    for (std::size_t next = 1; next < row_of.size(); ++next) {
        const std::uint32_t row = row_of[next];
        for (std::uint32_t i = edges_from[row]; i < edges_from[row + 1]; ++i) {
            const std::uint32_t target = by_row[i].target_row;
            if (state_of[target] == 0) {
                state_of[target] = static_cast<std::uint32_t>(row_of.size());
                row_of.push_back(target);
            }
        }
    }
    const std::uint64_t states = row_of.size();
    const std::uint64_t cells = states * classes;
    // Compact rows larger than the table they come from (a sparse table of
    // many states) are not worth it: such tables walk the table itself.
    const std::uint64_t cell_bytes = cells <= UINT16_MAX + 1ULL ? 2 : 4;
    if (cells > UINT32_MAX || cells * cell_bytes > 2 * source.table_bytes + 65536) return nullptr;

    std::unique_ptr<CompiledWalk> walk(new CompiledWalk());
    walk->states_ = static_cast<std::uint32_t>(states);
    walk->classes_ = classes;
    std::vector<std::uint32_t> rows(cells, 0);
    for (std::uint64_t state = 1; state < states; ++state) {
        const std::uint32_t row = row_of[state];
        for (std::uint32_t i = edges_from[row]; i < edges_from[row + 1]; ++i) {
            const Edge& edge = by_row[i];
            rows[state * classes + class_of_column[edge.column]] = state_of[edge.target_row] * classes;
        }
    }
    if (cells <= UINT16_MAX + 1ULL)
        walk->rows16_.assign(rows.begin(), rows.end());
    else
        walk->rows32_ = std::move(rows);

    walk->row_of_ = std::move(row_of);
    walk->ending_.resize(states, Ending::died);
    for (std::uint64_t state = 1; state < states; ++state)
        walk->ending_[state] = source.final_rows[walk->row_of_[state]] ? Ending::accepted : Ending::rejected;

    std::vector<char32_t> keys(source.symbols.begin() + (source.symbols.empty() ? 0 : 1), source.symbols.end());
    std::vector<std::uint8_t> values(class_of_column.begin() + (class_of_column.empty() ? 0 : 1),
                                     class_of_column.end());
    walk->class_of_ = PagedMap<std::uint8_t>(keys, values);

    if (states <= 64) {
        const std::uint32_t width = states <= 16 ? 16 : 64;
        auto* bytes = static_cast<std::uint8_t*>(std::aligned_alloc(64, (std::size_t{classes} * width + 63) / 64 * 64));
        if (bytes == nullptr) throw std::bad_alloc();
        walk->shuffles_ = {bytes, free_aligned};
        const std::uint32_t* compact = walk->rows16_.empty() ? walk->rows32_.data() : nullptr;
        for (std::uint32_t c = 0; c < classes; ++c)
            for (std::uint32_t lane = 0; lane < width; ++lane) {
                std::uint32_t target = lane;
                if (lane < states) {
                    const std::size_t cell = std::size_t{lane} * classes + c;
                    target = (compact ? compact[cell] : walk->rows16_[cell]) / classes;
                }
                bytes[c * width + lane] = static_cast<std::uint8_t>(target);
            }
        walk->shuffle_width_ = width;
        if (width == 16 && classes <= kMaxPairClasses) {
            const std::size_t pairs = std::size_t{classes} * classes;
            auto* composed = static_cast<std::uint8_t*>(std::aligned_alloc(64, (pairs * 16 + 63) / 64 * 64));
            if (composed == nullptr) throw std::bad_alloc();
            walk->pair_shuffles_ = {composed, free_aligned};
            for (std::uint32_t first = 0; first < classes; ++first)
                for (std::uint32_t second = 0; second < classes; ++second)
                    for (std::uint32_t lane = 0; lane < 16; ++lane)
                        composed[(first * classes + second) * 16 + lane] =
                            bytes[second * 16 + bytes[first * 16 + lane]];
        }
    }
    // The rows serve the pair walk's translation and the staged walk's.
    walk->build_vector_rows(keys, values);
    if (states <= kStagedStates) {
        walk->build_span_rows(keys, values, source.table_bytes);
        if (walk->span_rows_.empty() &&
            (walk->byte_rows_ == kernels::kNoVectorRows || walk->byte_rows_ >= kNibbleFromRows))
            walk->build_nibble_rows(keys, values, source.table_bytes);
    }

    // Chunks a few thousand characters long serve automata whose walks meet
    // soon after the guess; larger ones need the longer chunks.
    walk->chosen_ = states <= kStagedStates ? Kernel::staged : Kernel::speculative;
    // Where the staged walk translates by vector, it walks 16 states or
    // fewer over more classes than the pair walk takes as fast as the
    // one-step shuffle walk on 1-byte input, and faster on wider input
    // (half the time on 2-byte units).
    const bool staged_beats_shuffle = walk->chosen_ == Kernel::staged && kernels::translate_available();
    for (const Kernel kernel : {Kernel::permute64, Kernel::shuffle16, Kernel::pairs16})
        if (walk->fits(kernel) && kernel_runs_here(kernel) && !(kernel == Kernel::shuffle16 && staged_beats_shuffle))
            walk->chosen_ = kernel;
    return walk;
}

void CompiledWalk::build_vector_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values) {
    std::vector<std::uint16_t> row_keys;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (values[i] != 0 && keys[i] < 0x10000) row_keys.push_back(static_cast<std::uint16_t>(keys[i] >> 4));
    std::sort(row_keys.begin(), row_keys.end());
    row_keys.erase(std::unique(row_keys.begin(), row_keys.end()), row_keys.end());
    const auto byte_rows = static_cast<std::uint32_t>(
        std::lower_bound(row_keys.begin(), row_keys.end(), std::uint16_t{0x10}) - row_keys.begin());
    if (byte_rows > kernels::kMaxVectorRows) {
        byte_rows_ = wide_rows_ = kernels::kNoVectorRows;
        return;
    }
    const bool all_rows = row_keys.size() <= kernels::kMaxVectorRows;
    if (!all_rows) row_keys.resize(byte_rows);
    if (row_keys.empty()) {
        byte_rows_ = 0;
        wide_rows_ = all_rows ? 0 : kernels::kNoVectorRows;
        return;
    }
    auto class_at = [this](std::uint16_t key, std::uint32_t place) { return class_of_((char32_t{key} << 4) | place); };

    // Rows whose members sit at different low nibbles can share one vector
    // row: a class table and, by low nibble, the key a unit needs to match.
    // Greedy in key order, so the vector rows holding rows below U+0100 come
    // first and a 1-byte input needs only those. Keys must compare as bytes.
    std::vector<std::uint32_t> vector_row_of(row_keys.size());
    std::vector<std::uint16_t> places_taken;
    std::uint32_t byte_vector_rows = 0;
    for (std::size_t row = 0; row < row_keys.size(); ++row) {
        std::uint16_t places = 0;
        for (std::uint32_t place = 0; place < 16; ++place)
            if (class_at(row_keys[row], place) != 0) places = static_cast<std::uint16_t>(places | 1u << place);
        std::size_t shared = 0;
        while (shared < places_taken.size() && (places_taken[shared] & places) != 0) ++shared;
        if (shared == places_taken.size()) places_taken.push_back(0);
        places_taken[shared] = static_cast<std::uint16_t>(places_taken[shared] | places);
        vector_row_of[row] = static_cast<std::uint32_t>(shared);
        if (row + 1 == byte_rows) byte_vector_rows = static_cast<std::uint32_t>(places_taken.size());
    }
    // A shared row costs one shuffle more than a row of its own.
    merged_rows_ = row_keys.back() < 0xFF && 5 * places_taken.size() < 4 * row_keys.size();
    if (!merged_rows_) {
        for (std::size_t row = 0; row < row_keys.size(); ++row) vector_row_of[row] = static_cast<std::uint32_t>(row);
        places_taken.resize(row_keys.size());
        byte_vector_rows = byte_rows;
    }

    // Each vector row: its 16 classes by low nibble, then the 16 keys.
    const std::size_t vector_rows = places_taken.size();
    auto* bytes = static_cast<std::uint8_t*>(std::aligned_alloc(32, vector_rows * 32));
    if (bytes == nullptr) throw std::bad_alloc();
    row_classes_ = {bytes, free_aligned};
    std::vector<std::uint16_t> vector_row_keys(vector_rows);
    for (std::size_t vector_row = 0; vector_row < vector_rows; ++vector_row) {
        std::fill_n(bytes + vector_row * 32, 16, std::uint8_t{0});
        std::fill_n(bytes + vector_row * 32 + 16, 16, std::uint8_t{0xFF});  // class 0 there, whatever the key
    }
    for (std::size_t row = 0; row < row_keys.size(); ++row) {
        std::uint8_t* vector_row = bytes + std::size_t{vector_row_of[row]} * 32;
        vector_row_keys[vector_row_of[row]] = row_keys[row];
        for (std::uint32_t place = 0; place < 16; ++place)
            if (const std::uint8_t value = class_at(row_keys[row], place); value != 0) {
                vector_row[place] = value;
                vector_row[16 + place] = static_cast<std::uint8_t>(row_keys[row]);
            }
    }
    byte_rows_ = byte_vector_rows;
    wide_rows_ = all_rows ? static_cast<std::uint32_t>(vector_rows) : kernels::kNoVectorRows;
    row_keys_ = std::move(vector_row_keys);
}

void CompiledWalk::build_span_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values,
                                   std::size_t table_bytes) {
    if (!kernels::translate_available()) return;
    char32_t low = 0xFF, high = 0;
    bool wide_members = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (values[i] == 0) continue;
        if (keys[i] < 0x100) {
            low = std::min(low, keys[i]);
            high = std::max(high, keys[i]);
        } else if (keys[i] < 0x10000) {
            wide_members = true;
        }
    }
    if (high < low) return;
    // A column a code point in the span and one for everything else, all
    // within a byte; and rows no larger than the table they come from.
    const std::uint32_t width = high - low + 2;
    const std::size_t cells = std::size_t{states_} * width;
    if (width > 255 || cells * sizeof(std::uint16_t) > table_bytes) return;
    span_rows_.assign(cells, 0);
    for (std::uint32_t state = 1; state < states_; ++state)
        for (std::uint32_t column = 0; column + 1 < width; ++column) {
            const std::size_t cell = std::size_t{state} * classes_ + class_of_(low + column);
            const std::uint32_t target = (rows16_.empty() ? rows32_[cell] : rows16_[cell]) / classes_;
            span_rows_[std::size_t{state} * width + column] = static_cast<std::uint16_t>(target * width);
        }
    span_low_ = low;
    span_width_ = width;
    span_units_ = wide_members ? 1 : 2;
}

namespace {

// Places the lines of a 16 x 16 grid of classes (grid(line, place); 0 where
// nothing is a member, which any column may take) that `lines` holds along
// one axis of columns: the places `places` holds take the offsets 0, 1, ...
// in order, each line the first offset at which its members land on free
// columns or on columns of their own class. Returns the column past the
// last member, or UINT32_MAX when that would pass a byte's last value.
template <class Grid>
std::uint32_t place_lines(Grid grid, std::uint16_t lines, std::uint16_t places, std::uint8_t* line_offset,
                          std::uint8_t* place_offset, std::uint8_t* classes) {
    std::uint32_t ranked[16], count = 0;
    for (std::uint32_t place = 0; place < 16; ++place) {
        place_offset[place] = 0;
        if (places >> place & 1) {
            place_offset[place] = static_cast<std::uint8_t>(count);
            ranked[count++] = place;
        }
    }
    std::fill_n(classes, 256, std::uint8_t{0});
    std::uint32_t end = 0;
    for (std::uint32_t line = 0; line < 16; ++line) {
        line_offset[line] = 0;
        if ((lines >> line & 1) == 0) continue;
        std::uint32_t offset = 0;
        for (;; ++offset) {
            if (offset + count > 254) return UINT32_MAX;
            bool fits = true;
            for (std::uint32_t k = 0; k < count && fits; ++k) {
                const std::uint8_t member = grid(line, ranked[k]);
                fits = member == 0 || classes[offset + k] == 0 || classes[offset + k] == member;
            }
            if (fits) break;
        }
        line_offset[line] = static_cast<std::uint8_t>(offset);
        for (std::uint32_t k = 0; k < count; ++k)
            if (const std::uint8_t member = grid(line, ranked[k]); member != 0) {
                classes[offset + k] = member;
                end = std::max(end, offset + k + 1);
            }
    }
    return end;
}

}  // namespace

void CompiledWalk::build_nibble_rows(std::span<const char32_t> keys, std::span<const std::uint8_t> values,
                                     std::size_t table_bytes) {
    if (!kernels::translate_available()) return;
    std::uint8_t grid[16][16] = {};  // class by high nibble, low nibble
    std::uint16_t rows = 0, places = 0;
    bool wide_members = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (values[i] == 0) continue;
        if (keys[i] < 0x100) {
            grid[keys[i] >> 4][keys[i] & 15] = values[i];
            rows = static_cast<std::uint16_t>(rows | 1u << (keys[i] >> 4));
            places = static_cast<std::uint16_t>(places | 1u << (keys[i] & 15));
        } else if (keys[i] < 0x10000) {
            wide_members = true;
        }
    }
    if (rows == 0) return;
    // Rows slid along the low nibbles, or low nibbles slid along the rows:
    // the layout with fewer columns serves.
    std::uint8_t row_offset[2][16], place_offset[2][16], column_class[2][256];
    const std::uint32_t ends[2] = {
        place_lines([&](std::uint32_t row, std::uint32_t place) { return grid[row][place]; }, rows, places,
                    row_offset[0], place_offset[0], column_class[0]),
        place_lines([&](std::uint32_t place, std::uint32_t row) { return grid[row][place]; }, places, rows,
                    place_offset[1], row_offset[1], column_class[1])};
    const std::size_t best = ends[1] < ends[0] ? 1 : 0;
    if (ends[best] == UINT32_MAX) return;
    const std::uint32_t width = ends[best] + 1;  // and the dead column
    const std::size_t cells = std::size_t{states_} * width;
    if (cells * sizeof(std::uint16_t) > table_bytes) return;
    nibble_rows_.assign(cells, 0);
    for (std::uint32_t state = 1; state < states_; ++state)
        for (std::uint32_t column = 0; column + 1 < width; ++column) {
            const std::size_t cell = std::size_t{state} * classes_ + column_class[best][column];
            const std::uint32_t target = (rows16_.empty() ? rows32_[cell] : rows16_[cell]) / classes_;
            nibble_rows_[std::size_t{state} * width + column] = static_cast<std::uint16_t>(target * width);
        }
    for (std::uint32_t nibble = 0; nibble < 16; ++nibble) {
        nibble_columns_[nibble] = row_offset[best][nibble];
        nibble_columns_[16 + nibble] = place_offset[best][nibble];
        for (std::uint32_t row = 0; row < 16; ++row)
            if (grid[row][nibble] != 0)
                nibble_columns_[(row < 8 ? 32 : 48) + nibble] =
                    static_cast<std::uint8_t>(nibble_columns_[(row < 8 ? 32 : 48) + nibble] | 1u << (row & 7));
    }
    nibble_width_ = width;
    nibble_units_ = wide_members ? 1 : 2;
}

bool CompiledWalk::fits(Kernel kernel) const noexcept {
    switch (kernel) {
        case Kernel::shuffle16: return shuffle_width_ == 16;
        case Kernel::pairs16: return pair_shuffles_ != nullptr;
        case Kernel::permute64: return shuffle_width_ == 64;
        default: return true;
    }
}

std::size_t CompiledWalk::memory() const noexcept {
    return sizeof(*this) + class_of_.memory() + rows16_.capacity() * 2 + rows32_.capacity() * 4 +
           ending_.capacity() + row_of_.capacity() * 4 + std::size_t{classes_} * shuffle_width_ +
           (pair_shuffles_ ? std::size_t{classes_} * classes_ * 16 : 0) + row_keys_.capacity() * 2 +
           (row_classes_ ? row_keys_.size() * 32 : 0) + span_rows_.capacity() * 2 + nibble_rows_.capacity() * 2;
}

// ---- Walking ---------------------------------------------------------------------

namespace {

template <class Unit>
std::uint32_t run(Kernel kernel, const kernels::Tables& tables, const Unit* units, std::size_t length) noexcept {
    switch (kernel) {
        case Kernel::shuffle16: return kernels::shuffle16(tables, units, length, 1);
        case Kernel::pairs16: return kernels::pairs16(tables, units, length, 1);
        case Kernel::permute64: return kernels::permute64(tables, units, length, 1);
        case Kernel::speculative: return kernels::speculative(tables, units, length, 1);
        case Kernel::staged: return kernels::staged(tables, units, length, 1);
        case Kernel::rows: break;
    }
    return kernels::rows(tables, units, length, 1);
}

}  // namespace

std::uint32_t CompiledWalk::end_state(Kernel kernel, const void* units, std::size_t length,
                                      int unit_size) const noexcept {
    if (!fits(kernel) || !kernel_runs_here(kernel)) kernel = chosen_;
    const kernels::Tables tables = Layout::tables(*this);
    switch (unit_size) {
        case 1: return run(kernel, tables, static_cast<const std::uint8_t*>(units), length);
        case 2: return run(kernel, tables, static_cast<const std::uint16_t*>(units), length);
        default: return run(kernel, tables, static_cast<const std::uint32_t*>(units), length);
    }
}

Ending CompiledWalk::ending_with(Kernel kernel, const void* units, std::size_t length,
                                 int unit_size) const noexcept {
    return ending_[end_state(kernel, units, length, unit_size)];
}

std::uint32_t CompiledWalk::end_row_with(Kernel kernel, const void* units, std::size_t length,
                                         int unit_size) const noexcept {
    return row_of_[end_state(kernel, units, length, unit_size)];
}

}  // namespace morvane::walk

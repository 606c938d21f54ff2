// Walks over compact rows: portable, for every size of automaton.
#include <algorithm>

#include "automaton/walk/kernels.hpp"

namespace morvane::walk::kernels {

namespace {

// The dead state is tested once per kDeadCheck characters, not per
// character: off the chain of loads, and never far behind.
constexpr std::size_t kDeadCheck = 64;

// Speculative walk: each block of input is cut into kChunks chunks walked
// side by side. The first starts from the true state; every other starts
// from a guess (the state reached by walking kLookBack characters before
// it), and records a checkpoint every kCheckpoint characters. Then the
// chunks are joined in order: where the true state entering a chunk is not
// its guess, the chunk is walked again from the true state until that walk
// meets a checkpoint of the guessed one, after which both agree to the end.
// Exact for every automaton; as fast as the walks converge. Walks through a
// random automaton of n states meet after about n characters, so chunks are
// long: up to kLongestChunk, never shorter than kShortestChunk. The first
// chunk is checked for the dead state at every checkpoint, the others when
// they are joined.
constexpr std::size_t kChunks = 8;  // as many chains as the walk spells out
constexpr std::size_t kCheckpoint = 64;
constexpr std::size_t kShortestChunk = 8 * kCheckpoint;
constexpr std::size_t kLongestChunk = 256 * kCheckpoint;
constexpr std::size_t kLookBack = 64;

template <class Unit, class Cell>
std::uint32_t chain(const Cell* rows, const ClassOf<Unit>& class_of, const Unit* units, std::size_t length,
                    std::uint32_t at) noexcept {
    std::size_t done = 0;
    for (; length - done >= kDeadCheck; done += kDeadCheck) {
        for (std::size_t i = 0; i < kDeadCheck; ++i) at = rows[at + class_of(units[done + i])];
        if (at == 0) return 0;
    }
    for (; done < length; ++done) at = rows[at + class_of(units[done])];
    return at;
}

template <class Unit, class Cell>
std::uint32_t rows_walk(const Cell* rows, const Tables& tables, const Unit* units, std::size_t length,
                        std::uint32_t state) noexcept {
    const ClassOf<Unit> class_of(tables);
    return chain(rows, class_of, units, length, state * tables.classes) / tables.classes;
}

template <class Unit, class Cell>
std::uint32_t speculative_walk(const Cell* rows, const Tables& tables, const Unit* units, std::size_t length,
                               std::uint32_t state) noexcept {
    const ClassOf<Unit> class_of(tables);
    std::uint32_t checkpoint[kChunks][kLongestChunk / kCheckpoint];
    std::uint32_t at = state * tables.classes;
    std::size_t done = 0;
    while (length - done >= kChunks * kShortestChunk) {
        const std::size_t chunk = std::min(kLongestChunk, (length - done) / kChunks / kCheckpoint * kCheckpoint);
        const std::size_t checkpoints = chunk / kCheckpoint;
        const Unit* p[kChunks];
        for (std::size_t j = 0; j < kChunks; ++j) p[j] = units + done + j * chunk;
        // The chains are spelled out so that they stay in registers.
        std::uint32_t s0 = at, s1 = at, s2 = at, s3 = at, s4 = at, s5 = at, s6 = at, s7 = at;
        for (std::size_t i = 0; i < kLookBack; ++i) {
            const std::ptrdiff_t back = static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(kLookBack);
            s1 = rows[s1 + class_of(p[1][back])];
            s2 = rows[s2 + class_of(p[2][back])];
            s3 = rows[s3 + class_of(p[3][back])];
            s4 = rows[s4 + class_of(p[4][back])];
            s5 = rows[s5 + class_of(p[5][back])];
            s6 = rows[s6 + class_of(p[6][back])];
            s7 = rows[s7 + class_of(p[7][back])];
        }
        const std::uint32_t guess[kChunks] = {s0, s1, s2, s3, s4, s5, s6, s7};
        for (std::size_t c = 0; c < checkpoints; ++c) {
            const Unit *q0 = p[0] + c * kCheckpoint, *q1 = p[1] + c * kCheckpoint, *q2 = p[2] + c * kCheckpoint,
                       *q3 = p[3] + c * kCheckpoint, *q4 = p[4] + c * kCheckpoint, *q5 = p[5] + c * kCheckpoint,
                       *q6 = p[6] + c * kCheckpoint, *q7 = p[7] + c * kCheckpoint;
            for (std::size_t i = 0; i < kCheckpoint; ++i) {
                s0 = rows[s0 + class_of(q0[i])];
                s1 = rows[s1 + class_of(q1[i])];
                s2 = rows[s2 + class_of(q2[i])];
                s3 = rows[s3 + class_of(q3[i])];
                s4 = rows[s4 + class_of(q4[i])];
                s5 = rows[s5 + class_of(q5[i])];
                s6 = rows[s6 + class_of(q6[i])];
                s7 = rows[s7 + class_of(q7[i])];
            }
            if (s0 == 0) return 0;
            checkpoint[1][c] = s1;
            checkpoint[2][c] = s2;
            checkpoint[3][c] = s3;
            checkpoint[4][c] = s4;
            checkpoint[5][c] = s5;
            checkpoint[6][c] = s6;
            checkpoint[7][c] = s7;
        }
        const std::uint32_t walked[kChunks] = {s0, s1, s2, s3, s4, s5, s6, s7};
        at = s0;
        for (std::size_t j = 1; j < kChunks && at != 0; ++j) {
            if (at == guess[j]) {
                at = walked[j];
                continue;
            }
            std::uint32_t repaired = at;
            std::size_t c = 0;
            for (; c < checkpoints; ++c) {
                const Unit* from = p[j] + c * kCheckpoint;
                for (std::size_t i = 0; i < kCheckpoint; ++i) repaired = rows[repaired + class_of(from[i])];
                if (repaired == checkpoint[j][c]) break;
            }
            at = c < checkpoints ? walked[j] : repaired;
        }
        if (at == 0) return 0;
        done += kChunks * chunk;
    }
    return chain(rows, class_of, units + done, length - done, at) / tables.classes;
}

// Staged walk: the speculative walk over blocks of fixed shape, kChunks
// chunks of Chunk units each. The chunk length known when compiling puts
// every chain's next unit at a fixed offset from one pointer, so the eight
// states, that pointer, the class map and the table stay in registers. Where
// a block can be translated to classes by vector first, the chains read
// class bytes instead: a step is then one byte load and one cell load.
constexpr std::size_t kLongStagedChunk = 2048;
constexpr std::size_t kShortStagedChunk = 256;
constexpr std::size_t kShortestStagedChunk = kLookBack;  // the guesses look back into the block only
constexpr std::size_t kStagedCheckpoints = kLongStagedChunk / kCheckpoint;

// A class byte already translated.
struct Translated {
    std::uint32_t operator()(std::uint8_t unit) const noexcept { return unit; }
};

// Walks chains First to 7 of a block `Steps` units on, from and back into
// `states`. Out of line, so that the eight chains, the
// pointer and the table are all its registers hold across the loop (inline,
// the compiler spills chains to keep the block's bookkeeping instead).
// States are full width: adding a class to a 32-bit state would cost each
// step a zero extension on the chain.
template <std::size_t Chunk, std::size_t Steps, std::size_t First, class Unit, class Cell, class Lookup>
[[gnu::noinline]] void staged_steps(const Cell* rows, const Lookup class_of, const Unit* from,
                                    std::size_t* states) noexcept {
    std::size_t s0 = states[0], s1 = states[1], s2 = states[2], s3 = states[3], s4 = states[4], s5 = states[5],
                s6 = states[6], s7 = states[7];
    for (const Unit *q = from, *end = from + Steps; q != end; ++q) {
        if constexpr (First == 0) s0 = rows[s0 + class_of(q[0 * Chunk])];
        s1 = rows[s1 + class_of(q[1 * Chunk])];
        s2 = rows[s2 + class_of(q[2 * Chunk])];
        s3 = rows[s3 + class_of(q[3 * Chunk])];
        s4 = rows[s4 + class_of(q[4 * Chunk])];
        s5 = rows[s5 + class_of(q[5 * Chunk])];
        s6 = rows[s6 + class_of(q[6 * Chunk])];
        s7 = rows[s7 + class_of(q[7 * Chunk])];
    }
    states[0] = s0, states[1] = s1, states[2] = s2, states[3] = s3;
    states[4] = s4, states[5] = s5, states[6] = s6, states[7] = s7;
}

struct StagedMemory {
    std::uint32_t checkpoint[kChunks][kStagedCheckpoints];
};

template <std::size_t Chunk, class Unit, class Cell, class Lookup>
std::uint32_t staged_block(const Cell* rows, const Lookup& class_of, const Unit* units, std::uint32_t at,
                           StagedMemory& memory) noexcept {
    static_assert(Chunk >= kLookBack && Chunk % kCheckpoint == 0 && Chunk <= kLongStagedChunk);
    constexpr std::size_t checkpoints = Chunk / kCheckpoint;
    std::size_t states[kChunks] = {at, at, at, at, at, at, at, at};
    staged_steps<Chunk, kLookBack, 1>(rows, class_of, units - kLookBack, states);
    std::uint32_t guess[kChunks];
    for (std::size_t j = 0; j < kChunks; ++j) guess[j] = static_cast<std::uint32_t>(states[j]);
    for (std::size_t c = 0; c < checkpoints; ++c) {
        staged_steps<Chunk, kCheckpoint, 0>(rows, class_of, units + c * kCheckpoint, states);
        if (states[0] == 0) return 0;
        for (std::size_t j = 1; j < kChunks; ++j) memory.checkpoint[j][c] = static_cast<std::uint32_t>(states[j]);
    }
    at = static_cast<std::uint32_t>(states[0]);
    for (std::size_t j = 1; j < kChunks && at != 0; ++j) {
        const auto walked = static_cast<std::uint32_t>(states[j]);
        if (at == guess[j]) {
            at = walked;
            continue;
        }
        std::uint32_t repaired = at;
        std::size_t c = 0;
        for (; c < checkpoints; ++c) {
            const Unit* from = units + j * Chunk + c * kCheckpoint;
            for (std::size_t i = 0; i < kCheckpoint; ++i) repaired = rows[repaired + class_of(from[i])];
            if (repaired == memory.checkpoint[j][c]) break;
        }
        at = c < checkpoints ? walked : repaired;
    }
    return at;
}

// Whole blocks while they last, longest first: `walk_block` walks the block
// of kChunks chunks of Chunk units from `done` on and returns where it ends.
template <class WalkBlock>
void staged_blocks(std::size_t length, std::size_t& done, std::uint32_t& at, WalkBlock&& walk_block) noexcept {
    auto blocks = [&]<std::size_t Chunk>() {
        constexpr std::size_t block = kChunks * Chunk;
        for (; at != 0 && length - done >= block; done += block) at = walk_block.template operator()<Chunk>();
    };
    blocks.template operator()<kLongStagedChunk>();
    blocks.template operator()<kShortStagedChunk>();
    blocks.template operator()<kShortestStagedChunk>();
}

// Blocks are read in one of four ways, the fastest this processor and
// alphabet allow: translated to span columns (one subtraction and one
// minimum a vector) and walked over the span rows; translated to nibble
// columns (a few shuffles by high and low nibble) and walked over the
// nibble rows; translated to classes by vector; or read as they are, each
// unit's class looked up on the chain.
template <class Unit, class Cell>
std::uint32_t staged_walk(const Cell* rows, const Tables& tables, const Unit* units, std::size_t length,
                          std::uint32_t state) noexcept {
    const ClassOf<Unit> class_of(tables);
    alignas(64) std::uint8_t translated[kChunks * kLongStagedChunk];
    StagedMemory memory;
    std::size_t done = 0;
    std::uint32_t at;
    // Over rows of their own columns, `width` a row; back to compact rows at the end.
    auto by_columns = [&](const std::uint16_t* column_rows, std::uint32_t width, auto translate) {
        at = state * width;
        staged_blocks(length, done, at, [&]<std::size_t Chunk>() {
            translate(tables, units + done, kChunks * Chunk, translated);
            return staged_block<Chunk>(column_rows, Translated{}, translated, at, memory);
        });
        at = at / width * tables.classes;
    };
    if (tables.span_units >= sizeof(Unit) && translate_available()) {
        by_columns(tables.span_rows, tables.span_width, translate_span<Unit>);
    } else if (tables.nibble_units >= sizeof(Unit) && translate_available()) {
        by_columns(tables.nibble_rows, tables.nibble_width, translate_nibbles<Unit>);
    } else if (translates_by_vector<Unit>(tables)) {
        at = state * tables.classes;
        staged_blocks(length, done, at, [&]<std::size_t Chunk>() {
            translate_classes(tables, units + done, kChunks * Chunk, translated);
            return staged_block<Chunk>(rows, Translated{}, translated, at, memory);
        });
    } else {
        at = state * tables.classes;
        staged_blocks(length, done, at, [&]<std::size_t Chunk>() {
            return staged_block<Chunk>(rows, class_of, units + done, at, memory);
        });
    }
    if (at == 0) return 0;
    return chain(rows, class_of, units + done, length - done, at) / tables.classes;
}

}  // namespace

template <class Unit>
std::uint32_t rows(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return tables.rows16 ? rows_walk(tables.rows16, tables, units, length, state)
                         : rows_walk(tables.rows32, tables, units, length, state);
}

template <class Unit>
std::uint32_t speculative(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return tables.rows16 ? speculative_walk(tables.rows16, tables, units, length, state)
                         : speculative_walk(tables.rows32, tables, units, length, state);
}

template <class Unit>
std::uint32_t staged(const Tables& tables, const Unit* units, std::size_t length, std::uint32_t state) noexcept {
    return tables.rows16 ? staged_walk(tables.rows16, tables, units, length, state)
                         : staged_walk(tables.rows32, tables, units, length, state);
}

template std::uint32_t rows(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t rows(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t rows(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t speculative(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t speculative(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t speculative(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t staged(const Tables&, const std::uint8_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t staged(const Tables&, const std::uint16_t*, std::size_t, std::uint32_t) noexcept;
template std::uint32_t staged(const Tables&, const std::uint32_t*, std::size_t, std::uint32_t) noexcept;

}  // namespace morvane::walk::kernels

// Every walking kernel against the plain table walk.
//
// Random automata of every size class (up to 16 states, up to 64, larger),
// complete ones whose dead state only characters outside the alphabet reach
// and partial ones that die often, alphabets from ASCII to beyond the BMP;
// inputs in all three string widths, of every length around the kernels'
// block sizes, and live inputs made to die at every offset of the first
// blocks and around later block boundaries. Each kernel must end in exactly
// the row the plain walk ends in. A kernel this processor cannot run is
// reported as skipped.
//
// Wide inputs also die on lone surrogates, which no alphabet holds: every
// kernel must die on one wherever it stands, and the scan for them must
// agree with a plain loop, a surrogate at every offset of its vector blocks.
//
// Usage: morvane_kernel_tests [seed] [automata per class]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "automaton/walk/compiled_walk.hpp"
#include "automaton/walk/lone_surrogates.hpp"
#include "reference.hpp"

using morvane::walk::CompiledWalk;
using morvane::walk::Edge;
using morvane::walk::Ending;
using morvane::walk::Kernel;
using morvane::walk::testing::Automaton;

namespace {

using Rng = std::mt19937_64;

char32_t random_code_point(Rng& rng, char32_t below) {
    static const char32_t pool[] = {U'a', U'b', U'c', U'x', U'0', U'9', U'-', U'.', 0x00,    0x7F,   0xE9,
                                    0xFF, 0x100, 0x436, 0x4FF, 0x5D0, 0xFEF, 0xFFD, 0xFFFD, 0xFFFF, 0x1F600, 0x10FFFF};
    for (;;) {
        const char32_t c = rng() % 3 == 0 ? pool[rng() % std::size(pool)] : static_cast<char32_t>(rng() % 0x800);
        if (c < below && !(c >= 0xD800 && c < 0xE000)) return c;
    }
}

// `states` states; every (state, symbol) present with probability `density`;
// symbols drawn from few distinct behaviours when `alike`, so classes merge.
// The symbols are `chosen` ones, or random ones below `below`.
Automaton random_automaton(Rng& rng, std::uint32_t states, std::uint32_t symbols, double density, bool alike,
                           char32_t below, const std::vector<char32_t>& chosen = {}) {
    Automaton a;
    a.rows = states + 1;
    for (const char32_t c : chosen) {
        a.column_of[c] = 0;
        a.symbols.push_back(c);
    }
    while (a.symbols.size() <= symbols) {
        const char32_t c = random_code_point(rng, below);
        if (a.column_of.count(c)) continue;
        a.column_of[c] = 0;
        a.symbols.push_back(c);
    }
    std::sort(a.symbols.begin() + 1, a.symbols.end());
    for (std::uint32_t column = 1; column < a.columns(); ++column) a.column_of[a.symbols[column]] = column;
    a.cells.assign(std::size_t{a.rows} * a.columns(), 0);
    const std::uint32_t behaviours = alike ? 1 + static_cast<std::uint32_t>(rng() % 4) : a.columns();
    std::uniform_real_distribution<double> coin(0, 1);
    for (std::uint32_t row = 1; row < a.rows; ++row)
        for (std::uint32_t column = 1; column < a.columns(); ++column) {
            const std::uint32_t behaviour = column % behaviours;
            if (alike && behaviour != column && column > behaviour && behaviour > 0) {
                a.cells[row * a.columns() + column] = a.cells[row * a.columns() + behaviour];
            } else if (coin(rng) < density) {
                a.cells[row * a.columns() + column] = 1 + static_cast<std::uint32_t>(rng() % states);
            }
        }
    a.collect_edges();
    std::shuffle(a.edges.begin(), a.edges.end(), rng);
    a.initial_row = 1 + static_cast<std::uint32_t>(rng() % states);
    a.final_rows.assign(a.rows, 0);
    for (std::uint32_t row = 1; row < a.rows; ++row) a.final_rows[row] = rng() % 2;
    return a;
}

// A live input: each character one that has a transition from where the
// walk is, as long as there is one; random characters otherwise.
std::vector<char32_t> live_input(Rng& rng, const Automaton& a, std::size_t length, char32_t below) {
    std::vector<char32_t> input;
    input.reserve(length);
    std::uint32_t row = a.initial_row;
    while (input.size() < length) {
        char32_t c = random_code_point(rng, below);
        for (int attempt = 0; attempt < 8 && row != 0; ++attempt) {
            const std::uint32_t column = 1 + static_cast<std::uint32_t>(rng() % (a.columns() - 1));
            if (a.cells[std::size_t{row} * a.columns() + column] != 0) {
                c = a.symbols[column];
                break;
            }
        }
        input.push_back(c);
        if (row != 0) row = a.cells[std::size_t{row} * a.columns() + a.column(c)];
    }
    return input;
}

// A character with no transition from any state: outside the alphabet.
char32_t outside(Rng& rng, const Automaton& a, char32_t below) {
    for (;;) {
        const char32_t c = random_code_point(rng, below);
        if (a.column(c) == 0) return c;
    }
}

struct Tally {
    std::size_t passed = 0, failed = 0;
};

bool is_surrogate(char32_t c) { return c >= 0xD800 && c < 0xE000; }

template <class Unit>
bool plain_scan(const std::vector<Unit>& units) {
    return std::any_of(units.begin(), units.end(), [](Unit unit) { return is_surrogate(unit); });
}

// The scan against a plain loop: lengths around its blocks (four vectors a
// step, then single vectors, then single units), each of the surrogates'
// edges and their neighbours at every offset, over a background of
// characters that only differ from a surrogate in the bits the scan masks.
template <class Unit>
void check_surrogate_scan(Rng& rng, Tally& tally) {
    const std::vector<char32_t> probes = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD7FF, 0xE000, 0xF800, 0x5800};
    std::vector<char32_t> background = {0x0061, 0xD7FF, 0xE000, 0xF7FF, 0x00D8, 0x0800};
    if (sizeof(Unit) == 4) background.insert(background.end(), {0x1D800, 0x10D800, 0x1DFFF});
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 160; ++length) lengths.push_back(length);
    for (const std::size_t length : {255, 256, 257, 1000, 4099}) lengths.push_back(length);
    for (const std::size_t length : lengths) {
        std::vector<Unit> units(length);
        for (auto& unit : units) unit = static_cast<Unit>(background[rng() % background.size()]);
        for (std::size_t at = 0; at < length; ++at) {
            const Unit kept = units[at];
            for (const char32_t probe : probes) {
                units[at] = static_cast<Unit>(probe);
                const bool got = morvane::walk::holds_lone_surrogate(units.data(), units.size(), sizeof(Unit));
                if (got == plain_scan(units)) {
                    ++tally.passed;
                } else if (++tally.failed <= 20) {
                    std::printf("FAIL surrogate scan, %zu-byte units, length %zu, U+%04X at %zu: %d\n", sizeof(Unit),
                                length, static_cast<unsigned>(probe), at, got);
                }
            }
            units[at] = kept;
        }
    }
}

template <class Unit>
void check_width(const Automaton& a, const CompiledWalk& walk, const std::vector<std::vector<char32_t>>& inputs,
                 const char* label, Tally& tally) {
    std::vector<Unit> units;
    for (const auto& input : inputs) {
        units.assign(input.begin(), input.end());
        const std::uint32_t expected = a.walk(input);
        const Ending expected_ending =
            expected == 0 ? Ending::died : a.final_rows[expected] ? Ending::accepted : Ending::rejected;
        if (sizeof(Unit) > 1 && morvane::walk::holds_lone_surrogate(units.data(), units.size(), sizeof(Unit)) !=
                                    plain_scan(units)) {
            if (++tally.failed <= 20) std::printf("FAIL %s surrogate scan, length %zu\n", label, units.size());
        }
        for (const Kernel kernel : morvane::walk::all_kernels) {
            if (!walk.fits(kernel) || !morvane::walk::kernel_runs_here(kernel)) continue;
            const std::uint32_t got = walk.end_row_with(kernel, units.data(), units.size(), sizeof(Unit));
            const Ending ending = walk.ending_with(kernel, units.data(), units.size(), sizeof(Unit));
            if (got == expected && ending == expected_ending) {
                ++tally.passed;
            } else if (++tally.failed <= 20) {
                std::printf("FAIL %s kernel %s, %u states, %zu-byte units, length %zu: row %u, expected %u\n", label,
                            morvane::walk::kernel_name(kernel), walk.states(), sizeof(Unit), input.size(), got,
                            expected);
            }
        }
    }
}

// The inputs in all three widths: as they are, then narrowed to what 2-byte
// strings hold (astral characters become U+FFFD), then to what 1-byte
// strings hold (the rest becomes U+00FF).
void check_widths(const Automaton& a, const CompiledWalk& walk, std::vector<std::vector<char32_t>>& inputs,
                  const char* label, Tally& tally) {
    check_width<std::uint32_t>(a, walk, inputs, label, tally);
    for (auto& input : inputs)
        for (auto& c : input)
            if (c >= 0x10000) c = 0xFFFD;
    check_width<std::uint16_t>(a, walk, inputs, label, tally);
    for (auto& input : inputs)
        for (auto& c : input)
            if (c >= 0x100) c = 0xFF;
    check_width<std::uint8_t>(a, walk, inputs, label, tally);
}

void check_automaton(Rng& rng, const Automaton& a, const char* label, char32_t below, Tally& tally,
                     std::size_t deaths) {
    const morvane::walk::Source source{a.rows, a.symbols, a.edges, a.initial_row, a.final_rows,
                                       a.cells.size() * 4};
    const auto walk = CompiledWalk::build(source);
    if (!walk) {
        std::printf("FAIL %s: the table did not compile\n", label);
        ++tally.failed;
        return;
    }
    std::vector<std::vector<char32_t>> inputs;
    // Lengths around every block size: 64 (dead checks), 4 x 8 .. 4 x 128 and
    // 8 x 8 .. 8 x 128 (vector blocks), 8 x 512 (speculative blocks), 8 x 64,
    // 8 x 256 and 8 x 2048 (staged blocks).
    for (std::size_t length = 0; length < 70; ++length) inputs.push_back(live_input(rng, a, length, below));
    for (const std::size_t length : {127, 128, 129, 511, 512, 513, 1023, 1024, 1025, 1500, 2047, 2048, 2049, 4095,
                                     4096, 4097, 8192, 8193, 12345, 16383, 16384, 16385, 18433})
        inputs.push_back(live_input(rng, a, length, below));
    for (int i = 0; i < 6; ++i) {
        std::vector<char32_t> noise(rng() % 3000);
        for (auto& c : noise) c = rng() % 2 ? random_code_point(rng, below) : a.symbols[1 + rng() % (a.columns() - 1)];
        inputs.push_back(std::move(noise));
    }
    // Deaths: at every offset of the first blocks, then around later boundaries.
    const std::vector<char32_t> live = live_input(rng, a, 9000, below);
    std::vector<std::size_t> offsets;
    for (std::size_t at = 0; at < deaths; ++at) offsets.push_back(at);
    for (const std::size_t boundary : {2048, 4096, 8192})
        for (std::size_t at = boundary - 40; at < boundary + 40; ++at) offsets.push_back(at);
    for (const std::size_t at : offsets) {
        std::vector<char32_t> dying(live);
        dying[at] = outside(rng, a, below);
        inputs.push_back(std::move(dying));
    }
    // Across the first long staged block's chunks and its end.
    const std::vector<char32_t> long_live = live_input(rng, a, 16384 + 2100, below);
    for (const std::size_t boundary : {14336, 16384})
        for (std::size_t at = boundary - 70; at < boundary + 70; at += 5) {
            std::vector<char32_t> dying(long_live);
            dying[at] = outside(rng, a, below);
            inputs.push_back(std::move(dying));
        }
    // Lone surrogates, which only wide strings hold (narrowed below, they
    // become U+00FF), at every offset of the first blocks and around later
    // boundaries; a few behind an earlier death as well.
    for (std::size_t i = 0; i < offsets.size(); i += 2) {
        std::vector<char32_t> dying(live);
        dying[offsets[i]] = 0xD800 + static_cast<char32_t>(rng() % 0x800);
        if (i % 16 == 0 && offsets[i] > 0) dying[rng() % offsets[i]] = outside(rng, a, below);
        inputs.push_back(std::move(dying));
    }
    check_widths(a, *walk, inputs, label, tally);
}

// Alphabets at the edges of the vector translation's rows (a row's key is a
// code point >> 4; 2-byte units compare keys as bytes while every key is
// below 0xFF), each walked with units whose keys saturate onto, or only
// differ in high bits from, an alphabet member's.
void check_row_edges(Rng& rng, Tally& tally) {
    const std::vector<std::vector<char32_t>> alphabets = {
        {U'a', 0xFEF}, {U'a', 0xFFD}, {0xFF0, 0xFFF}, {U'a', 0x100D}, {0xFFD, 0xFFFD}, {U'b', 0xFFFD}, {0xD, 0xFD}};
    const char32_t probes[] = {0xFED, 0xFEF, 0xFF0, 0xFFD, 0xFFF, 0x1000, 0x100D, 0x1FFD, 0xFF0D,
                               0xFFFD, 0xFFFF, 0xD80D, 0xDFFD, 0x10D, 0xEFD, 0x1FD};
    for (const auto& members : alphabets) {
        Automaton a;
        a.rows = 3;
        a.symbols.insert(a.symbols.end(), members.begin(), members.end());
        for (std::uint32_t column = 1; column < a.columns(); ++column) a.column_of[a.symbols[column]] = column;
        a.cells.assign(std::size_t{a.rows} * a.columns(), 0);
        for (std::uint32_t column = 1; column < a.columns(); ++column) {
            a.cells[1 * a.columns() + column] = column % 2 ? 2 : 1;
            a.cells[2 * a.columns() + column] = column % 2 ? 1 : 2;
        }
        a.collect_edges();
        a.final_rows = {0, 1, 0};
        const auto walk = CompiledWalk::build({a.rows, a.symbols, a.edges, a.initial_row, a.final_rows, 64});
        std::vector<std::vector<char32_t>> inputs;
        const std::vector<char32_t> live = live_input(rng, a, 1100, 0x10000);
        for (const char32_t probe : probes)
            for (const std::size_t at : {0, 1, 31, 32, 63, 200, 1023, 1099}) {
                std::vector<char32_t> input(live);
                input[at] = probe;
                inputs.push_back(std::move(input));
            }
        check_width<std::uint16_t>(a, *walk, inputs, "row edges", tally);
        check_width<std::uint32_t>(a, *walk, inputs, "row edges", tally);
    }
}

// Alphabets of few rows of 16 code points, often at different low nibbles
// so that rows share a vector row, sometimes not; byte keys, wide keys and
// keys past 0xFF. The inputs carry near misses: a member's low nibble under
// another row's key (a member there or not), or a key that saturates.
void check_shared_rows(Rng& rng, Tally& tally, int count) {
    const std::uint16_t keys_pool[] = {0x0, 0x2, 0x3, 0x6, 0x7, 0xE, 0xF, 0x10, 0x43, 0x44, 0x7F,
                                       0xFE, 0xFF, 0x100, 0xFFF, 0x5D};
    for (int n = 0; n < count; ++n) {
        std::vector<std::uint16_t> keys;
        const std::size_t rows = 1 + rng() % 8;
        while (keys.size() < rows) {
            const std::uint16_t key = keys_pool[rng() % (n % 2 ? 8 : std::size(keys_pool))];
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
        }
        // Disjoint low nibbles for most alphabets, shared ones for some.
        std::vector<std::uint32_t> places(16);
        for (std::uint32_t place = 0; place < 16; ++place) places[place] = place;
        std::shuffle(places.begin(), places.end(), rng);
        Automaton a;
        std::size_t next_place = 0;
        for (const std::uint16_t key : keys) {
            const std::size_t members = 1 + rng() % 2;
            for (std::size_t m = 0; m < members && a.symbols.size() < 16; ++m) {
                const std::uint32_t place = n % 4 == 3 ? places[rng() % 16] : places[next_place++ % 16];
                const char32_t c = (char32_t{key} << 4) | place;
                if (a.column_of.count(c) == 0) {
                    a.column_of[c] = 0;
                    a.symbols.push_back(c);
                }
            }
        }
        std::sort(a.symbols.begin() + 1, a.symbols.end());
        for (std::uint32_t column = 1; column < a.columns(); ++column) a.column_of[a.symbols[column]] = column;
        const std::uint32_t states = 2 + static_cast<std::uint32_t>(rng() % 14);
        a.rows = states + 1;
        a.cells.assign(std::size_t{a.rows} * a.columns(), 0);
        for (std::uint32_t row = 1; row < a.rows; ++row)
            for (std::uint32_t column = 1; column < a.columns(); ++column)
                if (n % 3 != 0 || rng() % 8 != 0)
                    a.cells[row * a.columns() + column] = 1 + static_cast<std::uint32_t>(rng() % states);
        a.collect_edges();
        a.final_rows.assign(a.rows, 0);
        for (std::uint32_t row = 1; row < a.rows; ++row) a.final_rows[row] = rng() % 2;
        const auto walk = CompiledWalk::build({a.rows, a.symbols, a.edges, a.initial_row, a.final_rows, 64});
        if (!walk) {
            std::printf("FAIL shared rows: the table did not compile\n");
            ++tally.failed;
            continue;
        }
        std::vector<char32_t> probes = {0xFF, 0xFF0, 0xFFF, 0x1000, 0xFFFF};
        for (std::size_t i = 1; i < a.symbols.size(); ++i)
            for (const std::uint16_t key : keys) probes.push_back((char32_t{key} << 4) | (a.symbols[i] & 15));
        std::vector<std::vector<char32_t>> inputs;
        for (const std::size_t length : {64, 255, 256, 1100, 3000}) {
            const std::vector<char32_t> live = live_input(rng, a, length, 0x10000);
            inputs.push_back(live);
            for (int i = 0; i < 12; ++i) {
                std::vector<char32_t> input(live);
                input[rng() % length] = probes[rng() % probes.size()];
                inputs.push_back(std::move(input));
            }
        }
        check_widths(a, *walk, inputs, "shared rows", tally);
    }
}

// Alphabets whose members below U+0100 fill much of a short window, which
// walks may translate by subtraction alone, sometimes with wider members
// too: inputs die on the code points just outside the window and on those
// that wrap around onto it, at block boundaries and inside blocks.
void check_windows(Rng& rng, Tally& tally, int count) {
    for (int n = 0; n < count; ++n) {
        const std::uint32_t states = 16 + static_cast<std::uint32_t>(rng() % 48);
        const char32_t width = 2 + static_cast<char32_t>(rng() % (n % 3 == 0 ? 250 : 40));
        const char32_t low = static_cast<char32_t>(rng() % (257 - width));
        std::vector<char32_t> members;
        for (char32_t c = low; c < low + width; ++c)
            if (c == low || c == low + width - 1 || rng() % 4 != 0) members.push_back(c);
        const char32_t below = n % 2 == 0 ? 0x100 : 0x10000;
        if (n % 4 == 1) members.push_back(0x100 + static_cast<char32_t>(rng() % 0x2000));
        if (n % 4 == 3) members.push_back(0x1F600);
        const double density = n % 2 == 0 ? 1.0 : 0.9;
        const Automaton a = random_automaton(rng, states, static_cast<std::uint32_t>(members.size()), density,
                                             n % 5 == 4, below, members);
        check_automaton(rng, a, "window", below, tally, 64);
        const auto walk = CompiledWalk::build({a.rows, a.symbols, a.edges, a.initial_row, a.final_rows,
                                               a.cells.size() * 4});
        std::vector<char32_t> probes = {low + width, 0, 0xFF, 0xD800, 0xFFFF};
        if (low > 0) probes.push_back(low - 1);
        for (const char32_t wrap : {0x100, 0x10000, 0x1000})
            if (low + wrap < below) probes.push_back(low + wrap);
        std::shuffle(probes.begin(), probes.end(), rng);
        probes.resize(std::min<std::size_t>(probes.size(), 24));
        std::vector<std::vector<char32_t>> inputs;
        const std::vector<char32_t> live = live_input(rng, a, 16384 + 600, below);
        for (const char32_t probe : probes)
            for (const std::size_t at : {0, 31, 32, 511, 512, 2047, 2048, 5000, 16383, 16384, 16900}) {
                if (probe >= below || a.column(probe) != 0) continue;
                std::vector<char32_t> input(live);
                input[at] = probe;
                inputs.push_back(std::move(input));
            }
        check_width<std::uint32_t>(a, *walk, inputs, "window", tally);
        if (below <= 0x10000) check_width<std::uint16_t>(a, *walk, inputs, "window", tally);
        if (below <= 0x100) check_width<std::uint8_t>(a, *walk, inputs, "window", tally);
    }
}

// Alphabets spread over 6 to 16 rows of 16 code points below U+0100, more
// than vector compares translate quickly: their members at one low nibble, along a
// diagonal, or anywhere, sometimes with members beyond U+00FF. Inputs die on
// near misses (a member's low nibble in another row, its row at another
// nibble, its low byte in a wider unit, its byte shifted into a wider
// unit's row key) in the first blocks and the last; narrowed, they become
// U+00FF or U+FFFD.
void check_spread_rows(Rng& rng, Tally& tally, int count) {
    for (int n = 0; n < count; ++n) {
        const std::uint32_t rows = 6 + static_cast<std::uint32_t>(rng() % 11);
        std::vector<std::uint32_t> keys(16);
        for (std::uint32_t key = 0; key < 16; ++key) keys[key] = key;
        std::shuffle(keys.begin(), keys.end(), rng);
        keys.resize(rows);
        const std::uint32_t nibble = static_cast<std::uint32_t>(rng() % 16);
        std::vector<char32_t> members;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::size_t in_row = n % 3 == 2 ? 1 + rng() % 4 : 1;
            for (std::size_t m = 0; m < in_row; ++m) {
                const std::uint32_t place = n % 3 == 0 ? nibble : n % 3 == 1 ? (nibble + i) % 16 : rng() % 16;
                const char32_t c = (keys[i] << 4) | place;
                if (std::find(members.begin(), members.end(), c) == members.end()) members.push_back(c);
            }
        }
        const char32_t below = n % 2 == 0 ? 0x100 : 0x10000;
        if (n % 4 == 1) members.push_back(0x100 + static_cast<char32_t>(rng() % 0x2000));
        if (n % 4 == 3) members.push_back(0x1F600);
        const std::uint32_t states = 16 + static_cast<std::uint32_t>(rng() % 48);
        const double density = n % 2 == 0 ? 1.0 : 0.9;
        const Automaton a = random_automaton(rng, states, static_cast<std::uint32_t>(members.size()), density,
                                             n % 5 == 4, below, members);
        if (n < 2) check_automaton(rng, a, "spread rows", below, tally, 64);
        const auto walk = CompiledWalk::build({a.rows, a.symbols, a.edges, a.initial_row, a.final_rows,
                                               a.cells.size() * 4});
        std::vector<char32_t> probes = {0, 0xFF, 0x100, 0xFFF, 0xFFFF};
        for (const char32_t member : members) {
            if (member > 0xFF) continue;
            probes.push_back(member ^ 0x80);
            probes.push_back(member ^ 0x10);
            probes.push_back((member & 0xF0) | ((member + 1) & 15));
            for (const char32_t high : {0x100, 0x1000, 0x8000, 0xFF00}) probes.push_back(high | member);
            probes.push_back(member << 4);
        }
        std::shuffle(probes.begin(), probes.end(), rng);
        probes.resize(std::min<std::size_t>(probes.size(), 24));
        std::vector<std::vector<char32_t>> inputs;
        const std::vector<char32_t> live = live_input(rng, a, 16384 + 600, below);
        for (const std::size_t length : {512, 513, 1000, 2048 + 33, 16384, 16984})
            inputs.emplace_back(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(length));
        for (const char32_t probe : probes) {
            if (is_surrogate(probe) || a.column(probe) != 0) continue;
            for (const std::size_t at : {rng() % 2048, 16384 + rng() % 600}) {
                std::vector<char32_t> input(live);
                input[at] = probe;
                inputs.push_back(std::move(input));
            }
        }
        check_widths(a, *walk, inputs, "spread rows", tally);
    }
}

// Small automata over 17 to 31 letters and digits, most of them classes of
// their own: the pair walk's largest tables, translated by vector rows.
void check_many_classes(Rng& rng, Tally& tally, int count) {
    for (int n = 0; n < count; ++n) {
        std::vector<char32_t> members;
        for (char32_t c = U'0'; c <= U'z'; ++c) members.push_back(c);
        std::shuffle(members.begin(), members.end(), rng);
        members.resize(17 + rng() % 15);
        const char32_t below = n % 2 == 0 ? 0x100 : 0x10000;
        const std::uint32_t states = 1 + static_cast<std::uint32_t>(rng() % 15);
        const Automaton a = random_automaton(rng, states, static_cast<std::uint32_t>(members.size()),
                                             n % 3 == 0 ? 1.0 : 0.9, false, below, members);
        check_automaton(rng, a, "many classes", below, tally, 200);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const int per_class = argc > 2 ? std::atoi(argv[2]) : 6;
    Rng rng(seed);
    for (const Kernel kernel : morvane::walk::all_kernels)
        if (!morvane::walk::kernel_runs_here(kernel))
            std::printf("skipped: kernel %s (this processor lacks its instructions)\n",
                        morvane::walk::kernel_name(kernel));
    Tally tally;
    check_surrogate_scan<std::uint16_t>(rng, tally);
    check_surrogate_scan<std::uint32_t>(rng, tally);
    check_row_edges(rng, tally);
    check_shared_rows(rng, tally, 20 * per_class);
    check_windows(rng, tally, per_class);
    check_spread_rows(rng, tally, per_class);
    check_many_classes(rng, tally, (per_class + 1) / 2);
    struct SizeClass {
        const char* label;
        std::uint32_t lowest, highest;
    };
    for (const SizeClass size : {SizeClass{"1-16 states", 1, 15}, SizeClass{"17-64 states", 16, 63},
                                 SizeClass{"65+ states", 64, 4000}}) {
        for (int n = 0; n < per_class; ++n) {
            const std::uint32_t states = size.lowest + static_cast<std::uint32_t>(rng() % (size.highest - size.lowest + 1));
            const std::uint32_t symbols = 1 + static_cast<std::uint32_t>(rng() % 30);
            // Alternate complete automata (the dead state unreachable from
            // inside the alphabet) with partial ones, and vary the widest
            // code point in the alphabet.
            const double density = n % 2 == 0 ? 1.0 : 0.7 + 0.3 * std::uniform_real_distribution<double>(0, 1)(rng);
            const char32_t below = n % 3 == 0 ? 0x100 : n % 3 == 1 ? 0x10000 : 0x110000;
            const Automaton a = random_automaton(rng, states, symbols, density, n % 4 >= 2, below);
            check_automaton(rng, a, size.label, below, tally, n < 2 ? 1100 : 300);
        }
    }
    std::printf("%zu passed, %zu failed\n", tally.passed, tally.failed);
    return tally.failed == 0 ? 0 : 1;
}

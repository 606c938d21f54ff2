// Every walking kernel on random automata, timed in turns within one run.
//
// Each automaton is complete over its alphabet, its input one random
// alphabet character after another (one-byte units unless asked), so every
// kernel walks the whole input. Before timing, every kernel must end where
// the plain walk ends. Then the kernels take turns, one walk each per round,
// timed by this thread's CPU clock; the figures are medians over the rounds,
// in ns per character, with ratios to `rows` (one chain over compact rows),
// to `speculative` and to a plain dense loop (int32 cells, one row of 256
// per state). Ratios above 1: faster than that reference.
//
// With MORVANE_SPEED_COLD set, the input is put out of cache before every
// walk (its lines flushed; without x86's flush, 64 MB read in between): a
// walk then also shows how well it hides the wait for memory.
//
// Usage: morvane_kernel_speed [length] [rounds] [unit bytes: 1, 2 or 4] [kernel]
// (with a kernel's name, only that kernel is timed: for profiling it)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "automaton/walk/compiled_walk.hpp"
#include "../../tests/kernels/reference.hpp"

using morvane::walk::CompiledWalk;
using morvane::walk::Kernel;
using morvane::walk::testing::Automaton;

namespace {

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void put_out_of_cache(const void* data, std::size_t bytes) {
#if defined(__x86_64__)
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    for (std::uintptr_t line = start & ~std::uintptr_t{63}; line < start + bytes; line += 64)
        _mm_clflush(reinterpret_cast<const void*>(line));
    _mm_mfence();
#else
    (void)data, (void)bytes;
    static const std::vector<char> elsewhere(std::size_t{64} << 20, 1);
    long sum = 0;
    for (std::size_t at = 0; at < elsewhere.size(); at += 64) sum += elsewhere[at];
    static volatile long sink;
    sink = sum;
#endif
}

struct Case {
    std::string name;
    std::uint32_t states;
    std::u32string alphabet;
    bool permutations = false;  // each symbol a permutation of the states
};

Automaton random_total(std::mt19937_64& rng, const Case& c) {
    Automaton a;
    a.rows = c.states + 1;
    std::u32string sorted = c.alphabet;
    std::sort(sorted.begin(), sorted.end());
    for (const char32_t symbol : sorted) {
        a.column_of[symbol] = a.columns();
        a.symbols.push_back(symbol);
    }
    a.cells.assign(std::size_t{a.rows} * a.columns(), 0);
    std::vector<std::uint32_t> image(c.states);
    for (std::uint32_t column = 1; column < a.columns(); ++column) {
        for (std::uint32_t row = 0; row < c.states; ++row)
            image[row] = c.permutations ? row + 1 : 1 + static_cast<std::uint32_t>(rng() % c.states);
        if (c.permutations) std::shuffle(image.begin(), image.end(), rng);
        for (std::uint32_t row = 1; row < a.rows; ++row) a.cells[std::size_t{row} * a.columns() + column] = image[row - 1];
    }
    a.collect_edges();
    a.final_rows.assign(a.rows, 0);
    for (std::uint32_t row = 1; row < a.rows; ++row) a.final_rows[row] = rng() % 2;
    return a;
}

// The floor: one chain of loads through a dense table, a row of 256 cells
// per state, no classes.
struct Dense {
    std::vector<std::int32_t> cells;  // target row * 256, -1 when absent
    std::int32_t initial;
    explicit Dense(const Automaton& a) : cells(std::size_t{a.rows} * 256, -1), initial(static_cast<std::int32_t>(a.initial_row * 256)) {
        for (std::uint32_t row = 1; row < a.rows; ++row)
            for (std::uint32_t column = 1; column < a.columns(); ++column)
                if (a.symbols[column] < 256)
                    cells[row * 256 + a.symbols[column]] =
                        static_cast<std::int32_t>(a.cells[std::size_t{row} * a.columns() + column] * 256);
    }
    template <class Unit>
    std::uint32_t walk(const std::vector<Unit>& units) const {
        std::int32_t at = initial;
        for (const Unit unit : units) {
            if (unit > 0xFF) return 0;
            at = cells[static_cast<std::uint32_t>(at) + unit];
            if (at < 0) return 0;
        }
        return static_cast<std::uint32_t>(at) / 256;
    }
};

template <class Unit>
int run(std::size_t length, int rounds, const std::string& only) {
    const std::u32string letters = U"abcdefghijklmnopqrstuvwxyz";
    const std::vector<Case> cases = {
        {"2 states, a b", 2, U"ab"},
        {"12 states, a-z", 12, letters},
        {"(B) 50 states, a-z", 50, letters},
        {"20 states, a-z", 20, letters},
        {"63 states, a-z", 63, letters},
        {"33 states, 0-9 a-z A-Z", 33, U"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"40 states, 6 symbols over Latin-1", 40, U"a0 .\u00e9\u00ff"},
        {"40 states, 12 symbols each in its own row of Latin-1", 40, U"!1AQaq\u0081\u0091\u00a1\u00b1\u00c1\u00d1"},
        {"(d) 1,000 states, a-z", 1000, letters},
        {"40 states, a-z permuting the states (walks never meet)", 40, letters, true},
    };
    std::mt19937_64 rng(20260);
    int failures = 0;
    for (const Case& c : cases) {
        const Automaton a = random_total(rng, c);
        const auto walk = CompiledWalk::build({a.rows, a.symbols, a.edges, a.initial_row, a.final_rows,
                                               a.cells.size() * 4});
        if (!walk) {
            std::printf("%s: did not compile\n", c.name.c_str());
            return 1;
        }
        std::vector<char32_t> text(length);
        for (auto& ch : text) ch = c.alphabet[rng() % c.alphabet.size()];
        const std::vector<Unit> units(text.begin(), text.end());
        const std::uint32_t expected = a.walk(text);
        const Dense dense(a);
        std::vector<Kernel> kernels;
        for (const Kernel kernel : morvane::walk::all_kernels)
            if (walk->fits(kernel) && morvane::walk::kernel_runs_here(kernel)) {
                if (walk->end_row_with(kernel, units.data(), units.size(), sizeof(Unit)) != expected) {
                    std::printf("FAIL %s: kernel %s disagrees with the plain walk\n", c.name.c_str(),
                                morvane::walk::kernel_name(kernel));
                    ++failures;
                    continue;
                }
                if (only.empty() || only == morvane::walk::kernel_name(kernel)) kernels.push_back(kernel);
            }
        if (dense.walk(units) != expected) {
            std::printf("FAIL %s: the dense loop disagrees with the plain walk\n", c.name.c_str());
            ++failures;
        }
        std::vector<std::vector<double>> times(kernels.size() + 1);
        volatile std::uint32_t sink = 0;
        static const bool cold = std::getenv("MORVANE_SPEED_COLD") != nullptr;
        auto prepare = [&] {
            if (cold) put_out_of_cache(units.data(), units.size() * sizeof(Unit));
        };
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t k = 0; k < kernels.size(); ++k) {
                prepare();
                const double start = cpu_seconds();
                sink = walk->end_row_with(kernels[k], units.data(), units.size(), sizeof(Unit));
                times[k].push_back(cpu_seconds() - start);
            }
            prepare();
            const double start = cpu_seconds();
            sink = dense.walk(units);
            times.back().push_back(cpu_seconds() - start);
        }
        (void)sink;
        // The median, or with MORVANE_SPEED_MIN set the fastest round: on a
        // shared machine, the one least disturbed.
        static const bool fastest = std::getenv("MORVANE_SPEED_MIN") != nullptr;
        auto median_ns = [&](std::vector<double>& t) {
            std::sort(t.begin(), t.end());
            return t[fastest ? 0 : t.size() / 2] * 1e9 / static_cast<double>(length);
        };
        std::vector<double> ns(times.size());
        for (std::size_t k = 0; k < times.size(); ++k) ns[k] = median_ns(times[k]);
        double rows_ns = ns.back(), speculative_ns = ns.back();
        for (std::size_t k = 0; k < kernels.size(); ++k) {
            if (kernels[k] == Kernel::rows) rows_ns = ns[k];
            if (kernels[k] == Kernel::speculative) speculative_ns = ns[k];
        }
        std::printf("%s (%u states, %u classes, chosen %s, %zu-byte units%s)\n", c.name.c_str(), walk->states(),
                    walk->classes(), morvane::walk::kernel_name(walk->chosen()), sizeof(Unit),
                    cold ? ", out of cache" : "");
        for (std::size_t k = 0; k <= kernels.size(); ++k)
            std::printf("  %-14s %6.3f ns/char  %5.2fx rows  %5.2fx speculative  %5.2fx dense\n",
                        k < kernels.size() ? morvane::walk::kernel_name(kernels[k]) : "dense loop", ns[k],
                        rows_ns / ns[k], speculative_ns / ns[k], ns.back() / ns[k]);
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t length = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
    const int unit = argc > 3 ? std::atoi(argv[3]) : 1;
    const std::string only = argc > 4 ? argv[4] : "";
    if (unit == 2) return run<std::uint16_t>(length, rounds, only);
    if (unit == 4) return run<std::uint32_t>(length, rounds, only);
    return run<std::uint8_t>(length, rounds, only);
}

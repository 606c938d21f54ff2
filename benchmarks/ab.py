"""Two builds of morvane side by side in one run: is the newer one slower?

    python benchmarks/ab.py [--base REV] [--head REV] [--rounds N] [--figures]

Each revision is built from `git archive` into build/ab/<commit>-<python>/
(HEAD "." stands for the working tree, built into build/ab/worktree-<python>/),
one build per revision and interpreter. Both extension
modules are loaded into this one process and each hot-path case is timed on
the two in alternation, round after round, so that both meet the same load
on a shared machine. Printed per case: the best time per call of each build
over the rounds, their ratio head/base, and the median and quartiles of the
per-round ratios.

--figures adds the hardening figures, each measured in a fresh process per
build so that peak memory is its own: simulate and accept of a 100M-character
input that fails at its first character, and the queries after two million
transitions were added and all but five removed.
"""

import argparse
import importlib.machinery
import json
import os
import resource
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time
import timeit
from pathlib import Path
from standalone import load_extension

ROOT = Path(__file__).resolve().parent.parent
AB = ROOT / "build" / "ab"
EXTENSION = "morvane" + importlib.machinery.EXTENSION_SUFFIXES[0]  # this interpreter's own suffix


# ---- builds --------------------------------------------------------------------
def build(revision):
    """The extension file built from `revision` ("." is the working tree) for
    this interpreter."""
    python = sys.implementation.cache_tag  # e.g. cpython-313: a build serves one interpreter
    if revision == ".":
        source, target = ROOT, AB / f"worktree-{python}"
    else:
        commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", revision], check=True, capture_output=True,
                                text=True).stdout.strip()
        target = AB / f"{commit[:12]}-{python}"
        if found := sorted(target.glob(EXTENSION)):
            return found[0]
        source = Path(tempfile.mkdtemp(prefix="morvane-ab-"))
        archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit], check=True, capture_output=True).stdout
        with tarfile.open(fileobj=__import__("io").BytesIO(archive)) as tar:
            tar.extractall(source, filter="data")
    print(f"== building {revision} into {target.relative_to(ROOT)}", file=sys.stderr)
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check", "--no-build-isolation",
                    "--no-deps", "--upgrade", "--target", str(target), str(source)], check=True)
    return sorted(target.glob(EXTENSION))[0]


# ---- hot-path cases: (name, statement, setup(Morvane) -> namespace) ------------
def small(Morvane):
    m = Morvane({"q0", "q1", "q2"}, {"a", "b"}, "q0", {"q2"})
    m.add_transition("q0", "a", "q1")
    m.add_transition("q1", "b", "q2")
    m.add_transition("q1", "a", "q1")
    m.add_transition("q2", "a", "q1")
    return m


CASES = [
    ("step", "step('a')", lambda M: {"step": small(M).step}),
    ("has_transition", "has('q1', 'b')", lambda M: {"has": small(M).has_transition}),
    ("accept, short input", "accept('aab')", lambda M: {"accept": small(M).accept}),
    ("simulate, short input", "simulate('aab')", lambda M: {"simulate": small(M).simulate}),
    ("current_state", "m.current_state", lambda M: {"m": small(M)}),
]


def time_cases(modules, rounds, number):
    names = list(modules)
    print(f"{'case (best of rounds)':<24}" + "".join(f"{name:>14}" for name in names)
          + f"{'ratio':>9}{'per-round ratios':>20}")
    for case, statement, setup in CASES:
        per_round = {name: [] for name in names}
        for round_index in range(rounds):
            order = names if round_index % 2 == 0 else names[::-1]
            for name in order:
                timer = timeit.Timer(statement, globals=setup(modules[name].Morvane))
                per_round[name].append(timer.timeit(number) / number)
        # On a shared machine the best round is the one least disturbed; the
        # per-round ratios (median and quartiles) show how far to trust it.
        ratios = sorted(h / b for b, h in zip(per_round[names[0]], per_round[names[1]]))
        best = [min(per_round[name]) for name in names]
        low, middle, high = (ratios[len(ratios) * k // 4] for k in (1, 2, 3))
        print(f"{case:<24}" + "".join(f"{b * 1e9:>11.1f} ns" for b in best)
              + f"{best[1] / best[0]:>9.3f}{f'{middle:.3f} ({low:.2f}..{high:.2f})':>20}")


# ---- figures, one process per build ----------------------------------------------
def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def median_time(call, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def figure_long_failing_input(Morvane, method):
    m = Morvane({"q"}, {"a", "b"}, "q", {"q"})
    m.add_transition("q", "a", "q")
    text = "b" + "a" * (100_000_000 - 1)
    before = peak_bytes()
    start = time.perf_counter()
    try:
        getattr(m, method)(text)
    except ValueError:
        pass
    return {"seconds": time.perf_counter() - start, "peak_growth_mib": (peak_bytes() - before) / 2**20}


def figure_churn(Morvane):
    states = [f"s{i}" for i in range(50_000)]
    symbols = [chr(0x100 + i) for i in range(1_000)]
    m = Morvane(set(states), set(symbols), states[0], set())
    before = resident_bytes()
    add = m.add_transition
    for state in states[:2_000]:
        for symbol in symbols:
            add(state, symbol, state)
    grown = resident_bytes() - before
    remove = m.remove_transition
    kept = {(states[0], symbols[0]), (states[0], symbols[1]), (states[7], symbols[3]), (states[9], symbols[9]),
            (states[1_999], symbols[999])}
    for state in states[:2_000]:
        for symbol in symbols:
            if (state, symbol) not in kept:
                remove(state, symbol)
    __import__("ctypes").CDLL(None).malloc_trim(0)  # count what is held, not what the allocator keeps for reuse
    return {"grown_mib": grown / 2**20, "left_mib": (resident_bytes() - before) / 2**20,
            "available_symbols_us": median_time(m.available_symbols, 201) * 1e6,
            "get_transitions_us": median_time(m.get_transitions, 201) * 1e6}


FIGURES = {
    "simulate, 100M characters failing at the first": lambda M: figure_long_failing_input(M, "simulate"),
    "accept, 100M characters failing at the first": lambda M: figure_long_failing_input(M, "accept"),
    "add 2M transitions, remove all but 5": figure_churn,
}


def run_figures(paths):
    for figure in FIGURES:
        print(f"-- {figure}")
        for name, path in paths.items():
            child = subprocess.run([sys.executable, __file__, "--child", str(path), figure], capture_output=True,
                                   text=True)
            result = json.loads(child.stdout) if child.returncode == 0 else {"failed": child.stderr.strip()[-200:]}
            print(f"   {name:<12} " + ", ".join(f"{key} {value:.3g}" if isinstance(value, float) else f"{key} {value}"
                                              for key, value in result.items()))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--base", default="HEAD~1")
    parser.add_argument("--head", default=".")
    parser.add_argument("--rounds", type=int, default=60)
    parser.add_argument("--number", type=int, default=20_000, help="calls per round and case")
    parser.add_argument("--figures", action="store_true")
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.child:
        path, figure = options.child
        print(json.dumps(FIGURES[figure](load_extension(path).Morvane)))
        return
    paths = {f"base {options.base}": build(options.base), f"head {options.head}": build(options.head)}
    modules = {name: load_extension(path) for name, path in paths.items()}
    print(f"Python {sys.version.split()[0]}, {options.rounds} rounds of {options.number} calls, alternating")
    time_cases(modules, options.rounds, options.number)
    if options.figures:
        run_figures(paths)


if __name__ == "__main__":
    main()

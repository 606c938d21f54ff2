"""Whole-table traffic through the public methods, two builds in one run.

    python benchmarks/bulk.py [--base REV] [--head REV] [--states N] [--rounds R]

A tool that reads or writes a whole automaton goes through the constructor,
one add_transition per transition and get_transitions. This measures those
per state and per transition on a random complete automaton (N states named
"s0".."s{N-1}", 26 letters), each build in a fresh process of its own so
that its peak memory is its own, the builds taking turns round after round:

- the constructor, per state;
- add_transition driven from native code (map over the argument columns,
  so no Python bytecode runs between calls), per call, the origin one str
  object per row and the targets random among the state names' objects;
- morvane_tools.from_table where the toolkit is installed, per transition:
  its native builder calls add_transition once per transition;
- get_transitions, per transition, and the peak memory it adds;
- the size of a small instance (3 states, 4 transitions), over 200,000,
  all over one alphabet or each over its own.

Builds are made as benchmarks/ab.py makes them ("." is the working tree).
"""

import argparse
import collections
import ctypes
import gc
import itertools
import json
import os
import random
import resource
import statistics
import subprocess
import sys
import time

from ab import build
from standalone import load_extension

LETTERS = "abcdefghijklmnopqrstuvwxyz"


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def per_unit(seconds, units):
    return seconds / units * 1e9


def measure(Morvane, states, tools=None):
    """One round in this process: every figure once; `tools` is the toolkit
    module working on this build, or None."""
    rng = random.Random(7)
    names = [f"s{i}" for i in range(states)]
    symbols = [str(letter) for letter in LETTERS]
    origins, columns, targets = [], [], []
    for name in names:
        for symbol in symbols:
            origins.append(name)
            columns.append(symbol)
            targets.append(names[rng.randrange(states)])
    transitions = len(origins)
    figures = {}

    arguments = (set(names), set(symbols), names[0], set(names[::3]))
    gc.collect()
    start = time.perf_counter()
    m = Morvane(*arguments)
    figures["constructor ns/state"] = per_unit(time.perf_counter() - start, states)
    del arguments

    add = Morvane.add_transition
    start = time.perf_counter()
    collections.deque(map(add, itertools.repeat(m, transitions), origins, columns, targets), maxlen=0)
    figures["add_transition ns/call"] = per_unit(time.perf_counter() - start, transitions)

    ctypes.CDLL(None).malloc_trim(0)
    gc.collect()
    resident = resident_bytes()
    peak = peak_bytes()
    start = time.perf_counter()
    result = m.get_transitions()
    figures["get_transitions ns/transition"] = per_unit(time.perf_counter() - start, transitions)
    # The peak so far may predate this call; growth past the larger of the two counts.
    figures["get_transitions peak MiB added"] = max(0, peak_bytes() - max(peak, resident)) / 2**20
    figures["get_transitions result MiB"] = (resident_bytes() - resident) / 2**20
    assert len(result) == transitions
    start = time.perf_counter()
    del result
    figures["result release ns/transition"] = per_unit(time.perf_counter() - start, transitions)
    if tools is not None:
        # The toolkit's native builder: one add_transition per transition from C.
        table = {}
        for origin, symbol, target in zip(origins, columns, targets):
            table.setdefault(origin, {})[symbol] = target
        gc.collect()
        start = time.perf_counter()
        built = tools.from_table(table, names[0], set(names[::3]))
        figures["from_table ns/transition"] = per_unit(time.perf_counter() - start, transitions)
        del built, table
    del m, origins, columns, targets

    # 3 states, 4 transitions over {"a", "b"}, or over an alphabet of each
    # instance's own (a third symbol tells them apart), so nothing is shared.
    count = 200_000
    for figure, alphabet in (("small instance bytes", lambda i: ("b", set())),
                             ("same, an alphabet of its own", lambda i: (chr(0x100 + i // 200), {chr(0x20 + i % 200)}))):
        ctypes.CDLL(None).malloc_trim(0)
        gc.collect()
        before = resident_bytes()
        small = []
        for i in range(count):
            b, extra = alphabet(i)
            s = Morvane({"q0", "q1", "q2"}, {"a", b} | extra, "q0", {"q2"})
            s.add_transition("q0", "a", "q1")
            s.add_transition("q1", b, "q2")
            s.add_transition("q1", "a", "q1")
            s.add_transition("q2", "a", "q1")
            small.append(s)
        # The list's own pointer per instance is not the instance's.
        figures[figure] = (resident_bytes() - before) / count - 8
        del small
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--base", default="main")
    parser.add_argument("--head", default=".")
    parser.add_argument("--states", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.child:
        path, states = options.child
        module = load_extension(path)
        sys.modules["morvane"] = module  # the toolkit, imported next, works on this build
        try:
            import morvane_tools as tools
        except ImportError:
            tools = None
        print(json.dumps(measure(module.Morvane, int(states), tools)))
        return
    paths = {f"base {options.base}": build(options.base), f"head {options.head}": build(options.head)}
    results = {name: [] for name in paths}
    for round_index in range(options.rounds):
        order = list(paths) if round_index % 2 == 0 else list(paths)[::-1]
        for name in order:
            child = subprocess.run([sys.executable, __file__, "--child", str(paths[name]), str(options.states)],
                                   capture_output=True, text=True, check=True)
            results[name].append(json.loads(child.stdout))
    names = list(paths)
    print(f"Python {sys.version.split()[0]}, {options.states} states x 26 symbols, "
          f"median of {options.rounds} rounds, one process per build and round")
    print(f"{'figure':<34}" + "".join(f"{name:>18}" for name in names) + f"{'ratio':>9}")
    for figure in results[names[0]][0]:
        medians = [statistics.median(run[figure] for run in results[name]) for name in names]
        ratio = f"{medians[1] / medians[0]:>9.3f}" if medians[0] else f"{'':>9}"
        print(f"{figure:<34}" + "".join(f"{value:>18.1f}" for value in medians) + ratio)


if __name__ == "__main__":
    main()

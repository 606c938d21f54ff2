#!/usr/bin/env python3
"""Benchmark of morvane_tools' tables and storage.

    python benchmarks/toolkit_io.py [--states N] [--rounds R]

One table of N states (default 100,000) x 26 symbols, every row total,
targets drawn at random (fixed seed). In each round the contenders take turns
on the same dict: morvane_tools.from_table, automata-lib's DFA constructor
(when automata-lib is installed; it checks the table as from_table does),
then to_table, dumps, loads and a pickle round trip of the built automaton.
Figures are medians of CPU time (time.process_time) over the rounds.

Most of this time is the class's own: one add_transition call per transition
to build, one get_transitions list to read. Each round therefore also times
the parts on their own: from_table's native walk of the dict (every check and
the constructor's sets, before the first add_transition: a last row whose
symbol lies outside the given alphabet makes it stop there), get_transitions
with freeing its list (what dumps asks of the class), and building the
instance from the dense table (what loads does after parsing and checking:
the constructor and add_transition calls, with names and sets made first).

Goals: from_table at least 10x faster than automata-lib's DFA; dumps + loads
under 2 s.
"""

from __future__ import annotations

import argparse
import pickle
import platform
import random
import statistics
import string
import sys

import morvane_tools
from morvane import Morvane
from morvane_tools import _dfa, _native
from morvane_tools._common import gc_paused
from standalone import cpu

try:
    from automata.fa.dfa import DFA
except ImportError:
    DFA = None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--states", type=int, default=100_000)
    parser.add_argument("--rounds", type=int, default=5)
    arguments = parser.parse_args()

    rng = random.Random(12)
    symbols = string.ascii_lowercase
    names = [f"q{index}" for index in range(arguments.states)]
    table = {name: {symbol: rng.choice(names) for symbol in symbols} for name in names}
    finals = set(rng.sample(names, max(1, arguments.states // 10)))
    walked = {**table, "beyond": {"!": "q0"}}  # stops the walk at its last row
    # The same shape with every transition a loop: each call finds its target
    # where it found its origin, in cache, so this build is the least that
    # one add_transition call per transition can cost.
    looping = {name: dict.fromkeys(symbols, name) for name in names}
    transitions = arguments.states * len(symbols)
    print(f"Python {platform.python_version()}, {arguments.states:,} states x {len(symbols)} symbols "
          f"= {transitions:,} transitions, {arguments.rounds} rounds, CPU-time medians")
    if DFA is None:
        print("automata-lib is not installed (pip install automata-lib): its column is left out")

    times: dict[str, list[float]] = {}
    morvane_tools.enable_pickle()
    for _ in range(arguments.rounds):
        seconds, m = cpu(lambda: morvane_tools.from_table(table, "q0", finals))
        times.setdefault("from_table", []).append(seconds)
        if DFA is not None:
            seconds, dfa = cpu(lambda: DFA(states=set(names), input_symbols=set(symbols), transitions=table,
                                           initial_state="q0", final_states=finals))
            times.setdefault("automata-lib DFA(...)", []).append(seconds)
            del dfa
        seconds, refused = cpu(lambda: _native.from_table(Morvane, walked, "q0", finals, None, set(symbols)))
        assert refused is None
        times.setdefault("  from_table's walk alone", []).append(seconds)
        seconds, _ = cpu(lambda: morvane_tools.from_table(looping, "q0", finals))
        times.setdefault("  from_table, every transition a loop", []).append(seconds)
        with gc_paused():  # as the toolkit's reader does
            seconds, _ = cpu(lambda: len(m.get_transitions()))
        times.setdefault("  get_transitions alone", []).append(seconds)
        dense = _dfa.from_morvane(m)
        seconds, _ = cpu(lambda: _dfa.to_morvane(dense))
        times.setdefault("  building from the dense table", []).append(seconds)
        del dense
        seconds, rows = cpu(lambda: morvane_tools.to_table(m))
        times.setdefault("to_table", []).append(seconds)
        assert rows == table
        seconds, text = cpu(lambda: morvane_tools.dumps(m))
        times.setdefault("dumps", []).append(seconds)
        seconds, loaded = cpu(lambda: morvane_tools.loads(text))  # type: ignore[arg-type]
        times.setdefault("loads", []).append(seconds)
        times.setdefault("dumps + loads", []).append(times["dumps"][-1] + seconds)
        assert morvane_tools.to_table(loaded) == table  # type: ignore[arg-type]
        seconds, _ = cpu(lambda: pickle.loads(pickle.dumps(m)))
        times.setdefault("pickle round trip", []).append(seconds)
        del m, rows, loaded

    medians = {label: statistics.median(values) for label, values in times.items()}
    width = max(map(len, medians))
    for label, seconds in medians.items():
        spread = f"{min(times[label]):.3f}-{max(times[label]):.3f}"
        print(f"  {label:<{width}}  {seconds:7.3f} s   (range {spread}, {transitions / seconds / 1e6:5.2f} M transitions/s)")
    print(f"  JSON document: {len(text) / 1e6:.1f} MB")  # type: ignore[arg-type]

    walk, reads, build = (medians[f"  {part}"] for part in ("from_table's walk alone", "get_transitions alone",
                                                            "building from the dense table"))
    print("Where the time goes:")
    print(f"  from_table {medians['from_table']:6.3f} s: the native walk {walk:6.3f} s, then the constructor and "
          f"one add_transition per transition {medians['from_table'] - walk:6.3f} s")
    print(f"  dumps      {medians['dumps']:6.3f} s: get_transitions {reads:6.3f} s, the rest "
          f"{medians['dumps'] - reads:6.3f} s")
    print(f"  loads      {medians['loads']:6.3f} s: the build {build:6.3f} s (constructor and add_transition), "
          f"parsing and checking {medians['loads'] - build:+6.3f} s")
    print("  (each part is a median of its own; a difference near zero or below is within the noise)")
    if DFA is not None:
        ratio = medians["automata-lib DFA(...)"] / medians["from_table"]
        print(f"from_table is {ratio:.1f}x faster than automata-lib's DFA (goal: 10x): "
              f"{'met' if ratio >= 10 else 'NOT met'}")
        floor = medians["  from_table, every transition a loop"]
        print(f"  10x would take at most {medians['automata-lib DFA(...)'] / 10:.3f} s; with no cache miss at all "
              f"(every transition a loop) from_table takes {floor:.3f} s, "
              f"{(floor - walk) / transitions * 1e9:.0f} ns a transition after the walk")
    total = medians["dumps + loads"]
    print(f"dumps + loads take {total:.2f} s (goal: under 2 s): {'met' if total < 2 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

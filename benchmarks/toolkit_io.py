#!/usr/bin/env python3
"""Benchmark of morvane_tools' tables and storage.

    python benchmarks/toolkit_io.py [--states N] [--rounds R]

One table of N states (default 100,000) x 26 symbols, every row total,
targets drawn at random (fixed seed). In each round the contenders take turns
on the same dict: morvane_tools.from_table, automata-lib's DFA constructor
(when automata-lib is installed; it checks the table as from_table does),
then to_table, dumps, loads and a pickle round trip of the built automaton.
Figures are medians of CPU time (time.process_time) over the rounds.

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

    if DFA is not None:
        ratio = medians["automata-lib DFA(...)"] / medians["from_table"]
        print(f"from_table is {ratio:.1f}x faster than automata-lib's DFA (goal: 10x): "
              f"{'met' if ratio >= 10 else 'NOT met'}")
    total = medians["dumps + loads"]
    print(f"dumps + loads take {total:.2f} s (goal: under 2 s): {'met' if total < 2 else 'NOT met'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

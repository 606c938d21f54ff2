#!/usr/bin/env python3
"""Benchmark of morvane_tools' language operations against automata-lib.

    python benchmarks/toolkit_ops.py [--states N] [--rounds R] [--no-scale]

Part one: a random complete DFA of N states (default 5,000) x 26 symbols
(fixed seed, a tenth of the states final), the same automaton as a Morvane
and as an automata-lib DFA. In each round the two libraries take turns on:
minimisation; equivalence with an unminimised copy (every state doubled, each
transition going to either twin, so that the whole product is walked); the
intersection with a random 8-state DFA. Figures are medians of CPU time
(time.process_time) over the rounds; morvane_tools' figures are end to end:
reading the Morvane instances and building the resulting Morvane included.
For equivalence, the class's two get_transitions() lists made and freed are
timed on their own too: any reader through the class's public methods pays
at least that, so automata-lib's time over it, round by round, bounds the
ratio such a reader can reach.

Part two (scale): minimize() of 100,000 x 26 and of 1,000,000 x 4, each in a
child process of its own, end to end, with the time split into reading the
instance, minimising and building the result, the class's get_transitions()
call on its own for reference, and the peak resident memory while minimize()
runs (the instance itself already resident), from the kernel's high-water mark.

Goals: minimise, equivalence and intersection at least 20x faster than
automata-lib 9.2; 100,000 x 26 within 2 s and 1,000,000 x 4 within 10 s.
"""

from __future__ import annotations

import argparse
import gc
import importlib.metadata
import json
import platform
import random
import statistics
import string
import subprocess
import sys
import time
from array import array

import morvane_tools
from morvane import Morvane
from morvane_tools import _dfa
from morvane_tools._common import gc_paused
from standalone import cpu

try:
    from automata.fa.dfa import DFA
except ImportError:
    DFA = None


def random_table(rng: random.Random, states: int, symbols: str, final_share: float) -> _dfa.Dfa:
    targets = array("i", (rng.randrange(states) for _ in range(states * len(symbols))))
    finals = bytearray(rng.random() < final_share for _ in range(states))
    return _dfa.Dfa(symbols, targets, finals, 0, [f"s{i}" for i in range(states)])


def doubled(d: _dfa.Dfa, rng: random.Random) -> _dfa.Dfa:
    """The same language with every state twice: s and its twin n+s, each
    transition going to one of the two twins of its target at random."""
    n, k = d.n_states, len(d.symbols)
    targets = array("i", [0]) * (2 * n * k)
    for copy in (0, 1):
        for i in range(n * k):
            targets[copy * n * k + i] = d.targets[i] + n * rng.randrange(2)
    return _dfa.Dfa(d.symbols, targets, d.finals + d.finals, 0, [f"t{i}" for i in range(2 * n)])


def to_automata_lib(d: _dfa.Dfa) -> object:
    k = len(d.symbols)
    return DFA(
        states=set(range(d.n_states)),
        input_symbols=set(d.symbols),
        transitions={s: {c: d.targets[s * k + j] for j, c in enumerate(d.symbols)} for s in range(d.n_states)},
        initial_state=d.initial,
        final_states={s for s in range(d.n_states) if d.finals[s]},
    )


def compare(arguments: argparse.Namespace) -> None:
    rng = random.Random(13)
    symbols = string.ascii_lowercase
    big = random_table(rng, arguments.states, symbols, 0.1)
    twin = doubled(big, rng)
    small = random_table(rng, 8, symbols, 0.3)
    m, m_twin, m_small = (_dfa.to_morvane(d) for d in (big, twin, small))
    print(f"Part one: {arguments.states:,} states x {len(symbols)} symbols, {arguments.rounds} rounds, CPU-time medians")
    if DFA is None:
        print("automata-lib is not installed (pip install automata-lib): its column is left out")
    else:
        print(f"automata-lib {importlib.metadata.version('automata-lib')}")
        a_big, a_twin, a_small = (to_automata_lib(d) for d in (big, twin, small))

    times: dict[str, list[float]] = {}
    for _ in range(arguments.rounds):
        seconds, minimal = cpu(lambda: morvane_tools.minimize(m))
        times.setdefault("minimize ours", []).append(seconds)
        seconds, same = cpu(lambda: morvane_tools.equivalent(m, m_twin))
        times.setdefault("equivalent ours", []).append(seconds)
        assert same is True
        # The class's part of it: both operands' get_transitions lists, made and freed.
        with gc_paused():  # as the toolkit's reader does
            seconds, _ = cpu(lambda: len(m.get_transitions()) + len(m_twin.get_transitions()))
        times.setdefault("equivalent's get_transitions", []).append(seconds)
        seconds, both = cpu(lambda: morvane_tools.intersection(m, m_small))
        times.setdefault("intersection ours", []).append(seconds)
        if DFA is not None:
            seconds, reference = cpu(lambda: a_big.minify())
            times.setdefault("minimize automata-lib", []).append(seconds)
            assert len(reference.states) == len(minimal.get_states())  # type: ignore[attr-defined]
            seconds, same = cpu(lambda: a_big == a_twin)
            times.setdefault("equivalent automata-lib", []).append(seconds)
            assert same is True
            seconds, reference = cpu(lambda: a_big.intersection(a_small))
            times.setdefault("intersection automata-lib", []).append(seconds)
            assert len(reference.states) == len(both.get_states())  # type: ignore[attr-defined]
    print(f"  intersection result: {len(both.get_states()):,} states")  # type: ignore[attr-defined]
    for operation in ("minimize", "equivalent", "intersection"):
        ours = statistics.median(times[f"{operation} ours"])
        line = f"  {operation:<13} morvane_tools {ours * 1000:9.2f} ms"
        if DFA is not None:
            theirs = statistics.median(times[f"{operation} automata-lib"])
            line += f"   automata-lib {theirs * 1000:9.2f} ms   {theirs / ours:6.1f}x"
        print(line)
    reads = statistics.median(times["equivalent's get_transitions"])
    line = f"  (equivalent: the two get_transitions() calls alone take {reads * 1000:.2f} ms"
    if DFA is not None:
        # Any reader through the public methods makes and frees these two
        # lists: automata-lib's time over theirs bounds its ratio, round by round.
        bounds = sorted(t / r for t, r in zip(times["equivalent automata-lib"], times["equivalent's get_transitions"]))
        line += f"; automata-lib's time over that, by round: {bounds[0]:.1f}x to {bounds[-1]:.1f}x"
    print(line + ")")


def scale_child(states: int, symbol_count: int) -> None:
    """Runs in a child process: prints one JSON line of measurements."""
    rng = random.Random(14)
    d = random_table(rng, states, string.ascii_lowercase[:symbol_count], 0.5)
    m = _dfa.to_morvane(d)
    del d
    gc.collect()
    resident_before = memory("VmRSS")
    with open("/proc/self/clear_refs", "w") as reset:  # restarts the high-water mark
        reset.write("5")
    start = time.process_time()
    result = morvane_tools.minimize(m)
    total = time.process_time() - start
    peak = memory("VmHWM")
    result_states = len(result.get_states())
    del result
    gc.collect()
    parts = {}
    for name, action in (
        ("get_transitions", lambda: m.get_transitions()),
        ("read", lambda: _dfa.from_morvane(m)),
    ):
        with gc_paused():  # as the toolkit's reader does
            parts[name], value = cpu(action)
        del value
    read = _dfa.from_morvane(m)
    parts["minimise"], minimal = cpu(lambda: _dfa.minimize(read))
    del read
    parts["build"], built = cpu(lambda: _dfa.to_morvane(minimal))  # type: ignore[arg-type]
    print(json.dumps({"total": total, "peak": peak, "before": resident_before, "states": result_states, **parts}))


def memory(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    return 0


def scale() -> None:
    print("Part two: minimize() end to end, each size in a child process (CPU time)")
    goals = {(100_000, 26): 2.0, (1_000_000, 4): 10.0}
    for (states, symbol_count), goal in goals.items():
        run = subprocess.run(
            [sys.executable, __file__, "--child", str(states), str(symbol_count)],
            capture_output=True, text=True, check=True,
        )
        figures = json.loads(run.stdout.strip().splitlines()[-1])
        print(
            f"  {states:>9,} x {symbol_count:<2} {figures['total']:6.2f} s (goal {goal:.0f} s) -> {figures['states']:,} states;"
            f" read {figures['read']:.2f} s (of which get_transitions {figures['get_transitions']:.2f} s),"
            f" minimise {figures['minimise']:.2f} s, build {figures['build']:.2f} s;"
            f" peak RSS {figures['peak'] / 2**20:,.0f} MiB with {figures['before'] / 2**20:,.0f} MiB before the call"
        )


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--states", type=int, default=5_000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--no-scale", action="store_true", help="leave out part two")
    parser.add_argument("--child", nargs=2, type=int, help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.child:
        scale_child(*arguments.child)
        return 0
    print(f"Python {platform.python_version()} on {platform.machine()}")
    compare(arguments)
    if not arguments.no_scale:
        scale()
    return 0


if __name__ == "__main__":
    assert isinstance(Morvane, type)
    sys.exit(main())

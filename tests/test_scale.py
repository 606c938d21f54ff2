"""A million states, ten million transitions and ten million history entries:
built, queried and released in time linear in their size.

Run with MORVANE_SCALE=1 (needs a few GB of memory and about a minute)."""

import ctypes
import gc
import os
import random
import resource
import sys
import time
from collections import deque
from itertools import repeat, starmap

import pytest

from conftest import Morvane

pytestmark = [
    pytest.mark.scale,
    pytest.mark.skipif(os.environ.get("MORVANE_SCALE") != "1", reason="scale checks run with MORVANE_SCALE=1"),
]

STATES, HISTORY = 1_000_000, 10_000_000
SYMBOLS = "0123456789"  # every state has a transition on each: ten per state
RATIO = 20  # linear work at ten times the size; quadratic work would be near 100 times


def target(index, symbol, states):
    """The transition table, as arithmetic: where s{index} goes on SYMBOLS[symbol]."""
    return (index + symbol + 1) % states


def resident():
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def automaton(states, times):
    """Builds, queries and releases an automaton of `states` states; records each phase's CPU time."""
    rng = random.Random(states)
    names = [f"s{index}" for index in range(states)]
    before, start = resident(), time.process_time()
    m = Morvane(set(names), set(SYMBOLS), names[0], set(names[::7]))
    deque(starmap(m.add_transition, ((names[i // 10], SYMBOLS[i % 10], names[target(i // 10, i % 10, states)])
                                     for i in range(states * len(SYMBOLS)))), maxlen=0)
    times["build"] = time.process_time() - start
    grown = resident() - before

    word = "".join(rng.choices(SYMBOLS, k=states))
    walk = [0]
    for symbol in word:
        walk.append(target(walk[-1], int(symbol), states))
    sample = [(names[rng.randrange(states)], rng.choice(SYMBOLS + "xé")) for _ in range(states // 10)]
    final = next(index for index in range(1, states) if walk[index] % 7 == 0)  # a prefix that is accepted
    start = time.process_time()
    accepted = m.accept(word), m.accept(word[:final])
    path = m.simulate(word[: states // 10])
    hits = sum(starmap(m.has_transition, sample))
    m.force_state(names[-1])
    symbols = [m.available_symbols() for _ in range(3)]
    times["query"] = time.process_time() - start
    assert accepted == (walk[-1] % 7 == 0, True)
    assert path == [names[index] for index in walk[: states // 10 + 1]]
    assert hits == sum(symbol in SYMBOLS for _, symbol in sample)
    assert symbols == [list(SYMBOLS)] * 3 and m.has_transition(names[-1], "9")

    held, start = resident(), time.process_time()
    del m
    times["release"] = time.process_time() - start
    return grown, held - resident()


def history(entries, times):
    """Pushes `entries` steps with one data object, then undoes them all."""
    m = Morvane({"p", "q"}, {"a"}, "p", {"q"})
    m.add_transition("p", "a", "q")
    m.add_transition("q", "a", "p")
    data = object()
    m.set_data(data)
    count = sys.getrefcount(data)
    start = time.process_time()
    assert all(map(m.step, repeat("a", entries)))
    times["push"] = time.process_time() - start
    assert m.history_len() == entries and sys.getrefcount(data) == count + entries
    assert m.peek_history() == ("q" if entries % 2 == 0 else "p", data)
    m.set_data(None)
    start = time.process_time()
    assert sum(iter(m.undo, False)) == entries
    times["undo"] = time.process_time() - start
    after = sys.getrefcount(data)  # outside the assertion, whose rewriting keeps what it looks at alive
    assert (m.current_state, m.history_len(), after) == ("p", 0, count) and m.data is data


def test_scale(capsys):
    small, big = {}, {}
    automaton(STATES // 10, small)
    history(HISTORY // 10, small)
    grown, returned = automaton(STATES, big)
    history(HISTORY, big)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024
    with capsys.disabled():
        print(f"\n{STATES:,} states, {STATES * len(SYMBOLS):,} transitions: {grown / 2**20:,.0f} MiB, "
              f"{returned / 2**20:,.0f} MiB given back on release; peak resident memory {peak:,} MiB")
        for phase in big:
            print(f"  {phase:8} {big[phase]:7.2f} s CPU at full size, {small[phase]:6.2f} s at a tenth")
    # Phases that take under a second at full size say nothing about their complexity.
    slow = {phase: round(big[phase] / small[phase], 1) for phase in big if big[phase] > max(1.0, RATIO * small[phase])}
    assert slow == {}, f"work grew more than {RATIO} times for ten times the size"
    assert returned > grown // 2, "the automaton kept most of its memory after release"

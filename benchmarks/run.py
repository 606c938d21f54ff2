#!/usr/bin/env python3
"""Benchmarks for morvane.

Builds the same automata in morvane and in its peers (plain Python, the
re module, automata-lib, the transitions package, and a plain C++ loop over
the same dense table, "the floor") within one process, times them and prints
tables of throughput and of morvane's cost relative to each peer.

    python benchmarks/run.py                 # everything, full sizes
    python benchmarks/run.py --quick         # small sizes, a smoke test
    python benchmarks/run.py --only accept --only memory
    python benchmarks/run.py --json results.json

Every figure is the best (minimum) of several runs. Ratios are morvane's cost
divided by the peer's cost, so below 1 means morvane is faster (or smaller).
"""

from __future__ import annotations

import argparse
import array
import ctypes
import ctypes.util
import gc
import hashlib
import importlib.metadata
import importlib.util
import json
import os
import platform
import random
import re
import string
import subprocess
import sys
import sysconfig
import tempfile
import timeit
import tracemalloc
from dataclasses import asdict, dataclass, field
from itertools import repeat
from pathlib import Path
from time import perf_counter
from types import ModuleType
from typing import Callable

try:
    import morvane
except ImportError:
    sys.exit("morvane is not importable: run './dev bench', or install morvane (or put its build on PYTHONPATH).")

try:
    from automata.fa.dfa import DFA
except ImportError:
    DFA = None

try:
    from transitions import Machine
except ImportError:
    Machine = None

HERE = Path(__file__).resolve().parent
LETTERS = string.ascii_lowercase
SEED = 2024


# ---- sizes ---------------------------------------------------------------------


@dataclass(frozen=True)
class Sizes:
    input_length: int  # characters fed to accept and simulate
    repeats: int  # runs per figure at least; the best is kept
    sample_seconds: float  # quick contenders get more runs, up to this much time each
    call_seconds: float  # rough length of one timeit batch of single calls
    scaling_states: tuple[int, ...]
    scaling_lengths: tuple[int, ...]
    step_batch: int  # steps per timed batch, so the history stays bounded
    dense_shape: tuple[int, int]  # states x symbols, every cell a transition
    sparse_shape: tuple[int, int]  # states x transitions per state, over a-z and A-Z
    history_entries: int
    python_history_entries: int


FULL = Sizes(
    input_length=1_000_000,
    repeats=7,
    sample_seconds=1.0,
    call_seconds=0.02,
    scaling_states=(50, 5_000, 500_000),
    scaling_lengths=(10_000, 100_000, 1_000_000),
    step_batch=200_000,
    dense_shape=(40_000, 25),
    sparse_shape=(250_000, 4),
    history_entries=10_000_000,
    python_history_entries=1_000_000,
)

QUICK = Sizes(
    input_length=100_000,
    repeats=3,
    sample_seconds=0.05,
    call_seconds=0.005,
    scaling_states=(50, 500, 5_000),
    scaling_lengths=(1_000, 10_000, 100_000),
    step_batch=50_000,
    dense_shape=(4_000, 25),
    sparse_shape=(25_000, 4),
    history_entries=1_000_000,
    python_history_entries=100_000,
)


# ---- results -------------------------------------------------------------------


@dataclass(frozen=True)
class Goal:
    """An upper limit on the ratio morvane/peer, or on morvane's own figure."""

    limit: float
    label: str
    on_ratio: bool = True

    @staticmethod
    def within(times: float) -> Goal:
        return Goal(times, f"<= {times:g}x")

    @staticmethod
    def faster(times: float) -> Goal:
        return Goal(1 / times, f">= {times:g}x faster")

    @staticmethod
    def at_most(limit: float, unit: str) -> Goal:
        return Goal(limit, f"<= {limit:g} {unit}", on_ratio=False)


@dataclass
class Row:
    what: str
    unit: str
    morvane: float
    peer: str = ""
    peer_value: float | None = None
    goal: Goal | None = None

    @property
    def ratio(self) -> float | None:
        return None if not self.peer_value else self.morvane / self.peer_value

    @property
    def met(self) -> bool | None:
        if self.goal is None:
            return None
        value = self.ratio if self.goal.on_ratio else self.morvane
        return value is not None and value <= self.goal.limit

    def as_json(self) -> dict:
        result = asdict(self)
        result.update(goal=self.goal.label if self.goal else None, ratio=self.ratio, met=self.met)
        return result


@dataclass
class Section:
    name: str
    title: str
    rows: list[Row] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)


def figure(value: float | None, unit: str) -> str:
    if value is None:
        return ""
    digits = 0 if value >= 1000 else 1 if value >= 10 else 2
    return f"{value:,.{digits}f} {unit}"


def ratio_text(row: Row) -> str:
    ratio = row.ratio
    if ratio is None:
        return ""
    if ratio >= 1:
        return f"{ratio:.2f}x"
    word = "faster" if row.unit.startswith("ns") else "smaller"
    return f"{ratio:.3f}x ({1 / ratio:,.1f}x {word})"


def print_section(section: Section) -> None:
    header = ("what", "morvane", "peer", "peer figure", "morvane/peer", "goal", "")
    verdicts = {None: "", True: "met", False: "MISSED"}
    lines = [
        (
            row.what,
            figure(row.morvane, row.unit),
            row.peer,
            figure(row.peer_value, row.unit),
            ratio_text(row),
            row.goal.label if row.goal else "",
            verdicts[row.met],
        )
        for row in section.rows
    ]
    widths = [max(len(cells[i]) for cells in [header, *lines]) for i in range(len(header))]
    right = {1, 3, 4}

    def format_line(cells):
        return "  ".join(c.rjust(w) if i in right else c.ljust(w) for i, (c, w) in enumerate(zip(cells, widths)))

    print(f"\n== {section.title}")
    print(format_line(header).rstrip())
    print("  ".join("-" * w for w in widths))
    for cells in lines:
        print(format_line(cells).rstrip())
    for note in section.notes:
        print(f"   note: {note}")
    sys.stdout.flush()


# ---- timing --------------------------------------------------------------------


class _GcPaused:
    def __enter__(self):
        self.was_enabled = gc.isenabled()
        gc.disable()

    def __exit__(self, *exc):
        if self.was_enabled:
            gc.enable()


def batch_seconds(call: Callable[[], object], number: int) -> float:
    """Seconds for `number` calls in a row. The last result is freed after the
    clock stops, so a batch of one never times the freeing of its result."""
    start = perf_counter()
    for _ in range(number):
        result = call()
    elapsed = perf_counter() - start
    del result
    return elapsed


def best_interleaved(batches: list[Callable[[], float]], sizes: Sizes) -> list[float]:
    """The best (smallest) time of each batch. Every round runs each batch
    once, in turn (the order flips every round), so the ups and downs of a
    busy machine fall on all contenders alike. After `sizes.repeats` rounds, batches that have taken
    less than `sizes.sample_seconds` in all keep going, up to ten times as
    many rounds: a quick batch is cheap to sample more often."""
    best = [float("inf")] * len(batches)
    spent = [0.0] * len(batches)
    with _GcPaused():
        for round_ in range(10 * sizes.repeats):
            wanted = [i for i in range(len(batches)) if round_ < sizes.repeats or spent[i] < sizes.sample_seconds]
            if not wanted:
                break
            for index in wanted if round_ % 2 == 0 else reversed(wanted):
                seconds = batches[index]()
                best[index] = min(best[index], seconds)
                spent[index] += seconds
    return best


@dataclass
class Call:
    """A statement timed by timeit in its own namespace; `setup` runs before
    each timed batch, outside the timed region."""

    stmt: str
    namespace: dict
    setup: str = "pass"
    number: int | None = None  # calls per batch; None: as many as fill call_seconds


def ns_per_call(calls: list[Call], sizes: Sizes) -> list[float]:
    """ns per execution of each statement, timed in turns."""
    timers = [timeit.Timer(call.stmt, call.setup, globals=call.namespace) for call in calls]
    numbers = [call.number or calibrate(timer, sizes.call_seconds) for call, timer in zip(calls, timers)]
    batches = [lambda timer=timer, number=number: timer.timeit(number) for timer, number in zip(timers, numbers)]
    best = best_interleaved(batches, sizes)
    return [seconds / number * 1e9 for seconds, number in zip(best, numbers)]


def calibrate(timer: timeit.Timer, seconds: float) -> int:
    number = 1000
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= 0.005:
            return max(number, int(number * seconds / elapsed))
        number *= 10


def dict_get_call() -> Call:
    """The yardstick for single calls: a bound dict.get on a present key."""
    table = {f"q{i}": i for i in range(50)}
    return Call("get(key)", {"get": table.get, "key": "q17"})


# ---- automata ------------------------------------------------------------------


@dataclass
class Dfa:
    """One automaton, described once and built in each implementation.

    Rows are states, columns the characters of `symbols`; `targets` holds the
    target row of every cell, row-major, or -1 where there is no transition."""

    names: list[str]
    symbols: str
    targets: array.array
    initial: int = 0
    finals: frozenset[int] = frozenset()

    @classmethod
    def tabulate(cls, count: int, symbols: str, target: Callable[[int, int], int], finals) -> Dfa:
        columns = range(len(symbols))
        cells = array.array("i", (target(row, column) for row in range(count) for column in columns))
        return cls([f"q{row}" for row in range(count)], symbols, cells, 0, frozenset(finals))

    @classmethod
    def even_as(cls, symbols: str = "ab") -> Dfa:
        """Two states over {a, b}: accepts an even number of a's. Any further
        symbol has no transition."""
        moves = {(0, "a"): 1, (1, "a"): 0, (0, "b"): 0, (1, "b"): 1}
        cells = array.array("i", (moves.get((row, symbol), -1) for row in (0, 1) for symbol in symbols))
        return cls(["even", "odd"], symbols, cells, 0, frozenset({0}))

    @classmethod
    def structured(cls, count: int, symbols: str = LETTERS) -> Dfa:
        """Total: state i goes to (7i + c) mod count on the c-th symbol."""
        return cls.tabulate(count, symbols, lambda row, column: (row * 7 + column) % count, range(0, count, 3))

    @classmethod
    def random_total(cls, count: int, symbols: str = LETTERS, seed: int = SEED) -> Dfa:
        rng = random.Random(seed)
        population = range(count)
        cells = array.array("i")
        for _ in population:
            cells.extend(rng.choices(population, k=len(symbols)))
        finals = rng.sample(population, count // 2)
        return cls([f"q{row}" for row in population], symbols, cells, 0, frozenset(finals))

    @classmethod
    def random_sparse(cls, count: int, per_state: int, symbols: str, seed: int = SEED) -> Dfa:
        """`per_state` transitions from every state, on random symbols."""
        rng = random.Random(seed)
        width = len(symbols)
        cells = array.array("i", [-1]) * (count * width)
        for row in range(count):
            for column in rng.sample(range(width), per_state):
                cells[row * width + column] = rng.randrange(count)
        return cls([f"q{row}" for row in range(count)], symbols, cells, 0, frozenset({0}))

    @property
    def transition_count(self) -> int:
        return sum(1 for target in self.targets if target >= 0)

    def edges(self):
        """(origin, symbol, target) for every transition."""
        names, symbols, width = self.names, self.symbols, len(self.symbols)
        for row, origin in enumerate(names):
            for symbol, target in zip(symbols, self.targets[row * width : (row + 1) * width]):
                if target >= 0:
                    yield origin, symbol, names[target]

    def new_morvane(self) -> morvane.Morvane:
        """The empty automaton: states, alphabet, initial and finals only."""
        finals = {self.names[row] for row in self.finals}
        return morvane.Morvane(set(self.names), set(self.symbols), self.names[self.initial], finals)

    def add_transitions(self, automaton: morvane.Morvane) -> None:
        add = automaton.add_transition
        for origin, symbol, target in self.edges():
            add(origin, symbol, target)

    def to_morvane(self) -> morvane.Morvane:
        automaton = self.new_morvane()
        self.add_transitions(automaton)
        return automaton

    def to_dicts(self) -> dict[str, dict[str, str]]:
        delta = {name: {} for name in self.names}
        for origin, symbol, target in self.edges():
            delta[origin][symbol] = target
        return delta

    def to_automata_lib(self):
        return DFA(
            states=set(self.names),
            input_symbols=set(self.symbols),
            transitions=self.to_dicts(),
            initial_state=self.names[self.initial],
            final_states={self.names[row] for row in self.finals},
        )

    def load_floor(self, floor: ModuleType) -> ModuleType:
        """Loads this table into the floor, which holds one table at a time."""
        floor.load_table(self.names, self.symbols, self.targets, self.finals, self.initial)
        return floor

    @property
    def initial_name(self) -> str:
        return self.names[self.initial]

    @property
    def final_names(self) -> frozenset[str]:
        return frozenset(self.names[row] for row in self.finals)


def random_text(length: int, symbols: str, seed: int = SEED) -> str:
    return "".join(random.Random(seed).choices(symbols, k=length))


def even_as_text(length: int) -> str:
    """Random a's and b's with an even number of a's, so it is accepted whole."""
    text = random_text(length, "ab")
    return text if text.count("a") % 2 == 0 else text[:-1] + ("b" if text[-1] == "a" else "a")


# ---- plain Python peers ----------------------------------------------------------


def python_accept(delta: dict, initial: str, finals, text: str) -> bool:
    state = initial
    for symbol in text:
        state = delta[state].get(symbol)
        if state is None:
            return False
    return state in finals


def python_simulate(delta: dict, start: str, text: str) -> list[str]:
    state = start
    path = [state]
    append = path.append
    for symbol in text:
        state = delta[state][symbol]
        append(state)
    return path


class PythonStepper:
    """Stepping with an undo history, in plain Python: per-state dicts of
    transitions and a list of (state, data) tuples."""

    __slots__ = ("delta", "current", "data", "history")

    def __init__(self, delta: dict, initial: str):
        self.delta = delta
        self.current = initial
        self.data = None
        self.history = []

    def step(self, symbol: str) -> bool:
        # The same refusals as morvane's step: a str of exactly one character.
        if not isinstance(symbol, str):
            raise TypeError(f"'{type(symbol).__qualname__}' object is not an instance of 'str'")
        if len(symbol) != 1:
            raise ValueError("expected a string of length 1")
        self.history.append((self.current, self.data))
        target = self.delta[self.current].get(symbol)
        if target is None:
            return False
        self.current = target
        return True

    def undo(self) -> bool:
        if not self.history:
            return False
        self.current, self.data = self.history.pop()
        return True


def transitions_machine(dfa: Dfa):
    """A transitions.Machine with one trigger per symbol; a symbol without a
    transition from the current state is ignored, as a failed step."""
    model = type("Model", (), {})()
    moves = [[symbol, origin, target] for origin, symbol, target in dfa.edges()]
    # Symbols without any transition still need a trigger: give them one from
    # a state that is never reached.
    idle = [[symbol, "unreached", "unreached"] for symbol in dfa.symbols if all(m[0] != symbol for m in moves)]
    Machine(
        model=model,
        states=[*dfa.names, "unreached"],
        transitions=moves + idle,
        initial=dfa.initial_name,
        auto_transitions=False,
        ignore_invalid_triggers=True,
    )
    return model


# ---- the floor ------------------------------------------------------------------


def build_floor() -> ModuleType:
    """Compiles benchmarks/floor/floor.cpp for this interpreter (once per
    source and interpreter) and imports it."""
    source = HERE / "floor" / "floor.cpp"
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    digest = hashlib.sha256(source.read_bytes() + sys.version.encode() + suffix.encode()).hexdigest()[:16]
    target = Path(tempfile.gettempdir()) / f"morvane-bench-floor-{digest}" / f"floor{suffix}"
    if not target.exists():
        target.parent.mkdir(parents=True, exist_ok=True)
        partial = target.with_name(f"{target.name}.{os.getpid()}.tmp")
        include = sysconfig.get_paths()["include"]
        compiler = os.environ.get("CXX", "g++")
        command = [compiler, "-std=c++20", "-O2", "-shared", "-fPIC", f"-I{include}", str(source), "-o", str(partial)]
        subprocess.run(command, check=True)
        os.replace(partial, target)
    location = importlib.util.spec_from_file_location("floor", target)
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


# ---- comparisons -------------------------------------------------------------------


@dataclass
class Peer:
    name: str
    run: Callable[[], object]
    goal: Goal | None = None


def agree(what: str, expected: object, peers: list[Peer]) -> None:
    for peer in peers:
        answer = peer.run()
        if answer != expected:
            raise AssertionError(f"{what}: {peer.name} answers differently from morvane")


def per_char_rows(
    ctx: Context, what: str, length: int, run: Callable[[], object], peers: list[Peer], batched: bool = True
) -> list[Row]:
    """ns per input character of morvane and of each peer on the same input;
    every peer's answer must equal morvane's. Short inputs are run in batches
    of about a million characters, unless `batched` is false: results too
    big to free on the clock are timed one call at a time."""
    agree(what, run(), peers)
    number = max(1, 1_000_000 // length) if batched else 1
    batches = [lambda call=call: batch_seconds(call, number) for call in [run, *(peer.run for peer in peers)]]
    own, *theirs = (seconds / number / length * 1e9 for seconds in best_interleaved(batches, ctx.sizes))
    return [Row(what, "ns/char", own, peer.name, value, peer.goal) for peer, value in zip(peers, theirs)]


@dataclass
class CallPeer:
    name: str
    call: Call
    goal: Goal | None = None


def per_call_rows(ctx: Context, what: str, own: Call, peers: list[CallPeer]) -> list[Row]:
    value, *theirs = ns_per_call([own, *(peer.call for peer in peers)], ctx.sizes)
    return [Row(what, "ns/call", value, peer.name, figure, peer.goal) for peer, figure in zip(peers, theirs)]


@dataclass
class Context:
    sizes: Sizes
    floor: ModuleType
    section: Section | None = None

    def note(self, text: str) -> None:
        if text not in self.section.notes:
            self.section.notes.append(text)


# ---- sections ------------------------------------------------------------------------


def accept_peers(ctx: Context, dfa: Dfa, text: str) -> list[Peer]:
    delta, initial, finals = dfa.to_dicts(), dfa.initial_name, dfa.final_names
    floor = dfa.load_floor(ctx.floor)
    peers = [
        Peer("pure-Python loop", lambda: python_accept(delta, initial, finals, text), Goal.faster(10)),
        Peer("floor (C++ loop)", lambda: floor.accept(text), Goal.within(1.5)),
    ]
    if DFA is None:
        ctx.note("automata-lib is not installed: its rows are skipped.")
    else:
        automaton = dfa.to_automata_lib()
        peers.insert(1, Peer("automata-lib DFA", lambda: automaton.accepts_input(text)))
    return peers


def section_accept(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    rows = []

    even, text = Dfa.even_as(), even_as_text(length)
    m = even.to_morvane()
    pattern = re.compile(r"(?:b*ab*a)*b*")
    peers = accept_peers(ctx, even, text)
    peers.insert(1, Peer("re.fullmatch", lambda: pattern.fullmatch(text) is not None))
    rows += per_char_rows(ctx, f"(A) even a's, 2 states, {length:,} chars", length, lambda: m.accept(text), peers)

    table, text = Dfa.random_total(50), random_text(length, LETTERS)
    m = table.to_morvane()
    peers = accept_peers(ctx, table, text)
    rows += per_char_rows(ctx, f"(B) random, 50 states, a-z, {length:,} chars", length, lambda: m.accept(text), peers)
    return rows


def section_calls(ctx: Context) -> list[Row]:
    table = Dfa.random_total(50)
    m = table.to_morvane()
    short = random_text(8, LETTERS, seed=SEED + 1)
    delta = table.to_dicts()
    baseline = dict_get_call()
    rows = per_call_rows(
        ctx,
        "has_transition(state, symbol)",
        Call("has(state, symbol)", {"has": m.has_transition, "state": "q17", "symbol": "k"}),
        [CallPeer("dict.get", baseline, Goal.within(1.5))],
    )
    rows += per_call_rows(
        ctx,
        "is_final(state)",
        Call("is_final(state)", {"is_final": m.is_final, "state": "q17"}),
        [CallPeer("dict.get", baseline, Goal.within(1.5))],
    )
    python_loop = Call(
        "run(delta, initial, finals, text)",
        {"run": python_accept, "delta": delta, "initial": "q0", "finals": table.final_names, "text": short},
    )
    rows += per_call_rows(
        ctx,
        "accept(8 chars)",
        Call("accept(text)", {"accept": m.accept, "text": short}),
        [CallPeer("dict.get", baseline), CallPeer("pure-Python loop", python_loop)],
    )
    return rows


def section_simulate(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    rows = []
    cases = [
        (f"(A) even a's, 2 states, {length:,} chars", Dfa.even_as(), even_as_text(length)),
        (f"(B) random, 50 states, a-z, {length:,} chars", Dfa.random_total(50), random_text(length, LETTERS)),
    ]
    for what, table, text in cases:
        m = table.to_morvane()
        delta, start = table.to_dicts(), table.initial_name
        floor = table.load_floor(ctx.floor)
        peers = [
            Peer("pure-Python loop", lambda: python_simulate(delta, start, text)),
            Peer("floor (C++ loop)", lambda: floor.simulate(text), Goal.within(1.3)),
        ]
        rows += per_char_rows(ctx, what, length, lambda: m.simulate(text), peers, batched=False)
    ctx.note(
        "the pure-Python path holds the same str objects again and again; morvane and the floor make a new str"
        " per step."
    )
    return rows


def section_scaling(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    text = random_text(length, LETTERS)
    rows = []
    for shape, build in (("structured", Dfa.structured), ("random", Dfa.random_total)):
        for count in ctx.sizes.scaling_states:
            table = build(count)
            m = table.to_morvane()
            floor = table.load_floor(ctx.floor)
            peers = [Peer("floor (C++ loop)", lambda: floor.accept(text), Goal.within(1.5))]
            rows += per_char_rows(
                ctx, f"{shape}, {count:,} states, {length:,} chars", length, lambda: m.accept(text), peers
            )
            del m, table
    ctx.note(
        "the largest tables do not fit the CPU caches: every step of a random walk there is a cache miss, "
        "in morvane and in the floor alike."
    )

    table = Dfa.random_total(50)
    m = table.to_morvane()
    floor = table.load_floor(ctx.floor)
    per_length = []
    for size in ctx.sizes.scaling_lengths:
        text = random_text(size, LETTERS, seed=SEED + size)
        peers = [Peer("floor (C++ loop)", lambda: floor.accept(text), Goal.within(1.5))]
        per_length += per_char_rows(ctx, f"random, 50 states, {size:,} chars", size, lambda: m.accept(text), peers)
    rows += per_length
    shortest, longest = per_length[0], per_length[-1]
    rows.append(
        Row(
            f"per-char cost, {ctx.sizes.scaling_lengths[-1]:,} vs {ctx.sizes.scaling_lengths[0]:,} chars",
            "ns/char",
            longest.morvane,
            f"morvane at {ctx.sizes.scaling_lengths[0]:,}",
            shortest.morvane,
        )
    )
    return rows


def stepping_automaton() -> tuple[Dfa, morvane.Morvane]:
    """Even a's over {a, b, c}: 'a' and 'b' always have a transition, 'c' never."""
    table = Dfa.even_as("abc")
    return table, table.to_morvane()


def step_rows(ctx: Context, kind: str, symbol: str) -> list[Row]:
    table, m = stepping_automaton()
    python = PythonStepper(table.to_dicts(), table.initial_name)
    batch = ctx.sizes.step_batch
    peers = [
        CallPeer("dict.get", dict_get_call(), Goal.within(1.25)),
        CallPeer("empty C method (floor)", Call("noop(symbol)", {"noop": ctx.floor.noop, "symbol": symbol})),
        CallPeer(
            "Python class",
            Call(
                "step(symbol)", {"step": python.step, "symbol": symbol, "clear": python.history.clear}, "clear()", batch
            ),
            Goal.faster(10),
        ),
    ]
    if Machine is not None:
        model = transitions_machine(table)
        peers.append(CallPeer("transitions.Machine", Call("fire()", {"fire": getattr(model, symbol)})))
        fresh = transitions_machine(table)
        expected = (m.step(symbol), python.step(symbol), getattr(fresh, symbol)())
        if len(set(expected)) != 1:
            raise AssertionError(f"step({symbol!r}): the implementations disagree: {expected}")
    own = Call("step(symbol)", {"step": m.step, "symbol": symbol, "clear": m.clear_history}, "clear()", batch)
    return per_call_rows(ctx, f"step {kind}", own, peers)


def section_stepping(ctx: Context) -> list[Row]:
    if Machine is None:
        ctx.note("the transitions package is not installed: its rows are skipped.")
    ctx.note(
        "each timed batch of steps starts from an empty history (cleared outside the timed region), "
        f"so it holds at most {ctx.sizes.step_batch:,} entries."
    )
    rows = step_rows(ctx, "with a transition", "a") + step_rows(ctx, "without a transition", "c")

    table, m = stepping_automaton()
    python = PythonStepper(table.to_dicts(), table.initial_name)
    rows += per_call_rows(
        ctx,
        "step + undo pair",
        Call("step(s); undo()", {"step": m.step, "undo": m.undo, "s": "a"}),
        [CallPeer("Python class", Call("step(s); undo()", {"step": python.step, "undo": python.undo, "s": "a"}))],
    )

    batch = ctx.sizes.step_batch

    def fill(stepper):
        return lambda: [stepper.step("a") for _ in range(batch)]

    m.set_data(["context"])
    rows += per_call_rows(
        ctx,
        "undo (history not empty)",
        Call("undo()", {"undo": m.undo, "fill": fill(m)}, "fill()", batch),
        [
            CallPeer("dict.get", dict_get_call(), Goal.within(2)),
            CallPeer("Python class", Call("undo()", {"undo": python.undo, "fill": fill(python)}, "fill()", batch)),
        ],
    )
    m.step("a")
    queries = [
        ("peek_history()", Call("peek()", {"peek": m.peek_history})),
        ("history_len()", Call("length()", {"length": m.history_len})),
        ("data (property)", Call("m.data", {"m": m})),
    ]
    for what, own in queries:
        rows += per_call_rows(ctx, what, own, [CallPeer("dict.get", dict_get_call(), Goal.within(2))])
    name, data = m.peek_history()
    rows += per_call_rows(
        ctx,
        "peek_history()",
        Call("peek()", {"peek": m.peek_history}),
        [CallPeer("new (str, obj) in C (floor)", Call("pair(name, data)", {"pair": ctx.floor.pair, "name": name, "data": data}))],
    )
    ctx.note(
        "an empty C method with one argument is the floor of any call; against a Python class, "
        "no method can be faster than that floor allows."
    )
    return rows


# ---- memory ---------------------------------------------------------------------------


def _malloc_trim() -> Callable[[], None] | None:
    name = ctypes.util.find_library("c")
    libc = ctypes.CDLL(name) if name else None
    trim = getattr(libc, "malloc_trim", None)
    return None if trim is None else lambda: trim(0)


malloc_trim = _malloc_trim()
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")


def rss() -> int:
    """Resident set size of this process, in bytes."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE_SIZE


def settled_rss() -> int:
    gc.collect()
    if malloc_trim:
        malloc_trim()
    return rss()


def python_bytes(build: Callable[[], object]) -> tuple[int, object]:
    """Bytes that Python's allocators hand out while `build` runs, and its result."""
    gc.collect()
    tracemalloc.start()
    try:
        result = build()
        return tracemalloc.get_traced_memory()[0], result
    finally:
        tracemalloc.stop()


def table_memory_rows(shape: str, table: Dfa) -> list[Row]:
    count = table.transition_count
    delta_bytes, delta = python_bytes(table.to_dicts)
    del delta
    before = settled_rss()
    m = table.new_morvane()
    built = settled_rss()
    table.add_transitions(m)
    filled = settled_rss()
    peer = ("Python dict of dicts", delta_bytes / count)
    rows = [
        Row(f"{shape}: transition table", "B/transition", (filled - built) / count, *peer, Goal.at_most(64, "B")),
        Row(f"{shape}: whole automaton, states included", "B/transition", (filled - before) / count, *peer),
    ]
    del m
    return rows


def python_history_bytes(entries: int) -> float:
    """Bytes per history entry of the plain Python stepper."""
    table, _ = stepping_automaton()

    def fill():
        python = PythonStepper(table.to_dicts(), table.initial_name)
        step = python.step
        for _ in repeat(None, entries):
            step("a")
        return python

    total, python = python_bytes(fill)
    return total / entries


def history_memory_rows(ctx: Context) -> list[Row]:
    entries = ctx.sizes.history_entries
    python_entries = ctx.sizes.python_history_entries
    per_python_entry = python_history_bytes(python_entries)
    _, m = stepping_automaton()
    step = m.step
    before = settled_rss()
    for _ in repeat(None, entries):
        step("a")
    grown = settled_rss() - before
    gc.collect()
    m.reset()
    after_reset = rss() - before
    after_trim = settled_rss() - before
    mib = 1 << 20
    rows = [
        Row(
            f"history: {entries:,} entries",
            "B/entry",
            grown / entries,
            "Python list of tuples",
            per_python_entry,
            Goal.at_most(24, "B"),
        ),
        Row(f"history: RSS grown by {entries:,} steps", "MiB", grown / mib),
        Row("history: RSS still held after reset()", "MiB", after_reset / mib),
    ]
    if malloc_trim:
        rows.append(Row("history: RSS still held after reset() and malloc_trim(0)", "MiB", after_trim / mib))
    ctx.note(f"the Python class figure is measured with tracemalloc at {python_entries:,} entries.")
    return rows


def section_memory(ctx: Context) -> list[Row]:
    ctx.note(
        "morvane allocates with C++ new, which tracemalloc does not see: its figures are RSS deltas "
        "(/proc/self/statm); the Python peers' figures come from tracemalloc."
    )
    states, symbols = ctx.sizes.dense_shape
    dense = Dfa.structured(states, LETTERS[:symbols])
    rows = table_memory_rows(f"dense, {states:,} states x {symbols} symbols", dense)
    del dense
    states, per_state = ctx.sizes.sparse_shape
    sparse = Dfa.random_sparse(states, per_state, string.ascii_letters)
    rows += table_memory_rows(f"sparse, {states:,} states x {per_state} of 52 symbols", sparse)
    del sparse
    return rows + history_memory_rows(ctx)


SECTIONS = {
    "accept": ("a. accept: whole-input acceptance, per input character", section_accept),
    "calls": ("b. single calls, against a bound dict.get", section_calls),
    "simulate": ("c. simulate: the visited states as a list of str, per input character", section_simulate),
    "scaling": ("d. scaling of accept with table size and input length", section_scaling),
    "stepping": ("e. stepping and history, per call", section_stepping),
    "memory": ("f. memory", section_memory),
}


# ---- driver --------------------------------------------------------------------------


def machine() -> dict:
    cpu = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass

    def version(package):
        try:
            return importlib.metadata.version(package)
        except importlib.metadata.PackageNotFoundError:
            return None

    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "python": f"{platform.python_implementation()} {platform.python_version()}",
        "platform": platform.platform(),
        "morvane": morvane.__file__,
        "automata-lib": version("automata-lib"),
        "transitions": version("transitions"),
    }


def parse_arguments(argv=None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Benchmarks of morvane against its peers.")
    parser.add_argument("--quick", action="store_true", help="small sizes and few repeats, to check that it runs")
    parser.add_argument("--json", metavar="PATH", help="also write every result to PATH as JSON")
    parser.add_argument(
        "--only",
        metavar="SECTION",
        action="append",
        help=f"run only this section (repeatable, or comma-separated): {', '.join(SECTIONS)}",
    )
    arguments = parser.parse_args(argv)
    chosen = [name for item in arguments.only or SECTIONS for name in item.split(",") if name]
    unknown = [name for name in chosen if name not in SECTIONS]
    if unknown:
        parser.error(f"unknown section {', '.join(unknown)}; choose from {', '.join(SECTIONS)}")
    arguments.sections = [name for name in SECTIONS if name in chosen]
    return arguments


def main(argv=None) -> int:
    arguments = parse_arguments(argv)
    sizes = QUICK if arguments.quick else FULL
    host = machine()
    print(f"morvane benchmarks ({'quick' if arguments.quick else 'full'} run)")
    print(f"  CPU: {host['cpu']}, {host['cores']} cores; {host['python']}; {host['platform']}")
    print(f"  morvane: {host['morvane']}")
    print(
        f"  peers: automata-lib {host['automata-lib'] or 'not installed'}, "
        f"transitions {host['transitions'] or 'not installed'}"
    )
    print("  figures: best of several runs; morvane/peer is morvane's cost over the peer's (below 1: morvane wins)")

    ctx = Context(sizes, build_floor())
    sections = []
    for name in arguments.sections:
        title, run = SECTIONS[name]
        ctx.section = Section(name, title)
        ctx.section.rows = run(ctx)
        print_section(ctx.section)
        sections.append(ctx.section)
        gc.collect()

    judged = [row for section in sections for row in section.rows if row.met is not None]
    missed = [row for row in judged if not row.met]
    print(f"\ngoals met: {len(judged) - len(missed)} of {len(judged)}")
    for row in missed:
        print(
            f"  missed: {row.what} vs {row.peer}: {ratio_text(row) or figure(row.morvane, row.unit)} "
            f"(goal {row.goal.label})"
        )

    if arguments.json:
        report = {
            "machine": host,
            "mode": "quick" if arguments.quick else "full",
            "sizes": asdict(sizes),
            "sections": [
                {"name": s.name, "title": s.title, "notes": s.notes, "rows": [row.as_json() for row in s.rows]}
                for s in sections
            ],
        }
        Path(arguments.json).write_text(json.dumps(report, indent=2) + "\n")
        print(f"results written to {arguments.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

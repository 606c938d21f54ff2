"""The timing harness of the benchmarks: sizes, rows and their goals, timing
in turns, memory measurement and the printed tables.

A section (see sections/) measures with `per_char_rows` (a whole input, ns
per character) or `per_call_rows` (single calls, ns per call), each against
its peers, and returns the rows; the driver prints them.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import gc
import os
import sys
import timeit
import tracemalloc
from dataclasses import asdict, dataclass, field
from time import perf_counter
from types import ModuleType
from typing import Callable

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

    def as_json(self) -> dict:
        return {"name": self.name, "title": self.title, "notes": self.notes, "rows": [r.as_json() for r in self.rows]}


@dataclass
class Context:
    """What a section gets: the sizes of this run, the compiled floor, and
    the section being measured (for its notes)."""

    sizes: Sizes
    floor: ModuleType
    section: Section | None = None

    def note(self, text: str) -> None:
        if text not in self.section.notes:
            self.section.notes.append(text)


# ---- printing ------------------------------------------------------------------


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


# ---- comparisons -------------------------------------------------------------------


@dataclass
class Peer:
    """A peer of a whole-input measurement: `run` answers what morvane answers."""

    name: str
    run: Callable[[], object]
    goal: Goal | None = None


@dataclass
class CallPeer:
    name: str
    call: Call
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


def per_call_rows(ctx: Context, what: str, own: Call, peers: list[CallPeer]) -> list[Row]:
    value, *theirs = ns_per_call([own, *(peer.call for peer in peers)], ctx.sizes)
    return [Row(what, "ns/call", value, peer.name, figure, peer.goal) for peer, figure in zip(peers, theirs)]


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

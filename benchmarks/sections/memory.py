"""Bytes per transition and per history entry, and what reset() gives back."""

import gc
import string
from itertools import repeat

from harness import Context, Goal, Row, malloc_trim, python_bytes, rss, settled_rss
from peers import PythonStepper
from workloads import LETTERS, Dfa, stepping_automaton

NAME = "memory"
TITLE = "f. memory"


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


def run(ctx: Context) -> list[Row]:
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

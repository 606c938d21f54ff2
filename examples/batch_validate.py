"""Check every line of a large file against a pattern, on a pool of processes.

    python examples/batch_validate.py [--lines N] [--workers W] [--file PATH]

Writes PATH (default: a temporary file) with N lines (default 200,000), about
half of them ISO dates (YYYY-MM-DD), the rest near misses. The pattern
becomes one automaton (morvane_tools.from_regex); morvane_tools.enable_pickle() lets the automaton
travel to the workers. The file is checked three ways, each counting the
lines the automaton accepts:

  1. here, one line after another;
  2. on a concurrent.futures process pool (spawned processes, so the
     automaton really is pickled), each worker reading its own byte range;
  3. on a Dask bag, when dask is installed (pip install dask).

The three counts must agree; the program says how long each took.
"""

from __future__ import annotations

import argparse
import concurrent.futures
import multiprocessing
import os
import random
import sys
import tempfile
import time
from pathlib import Path

import morvane_tools
from morvane import Morvane

PATTERN = r"\d{4}-\d{2}-\d{2}"


def write_lines(path: Path, count: int) -> None:
    rng = random.Random(7)
    with path.open("w", encoding="utf-8") as out:
        for _ in range(count):
            date = f"{rng.randint(1900, 2100)}-{rng.randint(1, 12):02}-{rng.randint(1, 31):02}"
            if rng.random() < 0.5:  # a near miss: one character changed, dropped or added
                at = rng.randrange(len(date))
                date = date[:at] + rng.choice(["", "x", "/", "7" + date[at]]) + date[at + 1 :]
            out.write(date + "\n")


# ---- the pool's worker: the automaton arrives once, through the initializer ------------
AUTOMATON: Morvane | None = None


def take_automaton(m: Morvane) -> None:
    global AUTOMATON
    AUTOMATON = m


def count_range(path: str, start: int, end: int) -> int:
    """Accepted lines among those that begin in [start, end) of the file."""
    assert AUTOMATON is not None
    accept = AUTOMATON.accept
    accepted = 0
    with open(path, "rb") as source:
        if start:
            source.seek(start - 1)
            source.readline()  # the line under way belongs to the previous range
        while source.tell() < end:
            line = source.readline()
            if not line:
                break
            accepted += accept(line.decode("utf-8").rstrip("\n"))
    return accepted


def on_pool(m: Morvane, path: Path, workers: int) -> int:
    size = path.stat().st_size
    bounds = [size * part // (workers * 4) for part in range(workers * 4 + 1)]
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(workers, mp_context=context, initializer=take_automaton,
                                                initargs=(m,)) as pool:
        parts = pool.map(count_range, [str(path)] * (len(bounds) - 1), bounds[:-1], bounds[1:])
        return sum(parts)


def on_dask(m: Morvane, path: Path) -> int | None:
    try:
        import dask.bag
    except ImportError:
        return None
    lines = dask.bag.read_text(str(path), blocksize="1MiB").map(str.rstrip, "\n")
    return int(lines.filter(m.accept).count().compute(scheduler="processes"))


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--lines", type=int, default=200_000)
    parser.add_argument("--workers", type=int, default=min(4, os.cpu_count() or 1))
    parser.add_argument("--file", type=Path, help="where to write the lines (default: a temporary file)")
    arguments = parser.parse_args(argv)

    morvane_tools.enable_pickle()
    m = morvane_tools.from_regex(PATTERN)
    print(f"pattern {PATTERN}: an automaton of {len(m.get_states())} states")
    with tempfile.TemporaryDirectory() as scratch:
        path = arguments.file or Path(scratch) / "lines.txt"
        write_lines(path, arguments.lines)
        print(f"{arguments.lines:,} lines in {path}")

        started = time.perf_counter()
        with path.open(encoding="utf-8") as source:
            here = sum(map(m.accept, (line.rstrip("\n") for line in source)))
        print(f"here:     {here:,} accepted in {time.perf_counter() - started:.2f} s")

        started = time.perf_counter()
        pooled = on_pool(m, path, arguments.workers)
        print(f"pool:     {pooled:,} accepted in {time.perf_counter() - started:.2f} s "
              f"({arguments.workers} spawned processes, start-up included)")

        started = time.perf_counter()
        bagged = on_dask(m, path)
        if bagged is None:
            print("dask:     not installed (pip install dask): skipped")
        else:
            print(f"dask:     {bagged:,} accepted in {time.perf_counter() - started:.2f} s")
    agree = pooled == here and bagged in (None, here)
    print("the counts agree" if agree else "THE COUNTS DIFFER")
    return 0 if agree else 1


if __name__ == "__main__":
    sys.exit(main())

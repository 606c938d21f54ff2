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

This file is the driver only: the harness (timing, rows, printing) is
harness.py, the automata workloads.py, the peers peers.py, and each section
one module of sections/ (see README.md).
"""

from __future__ import annotations

import argparse
import gc
import importlib
import importlib.metadata
import json
import os
import pkgutil
import platform
import sys
from dataclasses import asdict
from pathlib import Path

try:
    import morvane
except ImportError:
    sys.exit("morvane is not importable: run './dev bench', or install morvane (or put its build on PYTHONPATH).")

import sections
from harness import FULL, QUICK, Context, Section, figure, print_section, ratio_text
from peers import PEER_PACKAGES, build_floor


def discover_sections() -> dict:
    """NAME -> module for every module of sections/, in the order of their titles."""
    found = [importlib.import_module(f"sections.{info.name}") for info in pkgutil.iter_modules(sections.__path__)]
    found.sort(key=lambda module: (module.TITLE, module.NAME))
    return {module.NAME: module for module in found}


SECTIONS = discover_sections()


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
        **{package: version(package) for package in PEER_PACKAGES},
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
    versions = (f"{package} {host[package] or 'not installed'}" for package in PEER_PACKAGES)
    print(f"  peers: {', '.join(versions)}")
    print("  figures: best of several runs; morvane/peer is morvane's cost over the peer's (below 1: morvane wins)")

    ctx = Context(sizes, build_floor())
    done = []
    for name in arguments.sections:
        module = SECTIONS[name]
        ctx.section = Section(name, module.TITLE)
        ctx.section.rows = module.run(ctx)
        print_section(ctx.section)
        done.append(ctx.section)
        gc.collect()

    judged = [row for section in done for row in section.rows if row.met is not None]
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
            "sections": [section.as_json() for section in done],
        }
        Path(arguments.json).write_text(json.dumps(report, indent=2) + "\n")
        print(f"results written to {arguments.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

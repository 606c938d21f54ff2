#!/usr/bin/env python3
"""Draw the results of `benchmarks/run.py --json` as a bar chart.

    python benchmarks/run.py --json /tmp/bench.json
    python benchmarks/chart.py /tmp/bench.json            # writes docs/images/benchmarks.png
    python benchmarks/chart.py /tmp/bench.json -o out.png

Three panels, lower is better everywhere: time per input character for whole
inputs (accept, simulate), time per call for single calls, and bytes per
stored item. Each group of bars is one measurement, morvane first, then the
peers measured beside it in the same run; each bar is labelled with its
figure and the peer's name. Needs matplotlib (pip install matplotlib).
"""

from __future__ import annotations

import argparse
import io
import json
import sys
from pathlib import Path

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from PIL import Image  # a dependency of matplotlib
except ImportError:
    sys.exit("chart.py needs matplotlib: pip install matplotlib")

ROOT = Path(__file__).resolve().parent.parent

# (panel title, x-axis label, log scale, groups); a group is (label, section, row "what").
PANELS = [
    (
        "Whole inputs of {input_length:,} characters",
        "ns per character (log scale)",
        True,
        [
            ("accept, 2 states", "accept", "(A) even a's"),
            ("accept, 50 states", "accept", "(B) random, 50 states"),
            ("simulate, 2 states", "simulate", "(A) even a's"),
            ("simulate, 50 states", "simulate", "(B) random, 50 states"),
        ],
    ),
    (
        "Single calls",
        "ns per call (log scale)",
        True,
        [
            ("has_transition", "calls", "has_transition(state, symbol)"),
            ("is_final", "calls", "is_final(state)"),
            ("accept, 8 chars", "calls", "accept(8 chars)"),
            ("step", "stepping", "step with a transition"),
            ("undo", "stepping", "undo (history not empty)"),
            ("data property", "stepping", "data (property)"),
        ],
    ),
    (
        "Memory",
        "bytes per transition or history entry",
        False,
        [
            ("dense table", "memory", "dense, 40,000 states x 25 symbols: transition table"),
            ("sparse table", "memory", "sparse, 250,000 states x 4 of 52 symbols: transition table"),
            ("history entry", "memory", "history: 10,000,000 entries"),
        ],
    ),
]

# Bars are coloured by what kind of contender they are.
KINDS = [
    ("morvane", "#d9480f"),
    ("plain C/C++ floor", "#868e96"),
    ("Python built-in", "#4c6ef5"),
    ("pure Python", "#37b24d"),
    ("library", "#ae3ec9"),
]


def kind_of(peer: str) -> str:
    if "floor" in peer:
        return "plain C/C++ floor"
    if peer in ("dict.get", "re.fullmatch", "Python dict of dicts", "Python list of tuples"):
        return "Python built-in"
    if peer.startswith(("pure-Python", "Python class")):
        return "pure Python"
    return "library"


def matching_rows(report: dict, section: str, what: str) -> list[dict]:
    """Rows of `section` whose description starts with `what` (sizes vary between full and quick runs)."""
    for entry in report["sections"]:
        if entry["name"] == section:
            return [row for row in entry["rows"] if row["what"].startswith(what)]
    return []


def bars_of(report: dict, section: str, what: str) -> list[tuple[str, str, float, str]]:
    """(kind, name, value, unit) for morvane and each distinct peer of a measurement."""
    rows = matching_rows(report, section, what)
    if not rows:
        return []
    bars = [("morvane", "morvane", rows[0]["morvane"], rows[0]["unit"])]
    seen = set()
    for row in rows:
        peer = row["peer"]
        if peer and row["peer_value"] and peer not in seen and not peer.startswith("morvane"):
            seen.add(peer)
            bars.append((kind_of(peer), peer, row["peer_value"], row["unit"]))
    return bars


def figure_text(value: float, unit: str) -> str:
    unit = unit.split("/")[0]
    if value >= 100:
        return f"{value:,.0f} {unit}"
    return f"{value:.1f} {unit}" if value >= 10 else f"{value:.2f} {unit}"


def draw(report: dict, output: Path) -> None:
    panels = []
    sizes = report.get("sizes", {})
    for title, xlabel, log, groups in PANELS:
        title = title.format(input_length=sizes.get("input_length", 0))
        found = [(label, bars_of(report, section, what)) for label, section, what in groups]
        found = [(label, bars) for label, bars in found if bars]
        if found:
            panels.append((title, xlabel, log, found))
    if not panels:
        sys.exit("no rows to draw: was the JSON written by benchmarks/run.py --json?")

    heights = [sum(len(bars) + 1 for _, bars in groups) for *_, groups in panels]
    fig, axes = plt.subplots(
        len(panels),
        1,
        figsize=(10, 0.2 * sum(heights) + 2.2),
        gridspec_kw={"height_ratios": heights},
        layout="constrained",
    )
    axes = [axes] if len(panels) == 1 else list(axes)
    colours = dict(KINDS)

    for ax, (title, xlabel, log, groups) in zip(axes, panels):
        positions, labels, label_positions = 0.0, [], []
        largest = max(value for _, bars in groups for _, _, value, _ in bars)
        smallest = min(value for _, bars in groups for _, _, value, _ in bars)
        for label, bars in groups:
            start = positions
            for kind, name, value, unit in bars:
                ax.barh(positions, value, height=0.8, color=colours[kind])
                text = figure_text(value, unit) + ("" if kind == "morvane" else f"  {name}")
                ax.text(
                    value * (1.08 if log else 1.0) + (0 if log else largest * 0.01),
                    positions,
                    text,
                    va="center",
                    fontsize=8,
                    fontweight="bold" if kind == "morvane" else "normal",
                )
                positions += 1
            label_positions.append((start + positions - 1) / 2)
            labels.append(label)
            positions += 1  # a gap between groups
        ax.set_yticks(label_positions, labels, fontsize=9)
        ax.invert_yaxis()
        ax.set_title(title, loc="left", fontsize=11, fontweight="bold")
        ax.set_xlabel(xlabel, fontsize=9)
        if log:
            ax.set_xscale("log")
            ax.set_xlim(smallest / 1.6, largest * 12)  # room for the labels
        else:
            ax.set_xlim(0, largest * 1.45)
        ax.grid(axis="x", color="#e9ecef", linewidth=0.8)
        ax.set_axisbelow(True)
        ax.tick_params(axis="x", labelsize=8)
        for side in ("top", "right"):
            ax.spines[side].set_visible(False)

    host = report.get("machine", {})
    mode = "" if report.get("mode") == "full" else f", {report.get('mode')} run"
    fig.suptitle(
        f"morvane against its peers, lower is better\n{host.get('cpu', '?')}, {host.get('cores', '?')} cores, "
        f"{host.get('python', '?')}{mode}",
        fontsize=11,
    )
    handles = [plt.Rectangle((0, 0), 1, 1, color=colour) for _, colour in KINDS]
    fig.legend(
        handles, [kind for kind, _ in KINDS], loc="outside lower center", ncol=len(KINDS), fontsize=8, frameon=False
    )
    output.parent.mkdir(parents=True, exist_ok=True)
    buffer = io.BytesIO()
    fig.savefig(buffer, dpi=110, facecolor="white")
    # A palette of 64 colours draws these flat bars and text alike, at a third of the size.
    Image.open(buffer).convert("RGB").quantize(colors=64).save(output, optimize=True)
    print(f"wrote {output}")


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Bar chart of a benchmarks/run.py --json result.")
    parser.add_argument("results", type=Path, help="the JSON written by benchmarks/run.py --json")
    parser.add_argument(
        "-o",
        "--output",
        type=Path,
        default=ROOT / "docs" / "images" / "benchmarks.png",
        help="the PNG to write (default: docs/images/benchmarks.png)",
    )
    arguments = parser.parse_args(argv)
    draw(json.loads(arguments.results.read_text()), arguments.output)
    return 0


if __name__ == "__main__":
    sys.exit(main())

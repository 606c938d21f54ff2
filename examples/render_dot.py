"""Draw a Morvane automaton with Graphviz, using only its public methods.

    python examples/render_dot.py [--out DIR] [--input TEXT]

Builds the decimal-number automaton of token_validator.py, steps it through
TEXT (default "-3."), and writes DIR/decimal.dot: states as circles, final
states as double circles, an arrow into the initial state, one edge per
(origin, target) pair labelled with its symbols (runs such as 0–9 shortened),
and the current state filled. When Graphviz's `dot` program is installed
(Debian package graphviz) it also writes decimal.svg and decimal.png;
otherwise it says so and still succeeds.
"""

import argparse
import shutil
import subprocess
import sys
from collections import defaultdict
from pathlib import Path

from morvane import Morvane
from token_validator import decimal

SHOWN = {" ": "␣", "\t": "\\t", "\n": "\\n"}  # blanks made visible in labels


def quote(text: str) -> str:
    """A DOT string literal."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def shown(symbol: str) -> str:
    """A symbol as a label shows it: letters and digits as they are, anything
    else between apostrophes, blanks made visible."""
    return symbol if symbol.isalnum() else f"'{SHOWN.get(symbol, symbol)}'"


def symbols_label(symbols: list[str]) -> str:
    """['.', '0', ..., '9'] -> "'.'  0–9": symbols in code-point order, runs of
    three or more consecutive code points shortened with an en dash."""
    points = sorted(ord(symbol) for symbol in symbols)
    parts, start = [], 0
    for index in range(1, len(points) + 1):
        if index == len(points) or points[index] != points[index - 1] + 1:
            run = [shown(chr(point)) for point in points[start:index]]
            parts.append(f"{run[0]}–{run[-1]}" if len(run) >= 3 else "  ".join(run))
            start = index
    return "  ".join(parts)


def to_dot(m: Morvane, title: str = "") -> str:
    """The automaton as a Graphviz digraph."""
    names = m.get_states()
    for extra in (m.initial_state, m.current_state):  # the initial state need not be a state
        if extra not in names:
            names.append(extra)
    ids = {name: f"s{index}" for index, name in enumerate(names)}
    finals = set(m.get_finals())

    lines = ["digraph automaton {", '  rankdir=LR; bgcolor="white"; fontname="sans-serif";']
    lines.append('  node [fontname="sans-serif"];')
    lines.append('  edge [fontname="sans-serif", fontsize=13];')
    if title:
        lines.append(f"  labelloc=t; label={quote(title)};")
    lines.append('  init [shape=point, width=0.08, label=""];')
    for name in names:
        attributes = [f"label={quote(name)}", "shape=" + ("doublecircle" if name in finals else "circle")]
        if name == m.current_state:
            attributes += ["style=filled", 'fillcolor="#ffd866"', "penwidth=2"]
        lines.append(f"  {ids[name]} [{', '.join(attributes)}];")
    lines.append(f"  init -> {ids[m.initial_state]};")

    edges = defaultdict(list)
    for origin, symbol, target in m.get_transitions():
        edges[origin, target].append(symbol)
    for (origin, target), symbols in sorted(edges.items()):
        lines.append(f"  {ids[origin]} -> {ids[target]} [label={quote(symbols_label(symbols))}];")
    lines.append("}")
    return "\n".join(lines) + "\n"


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("."), help="directory for the files (default: here)")
    parser.add_argument("--input", default="-3.", help="symbols to step through before drawing")
    arguments = parser.parse_args(argv)

    m = decimal()
    for symbol in arguments.input:
        m.step(symbol)
    title = f"decimal numbers, after reading {arguments.input!r}: in state {m.current_state!r}"
    dot_text = to_dot(m, title)

    arguments.out.mkdir(parents=True, exist_ok=True)
    dot_path = arguments.out / "decimal.dot"
    dot_path.write_text(dot_text, encoding="utf-8")
    print(dot_text)
    edges = len({(origin, target) for origin, _, target in m.get_transitions()})
    print(f"wrote {dot_path}: {len(m.get_states())} states, {len(m.get_transitions())} transitions in {edges} edges")

    dot = shutil.which("dot")
    if dot is None:
        print("Graphviz's dot program is not installed (Debian: apt-get install graphviz): no SVG or PNG written")
        return 0
    for fmt in ("svg", "png"):
        path = dot_path.with_suffix("." + fmt)
        subprocess.run([dot, f"-T{fmt}", "-Gdpi=96", str(dot_path), "-o", str(path)], check=True)
        print(f"wrote {path}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""Draw a Morvane automaton with Graphviz, through morvane_tools.to_dot.

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
from pathlib import Path

from morvane_tools import to_dot
from token_validator import decimal

def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=Path, default=Path("."), help="directory for the files (default: here)")
    parser.add_argument("--input", default="-3.", help="symbols to step through before drawing")
    arguments = parser.parse_args(argv)

    m = decimal()
    for symbol in arguments.input:
        m.step(symbol)
    title = f"decimal numbers, after reading {arguments.input!r}: in state {m.current_state!r}"
    dot_text = to_dot(m, title=title)

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

"""Drawings of an automaton as Graphviz DOT or Mermaid text."""

from __future__ import annotations

from collections import defaultdict

from morvane import Morvane

from morvane_tools._common import check_text, type_name

_BLANKS = {" ": "␣", "\t": "\\t", "\n": "\\n", "\r": "\\r"}


def _symbol_shown(symbol: str) -> str:
    """Letters and digits as they are; blanks made visible; characters that
    print as nothing by their code point; anything else between apostrophes."""
    if symbol.isalnum():
        return symbol
    if symbol in _BLANKS:
        return f"'{_BLANKS[symbol]}'"
    if not symbol.isprintable():
        return f"U+{ord(symbol):04X}"
    return f"'{symbol}'"


def symbols_label(symbols: list[str]) -> str:
    """['.', '0', ..., '9'] -> "'.' 0–9": code-point order, runs of three or more
    consecutive code points written as first–last."""
    points = sorted(map(ord, symbols))
    parts = []
    start = 0
    for index in range(1, len(points) + 1):
        if index == len(points) or points[index] != points[index - 1] + 1:
            run = [_symbol_shown(chr(point)) for point in points[start:index]]
            parts.append(f"{run[0]}–{run[-1]}" if len(run) >= 3 else " ".join(run))
            start = index
    return " ".join(parts)


class _Picture:
    """What both drawings show: named nodes, grouped edges, the marks."""

    def __init__(self, m: Morvane, function: str) -> None:
        if not isinstance(m, Morvane):
            raise TypeError(f"{function} needs a Morvane, not {type_name(m)}")
        self.names = m.get_states()
        self.initial = m.initial_state
        self.current = m.current_state
        self.finals = set(m.get_finals())
        # The initial and current states need not be states; they are drawn all the same.
        for extra in (self.initial, self.current):
            if extra not in self.names:
                self.names.append(extra)
        self.ids = {name: f"s{index}" for index, name in enumerate(self.names)}
        grouped: defaultdict[tuple[str, str], list[str]] = defaultdict(list)
        for origin, symbol, target in m.get_transitions():
            grouped[origin, target].append(symbol)
        order = {name: index for index, name in enumerate(self.names)}
        self.edges = sorted(
            ((origin, target, symbols_label(symbols)) for (origin, target), symbols in grouped.items()),
            key=lambda edge: (order[edge[0]], order[edge[1]]),
        )


def _dot_quoted(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\r", "\\r") + '"'


def to_dot(m: Morvane, *, title: str | None = None) -> str:
    """``m`` as a Graphviz digraph (text; render it with ``dot -Tsvg``).

    States are circles labelled with their names, final states double
    circles; a point with an arrow marks the initial state and the current
    state is filled. Each (origin, target) pair is one edge labelled with its
    symbols in code-point order, runs of three or more written first–last
    (``0–9``); letters and digits stand as they are, other symbols between
    apostrophes, blanks made visible (``'␣'``), unprintable ones by code point.
    """
    picture = _Picture(m, "to_dot")
    lines = ["digraph automaton {", '  rankdir=LR; fontname="sans-serif";', '  node [fontname="sans-serif"];', '  edge [fontname="sans-serif"];']
    if title is not None:
        lines.append(f"  labelloc=t; label={_dot_quoted(check_text(title, 'title'))};")
    lines.append('  __initial [shape=point, label=""];')
    for name in picture.names:
        attributes = [f"label={_dot_quoted(name)}", "shape=" + ("doublecircle" if name in picture.finals else "circle")]
        if name == picture.current:
            attributes.append('style=filled, fillcolor="#ffd866", penwidth=2')
        lines.append(f"  {picture.ids[name]} [{', '.join(attributes)}];")
    lines.append(f"  __initial -> {picture.ids[picture.initial]};")
    for origin, target, label in picture.edges:
        lines.append(f"  {picture.ids[origin]} -> {picture.ids[target]} [label={_dot_quoted(label)}];")
    lines.append("}")
    return "\n".join(lines) + "\n"


def _mermaid_quoted(text: str) -> str:
    """A Mermaid string; characters Mermaid reads as markup become entity codes."""
    return '"' + "".join(
        character if character.isalnum() or character in " _.,:;'–␣+-=()[]{}/\\!?*^~$@" else f"#{ord(character)};"
        for character in text
    ) + '"'


def to_mermaid(m: Morvane, *, title: str | None = None) -> str:
    """``m`` as a Mermaid flowchart (text for Markdown pages that render
    Mermaid): states as circles, final states as double circles, an arrow from
    a small start node into the initial state, the current state highlighted,
    and edges labelled as in :func:`to_dot`."""
    picture = _Picture(m, "to_mermaid")
    lines = []
    if title is not None:
        lines += ["---", f"title: {_mermaid_quoted(check_text(title, 'title'))}", "---"]
    lines += ["flowchart LR", "  __initial((\" \")) --> " + picture.ids[picture.initial]]
    for name in picture.names:
        shape = ("(((", ")))") if name in picture.finals else ("((", "))")
        lines.append(f"  {picture.ids[name]}{shape[0]}{_mermaid_quoted(name)}{shape[1]}")
    for origin, target, label in picture.edges:
        lines.append(f"  {picture.ids[origin]} -->|{_mermaid_quoted(label)}| {picture.ids[target]}")
    lines.append("  classDef current fill:#ffd866,stroke-width:2px")
    lines.append(f"  class {picture.ids[picture.current]} current")
    return "\n".join(lines) + "\n"

"""Checks of names and symbols, and the fast paths that build and read a Morvane.

Everything here goes through the class's public methods. Large tables are
added with ``map`` over the bound ``add_transition`` so that the loop runs in
C; every argument is checked before the instance is made, so a build either
returns a whole automaton or raises before anything exists.
"""

from __future__ import annotations

import gc
from collections import deque
from collections.abc import Callable, Iterable, Iterator, Mapping
from contextlib import contextmanager
from itertools import repeat

from morvane import Morvane

from morvane_tools import _native
from morvane_tools._dfa import from_morvane

Table = Mapping[str, Mapping[str, str]]


def type_name(value: object) -> str:
    # A class may name itself with a str subclass whose __str__ misbehaves.
    return str.__str__(type(value).__name__)


def shown(value: object, limit: int = 60) -> str:
    """A repr short enough for a message; the object's own repr may fail."""
    try:
        text = str.__str__(repr(value))
    except Exception:
        text = f"<{type_name(value)} object>"
    return text if len(text) <= limit else text[: limit - 3] + "..."


def encodable(text: str) -> bool:
    """Whether the text has a UTF-8 form (no lone surrogate), as the class needs."""
    if text.isascii():
        return True
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def check_text(value: object, where: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{where} must be a str, not {type_name(value)} ({shown(value)})")
    if not encodable(value):
        raise ValueError(f"{where} {shown(value)} holds a lone surrogate, which a state name cannot hold")
    return value


def check_texts(values: Iterable[str], where: str) -> None:
    """Every value is a str with a UTF-8 form; one pass in C when they are."""
    values = list(values)
    if all(isinstance(value, str) for value in values) and encodable("".join(values)):
        return
    for value in values:  # the slow path only finds the culprit
        check_text(value, f"{where}: the member")


def text_set(values: object, where: str) -> set[str]:
    """A set of names from any iterable of str (a lone str is refused: it
    would be read as its characters)."""
    if isinstance(values, str) or not isinstance(values, Iterable):
        raise TypeError(f"{where} must be an iterable of str (a set, list or tuple), not {type_name(values)}")
    result = set(values)
    check_texts(result, where)
    return result


def check_symbol(symbol: object, where: str) -> str:
    if not isinstance(symbol, str):
        raise TypeError(f"{where}: symbol {symbol!r} must be a str of one character, not {type_name(symbol)}")
    if len(symbol) != 1:
        raise ValueError(f"{where}: symbol {symbol!r} must be exactly one character")
    if not encodable(symbol):
        raise ValueError(f"{where}: symbol {symbol!r} is a lone surrogate, which no transition can carry")
    return symbol


def row_holding(table: Table, wanted: Callable[[Mapping[str, str]], bool]) -> str:
    """The first state of the table whose row passes the test (error paths only)."""
    return next(origin for origin, row in table.items() if wanted(row))


@contextmanager
def gc_paused() -> Iterator[None]:
    """Millions of small containers made at once set off collections that find
    nothing to free; they are put off until the batch is done."""
    was_enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if was_enabled:
            gc.enable()


def add_rows(m: Morvane, table: Table) -> None:
    """Adds every transition of a checked table (C loops, one per row)."""
    add = m.add_transition
    for origin, row in table.items():
        deque(map(add, repeat(origin, len(row)), row.keys(), row.values()), maxlen=0)


def read_rows(m: Morvane, states: list[str]) -> dict[str, dict[str, str]]:
    """The transition table grouped by origin: a row per state in the order of
    ``states`` (empty rows included), symbols in code-point order. Read into
    the dense form and made into dicts in native code: far quicker than a
    Python step per transition."""
    d = from_morvane(m)
    names = d.names if d.names is not None else []
    rows = _native.rows_of(names, d.symbols, d.targets, d.finals, d.initial)
    with gc_paused():
        by_name = dict(zip(names, rows))
        return {state: by_name[state] if state in by_name else {} for state in states}

"""The packed layout of a saved transition table.

Rows of targets in the order of the document's states, one column per
one-character alphabet member in code-point order; each cell the index of the
target state or -1 for none, as little-endian 32-bit integers in base64. Large
dense tables read and write this way through the toolkit's dense form
(``_dfa``), which reads and builds instances in native code; every cell is
checked before anything is built.
"""

from __future__ import annotations

import base64
import binascii
import sys
from array import array

from morvane import Morvane

from morvane_tools import _dfa
from morvane_tools._common import shown

# With "auto", tables of fewer cells stay readable rows; tables of more cells
# than the upper bound, or with fewer than one cell in four used, would make a
# packed text larger than the rows.
AUTO_CELLS = (1 << 16, 50_000_000)


def _column_symbols(alphabet: list[str]) -> str:
    return "".join(sorted(member for member in alphabet if len(member) == 1))


def _little_endian(targets: array[int]) -> bytes:
    if sys.byteorder == "big":
        targets = array("i", targets)
        targets.byteswap()
    return targets.tobytes()


def empty_cells(cells: bytes) -> int:
    """How many little-endian cells hold -1. Only -1 has 0xff as the top (last)
    byte of its cell, the others being state indexes, so every run of four
    0xff bytes is a whole -1 cell: counting the runs counts the cells without
    an int object per cell."""
    return cells.count(b"\xff\xff\xff\xff")


def pack(m: Morvane, states: list[str], alphabet: list[str], layout: str) -> dict[str, str] | None:
    """The packed table of ``m``, or None where rows suit better ("auto")."""
    symbols = _column_symbols(alphabet)
    n, k = len(states), len(symbols)
    if layout == "auto" and not AUTO_CELLS[0] <= n * k <= AUTO_CELLS[1]:
        return None
    dense = _dfa.from_morvane(m)
    if dense.symbols != symbols:  # the dense form's columns are these; anything else is not ours to read
        raise AssertionError("the dense form's columns differ from the alphabet's one-character members")
    names = dense.names or []
    targets = dense.targets
    if names[:n] != states:
        # Rows in the document's order, targets renumbered to match.
        position = {name: index for index, name in enumerate(states)}
        source = {name: index for index, name in enumerate(names)}
        renumbered = array("i")
        for state in states:
            row = targets[source[state] * k : (source[state] + 1) * k]
            renumbered.extend(-1 if target < 0 else position[names[target]] for target in row)
        targets = renumbered
    elif len(targets) > n * k:
        targets = targets[: n * k]  # the initial state's own row, when it is not a state: always empty
    cells = _little_endian(targets)
    if layout == "auto" and (n * k - empty_cells(cells)) * 4 < n * k:
        return None
    return {"symbols": symbols, "targets": base64.b64encode(cells).decode("ascii")}


def unpack(
    packed: object, states: list[str], alphabet: list[str], initial: str, finals: list[str],
    state_set: set[str] | None = None,
) -> Morvane:
    """A new automaton from a packed table; ValueError naming the place of a fault."""
    if type(packed) is not dict or sorted(packed) != ["symbols", "targets"]:
        raise ValueError('packed_transitions must be an object with the keys "symbols" and "targets"')
    symbols = _column_symbols(alphabet)
    if packed["symbols"] != symbols:
        raise ValueError(
            f"packed_transitions.symbols must be the alphabet's one-character members in code-point order "
            f"({shown(symbols)}), not {shown(packed['symbols'])}"
        )
    encoded = packed["targets"]
    if type(encoded) is not str:
        raise ValueError("packed_transitions.targets must be a base64 string")
    try:
        raw = base64.b64decode(encoded.encode("ascii"), validate=True)
    except (binascii.Error, UnicodeEncodeError) as error:
        raise ValueError(f"packed_transitions.targets is not base64: {error}") from None
    n, k = len(states), len(symbols)
    if len(raw) != 4 * n * k:
        raise ValueError(
            f"packed_transitions.targets holds {len(raw)} bytes; {n} states x {k} symbols need {4 * n * k}"
        )
    targets = array("i")
    if targets.itemsize != 4:  # pragma: no cover - no supported platform
        raise RuntimeError("this platform's C int is not 32 bits wide")
    targets.frombytes(raw)
    if sys.byteorder == "big":
        targets.byteswap()
    names = list(states)
    if state_set is None:
        state_set = set(states)
    listed = initial in state_set
    if not listed:
        names.append(initial)
        targets.extend(array("i", [-1]) * k)
    final_set = set(finals)
    dense = _dfa.Dfa(
        symbols,
        targets,
        bytearray(map(final_set.__contains__, names)),
        names.index(initial) if listed else n,
        names,
        extra_alphabet=[member for member in alphabet if len(member) != 1],
        extra_finals=sorted(final_set.difference(names)),
        initial_listed=listed,
    )
    try:
        # The native build checks every cell before it adds anything.
        return _dfa.to_morvane(dense)
    except ValueError:
        cell = next((index for index, target in enumerate(targets[: n * k]) if not -1 <= target < n), None)
        if cell is None:
            raise
        raise ValueError(
            f"packed_transitions.targets: the cell of state {states[cell // k]!r} and symbol "
            f"{symbols[cell % k]!r} holds {targets[cell]}, which is neither -1 nor the index of a state"
        ) from None

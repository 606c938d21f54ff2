"""The toolkit's internal dense form of a deterministic automaton.

A `Dfa` numbers the states 0..n-1 and the usable symbols 0..k-1 (the
one-character alphabet members in code point order) and keeps the transition
function as one flat row-major table of targets, -1 meaning "no transition"
(rejection). Every algorithm of the toolkit works on this form; `from_morvane`
and `to_morvane` are the only places that talk to `Morvane` instances, and they
do so through the class's public methods alone.
"""

from __future__ import annotations

from array import array
from collections.abc import Sequence

from morvane import Morvane

from morvane_tools import _native

__all__ = ["Dfa", "from_morvane", "to_morvane", "minimize", "table_from_bytes"]


class Dfa:
    """A deterministic automaton in dense form.

    symbols: the usable alphabet, one-character members sorted by code point;
        column j of the table is symbols[j].
    targets: array('i') of n_states * len(symbols) entries, row-major; -1 is
        no transition.
    finals: bytearray of n_states entries, 1 for a final state.
    initial: index of the initial state.
    names: the state names, or None (names are generated on conversion).
    extra_alphabet: alphabet members that are not one character long; they
        carry no transition but belong to the automaton's alphabet.
    extra_finals: final-state names that are not states of the automaton
        (a Morvane allows them); kept so that a round trip loses nothing.
    initial_listed: False when the initial state is not among the states of
        the Morvane it was read from (it then gets a row of its own here).
    """

    __slots__ = (
        "symbols",
        "targets",
        "finals",
        "initial",
        "names",
        "extra_alphabet",
        "extra_finals",
        "initial_listed",
    )

    symbols: str
    targets: array[int]
    finals: bytearray
    initial: int
    names: list[str] | None
    extra_alphabet: list[str]
    extra_finals: list[str]
    initial_listed: bool

    def __init__(
        self,
        symbols: str,
        targets: array[int],
        finals: bytearray,
        initial: int = 0,
        names: list[str] | None = None,
        *,
        extra_alphabet: Sequence[str] = (),
        extra_finals: Sequence[str] = (),
        initial_listed: bool = True,
    ) -> None:
        self.symbols = symbols
        self.targets = targets
        self.finals = finals
        self.initial = initial
        self.names = names
        self.extra_alphabet = list(extra_alphabet)
        self.extra_finals = list(extra_finals)
        self.initial_listed = initial_listed

    @property
    def n_states(self) -> int:
        return len(self.finals)

    def check(self) -> None:
        """Raises ValueError when the fields do not describe an automaton."""
        k = len(self.symbols)
        n = len(self.finals)
        if any(len(c) != 1 for c in self.symbols) or list(self.symbols) != sorted(set(self.symbols)):
            raise ValueError("Dfa.symbols must hold distinct characters in code point order")
        if self.targets.typecode != "i" or len(self.targets) != n * k:
            raise ValueError(f"Dfa.targets must be array('i') of {n} * {k} entries, not {len(self.targets)}")
        if n and not 0 <= self.initial < n:
            raise ValueError(f"Dfa.initial {self.initial} is not a state index below {n}")
        if n == 0:
            raise ValueError("a Dfa needs at least its initial state")
        if any(not -1 <= t < n for t in self.targets):
            raise ValueError("Dfa.targets holds an index outside -1..n_states-1")
        if self.names is not None and (len(self.names) != n or len(set(self.names)) != n):
            raise ValueError(f"Dfa.names must hold {n} distinct names")

    def __repr__(self) -> str:
        return f"<Dfa {self.n_states} states x {len(self.symbols)} symbols, initial {self.initial}>"


def from_morvane(m: Morvane, keep: list[object] | None = None) -> Dfa:
    """Reads `m` through its public queries; `m` is left exactly as it was.

    Given `keep`, the read leaves a few objects in it: holding them until a
    following read lets that read reuse this one's memory."""
    if not isinstance(m, Morvane):
        raise TypeError(f"expected a Morvane instance, not {type(m).__name__!r}")
    read = _native.read_morvane(m) if keep is None else _native.read_morvane(m, keep)
    symbols, table, finals, initial, names, extra_alphabet, extra_finals, initial_listed = read
    return Dfa(
        symbols,
        table,
        finals,
        initial,
        names,
        extra_alphabet=extra_alphabet,
        extra_finals=extra_finals,
        initial_listed=initial_listed,
    )


def to_morvane(d: Dfa) -> Morvane:
    """A new Morvane with the automaton `d` describes."""
    return _native.build_morvane(
        Morvane,
        d.names,
        d.symbols,
        d.targets,
        d.finals,
        d.initial,
        d.extra_alphabet,
        d.extra_finals,
        d.initial_listed,
    )


def minimize(d: Dfa) -> Dfa:
    """The minimal automaton of d's language over d's alphabet: unreachable and
    dead states dropped (missing transitions reject), the rest merged, states
    numbered breadth-first from the initial state with symbols in code point
    order, so that equivalent automata give identical tables."""
    table, finals = _native.minimize(len(d.symbols), d.targets, d.finals, d.initial)
    return Dfa(d.symbols, table_from_bytes(table), finals, 0, None, extra_alphabet=d.extra_alphabet)


def table_from_bytes(data: bytes) -> array[int]:
    """The native side's table of targets as array('i')."""
    targets = array("i")
    targets.frombytes(data)
    return targets

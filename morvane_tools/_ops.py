"""Language operations on Morvane automata: minimisation, comparison, the
boolean operations, and counting, listing and drawing words.

A missing transition rejects (as if it led to a dead state), and operations on
two automata work over the union of their alphabets. Inputs are read through
their public queries only and never change; every automaton returned is a new
Morvane whose states are named q0 (the initial state), q1, ... in
breadth-first order, symbols taken in code point order.
"""

from __future__ import annotations

import operator
import random
from array import array
from collections.abc import Iterator
from typing import SupportsIndex

from morvane import Morvane

from morvane_tools import _native
from morvane_tools._dfa import Dfa, from_morvane, table_from_bytes, to_morvane
from morvane_tools._dfa import minimize as minimize_dfa

__all__ = [
    "minimize",
    "equivalent",
    "counterexample",
    "union",
    "intersection",
    "difference",
    "symmetric_difference",
    "complement",
    "is_subset",
    "is_empty",
    "is_finite",
    "shortest_word",
    "count_words",
    "words",
    "random_word",
]

# Operation codes of the native product.
_UNION, _INTERSECTION, _DIFFERENCE, _SYMMETRIC_DIFFERENCE = range(4)


def _read(m: object, function: str, parameter: str, keep: list[object] | None = None) -> Dfa:
    if not isinstance(m, Morvane):
        raise TypeError(f"{function}() argument {parameter!r} must be a Morvane, not {type(m).__name__!r}")
    return from_morvane(m, keep)


def _length(length: SupportsIndex, function: str) -> int:
    if isinstance(length, bool):
        raise TypeError(f"{function}() length must be an int, not 'bool'")
    try:
        value = operator.index(length)
    except TypeError:
        raise TypeError(f"{function}() length must be an int, not {type(length).__name__!r}") from None
    if value < 0:
        raise ValueError(f"{function}() length must not be negative, got {value}")
    return value


def _arguments(d: Dfa) -> tuple[int, array[int], bytearray, int]:
    return len(d.symbols), d.targets, d.finals, d.initial


_ProductArguments = tuple[
    int, "array[int]", bytearray, int, "array[int]", int, "array[int]", bytearray, int, "array[int]", int
]


class _Pair:
    """Two operands over the union of their alphabets."""

    def __init__(self, a: Morvane, b: Morvane, function: str) -> None:
        # The second read reuses the first one's memory: fresh pages cost
        # more than reading the transitions does.
        keep: list[object] = []
        self.a = _read(a, function, "a", keep)
        self.b = self.a if b is a else _read(b, function, "b")
        del keep
        self.symbols = "".join(sorted(set(self.a.symbols) | set(self.b.symbols)))
        self.extra_alphabet = sorted(set(self.a.extra_alphabet) | set(self.b.extra_alphabet))

    def native_arguments(self, operation: int) -> _ProductArguments:
        return (
            *_arguments(self.a),
            array("i", (self.a.symbols.find(c) for c in self.symbols)),
            *_arguments(self.b),
            array("i", (self.b.symbols.find(c) for c in self.symbols)),
            operation,
        )

    def product(self, operation: int, minimize: bool) -> Morvane:
        table, finals = _native.product(*self.native_arguments(operation))
        d = Dfa(self.symbols, table_from_bytes(table), finals, 0, None, extra_alphabet=self.extra_alphabet)
        return to_morvane(minimize_dfa(d) if minimize else d)

    def same_language(self) -> bool:
        return _native.same_language(*self.native_arguments(_SYMMETRIC_DIFFERENCE)[:-1])

    def shortest_word(self, operation: int) -> str | None:
        columns = _native.product_shortest_word(*self.native_arguments(operation))
        return None if columns is None else "".join(self.symbols[j] for j in columns)


def minimize(m: Morvane) -> Morvane:
    """The minimal automaton accepting the language of m, over m's alphabet.

    Unreachable states and dead states (from which nothing is accepted) are
    dropped, missing transitions standing for the dead state; equivalent
    states are merged. The states are named q0 (initial), q1, ... in
    breadth-first order, so equivalent automata over the same alphabet give
    identical results.
    """
    return to_morvane(minimize_dfa(_read(m, "minimize", "m")))


def equivalent(a: Morvane, b: Morvane) -> bool:
    """Whether a and b accept the same words."""
    return _Pair(a, b, "equivalent").same_language()


def counterexample(a: Morvane, b: Morvane) -> str | None:
    """The shortest word accepted by exactly one of a and b (the first in
    code point order among the shortest), or None when they are equivalent."""
    return _Pair(a, b, "counterexample").shortest_word(_SYMMETRIC_DIFFERENCE)


def union(a: Morvane, b: Morvane, *, minimize: bool = False) -> Morvane:
    """An automaton accepting the words that a or b accepts."""
    return _Pair(a, b, "union").product(_UNION, minimize)


def intersection(a: Morvane, b: Morvane, *, minimize: bool = False) -> Morvane:
    """An automaton accepting the words that both a and b accept."""
    return _Pair(a, b, "intersection").product(_INTERSECTION, minimize)


def difference(a: Morvane, b: Morvane, *, minimize: bool = False) -> Morvane:
    """An automaton accepting the words that a accepts and b rejects."""
    return _Pair(a, b, "difference").product(_DIFFERENCE, minimize)


def symmetric_difference(a: Morvane, b: Morvane, *, minimize: bool = False) -> Morvane:
    """An automaton accepting the words that exactly one of a and b accepts."""
    return _Pair(a, b, "symmetric_difference").product(_SYMMETRIC_DIFFERENCE, minimize)


def complement(m: Morvane, *, minimize: bool = False) -> Morvane:
    """An automaton accepting the words over m's alphabet that m rejects.

    The result is complete: a state named like the others stands for m's
    missing transitions, and accepts every continuation.
    """
    d = _read(m, "complement", "m")
    k = len(d.symbols)
    # Everything over the alphabet (one accepting state looping on every
    # symbol), minus m.
    everything = Dfa(d.symbols, array("i", [0]) * k, bytearray(b"\x01"))
    columns = array("i", range(k))
    table, finals = _native.product(
        *_arguments(everything), columns, *_arguments(d), columns, _DIFFERENCE
    )
    result = Dfa(d.symbols, table_from_bytes(table), finals, 0, None, extra_alphabet=d.extra_alphabet)
    return to_morvane(minimize_dfa(result) if minimize else result)


def is_subset(a: Morvane, b: Morvane) -> bool:
    """Whether every word that a accepts, b accepts too."""
    return _Pair(a, b, "is_subset").shortest_word(_DIFFERENCE) is None


def shortest_word(m: Morvane) -> str | None:
    """The shortest accepted word (the first in code point order among the
    shortest), or None when m accepts nothing."""
    d = _read(m, "shortest_word", "m")
    columns = _native.shortest_word(*_arguments(d))
    return None if columns is None else "".join(d.symbols[j] for j in columns)


def is_empty(m: Morvane) -> bool:
    """Whether m accepts no word at all."""
    d = _read(m, "is_empty", "m")
    return _native.shortest_word(*_arguments(d)) is None


def is_finite(m: Morvane) -> bool:
    """Whether m accepts finitely many words (the empty language included)."""
    d = _read(m, "is_finite", "m")
    return not _native.is_infinite(*_arguments(d))


def _rows(d: Dfa) -> list[list[tuple[str, int]]]:
    """(symbol, target) of every transition, per state, in code point order."""
    k = len(d.symbols)
    targets = d.targets
    return [
        [(d.symbols[j], t) for j in range(k) if (t := targets[s * k + j]) >= 0]
        for s in range(d.n_states)
    ]


def count_words(m: Morvane, length: int) -> int:
    """The number of accepted words of exactly `length` symbols (exact).

    Takes time in proportion to length times the transitions of the minimal
    automaton times the digits of the counts.
    """
    length = _length(length, "count_words")
    d = minimize_dfa(_read(m, "count_words", "m"))
    return _native.count_words(*_arguments(d), length)


def words(m: Morvane, length: int) -> Iterator[str]:
    """The accepted words of exactly `length` symbols, in code point order,
    one at a time. The automaton is read when words() is called; changes to
    it afterwards do not affect the iterator."""
    length = _length(length, "words")
    d = minimize_dfa(_read(m, "words", "m"))
    return _words(d, length)


def _words(d: Dfa, length: int) -> Iterator[str]:
    rows = _rows(d)
    # live[r][s]: some word of length r is accepted from s.
    live = [bytes(d.finals)]
    for _ in range(length):
        previous = live[-1]
        live.append(bytes(any(previous[t] for _, t in row) for row in rows))
    if not live[length][d.initial]:
        return
    # Depth first, symbols in order, entering only states that can still
    # finish in the symbols left: every step leads to a word.
    prefix: list[str] = []
    stack = [iter(rows[d.initial])]
    while stack:
        if len(prefix) == length:
            yield "".join(prefix)
            stack.pop()
            if prefix:
                prefix.pop()
            continue
        remaining = length - len(prefix) - 1
        for symbol, target in stack[-1]:
            if live[remaining][target]:
                prefix.append(symbol)
                stack.append(iter(rows[target]))
                break
        else:
            stack.pop()
            if prefix:
                prefix.pop()


def random_word(m: Morvane, length: int, *, rng: random.Random | None = None) -> str | None:
    """An accepted word of exactly `length` symbols, drawn uniformly among
    all of them, or None when there is none. Uses `rng` (a random.Random)
    when given, else the random module's shared generator."""
    length = _length(length, "random_word")
    d = minimize_dfa(_read(m, "random_word", "m"))
    columns = _native.random_word(*_arguments(d), length, random.randrange if rng is None else rng.randrange)
    return None if columns is None else "".join(d.symbols[j] for j in columns)

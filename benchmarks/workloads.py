"""The automata and inputs that the benchmarks measure, described once and
built in morvane (the peers build them in their own form, see peers.py)."""

from __future__ import annotations

import array
import random
import string
from dataclasses import dataclass
from typing import Callable

import morvane

LETTERS = string.ascii_lowercase
SEED = 2024


@dataclass
class Dfa:
    """One automaton, described once and built in each implementation.

    Rows are states, columns the characters of `symbols`; `targets` holds the
    target row of every cell, row-major, or -1 where there is no transition.
    `pattern`, where there is one, is a regular expression over the same
    symbols that matches exactly the accepted inputs (for regex peers)."""

    names: list[str]
    symbols: str
    targets: array.array
    initial: int = 0
    finals: frozenset[int] = frozenset()
    pattern: str | None = None

    @classmethod
    def tabulate(cls, count: int, symbols: str, target: Callable[[int, int], int], finals) -> Dfa:
        columns = range(len(symbols))
        cells = array.array("i", (target(row, column) for row in range(count) for column in columns))
        return cls([f"q{row}" for row in range(count)], symbols, cells, 0, frozenset(finals))

    @classmethod
    def even_as(cls, symbols: str = "ab") -> Dfa:
        """Two states over {a, b}: accepts an even number of a's. Any further
        symbol has no transition."""
        moves = {(0, "a"): 1, (1, "a"): 0, (0, "b"): 0, (1, "b"): 1}
        cells = array.array("i", (moves.get((row, symbol), -1) for row in (0, 1) for symbol in symbols))
        return cls(["even", "odd"], symbols, cells, 0, frozenset({0}), r"(?:b*ab*a)*b*")

    @classmethod
    def structured(cls, count: int, symbols: str = LETTERS) -> Dfa:
        """Total: state i goes to (7i + c) mod count on the c-th symbol."""
        return cls.tabulate(count, symbols, lambda row, column: (row * 7 + column) % count, range(0, count, 3))

    @classmethod
    def random_total(cls, count: int, symbols: str = LETTERS, seed: int = SEED) -> Dfa:
        rng = random.Random(seed)
        population = range(count)
        cells = array.array("i")
        for _ in population:
            cells.extend(rng.choices(population, k=len(symbols)))
        finals = rng.sample(population, count // 2)
        return cls([f"q{row}" for row in population], symbols, cells, 0, frozenset(finals))

    @classmethod
    def random_sparse(cls, count: int, per_state: int, symbols: str, seed: int = SEED) -> Dfa:
        """`per_state` transitions from every state, on random symbols."""
        rng = random.Random(seed)
        width = len(symbols)
        cells = array.array("i", [-1]) * (count * width)
        for row in range(count):
            for column in rng.sample(range(width), per_state):
                cells[row * width + column] = rng.randrange(count)
        return cls([f"q{row}" for row in range(count)], symbols, cells, 0, frozenset({0}))

    @property
    def transition_count(self) -> int:
        return sum(1 for target in self.targets if target >= 0)

    def edges(self):
        """(origin, symbol, target) for every transition."""
        names, symbols, width = self.names, self.symbols, len(self.symbols)
        for row, origin in enumerate(names):
            for symbol, target in zip(symbols, self.targets[row * width : (row + 1) * width]):
                if target >= 0:
                    yield origin, symbol, names[target]

    def new_morvane(self) -> morvane.Morvane:
        """The empty automaton: states, alphabet, initial and finals only."""
        finals = {self.names[row] for row in self.finals}
        return morvane.Morvane(set(self.names), set(self.symbols), self.names[self.initial], finals)

    def add_transitions(self, automaton: morvane.Morvane) -> None:
        add = automaton.add_transition
        for origin, symbol, target in self.edges():
            add(origin, symbol, target)

    def to_morvane(self) -> morvane.Morvane:
        automaton = self.new_morvane()
        self.add_transitions(automaton)
        return automaton

    def to_dicts(self) -> dict[str, dict[str, str]]:
        delta = {name: {} for name in self.names}
        for origin, symbol, target in self.edges():
            delta[origin][symbol] = target
        return delta

    @property
    def initial_name(self) -> str:
        return self.names[self.initial]

    @property
    def final_names(self) -> frozenset[str]:
        return frozenset(self.names[row] for row in self.finals)


def random_text(length: int, symbols: str, seed: int = SEED) -> str:
    return "".join(random.Random(seed).choices(symbols, k=length))


def even_as_text(length: int) -> str:
    """Random a's and b's with an even number of a's, so it is accepted whole."""
    text = random_text(length, "ab")
    return text if text.count("a") % 2 == 0 else text[:-1] + ("b" if text[-1] == "a" else "a")


def stepping_automaton() -> tuple[Dfa, morvane.Morvane]:
    """Even a's over {a, b, c}: 'a' and 'b' always have a transition, 'c' never."""
    table = Dfa.even_as("abc")
    return table, table.to_morvane()

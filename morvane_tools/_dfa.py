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
from collections.abc import Iterable, Sequence

from morvane import Morvane

__all__ = ["Dfa", "from_morvane", "to_morvane", "minimize", "state_names"]


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


def state_names(count: int) -> list[str]:
    """The generated names: q0, q1, ... in state-index order."""
    return [f"q{i}" for i in range(count)]


def from_morvane(m: Morvane) -> Dfa:
    """Reads `m` through its public queries; `m` is left exactly as it was."""
    if not isinstance(m, Morvane):
        raise TypeError(f"expected a Morvane instance, not {type(m).__name__!r}")
    names = m.get_states()
    initial_name = m.initial_state
    index = {name: i for i, name in enumerate(names)}
    initial_listed = initial_name in index
    if not initial_listed:
        index[initial_name] = len(names)
        names.append(initial_name)
    alphabet = m.get_alphabet()
    symbols = "".join(a for a in alphabet if len(a) == 1)
    extra_alphabet = [a for a in alphabet if len(a) != 1]
    column = {c: j for j, c in enumerate(symbols)}
    k = len(symbols)
    targets = array("i", [-1]) * (len(names) * k)
    for origin, symbol, target in m.get_transitions():
        targets[index[origin] * k + column[symbol]] = index[target]
    finals = bytearray(len(names))
    extra_finals = []
    for name in m.get_finals():
        i = index.get(name)
        if i is None:
            extra_finals.append(name)
        else:
            finals[i] = 1
    return Dfa(
        symbols,
        targets,
        finals,
        index[initial_name],
        names,
        extra_alphabet=extra_alphabet,
        extra_finals=extra_finals,
        initial_listed=initial_listed,
    )


def to_morvane(d: Dfa) -> Morvane:
    """A new Morvane with the automaton `d` describes."""
    names = d.names if d.names is not None else state_names(d.n_states)
    listed = set(names)
    if not d.initial_listed:
        listed.discard(names[d.initial])
    finals = {names[i] for i, f in enumerate(d.finals) if f}
    finals.update(d.extra_finals)
    alphabet = set(d.symbols)
    alphabet.update(d.extra_alphabet)
    m = Morvane(listed, alphabet, names[d.initial], finals)
    add = m.add_transition
    k = len(d.symbols)
    targets = d.targets
    for i, origin in enumerate(names):
        base = i * k
        for j in range(k):
            t = targets[base + j]
            if t >= 0:
                add(origin, d.symbols[j], names[t])
    return m


def _reachable_order(d: Dfa) -> list[int]:
    """States reachable from the initial one, in breadth-first order over
    symbols in code point order."""
    k = len(d.symbols)
    targets = d.targets
    seen = bytearray(d.n_states)
    seen[d.initial] = 1
    order = [d.initial]
    for s in order:
        for t in targets[s * k : s * k + k]:
            if t >= 0 and not seen[t]:
                seen[t] = 1
                order.append(t)
    return order


def minimize(d: Dfa) -> Dfa:
    """The minimal automaton of d's language over d's alphabet: unreachable and
    dead states dropped (missing transitions reject), the rest merged, states
    numbered breadth-first from the initial state with symbols in code point
    order, so that equivalent automata give identical tables."""
    return _minimize_python(d)


def _minimize_python(d: Dfa) -> Dfa:
    """Moore's refinement over the reachable part completed with a sink."""
    k = len(d.symbols)
    order = _reachable_order(d)
    local = {s: i for i, s in enumerate(order)}
    n = len(order)
    sink = n
    rows = [
        [local[t] if t >= 0 else sink for t in d.targets[s * k : s * k + k]] for s in order
    ]
    rows.append([sink] * k)
    block = [d.finals[s] for s in order] + [0]
    count = len(set(block))
    while True:
        signatures: dict[tuple[int, ...], int] = {}
        refined = [
            signatures.setdefault((block[i], *(block[t] for t in rows[i])), len(signatures))
            for i in range(n + 1)
        ]
        if len(signatures) == count:
            break
        block, count = refined, len(signatures)
    return _quotient(d, rows, [d.finals[s] for s in order], block, block[sink])


def _quotient(
    d: Dfa, rows: list[list[int]], finals_local: list[int], block: list[int], dead: int
) -> Dfa:
    """The automaton of the blocks of a stable partition of the reachable
    states (local numbering, rows[i] the targets of state i, local 0 the
    initial one), blocks numbered breadth-first and the dead block dropped."""
    k = len(d.symbols)
    representative: dict[int, int] = {}
    for i in range(len(rows)):
        representative.setdefault(block[i], i)
    number = {block[0]: 0}
    queue = [block[0]]
    for b in queue:
        if b == dead:
            continue
        for t in rows[representative[b]]:
            tb = block[t]
            if tb != dead and tb not in number:
                number[tb] = len(queue)
                queue.append(tb)
    targets = array("i", [-1]) * (len(queue) * k)
    finals = bytearray(len(queue))
    for b, i in number.items():
        if b == dead:
            continue
        r = representative[b]
        finals[i] = finals_local[r]
        for j, t in enumerate(rows[r]):
            tb = block[t]
            if tb != dead:
                targets[i * k + j] = number[tb]
    return Dfa(d.symbols, targets, finals, 0, None, extra_alphabet=d.extra_alphabet)


def from_rows(
    symbols: str, rows: Iterable[Sequence[int]], finals: Iterable[int], initial: int = 0
) -> Dfa:
    """A Dfa from per-state rows of targets (-1 for none); handy in tests."""
    targets = array("i")
    for row in rows:
        if len(row) != len(symbols):
            raise ValueError(f"a row has {len(row)} targets for {len(symbols)} symbols")
        targets.extend(row)
    return Dfa(symbols, targets, bytearray(finals), initial)


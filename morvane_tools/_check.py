"""What is likely a mistake in an automaton, and making its rows total."""

from __future__ import annotations

from dataclasses import dataclass

from morvane import Morvane

from morvane_tools import _native
from morvane_tools._common import add_rows, check_text, read_rows, type_name
from morvane_tools._dfa import from_morvane


@dataclass(frozen=True)
class Report:
    """The findings of :func:`validate`; every sequence is sorted.

    ``initial_outside`` is the initial state's name when it is not one of the
    states (else ``None``); ``finals_outside`` the final states that are not
    states; ``unreachable`` the states no input leads to from the initial
    state; ``dead`` the states from which no final state can be reached;
    ``unused_symbols`` the alphabet members that no transition carries
    (members that are not one character long can never carry one);
    ``incomplete`` the states whose row lacks some one-character member of
    the alphabet, each with the symbols it lacks.
    """

    initial_outside: str | None
    finals_outside: tuple[str, ...]
    unreachable: tuple[str, ...]
    dead: tuple[str, ...]
    unused_symbols: tuple[str, ...]
    incomplete: tuple[tuple[str, tuple[str, ...]], ...]

    @property
    def ok(self) -> bool:
        """True when nothing was found."""
        return not (
            self.initial_outside is not None
            or self.finals_outside
            or self.unreachable
            or self.dead
            or self.unused_symbols
            or self.incomplete
        )

    def __str__(self) -> str:
        if self.ok:
            return "no likely mistakes found"
        lines = []
        if self.initial_outside is not None:
            lines.append(f"the initial state {self.initial_outside!r} is not one of the states")
        if self.finals_outside:
            lines.append(f"final states that are not states: {_listed(self.finals_outside)}")
        if self.unreachable:
            lines.append(f"unreachable states: {_listed(self.unreachable)}")
        if self.dead:
            lines.append(f"dead states (no final state reachable): {_listed(self.dead)}")
        if self.unused_symbols:
            lines.append(f"alphabet members on no transition: {_listed(self.unused_symbols)}")
        if self.incomplete:
            lines.append(f"{len(self.incomplete)} states lack a transition for some symbol, for example:")
            for state, missing in self.incomplete[:5]:
                lines.append(f"  {state!r} lacks {_listed(missing)}")
        return "\n".join(lines)


def _listed(names: tuple[str, ...], limit: int = 10) -> str:
    shown = ", ".join(map(repr, names[:limit]))
    return shown + (f" and {len(names) - limit} more" if len(names) > limit else "")


def validate(m: Morvane) -> Report:
    """Reports what is likely a mistake in ``m``; changes nothing. An empty
    report (``report.ok``) means none of the findings described in
    :class:`Report` applies."""
    if not isinstance(m, Morvane):
        raise TypeError(f"validate needs a Morvane, not {type_name(m)}")
    states = m.get_states()
    state_set = set(states)
    initial = m.initial_state
    finals = m.get_finals()
    alphabet = m.get_alphabet()
    # The dense form: columns are the one-character members in code point
    # order, and a row has a -1 for each symbol it lacks.
    d = from_morvane(m)
    k, targets = len(d.symbols), d.targets
    index = {name: i for i, name in enumerate(d.names or ())}
    reachable, alive = _native.reach(k, targets, d.finals, d.initial)
    used = {symbol for column, symbol in enumerate(d.symbols) if max(targets[column::k]) >= 0}
    column_of = {symbol: column for column, symbol in enumerate(d.symbols)}
    symbols = [member for member in alphabet if len(member) == 1]
    incomplete = []
    for state in states:
        row = targets[index[state] * k : index[state] * k + k]
        if k and min(row) < 0:
            incomplete.append((state, tuple(symbol for symbol in symbols if row[column_of[symbol]] < 0)))
    return Report(
        initial_outside=None if initial in state_set else initial,
        finals_outside=tuple(final for final in finals if final not in state_set),
        unreachable=tuple(state for state in states if not reachable[index[state]]),
        dead=tuple(state for state in states if not alive[index[state]]),
        unused_symbols=tuple(member for member in alphabet if member not in used),
        incomplete=tuple(incomplete),
    )


def complete(m: Morvane, sink: str = "sink") -> Morvane:
    """A new automaton that accepts what ``m`` accepts, with every row total.

    Each state's missing transitions on the one-character members of the
    alphabet lead to the new state ``sink``, which is not final and loops on
    every symbol. When every row is already total no sink is added. The result
    starts afresh (at its initial state, no data, no history). ``sink`` must
    not name a state of ``m``, its initial state or a final state
    (``ValueError``).
    """
    if not isinstance(m, Morvane):
        raise TypeError(f"complete needs a Morvane, not {type_name(m)}")
    check_text(sink, "sink")
    states = m.get_states()
    finals = m.get_finals()
    # The initial state and the finals may lie outside the states: a sink of
    # the same name would give them transitions, or make the sink final.
    if sink in states or sink == m.initial_state or sink in finals:
        raise ValueError(f"the sink {sink!r} is already a name of the automaton's states: choose another")
    symbols = [member for member in m.get_alphabet() if len(member) == 1]
    rows = read_rows(m, states)
    needed = any(len(row) < len(symbols) for row in rows.values())
    if needed:
        for row in rows.values():
            if len(row) < len(symbols):
                for symbol in symbols:
                    row.setdefault(symbol, sink)
        rows[sink] = dict.fromkeys(symbols, sink)
        states.append(sink)
    result = Morvane(set(states), set(m.get_alphabet()), m.initial_state, set(finals))
    add_rows(result, rows)
    return result

"""Automata from a table of rows, and back."""

from __future__ import annotations

from collections.abc import Iterable, Mapping

from morvane import Morvane

from morvane_tools._common import (
    Table,
    add_rows,
    check_symbol,
    check_text,
    check_texts,
    encodable,
    read_rows,
    row_holding,
    text_set,
    type_name,
)


def check_table(table: object) -> tuple[set[str], set[str], set[str]]:
    """Checks the shape and names of a table; returns (origins, symbols, targets)."""
    if not isinstance(table, Mapping):
        raise TypeError(f"table must be a mapping {{state: {{symbol: target}}}}, not {type_name(table)}")
    rows: Table = table
    for origin, row in rows.items():
        if not isinstance(row, Mapping):
            raise TypeError(f"table[{origin!r}] must be a mapping {{symbol: target}}, not {type_name(row)}")
    origins = set(rows)
    check_texts(origins, "the table's states")
    # The unique symbols and targets are few beside the transitions: checking
    # those sets costs little however large the table is.
    symbols: set[str] = set().union(*rows.values())
    for symbol in symbols:
        if not (isinstance(symbol, str) and len(symbol) == 1):
            origin = row_holding(rows, lambda row: symbol in row)
            check_symbol(symbol, f"table[{origin!r}]")
    if not encodable("".join(symbols)):
        surrogate = min(symbol for symbol in symbols if not encodable(symbol))
        check_symbol(surrogate, f"table[{row_holding(rows, lambda row: surrogate in row)!r}]")
    targets: set[str] = set().union(*(row.values() for row in rows.values()))
    if not all(isinstance(target, str) for target in targets):
        for origin, row in rows.items():
            for symbol, target in row.items():
                check_text(target, f"table[{origin!r}][{symbol!r}]")
    check_texts(targets, "the table's targets")
    return origins, symbols, targets


def from_table(
    table: Mapping[str, Mapping[str, str]],
    initial: str,
    finals: Iterable[str],
    *,
    states: Iterable[str] | None = None,
    alphabet: Iterable[str] | None = None,
) -> Morvane:
    """A new automaton from ``{state: {symbol: target}}``.

    ``states`` defaults to every name the arguments mention (the table's rows
    and targets, ``initial`` and ``finals``); ``alphabet`` defaults to the
    symbols the table uses (a str given as ``alphabet`` stands for its
    characters). When given, they must hold every row, target and
    symbol of the table; ``initial`` and ``finals`` may lie outside
    ``states``, as the class allows (``validate`` reports it). Everything is
    checked before the automaton is made: ``TypeError`` for a value of the
    wrong type, ``ValueError`` for a name or symbol that cannot be used, each
    naming the place.
    """
    origins, symbols, targets = check_table(table)
    check_text(initial, "initial")
    final_set = text_set(finals, "finals")
    if states is None:
        state_set = origins | targets | final_set
        state_set.add(initial)
    else:
        state_set = text_set(states, "states")
        for where, names in (("a row", origins), ("a target", targets)):
            if not names <= state_set:
                missing = min(names - state_set)
                raise ValueError(f"{where} of the table, {missing!r}, is not among the states given")
    if alphabet is None:
        alphabet_set = symbols
    else:
        # A str stands for the set of its characters, as in from_regex.
        alphabet_set = set(alphabet) if isinstance(alphabet, str) else text_set(alphabet, "alphabet")
        if not symbols <= alphabet_set:
            missing = min(symbols - alphabet_set)
            origin = row_holding(table, lambda row: missing in row)
            raise ValueError(f"table[{origin!r}]: symbol {missing!r} is not in the alphabet given")
    m = Morvane(state_set, alphabet_set, initial, final_set)
    add_rows(m, table)
    return m


def to_table(m: Morvane) -> dict[str, dict[str, str]]:
    """The transitions of ``m`` as ``{state: {symbol: target}}``: one row per
    state, in code-point order, empty rows included, symbols in code-point
    order. ``from_table(to_table(m), m.initial_state, m.get_finals(),
    states=m.get_states(), alphabet=m.get_alphabet())`` rebuilds ``m``'s
    automaton."""
    if not isinstance(m, Morvane):
        raise TypeError(f"to_table needs a Morvane, not {type_name(m)}")
    return read_rows(m, m.get_states())

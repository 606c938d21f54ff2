"""Automata from a table of rows, and back."""

from __future__ import annotations

from collections.abc import Iterable, Mapping

from morvane import Morvane

from morvane_tools import _native

from morvane_tools._common import (
    Table,
    add_rows,
    check_symbol,
    check_text,
    check_texts,
    encodable,
    read_rows,
    row_holding,
    shown,
    text_set,
    type_name,
)


def check_rows(table: object) -> set[str]:
    """Checks that the table is a mapping of mappings keyed by names; returns the rows' states."""
    if not isinstance(table, Mapping):
        raise TypeError(f"table must be a mapping {{state: {{symbol: target}}}}, not {type_name(table)}")
    rows: Table = table
    for origin, row in rows.items():
        if not isinstance(row, Mapping):
            raise TypeError(f"table[{shown(origin)}] must be a mapping {{symbol: target}}, not {type_name(row)}")
    origins = set(rows)
    check_texts(origins, "the table's states")
    return origins


def table_symbols(rows: Table) -> set[str]:
    """The symbols of a checked table's rows, each checked (a few, however large the table)."""
    symbols: set[str] = set().union(*rows.values())
    for symbol in symbols:
        if not (isinstance(symbol, str) and len(symbol) == 1):
            check_symbol(symbol, f"table[{shown(row_holding(rows, lambda row: symbol in row))}]")
    if not encodable("".join(symbols)):
        surrogate = min(symbol for symbol in symbols if not encodable(symbol))
        check_symbol(surrogate, f"table[{shown(row_holding(rows, lambda row: surrogate in row))}]")
    return symbols


def table_targets(rows: Table) -> set[str]:
    """The targets of a checked table's rows, each checked."""
    try:
        targets: set[str] = set().union(*(row.values() for row in rows.values()))
        checked = all(isinstance(target, str) for target in targets)
    except TypeError:  # an unhashable target
        checked = False
    if not checked:
        for origin, row in rows.items():
            for symbol, target in row.items():
                check_text(target, f"table[{shown(origin)}][{shown(symbol)}]")
    check_texts(targets, "the table's targets")
    return targets


def check_table(table: object) -> tuple[set[str], set[str], set[str]]:
    """Checks the shape and names of a table; returns (origins, symbols, targets)."""
    origins = check_rows(table)
    rows: Table = table  # type: ignore[assignment]
    return origins, table_symbols(rows), table_targets(rows)


def check_members(rows: Table, origins: set[str], symbols: set[str], targets: set[str],
                  states: set[str], alphabet: set[str], given: str = "given") -> None:
    """Every row, target and symbol of the table belongs to the states or the alphabet."""
    for what, names in (("a row", origins), ("a target", targets)):
        if not names <= states:
            missing = min(names - states)
            raise ValueError(f"{what} of the table, {missing!r}, is not among the states {given}")
    if not symbols <= alphabet:
        missing = min(symbols - alphabet)
        origin = row_holding(rows, lambda row: missing in row)
        raise ValueError(f"table[{origin!r}]: symbol {missing!r} is not in the alphabet {given}")


def build(rows: Table, states: set[str], alphabet: set[str], initial: str, finals: set[str],
          given: str = "given") -> Morvane:
    """A new automaton with the rows' transitions, the class checking each one
    as it is added: checking millions beforehand in Python would cost more than
    adding them. On a refusal the instance is dropped and the table is checked
    in full to name the place; nothing half-built is returned."""
    m = Morvane(states, alphabet, initial, finals)
    try:
        add_rows(m, rows)
    except (TypeError, ValueError):
        del m
        origins, symbols, targets = check_table(rows)
        check_members(rows, origins, symbols, targets, states, alphabet, given)
        raise
    return m


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
    # Plain dicts of plain strs are checked and built in one native pass; the
    # Python path below handles everything else and names any fault.
    built = _native.from_table(Morvane, table, initial, finals, states, alphabet)
    if built is not None:
        return built
    origins = check_rows(table)
    rows: Table = table
    check_text(initial, "initial")
    final_set = text_set(finals, "finals")
    if states is None:
        state_set = origins | table_targets(rows) | final_set
        state_set.add(initial)
    else:
        state_set = text_set(states, "states")
        if not origins <= state_set:  # an empty row would slip past the class
            raise ValueError(f"a row of the table, {min(origins - state_set)!r}, is not among the states given")
    if alphabet is None:
        alphabet_set = table_symbols(rows)
    else:
        # A str stands for the set of its characters, as in from_regex.
        alphabet_set = set(alphabet) if isinstance(alphabet, str) else text_set(alphabet, "alphabet")
    return build(rows, state_set, alphabet_set, initial, final_set)


def to_table(m: Morvane) -> dict[str, dict[str, str]]:
    """The transitions of ``m`` as ``{state: {symbol: target}}``: one row per
    state, in code-point order, empty rows included, symbols in code-point
    order. ``from_table(to_table(m), m.initial_state, m.get_finals(),
    states=m.get_states(), alphabet=m.get_alphabet())`` rebuilds ``m``'s
    automaton."""
    if not isinstance(m, Morvane):
        raise TypeError(f"to_table needs a Morvane, not {type_name(m)}")
    return read_rows(m, m.get_states())

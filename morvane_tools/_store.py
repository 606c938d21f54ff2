"""Saving, loading, copying and pickling whole automata: the automaton, its
current state, its context data and every history snapshot.

The class has no way to set its history directly, so a restore replays it:
for each saved entry, the automaton stands in the entry's state with the
entry's data and a move pushes that pair (``force_state``, or a ``step`` that
finds no transition where forcing is impossible). Which histories a real
automaton can have follows from the class: a state outside ``states`` can
only be the initial state, which is current only before any move leaves it
(or after ``reset``), so entries naming it come first, and the current state
can be it only when every entry names it.
"""

from __future__ import annotations

import copyreg
import json
import math
from collections.abc import Callable, Sequence
from typing import Any, Literal

from morvane import Morvane

from morvane_tools._common import (
    Table,
    add_rows,
    check_texts,
    encodable,
    gc_paused,
    read_rows,
    shown,
    type_name,
)
from morvane_tools._packed import pack, unpack
from morvane_tools._table import build, check_rows

FORMAT = "morvane"
VERSION = 1
_KEYS = ("format", "version", "states", "alphabet", "initial", "finals", "current")
_DATA_KEYS = ("values", "data", "history")


class _Snapshot:
    """Everything a Morvane holds, read through its public methods."""

    def __init__(self, m: Morvane, *, packed: str | None = None) -> None:
        self.states = m.get_states()
        self.alphabet = m.get_alphabet()
        self.initial = m.initial_state
        self.finals = m.get_finals()
        self.packed = None if packed in (None, "rows") else pack(m, self.states, self.alphabet, packed)
        self.rows: dict[str, dict[str, str]] = {}
        if self.packed is None:
            self.rows = {state: row for state, row in read_rows(m, self.states).items() if row}
        self.current = m.current_state
        self.data = m.data
        self.history = m.get_history()


def _history_error(states: set[str], initial: str, names: Sequence[str]) -> tuple[int, str] | None:
    """The first of the history's states (then the current state, last in
    ``names``) that no automaton could have there, with the reason."""
    left_initial = False
    for index, name in enumerate(names):
        if name in states:
            left_initial = left_initial or name != initial
        elif name != initial:
            return index, f"{name!r} is neither a state nor the initial state"
        elif left_initial:
            return index, (
                f"the initial state {name!r} is not a state, so the automaton cannot come back to it "
                "after it has left it"
            )
    return None


def _restore(
    m: Morvane, states: set[str], initial: str, current: str, data: object, history: Sequence[tuple[str, object]]
) -> Morvane:
    """Gives a new automaton, still at its initial state with no history, the
    (checked) history, current state and data: the history is replayed."""
    names = [state for state, _ in history]
    names.append(current)
    if names[0] != initial:
        m.force_state(names[0])
        m.clear_history()
    for index, (state, snapshot) in enumerate(history):
        m.set_data(snapshot)
        following = names[index + 1]
        if following in states:
            m.force_state(following)
        else:
            # Only the initial state lies outside the states, and a state
            # outside them has no transitions: this step pushes and stays.
            m.step("\0")
    m.set_data(data)
    return m


def copy(m: Morvane) -> Morvane:
    """An independent instance with the same automaton, current state, context
    data and history. The data and the history's snapshots are the same
    objects as ``m``'s (as a history shares them with the data), not copies;
    ``copy.deepcopy`` after :func:`enable_pickle` copies them."""
    if not isinstance(m, Morvane):
        raise TypeError(f"copy needs a Morvane, not {type_name(m)}")
    snapshot = _Snapshot(m)
    states = set(snapshot.states)
    twin = Morvane(states, set(snapshot.alphabet), snapshot.initial, set(snapshot.finals))
    add_rows(twin, snapshot.rows)
    return _restore(twin, states, snapshot.initial, snapshot.current, snapshot.data, snapshot.history)


# ---- pickle ------------------------------------------------------------------------


def _unpickle(version: int, parts: tuple[Any, ...]) -> Morvane:
    if version != VERSION:
        raise ValueError(f"this pickled Morvane has layout {version}; this morvane_tools reads layout {VERSION}")
    states, alphabet, initial, finals, rows, packed, current, data, history = parts
    state_set = set(states)
    names = [state for state, _ in history] + [current]
    problem = _history_error(state_set, initial, names)
    if problem is not None:
        raise ValueError(f"this pickled Morvane's history cannot be restored: {problem[1]}")
    if packed is not None:
        m = unpack(packed, states, alphabet, initial, finals, state_set)
    else:
        m = build(rows, state_set, set(alphabet), initial, set(finals), "of the pickled automaton")
    return _restore(m, state_set, initial, current, data, history)


def _reduce(m: Morvane) -> tuple[Callable[..., Morvane], tuple[Any, ...]]:
    snapshot = _Snapshot(m, packed="auto")
    parts = (
        snapshot.states,
        snapshot.alphabet,
        snapshot.initial,
        snapshot.finals,
        snapshot.rows,
        snapshot.packed,
        snapshot.current,
        snapshot.data,
        snapshot.history,
    )
    return _unpickle, (VERSION, parts)


def enable_pickle() -> None:
    """Lets ``pickle``, ``copy.copy``, ``copy.deepcopy`` and everything built on
    them (``multiprocessing``, ``concurrent.futures``, Dask, Ray) carry
    ``Morvane`` instances, by registering a reducer with ``copyreg``.

    An unpickled instance has the same automaton, current state, context data
    and history. The data and the history's snapshots go to pickle itself, so
    any picklable data travels and an object shared between them stays shared.
    Until this is called, instances refuse pickling. Calling it again does
    nothing more. Only unpickle data you trust: pickle runs code.
    """
    copyreg.pickle(Morvane, _reduce)


# ---- JSON ------------------------------------------------------------------------------


_SCALARS = (type(None), bool, int, str)


# The way from a value's root to one of its parts: (key, way to the parent),
# ending in the root's name; linked rather than joined so a deep value costs
# no more than its size.
_Way = tuple[object, "_Way"] | str


def _place(way: _Way) -> str:
    keys = []
    while not isinstance(way, str):
        key, way = way
        keys.append(f"[{key!r}]")
    return way + "".join(reversed(keys))


def _json_problem(value: object, where: str, containers: dict[int, _Way]) -> tuple[type[Exception], str] | None:
    """Why the value is not a JSON value that comes back as itself, if it is not.

    ``containers`` maps the ids of lists and dicts already met to where they
    were met: JSON writes a shared container twice and reads back two, so
    sharing (and a cycle, its extreme) is refused.
    """
    pending: list[tuple[object, _Way]] = [(value, where)]
    while pending:
        item, way = pending.pop()
        kind = type(item)
        if kind in _SCALARS:
            continue
        if kind is float:
            if not math.isfinite(item):  # type: ignore[arg-type]
                return ValueError, f"{_place(way)} is {item!r}, which JSON cannot hold"
            continue
        if kind is list or kind is dict:
            if id(item) in containers:
                return ValueError, (
                    f"{_place(way)} is the same {kind.__name__} as {_place(containers[id(item)])}; "
                    "JSON would give back two separate copies"
                )
            containers[id(item)] = way
            if isinstance(item, list):
                pending.extend((element, (index, way)) for index, element in enumerate(item))
            elif isinstance(item, dict):
                for key, element in item.items():
                    if type(key) is not str:
                        return TypeError, (
                            f"{_place(way)} has the key {shown(key)} of type {type_name(key)}; JSON keys are str"
                        )
                    pending.append((element, (key, way)))
            continue
        return TypeError, (
            f"{_place(way)} is of type {type_name(item)} ({shown(item)}); only None, bool, int, finite float, "
            "str, list and dict with str keys are written as JSON (these types exactly, not subclasses)"
        )
    return None


def dumps(
    m: Morvane,
    *,
    unsupported: Literal["raise", "omit"] = "raise",
    indent: int | None = None,
    sort_transitions: bool = False,
    layout: Literal["auto", "rows", "packed"] = "auto",
) -> str:
    """``m`` as a JSON document (format ``"morvane"``, version 1).

    The document holds the states, alphabet, initial state, final states,
    transitions, current state, the context data and every history entry
    (state and data snapshot); :func:`loads` restores all of it, so ``undo``
    after loading behaves as it would have here. Objects shared between the
    data and the snapshots are written once and stay shared.

    The data and snapshots must be JSON values that come back as themselves:
    ``None``, ``bool``, ``int``, finite ``float``, ``str``, ``list`` and
    ``dict`` with ``str`` keys (exactly these types; a tuple would come back as
    a list), with no list or dict reached twice. Anything else raises
    ``TypeError`` (a type) or ``ValueError`` (a value: NaN, a shared or cyclic
    container) naming its place, unless ``unsupported="omit"``: then each such
    value is left out whole, listed in the document, and comes back as
    ``None``. ``indent`` is passed to ``json.dumps``. States, rows and the
    symbols within each row are in code-point order, so the same automaton
    always gives the same text; ``sort_transitions`` is accepted for the
    callers that ask for that and changes nothing.

    ``layout`` chooses how the transitions are written: ``"rows"`` as
    ``{state: {symbol: target}}``; ``"packed"`` as one base64 block of
    target indexes (a row per state, a column per one-character alphabet
    member, -1 for none), much faster to write and read for large automata;
    ``"auto"`` (the default) packs tables of 65,536 to 50,000,000 cells of
    which at least one in four holds a transition, and writes rows otherwise.
    """
    if not isinstance(m, Morvane):
        raise TypeError(f"dumps needs a Morvane, not {type_name(m)}")
    if unsupported not in ("raise", "omit"):
        raise ValueError(f"unsupported must be 'raise' or 'omit', not {shown(unsupported)}")
    if layout not in ("auto", "rows", "packed"):
        raise ValueError(f"layout must be 'auto', 'rows' or 'packed', not {shown(layout)}")
    del sort_transitions  # rows always come in order now
    snapshot = _Snapshot(m, packed=layout)

    values: list[object] = []
    omitted: list[int] = []
    index_of: dict[int, int] = {}
    containers: dict[int, _Way] = {}

    def reference(value: object, where: str) -> int:
        index = index_of.get(id(value))
        if index is None:
            index = index_of[id(value)] = len(values)
            problem = _json_problem(value, where, containers)
            if problem is not None:
                if unsupported == "raise":
                    kind, message = problem
                    raise kind(f"cannot write as JSON: {message} (dumps(..., unsupported='omit') leaves it out)")
                omitted.append(index)
                value = None
            values.append(value)
        return index

    history = [[state, reference(snapshot_data, f"history[{position}] snapshot")]
               for position, (state, snapshot_data) in enumerate(snapshot.history)]
    document: dict[str, object] = {
        "format": FORMAT,
        "version": VERSION,
        "states": snapshot.states,
        "alphabet": snapshot.alphabet,
        "initial": snapshot.initial,
        "finals": snapshot.finals,
        "current": snapshot.current,
        "data": reference(snapshot.data, "data"),
        "history": history,
        "values": values,
    }
    if snapshot.packed is None:
        document["transitions"] = snapshot.rows
    else:
        document["packed_transitions"] = snapshot.packed
    if omitted:
        document["omitted"] = omitted
    try:
        with gc_paused():
            return json.dumps(document, indent=indent, separators=None if indent is not None else (",", ":"))
    except RecursionError:
        raise ValueError("cannot write as JSON: the context data is nested too deeply") from None


class _Reader:
    """Checks a parsed document piece by piece, naming the place of a fault."""

    def __init__(self, document: object) -> None:
        if type(document) is not dict:
            raise ValueError(f"the document must be a JSON object, not {_json_kind(document)}")
        self.document: dict[str, object] = document

    def field(self, key: str, kind: type, description: str) -> Any:
        if key not in self.document:
            raise ValueError(f"the document lacks the key {key!r}")
        value = self.document[key]
        if type(value) is not kind:
            raise ValueError(f"{key} must be {description}, not {_json_kind(value)}")
        return value

    def names(self, key: str) -> list[str]:
        names: list[object] = self.field(key, list, "a list of strings")
        if not set(map(type, names)) <= {str}:  # one pass in C; the loop only finds the culprit
            for index, name in enumerate(names):
                if type(name) is not str:
                    raise ValueError(f"{key}[{index}] must be a string, not {_json_kind(name)}")
        if not encodable("".join(names)):  # type: ignore[arg-type]
            try:
                check_texts(names, key)  # type: ignore[arg-type]
            except ValueError as error:
                raise ValueError(str(error)) from None
        if len(set(names)) != len(names):
            seen: set[object] = set()
            duplicate = next(name for name in names if name in seen or seen.add(name))  # type: ignore[func-returns-value]
            raise ValueError(f"{key} names {duplicate!r} twice")
        return names  # type: ignore[return-value]

    def text(self, key: str) -> str:
        value: str = self.field(key, str, "a string")
        check_texts([value], key)
        return value


def _json_kind(value: object) -> str:
    names = {dict: "an object", list: "an array", str: "a string", bool: "a boolean", type(None): "null",
             int: "an integer", float: "a number"}
    return names.get(type(value), type_name(value))


def _refuse_constant(name: str) -> object:
    raise ValueError(f"{name} is not a JSON value")


def _finite_float(text: str) -> float:
    value = float(text)
    if not math.isfinite(value):  # 1e999 reads as infinity, which dumps would refuse
        raise ValueError(f"the number {shown(text)} is too large for a float")
    return value


def _parse(text: str | bytes | bytearray) -> object:
    if not isinstance(text, (str, bytes, bytearray)):
        raise TypeError(f"loads needs a str, bytes or bytearray, not {type_name(text)}")
    try:
        with gc_paused():
            # A name given twice in one object counts once, the last one, as
            # json reads it; checking every object would cost a Python call each.
            return json.loads(text, parse_constant=_refuse_constant, parse_float=_finite_float)
    except json.JSONDecodeError as error:
        raise ValueError(f"not a JSON document: {error}") from None
    except RecursionError:
        raise ValueError("not a document this reads: arrays or objects nested too deeply") from None
    except UnicodeDecodeError as error:
        raise ValueError(f"not a JSON document: {error}") from None


def loads(text: str | bytes | bytearray) -> Morvane:
    """A new automaton from a document written by :func:`dumps`.

    Everything is checked before anything is built: a document that is not
    JSON, is not of format ``"morvane"``, has a version this does not read,
    lacks or adds a key, holds a value of the wrong kind, or describes
    something no automaton could hold (a transition outside the states or the
    alphabet, a history that no sequence of moves produces, a reference to a
    value that is not there) raises ``ValueError`` naming the place. Values
    that were left out on writing come back as ``None``.
    """
    reader = _Reader(_parse(text))
    document = reader.document
    if document.get("format") != FORMAT:
        raise ValueError(f"format must be {FORMAT!r}, not {shown(document.get('format'))}")
    version = reader.field("version", int, "an integer")
    if version != VERSION:
        raise ValueError(f"version {version} cannot be read: this morvane_tools reads version {VERSION}")
    unknown = sorted(set(document) - set(_KEYS) - set(_DATA_KEYS) - {"omitted", "transitions", "packed_transitions"})
    if unknown:
        raise ValueError(f"the document has the unknown key {unknown[0]!r}")

    states = reader.names("states")
    alphabet = reader.names("alphabet")
    initial = reader.text("initial")
    finals = reader.names("finals")
    current = reader.text("current")
    state_set, alphabet_set = set(states), set(alphabet)

    packed = "packed_transitions" in document
    if packed == ("transitions" in document):
        raise ValueError('the document must hold exactly one of the keys "transitions" and "packed_transitions"')
    if not packed:
        rows = reader.field("transitions", dict, "an object of rows")
        try:
            origins = check_rows(rows)
        except (TypeError, ValueError) as error:
            raise ValueError(f"transitions: {error}") from None
        if not origins <= state_set:
            raise ValueError(f"transitions: the row {min(origins - state_set)!r} is not among the states")

    values: list[object] = reader.field("values", list, "an array")
    omitted: list[object] = document.get("omitted", [])  # type: ignore[assignment]
    if type(omitted) is not list:
        raise ValueError(f"omitted must be an array, not {_json_kind(omitted)}")

    def value_at(reference: object, where: str) -> object:
        if type(reference) is not int or not 0 <= reference < len(values):
            raise ValueError(f"{where} must be an index into values (0 to {len(values) - 1}), not {shown(reference)}")
        return values[reference]

    for position, reference in enumerate(omitted):
        value_at(reference, f"omitted[{position}]")
        values[reference] = None  # type: ignore[call-overload]
    data = value_at(reader.field("data", int, "an index into values"), "data")
    entries: list[object] = reader.field("history", list, "an array")
    history: list[tuple[str, object]] = []
    for position, entry in enumerate(entries):
        if type(entry) is not list or len(entry) != 2 or type(entry[0]) is not str:
            raise ValueError(f"history[{position}] must be an array [state, index into values]")
        check_texts([entry[0]], f"history[{position}]")
        history.append((entry[0], value_at(entry[1], f"history[{position}][1]")))
    visited = [state for state, _ in history]
    visited.append(current)
    problem = _history_error(state_set, initial, visited)
    if problem is not None:
        where = "current" if problem[0] == len(history) else f"history[{problem[0]}]"
        raise ValueError(f"{where}: {problem[1]}")
    if packed:
        m = unpack(document["packed_transitions"], states, alphabet, initial, finals, state_set)
    else:
        try:
            m = build(rows, state_set, alphabet_set, initial, set(finals), "of the document")
        except (TypeError, ValueError) as error:
            raise ValueError(f"transitions: {error}") from None
    return _restore(m, state_set, initial, current, data, history)


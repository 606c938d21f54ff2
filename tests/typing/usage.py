"""Typed use of every method and property of morvane.Morvane.

tools/typecheck.sh checks this file with mypy --strict and pyright in strict
mode against the installed package, then runs it: each call here must both
type-check and work. assert_type pins every result to its exact declared
type, so a stub that answered Any (or anything looser) would fail.
"""

from typing import assert_type

import morvane
from morvane import Morvane


def build() -> Morvane:
    m = Morvane({"q0", "q1", "q2"}, frozenset({"a", "b"}), "q0", {"q2"})
    assert_type(m, Morvane)
    # Every parameter binds by keyword too, in any order.
    k = Morvane(finals=frozenset(), initial="s", alphabet=set(), states={"s"})
    assert_type(k.current_state, str)
    return m


def transitions(m: Morvane) -> None:
    # "with" by position ...
    assert_type(m.add_transition("q0", "a", "q1"), None)
    assert_type(m.add_transition("q1", "b", for_="q2"), None)
    # ... or by keyword, through unpacking.
    assert_type(m.add_transition("q2", for_="q0", **{"with": "a"}), None)
    assert_type(m.has_transition("q0", "a"), bool)
    assert m.has_transition(of="q2", **{"with": "a"})
    assert_type(m.remove_transition("q2", "a"), None)
    assert_type(m.add_transition(of="q2", for_="q1", **{"with": "b"}), None)
    assert_type(m.remove_transition(of="q2", **{"with": "b"}), None)
    assert not m.has_transition("q2", "b")
    table = m.get_transitions()
    assert_type(table, list[tuple[str, str, str]])
    for origin, symbol, target in table:
        assert len(symbol) == 1 and origin and target
    assert_type(m.available_symbols(), list[str])


def queries(m: Morvane) -> None:
    assert_type(m.get_states(), list[str])
    assert_type(m.get_alphabet(), list[str])
    assert m.get_finals() == ["q2"]
    assert_type(m.initial_state, str)
    assert_type(m.current_state, str)


def stepping(m: Morvane) -> None:
    m.set_data({"user": "ana"})
    moved = m.step("a")
    assert_type(moved, bool)
    assert moved and not m.step(symbol="x")
    assert_type(m.history_len(), int)
    last = m.peek_history()
    assert_type(last, tuple[str, object] | None)
    if last is not None:
        state, snapshot = last
        assert state == "q1" and snapshot == {"user": "ana"}
    history = m.get_history()
    assert_type(history, list[tuple[str, object]])
    assert [state for state, _ in history] == ["q0", "q1"]
    assert_type(m.undo(), bool)
    assert_type(m.force_state(state_id="q2"), None)
    assert_type(m.clear_history(), None)
    assert m.history_len() == 0 and not m.undo()
    assert_type(m.reset(), None)


def acceptance(m: Morvane) -> None:
    assert_type(m.accept("ab"), bool)
    assert m.accept(st="ab") and not m.accept("a")
    path = m.simulate("ab")
    assert_type(path, list[str])
    assert path == ["q0", "q1", "q2"] == m.simulate(input="ab")
    assert_type(m.is_final("q2"), bool)
    assert m.is_final(state="q2")
    assert_type(m.is_accepted(), bool)


def context(m: Morvane) -> None:
    assert_type(m.data, object)
    assert_type(m.set_data(41), None)
    assert_type(m.transform_data("int", "add", 1), None)
    data = m.data
    # The context data is any object: narrow it before use.
    assert isinstance(data, int) and data + 1 == 43
    assert_type(m.get_context_type(), str)
    assert_type(m.update_context(new_data="x"), None)
    m.transform_data(data_type_result="str", operation="concat", assert_val="y")
    assert m.data == "xy"
    assert_type(m.clear_data(), None)
    assert m.data is None


def panics_are_not_exceptions() -> None:
    panic: type[BaseException] = morvane.PanicException
    assert not issubclass(panic, Exception)
    assert morvane.__all__ == ["Morvane"]


def main() -> None:
    m = build()
    transitions(m)
    queries(m)
    stepping(m)
    acceptance(m)
    context(m)
    panics_are_not_exceptions()


if __name__ == "__main__":
    main()

"""Stepping, forcing, undo and the (state, data) history."""

import pytest

from conftest import Morvane, refcount

MISSING_STATE = "O estado destino nao existe no automato."


def ring(size=3):
    """s0 -a-> s1 -a-> ... -a-> s0: after k steps on "a" the state is s{k % size}."""
    m = Morvane({f"s{i}" for i in range(size)}, {"a"}, "s0", set())
    for i in range(size):
        m.add_transition(f"s{i}", "a", f"s{(i + 1) % size}")
    return m


def test_fresh_history_is_empty(abc):
    assert (abc.history_len(), abc.get_history(), abc.peek_history(), abc.undo()) == (0, [], None, False)


@pytest.mark.parametrize("symbol, moved", [("a", True), ("b", False), ("z", False), ("é", False), ("😀", False)])
def test_every_converted_symbol_pushes_one_entry(abc, symbol, moved):
    data = ["ctx"]
    abc.set_data(data)
    assert abc.step(symbol=symbol) is moved
    assert abc.current_state == ("q1" if moved else "q0")
    assert abc.history_len() == 1
    state, snapshot = abc.peek_history()
    assert state == "q0" and snapshot is data and abc.data is data
    assert abc.undo() is True and abc.current_state == "q0" and abc.data is data


@pytest.mark.parametrize(
    "symbol, error",
    [("", ValueError), ("ab", ValueError), (5, TypeError), (None, TypeError), ("\ud800", UnicodeEncodeError)],
)
def test_unconvertible_symbol_pushes_nothing(abc, symbol, error):
    abc.step("a")
    with pytest.raises(error) as info:
        abc.step(symbol)
    assert info.value.__notes__[-1] == "while processing 'symbol'"
    assert (abc.history_len(), abc.current_state) == (1, "q1")


def test_force_state(abc):
    abc.force_state("q0")  # the current state still pushes
    abc.force_state(state_id="q2")
    assert abc.get_history() == [("q0", None), ("q0", None)]
    assert abc.current_state == "q2"
    for bad in ("q3", "Q0", "q0 ", ""):
        with pytest.raises(ValueError) as info:
            abc.force_state(bad)
        assert str(info.value) == MISSING_STATE
        assert not getattr(info.value, "__notes__", None)
    with pytest.raises(TypeError) as info:
        abc.force_state(0)
    assert info.value.__notes__[-1] == "while processing 'state_id'"
    assert (abc.history_len(), abc.current_state) == (2, "q2")


def test_reset_makes_no_membership_test():
    m = Morvane({"q0"}, {"a"}, "outside", set())
    m.force_state("q0")
    m.set_data("x")
    m.reset()
    assert (m.current_state, m.data, m.history_len()) == ("outside", None, 0)
    assert m.undo() is False
    with pytest.raises(ValueError, match=MISSING_STATE):
        m.force_state("outside")


def test_undo_restores_state_and_data_and_drops_later_changes(abc):
    x, y = object(), object()
    abc.set_data(x)
    abc.step("a")
    abc.set_data(y)
    abc.step("b")
    abc.clear_data()
    assert abc.undo() is True
    assert abc.current_state == "q1" and abc.data is y
    assert abc.undo() is True
    assert abc.current_state == "q0" and abc.data is x
    assert abc.undo() is False
    assert abc.current_state == "q0" and abc.data is x


def test_get_history_order_identity_and_copies(abc):
    objs = [[i] for i in range(4)]
    for obj, symbol in zip(objs, "abba"):
        abc.set_data(obj)
        abc.step(symbol)
    history = abc.get_history()
    assert [s for s, _ in history] == ["q0", "q1", "q2", "q2"]
    assert all(snapshot is obj for (_, snapshot), obj in zip(history, objs))
    assert history[-1] == abc.peek_history() and history[-1][1] is abc.peek_history()[1]
    history.clear()
    assert abc.history_len() == 4
    objs[3].append("later")  # the snapshot is the object itself, not a copy
    assert abc.peek_history()[1] == [3, "later"]


def test_clear_history_keeps_state_and_data(abc):
    data = object()
    abc.set_data(data)
    abc.step("a")
    abc.step("b")
    abc.clear_history()
    assert (abc.current_state, abc.history_len(), abc.peek_history()) == ("q2", 0, None)
    assert abc.data is data
    assert abc.undo() is False


def test_long_history_back_and_forth():
    """Every size up to 10,000 is crossed forth and back, so every storage edge is."""
    m = ring(5)
    created, model = [], []  # model: (state index, data) pairs, like the history itself
    position = 0

    def push(n):
        nonlocal position
        for _ in range(n):
            created.append(object())
            m.set_data(created[-1])
            model.append((position, created[-1]))
            assert m.step("a") is True
            position = (position + 1) % 5

    def pop(n):
        nonlocal position
        for _ in range(n):
            position, data = model.pop()
            assert m.undo() is True
            assert m.current_state == f"s{position}" and m.data is data

    while len(model) < 10_000:
        push(3)
        pop(2)
        assert m.peek_history() == (f"s{model[-1][0]}", model[-1][1])  # object() compares by identity
    for down, up in [(0, 0), (5_000, 5_000), (9_990, 20)]:
        pop(down)
        push(up)
        assert m.history_len() == len(model)
        assert all(s == f"s{p}" and d is o for (s, d), (p, o) in zip(m.get_history(), model, strict=True))
    pop(len(model))
    assert m.undo() is False and m.current_state == "s0"
    m.clear_data()
    counts = {refcount(created[i]) for i in range(len(created))}
    assert counts == {refcount(object()) + 1}  # only `created` holds them now


def test_reference_counts():
    m = ring()
    x, y = object(), object()
    bx, by = refcount(x), refcount(y)
    m.set_data(x)
    assert refcount(x) == bx + 1
    for _ in range(3):
        m.step("a")
    m.force_state("s0")
    assert refcount(x) == bx + 5  # data plus one per entry
    m.set_data(y)
    assert (refcount(x), refcount(y)) == (bx + 4, by + 1)
    m.step("a")
    assert m.undo() is True  # the snapshot of y moves back into data
    assert (refcount(x), refcount(y)) == (bx + 4, by + 1)
    assert m.undo() is True  # y released, x's snapshot moves into data
    assert (refcount(x), refcount(y)) == (bx + 4, by)
    peeked = m.peek_history()
    assert refcount(x) == bx + 5
    del peeked
    m.clear_history()
    assert refcount(x) == bx + 1
    m.step("a")
    m.step("a")
    m.reset()
    assert refcount(x) == bx

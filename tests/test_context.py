"""The context data, its type name and transform_data, and the Python code they run."""

import sys

import pytest

from conftest import refcount, while_exclusively_borrowed

UNSUPPORTED = "Tipo de dado nao suportado. Use 'str' ou 'int'."
INT_MAX, INT_MIN = 2**63 - 1, -(2**63)


@pytest.fixture
def unraisable(monkeypatch):
    """Every (exception, object) that reaches the unraisable hook."""
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", lambda args: seen.append((args.exc_value, args.object)))
    return seen


class Foo:
    def __str__(self):
        raise LookupError("no text")


def notes(error):
    return getattr(error, "__notes__", [])


def test_data_store_identity_and_history(abc):
    assert abc.data is None
    first, second = [1], {"k": 2}
    abc.step("a")
    assert abc.set_data(first) is None
    assert abc.data is first and abc.history_len() == 1 and abc.current_state == "q1"
    first.append(3)
    assert abc.data == [1, 3]
    assert abc.update_context(new_data=second) is None and abc.data is second
    abc.set_data(new_data=first)
    abc.set_data(abc.data)  # storing the stored object keeps it
    count = refcount(first)
    assert abc.data is first and count == 3
    assert abc.clear_data() is None and abc.data is None
    assert abc.clear_data() is None and abc.data is None
    assert abc.history_len() == 1 and abc.current_state == "q1"
    abc.set_data(second)
    assert abc.undo() is True and abc.data is None  # the replacement was not recorded


@pytest.mark.parametrize(
    "data, name",
    [(None, "NoneType"), (5, "int"), ("x", "str"), ([1], "list"), ({}, "dict"), (True, "bool"), (Foo(), "Foo")],
)
def test_context_type(abc, data, name):
    abc.set_data(data)
    assert abc.get_context_type() == name


@pytest.mark.parametrize(
    "data, kind, operation, value, expected",
    [
        ("ab", "str", "concat", "cd", "abcd"),
        (None, "str", "concat", "x", "Nonex"),
        (None, "str", "noop", object(), "None"),
        (42, "str", "anything", 0, "42"),
        ("é", "str", "concat", "😀", "é😀"),
        ("a\ud800b", "str", "noop", None, "a\ufffd\ufffd\ufffdb"),
        ("", "str", "concat", "", ""),
        (4, "int", "add", 3, 7),
        ("4", "int", "add", 3, 3),
        (None, "int", "add", 3, 3),
        (True, "int", "add", 3, 4),
        (3.9, "int", "add", 3, 3),
        (4, "int", "add", True, 5),
        (4, "int", "add", -10, -6),
        (INT_MAX, "int", "add", 1, INT_MIN),
        (INT_MIN, "int", "add", -1, INT_MAX),
        (INT_MIN, "int", "add", INT_MIN, 0),
        (2**63, "int", "noop", None, 0),
        (INT_MIN - 1, "int", "add", 5, 5),
        (True, "int", "noop", "x", 1),
        ([1], "float", "clear", None, None),
        ("x", "", "clear", 2.0, None),
    ],
)
def test_transform_data(abc, data, kind, operation, value, expected):
    abc.set_data(data)
    assert abc.transform_data(kind, operation, value) is None
    assert abc.data == expected and type(abc.data) is type(expected)
    assert abc.get_context_type() == type(expected).__name__


@pytest.mark.parametrize(
    "kind, operation, value, error, message",
    [
        ("str", "concat", 5, TypeError, "'int' object is not an instance of 'str'"),
        ("str", "concat", None, TypeError, "'None' is not an instance of 'str'"),
        ("str", "concat", "\udc80", UnicodeEncodeError, None),
        ("int", "add", 2.0, TypeError, None),
        ("int", "add", "1", TypeError, None),
        ("int", "add", 2**63, OverflowError, None),
        ("int", "add", INT_MIN - 1, OverflowError, None),
        ("float", "add", 1, TypeError, UNSUPPORTED),
        ("STR", "concat", "x", TypeError, UNSUPPORTED),
        ("", "x", 1, TypeError, UNSUPPORTED),
        ("int ", "noop", 1, TypeError, UNSUPPORTED),
    ],
)
def test_transform_data_refusals_leave_data(abc, kind, operation, value, error, message):
    data = ["kept"]
    abc.set_data(data)
    with pytest.raises(error) as info:
        abc.transform_data(kind, operation, value)
    assert message is None or str(info.value) == message
    assert notes(info.value) == []
    assert abc.data is data


@pytest.mark.parametrize(
    "args, parameter",
    [((1, "clear", None), "data_type_result"), (("str", None, None), "operation"), ((b"str", 1, 1), "data_type_result")],
)
def test_transform_data_converts_both_texts_first(abc, args, parameter):
    abc.set_data("kept")
    with pytest.raises(TypeError) as info:
        abc.transform_data(*args)
    assert notes(info.value) == [f"while processing '{parameter}'"]
    assert abc.data == "kept"


def test_transform_data_makes_exact_types_and_keeps_snapshots(abc):
    class Text(str):
        def __str__(self):
            return "not used"

    original = Text("sub")
    abc.set_data(original)
    abc.step("a")
    abc.transform_data("str", "noop", None)
    assert type(abc.data) is str and abc.data == "sub"
    abc.transform_data("int", "add", 1)
    assert abc.history_len() == 1 and abc.peek_history()[1] is original
    assert abc.undo() is True and abc.data is original


def test_str_failure_goes_to_the_unraisable_hook(abc, unraisable):
    data = Foo()
    abc.set_data(data)
    abc.transform_data("str", "concat", "!")
    assert abc.data == "<unprintable Foo object>!"
    [(error, obj)] = unraisable
    assert isinstance(error, LookupError) and obj is data


class BadName(str):
    def __str__(self):
        raise ValueError("nameless")


def test_unprintable_type_name(abc, unraisable):
    class Nameless:
        def __str__(self):
            raise KeyError("no text")

    Nameless.__name__ = BadName("Nameless")
    data = Nameless()
    abc.set_data(data)
    assert abc.get_context_type() == "<unprintable BadName object>"
    assert [type(e) for e, _ in unraisable] == [ValueError]
    unraisable.clear()
    abc.transform_data("str", "noop", None)
    assert abc.data == "<unprintable <unprintable BadName object> object>"
    assert [(type(e), o) for e, o in unraisable] == [(KeyError, data), (ValueError, Nameless.__name__)]


def test_a_name_that_never_prints_nests_eight_deep(abc, unraisable):
    class SelfNamed(str):  # its name is an instance of itself
        def __str__(self):
            raise ValueError("nameless")

    SelfNamed.__name__ = SelfNamed("SelfNamed")
    abc.set_data(SelfNamed("data"))
    abc.transform_data("str", "noop", None)
    assert abc.data == "data"  # a str subclass is taken as text, its __str__ unused
    abc.set_data(SelfNamed.__name__)
    assert abc.get_context_type() == "<unprintable " * 8 + "<unprintable object>" + " object>" * 8
    assert len(unraisable) == 9 and all(obj is SelfNamed.__name__ for _, obj in unraisable)


def test_str_results_are_new_objects_even_for_one_character(abc):
    for code_point in range(256):
        cached = chr(code_point)  # the interpreter's shared one-character string
        abc.set_data(cached)
        abc.transform_data("str", "noop", None)
        assert abc.data == cached and abc.data is not cached
    abc.set_data("")
    abc.transform_data("str", "noop", None)
    assert abc.data == ""  # the empty string is the interpreter's one


@pytest.mark.parametrize("text, expected", [("\ud800", "\ufffd" * 3), ("x\udfff\ud800y", "x" + "\ufffd" * 6 + "y")])
def test_lone_surrogates_in_str_result(abc, text, expected):
    class Odd:
        def __str__(self):
            return text

    abc.set_data(Odd())
    abc.transform_data("str", "noop", None)
    assert abc.data == expected


def index_raising(error):
    class Indexed:
        def __index__(self):
            raise error

    return Indexed()


@pytest.mark.parametrize("error", [ValueError("bad"), TypeError("bad"), ZeroDivisionError()])
def test_ordinary_index_error_of_data_counts_as_zero(abc, error):
    abc.set_data(index_raising(error))
    abc.transform_data("int", "add", 5)
    assert abc.data == 5


@pytest.mark.parametrize("error", [KeyboardInterrupt, SystemExit, MemoryError])
def test_serious_index_error_of_data_propagates(abc, error):
    data = index_raising(error())
    abc.set_data(data)
    with pytest.raises(error):
        abc.transform_data("int", "add", 5)
    assert abc.data is data
    abc.transform_data("str", "concat", "!")  # the borrow was given back
    assert abc.data.endswith("!")


@pytest.mark.parametrize("error", [ValueError, KeyboardInterrupt])
def test_index_error_of_assert_val_propagates(abc, error):
    abc.set_data(4)
    with pytest.raises(error) as info:
        abc.transform_data("int", "add", index_raising(error("x")))
    assert notes(info.value) == [] and abc.data == 4


# Each way of running caller code while the instance is exclusively borrowed
# runs action() once and returns (outcome, the data transform_data leaves).
def via_data_str(m, action):
    return while_exclusively_borrowed(m, action), "callback"


def index_running(action, outcome):
    class Indexed:
        def __index__(self):
            outcome.append(capture(action))
            return 5

    return Indexed()


def via_data_index(m, action):
    outcome = []
    m.set_data(index_running(action, outcome))
    m.transform_data("int", "add", 1)
    return outcome[0], 6


def via_assert_val_index(m, action):
    outcome = []
    m.set_data(10)
    m.transform_data("int", "add", index_running(action, outcome))
    return outcome[0], 15


def via_unraisable_hook(m, action):
    outcome = []
    previous, sys.unraisablehook = sys.unraisablehook, lambda args: outcome.append(capture(action))
    try:
        m.set_data(Foo())
        m.transform_data("str", "noop", None)
    finally:
        sys.unraisablehook = previous
    return outcome[0], "<unprintable Foo object>"


def capture(action):
    try:
        return action()
    except BaseException as error:  # noqa: BLE001
        return error


REENTRY = {  # a call back into the instance, and the borrow error it meets
    "data": (lambda m: m.data, "Already mutably borrowed"),
    "peek_history": (lambda m: m.peek_history(), "Already mutably borrowed"),
    "get_context_type": (lambda m: m.get_context_type(), "Already mutably borrowed"),
    "set_data": (lambda m: m.set_data(1), "Already borrowed"),
    "step": (lambda m: m.step("b"), "Already borrowed"),
    "undo": (lambda m: m.undo(), "Already borrowed"),
    "reset": (lambda m: m.reset(), "Already borrowed"),
    "transform_data": (lambda m: m.transform_data("str", "clear", None), "Already borrowed"),
    "add_transition": (lambda m: m.add_transition("q2", "a", "q0"), "Already borrowed"),
}


@pytest.mark.parametrize("run", [via_data_str, via_data_index, via_assert_val_index, via_unraisable_hook])
@pytest.mark.parametrize("name", REENTRY)
def test_reentry_under_exclusive_borrow(abc, run, name):
    action, message = REENTRY[name]
    abc.step("a")
    outcome, expected = run(abc, lambda: action(abc))
    assert type(outcome) is RuntimeError and str(outcome) == message
    assert abc.data == expected and type(abc.data) is type(expected)
    assert (abc.current_state, abc.history_len(), abc.has_transition("q2", "a")) == ("q1", 1, False)
    assert abc.undo() is True and abc.data is None

"""The call frame: argument binding, conversions, borrows and their order."""

import gc
import sys

import pytest

import morvane
from conftest import while_exclusively_borrowed, while_shared_borrowed

Morvane = morvane.Morvane


def runtime(*pieces):
    """A str built at run time, so it is not the interned constant."""
    return "".join(pieces)


class Outer:
    class Inner:
        pass


class StrSub(str):
    pass


BINDING = [
    (lambda m: m.step(), "Morvane.step() missing 1 required positional argument: 'symbol'"),
    (lambda m: m.has_transition(), "Morvane.has_transition() missing 2 required positional arguments: 'of' and 'with'"),
    (lambda m: m.add_transition(), "Morvane.add_transition() missing 3 required positional arguments: 'of', 'with', and 'for_'"),
    (lambda m: m.add_transition(**{"with": 1}), "Morvane.add_transition() missing 2 required positional arguments: 'of' and 'for_'"),
    (lambda m: m.add_transition(1, for_=2), "Morvane.add_transition() missing 1 required positional argument: 'with'"),
    (lambda m: Morvane(), "Morvane.__new__() missing 4 required positional arguments: 'states', 'alphabet', 'initial', and 'finals'"),
    (lambda m: Morvane(1, 2), "Morvane.__new__() missing 2 required positional arguments: 'initial' and 'finals'"),
    (lambda m: Morvane(set(), finals=1, alphabet=2), "Morvane.__new__() missing 1 required positional argument: 'initial'"),
    (lambda m: m.step("a", "b"), "Morvane.step() takes 1 positional arguments but 2 were given"),
    (lambda m: m.transform_data(1, 2, 3, 4, 5), "Morvane.transform_data() takes 3 positional arguments but 5 were given"),
    (lambda m: m.step(5, 6, bogus=1), "Morvane.step() takes 1 positional arguments but 2 were given"),
    (lambda m: Morvane(1, 2, 3, 4, 5, bogus=1), "Morvane.__new__() takes 4 positional arguments but 5 were given"),
    (lambda m: m.step("a", symbol="b"), "Morvane.step() got multiple values for argument 'symbol'"),
    (lambda m: m.has_transition(1, of=2), "Morvane.has_transition() got multiple values for argument 'of'"),
    (lambda m: Morvane(1, 2, 3, 4, states=5), "Morvane.__new__() got multiple values for argument 'states'"),
    (lambda m: m.step(sym="a"), "Morvane.step() got an unexpected keyword argument 'sym'"),
    (lambda m: m.is_final(State="q0"), "Morvane.is_final() got an unexpected keyword argument 'State'"),
    (lambda m: m.add_transition(1, bogus=2, of=3), "Morvane.add_transition() got an unexpected keyword argument 'bogus'"),
    (lambda m: m.add_transition(1, of=3, bogus=2), "Morvane.add_transition() got multiple values for argument 'of'"),
    (lambda m: m.step(**{"\ud800": "a"}), "Morvane.step() got an unexpected keyword argument '\ud800'"),
    (lambda m: m.accept(**{"sté": "a"}), "Morvane.accept() got an unexpected keyword argument 'sté'"),
    (lambda m: Morvane(1, 2, 3, 4, **{"\udcff": 5}), "Morvane.__new__() got an unexpected keyword argument '\udcff'"),
]


@pytest.mark.parametrize(("call", "message"), BINDING)
def test_binding_errors(abc, call, message):
    with pytest.raises(TypeError) as caught:
        call(abc)
    assert str(caught.value) == message
    assert not hasattr(caught.value, "__notes__")


def test_keywords_are_matched_by_content(abc):
    name = runtime("sym", "bol")
    assert name is not sys.intern(name)
    assert abc.step(**{name: "a"}) is True
    assert abc.is_final(**{StrSub("state"): "q2"}) is True
    abc.add_transition(of="q2", **{"with": "a"}, for_="q0")
    assert abc.has_transition(**{runtime("o", "f"): "q2", runtime("wi", "th"): "a"})
    built = Morvane(**{runtime("fin", "als"): set(), runtime("init", "ial"): "x", "alphabet": set(), "states": {"x"}})
    assert built.current_state == "x"


CONVERSION = [
    (lambda m: m.step(5), TypeError, "'int' object is not an instance of 'str'", "symbol"),
    (lambda m: m.step(None), TypeError, "'None' is not an instance of 'str'", "symbol"),
    (lambda m: m.step(Outer.Inner()), TypeError, "'Outer.Inner' object is not an instance of 'str'", "symbol"),
    (lambda m: m.step(""), ValueError, "expected a string of length 1", "symbol"),
    (lambda m: m.step("ab"), ValueError, "expected a string of length 1", "symbol"),
    (lambda m: m.step("e\u0301"), ValueError, "expected a string of length 1", "symbol"),
    (lambda m: m.force_state(["q0"]), TypeError, "'list' object is not an instance of 'str'", "state_id"),
    (lambda m: m.is_final(state=1.5), TypeError, "'float' object is not an instance of 'str'", "state"),
    (lambda m: m.add_transition("q0", "a", None), TypeError, "'None' is not an instance of 'str'", "for_"),
    (lambda m: m.transform_data("str", 1, None), TypeError, "'int' object is not an instance of 'str'", "operation"),
    (lambda m: Morvane([1], set(), "q", set()), TypeError, "'list' object is not an instance of 'set'", "states"),
    (lambda m: Morvane({}, set(), "q", set()), TypeError, "'dict' object is not an instance of 'set'", "states"),
    (lambda m: Morvane(set(), ("a",), "q", set()), TypeError, "'tuple' object is not an instance of 'set'", "alphabet"),
    (lambda m: Morvane(set(), {1}, "q", set()), TypeError, "'int' object is not an instance of 'str'", "alphabet"),
    (lambda m: Morvane(set(), set(), "q", None), TypeError, "'None' is not an instance of 'set'", "finals"),
    (lambda m: Morvane(set(), set(), None, set()), TypeError, "'None' is not an instance of 'str'", "initial"),
    (lambda m: Morvane(set(), set(), "q", Outer()), TypeError, "'Outer' object is not an instance of 'set'", "finals"),
]


@pytest.mark.parametrize(("call", "kind", "message", "parameter"), CONVERSION)
def test_conversion_errors_carry_a_note(abc, call, kind, message, parameter):
    with pytest.raises(kind) as caught:
        call(abc)
    assert type(caught.value) is kind and str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]
    assert abc.current_state == "q0" and abc.history_len() == 0


@pytest.mark.parametrize(
    ("call", "parameter", "text"),
    [
        (lambda m: m.step("\ud800"), "symbol", "\ud800"),
        (lambda m: m.step("\ud800x"), "symbol", "\ud800x"),
        (lambda m: m.has_transition("q0", "x\udfff"), "with", "x\udfff"),
        (lambda m: m.force_state("q\udc80"), "state_id", "q\udc80"),
        (lambda m: Morvane(set(), set(), "\ud800", set()), "initial", "\ud800"),
        (lambda m: Morvane({"q", "a\ud800"}, set(), "q", set()), "states", "a\ud800"),
    ],
)
def test_lone_surrogates_fail_to_encode(abc, call, parameter, text):
    with pytest.raises(UnicodeEncodeError) as caught:
        call(abc)
    assert caught.value.object == text and caught.value.object[caught.value.start] in "\ud800\udfff\udc80"
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


@pytest.mark.parametrize("symbol", ["é", "😀", "\x00", "\U0010ffff", StrSub("a")])
def test_single_code_points_are_symbols(symbol):
    m = Morvane({"p", "q"}, {str(symbol)}, "p", {"q"})
    m.add_transition("p", symbol, "q")
    assert m.has_transition("p", symbol) and m.step(symbol) is True
    assert m.get_transitions() == [("p", str(symbol), "q")]


class NoteRefused(Exception):
    def add_note(self, note):
        raise RuntimeError("notes refused")


class NoteTaken(Exception):
    pass


@pytest.mark.parametrize(("error", "notes"), [(NoteRefused, None), (NoteTaken, ["while processing 'alphabet'"])])
def test_set_iteration_failure_propagates(error, notes):
    class FailingSet(set):
        def __iter__(self):
            raise error("iteration")

    with pytest.raises(error) as caught:
        Morvane({"q"}, FailingSet({"a"}), "q", set())
    assert str(caught.value) == "iteration"
    assert getattr(caught.value, "__notes__", None) == notes


def test_binding_before_borrow_before_conversion(abc):
    outcomes = while_exclusively_borrowed(abc, lambda: [
        _error(lambda: abc.step()),
        _error(lambda: abc.has_transition("q0")),
        _error(lambda: abc.step(5)),
        _error(lambda: abc.has_transition(5, "ab")),
    ])
    assert outcomes == [
        (TypeError, "Morvane.step() missing 1 required positional argument: 'symbol'"),
        (TypeError, "Morvane.has_transition() missing 1 required positional argument: 'with'"),
        (RuntimeError, "Already borrowed"),
        (RuntimeError, "Already mutably borrowed"),
    ]
    shared = while_shared_borrowed(abc, lambda: [_error(lambda: abc.step("a", "b")), _error(lambda: abc.step(5))])
    assert shared == [(TypeError, "Morvane.step() takes 1 positional arguments but 2 were given"),
                      (RuntimeError, "Already borrowed")]


@pytest.mark.parametrize(
    ("call", "parameter"),
    [
        (lambda m: m.add_transition(1, "ab", None), "of"),
        (lambda m: m.add_transition("q0", "ab", None), "with"),
        (lambda m: m.add_transition("nowhere", "z", None), "for_"),
        (lambda m: Morvane([1], set(), None, set()), "states"),
        (lambda m: Morvane(set(), {1}, "q", [1]), "alphabet"),
    ],
)
def test_earlier_conversion_wins(abc, call, parameter):
    with pytest.raises((TypeError, ValueError)) as caught:
        call(abc)
    assert caught.value.__notes__ == [f"while processing '{parameter}'"]


def _error(call):
    try:
        call()
    except Exception as error:  # noqa: BLE001
        return type(error), str(error)
    return None


SHARED = {
    "current_state": lambda m: m.current_state,
    "initial_state": lambda m: m.initial_state,
    "data": lambda m: m.data,
    "get_states": lambda m: m.get_states(),
    "get_alphabet": lambda m: m.get_alphabet(),
    "get_finals": lambda m: m.get_finals(),
    "has_transition": lambda m: m.has_transition("q0", "a"),
    "get_transitions": lambda m: m.get_transitions(),
    "available_symbols": lambda m: m.available_symbols(),
    "get_history": lambda m: m.get_history(),
    "history_len": lambda m: m.history_len(),
    "peek_history": lambda m: m.peek_history(),
    "accept": lambda m: m.accept("ab"),
    "simulate": lambda m: m.simulate("b"),
    "is_final": lambda m: m.is_final("q2"),
    "is_accepted": lambda m: m.is_accepted(),
}
EXCLUSIVE = {
    "add_transition": lambda m: m.add_transition("q2", "a", "q0"),
    "remove_transition": lambda m: m.remove_transition("q0", "a"),
    "step": lambda m: m.step("a"),
    "force_state": lambda m: m.force_state("q2"),
    "undo": lambda m: m.undo(),
    "reset": lambda m: m.reset(),
    "clear_history": lambda m: m.clear_history(),
    "set_data": lambda m: m.set_data(1),
    "update_context": lambda m: m.update_context(1),
    "clear_data": lambda m: m.clear_data(),
    "transform_data": lambda m: m.transform_data("str", "clear", None),
}


@pytest.mark.parametrize("name", list(SHARED) + ["get_context_type"])
def test_queries_refused_during_exclusive_borrow(abc, name):
    query = SHARED.get(name, lambda m: m.get_context_type())
    error = while_exclusively_borrowed(abc, lambda: query(abc))
    assert type(error) is RuntimeError and str(error) == "Already mutably borrowed"
    assert abc.step("a") is True and abc.current_state == "q1"


@pytest.mark.parametrize("name", list(EXCLUSIVE))
def test_changes_refused_during_any_borrow(abc, name):
    for borrowed in (while_exclusively_borrowed, while_shared_borrowed):
        error = borrowed(abc, lambda: EXCLUSIVE[name](abc))
        assert type(error) is RuntimeError and str(error) == "Already borrowed"
        assert abc.current_state == "q0" and abc.history_len() == 0 and abc.has_transition("q0", "a")
    EXCLUSIVE[name](abc)  # the borrow was given back


@pytest.mark.parametrize("name", list(SHARED))
def test_queries_run_during_shared_borrow(abc, name):
    abc.step("a")
    inside = while_shared_borrowed(abc, lambda: SHARED[name](abc))
    assert not isinstance(inside, BaseException)
    assert inside == SHARED[name](abc)


@pytest.mark.parametrize(
    "failing",
    [
        lambda m: m.step(),
        lambda m: m.step(5),
        lambda m: m.add_transition("q0", "a", "q9"),
        lambda m: m.simulate("zz"),
        lambda m: while_exclusively_borrowed(m, lambda: m.step("a")),
    ],
)
def test_instance_recovers_after_failed_call(abc, failing):
    try:
        failing(abc)
    except Exception:  # noqa: BLE001 - only what follows matters
        pass
    abc.set_data(None)
    assert abc.step("a") is True and abc.get_states() == ["q0", "q1", "q2"]
    assert abc.undo() is True and abc.current_state == "q0"


def test_argument_reference_counts_unchanged(abc):
    of, symbol, target, bad = runtime("q", "2"), runtime("b"), runtime("q", "0"), object()
    objects = [of, symbol, target, bad]
    before = [sys.getrefcount(item) for item in objects]
    abc.add_transition(of, symbol, target)
    abc.has_transition(of=of, **{"with": symbol})
    for call in (lambda: abc.add_transition(of, symbol, bad), lambda: abc.step(symbol, of),
                 lambda: abc.add_transition(of, symbol, target), lambda: abc.step(bad)):
        with pytest.raises((TypeError, ValueError)):
            call()
    assert [sys.getrefcount(item) for item in objects] == before


class EmptiesItsDict(set):
    """A set whose iteration empties every dict that holds it: the keyword
    dict of the call converting it, which may own the other arguments."""

    def __iter__(self):
        for referrer in gc.get_referrers(self):
            if type(referrer) is dict:
                referrer.clear()
        return super().__iter__()


@pytest.mark.parametrize("position", range(4))
def test_arguments_outlive_a_keyword_dict_emptied_during_conversion(position):
    # Fresh objects that only the dict owns; the emptying set converts at
    # each position in turn, before and after the others.
    names = ["states", "alphabet", "initial", "finals"]
    values = [{runtime("q", "0"), runtime("é", "x" * 40)}, {runtime("a", "b"), runtime("\U0001F600")},
              runtime("q", "\u4e00", "y" * 40), {runtime("q", "0"), runtime("z", "9")}]
    expected = [sorted(values[0]), sorted(values[1]), values[2], sorted(values[3])]
    if position != 2:
        values[position] = EmptiesItsDict(values[position])
    arguments = dict(zip(names, values))
    del values
    m = Morvane(**arguments)
    assert arguments == {} or position == 2
    assert [m.get_states(), m.get_alphabet(), m.current_state, m.get_finals()] == expected


def test_method_arguments_outlive_a_keyword_dict_emptied_during_the_call(abc):
    """The interpreter hands a method its own references to keyword values
    (it unpacks the dict into a new argument vector), so emptying the dict
    from inside the call frees nothing that the call still reads: here the
    operation's text is read after str() of the data has run."""

    class EmptiesTheCallsDict:
        def __str__(self):
            for referrer in gc.get_referrers(self):
                if type(referrer) is dict and "operation" in referrer:
                    referrer.clear()
            return "text"

    for operation in ("concat", "noop"):
        thief = EmptiesTheCallsDict()
        abc.set_data(thief)
        arguments = {"data_type_result": runtime("s", "tr"), "operation": runtime(operation), "assert_val": thief}
        if operation == "concat":
            with pytest.raises(TypeError, match="EmptiesTheCallsDict' object is not an instance of 'str'"):
                abc.transform_data(**arguments)
        else:
            abc.transform_data(**arguments)
            assert abc.data == "text"
        assert arguments == {}

"""Transition table: add, remove, has, get_transitions, available_symbols."""

import collections
import random
import sys

import pytest

from conftest import HAS_MALLINFO, Morvane, SANITIZED, allocated_bytes, error_of

STATES_MSG = "Erro: Um ou ambos os estados nao pertencem ao automato."


def alphabet_msg(symbol):
    return f"Erro: O simbolo '{symbol}' nao pertence ao alfabeto do automato."


def duplicate_msg(state, symbol):
    return f"Erro: O estado '{state}' ja possui uma transicao definida para o simbolo '{symbol}'."


def missing_msg(state, symbol):
    return f"Erro: Nao existe transicao definida para o estado '{state}' com o simbolo '{symbol}'."


def message(call, *args):
    error = error_of(call, *args)
    assert len(error.args) == 1
    return error.args[0]


def test_new_automaton_has_an_empty_table():
    m = Morvane({"q0", "q1"}, {"a"}, "q0", set())
    assert m.get_transitions() == [] and m.available_symbols() == []
    assert not m.has_transition("q0", "a")


# (state name, alphabet symbol, a symbol outside the alphabet): names and
# symbols in 1-, 2- and 4-byte ranges, with NUL characters, reach the
# messages verbatim.
NAMES = [
    ("q0", "a", "A"),
    ("estado-\xe9", "\xe9", "\xe8"),
    ("\u4e00\x00\u4e01", "\u4e00", "\u4e01"),
    ("\U0001F600", "\U0001F600", "\U0001F601"),
    ("", "\x00", "\x01"),
    ("a\x00", "\U0010FFFF", "\uffff"),
]


@pytest.mark.parametrize(("state", "symbol", "foreign"), NAMES)
def test_refusals_and_their_messages(state, symbol, foreign):
    other = state + "'"
    m = Morvane({state, other}, {symbol}, state, set())
    assert message(m.add_transition, state + "?", symbol, other) == STATES_MSG
    assert message(m.add_transition, state, symbol, other + "?") == STATES_MSG
    assert message(m.add_transition, state, foreign, other) == alphabet_msg(foreign)
    assert message(m.remove_transition, state, symbol) == missing_msg(state, symbol)
    assert message(m.remove_transition, state, foreign) == missing_msg(state, foreign)
    assert m.get_transitions() == []

    m.add_transition(state, symbol, other)
    # Never overwritten, whether the new target is the same or another state.
    for target in (other, state):
        assert message(m.add_transition, state, symbol, target) == duplicate_msg(state, symbol)
    assert m.get_transitions() == [(state, symbol, other)]
    assert m.simulate(symbol) == [state, other]

    m.remove_transition(state, symbol)
    assert not m.has_transition(state, symbol) and m.get_transitions() == []
    assert message(m.remove_transition, state, symbol) == missing_msg(state, symbol)
    m.add_transition(state, symbol, state)  # re-added with another target: a self-loop
    assert m.get_transitions() == [(state, symbol, state)]
    assert m.simulate(symbol * 3) == [state] * 4


@pytest.mark.parametrize(
    ("args", "expected"),
    [
        (("nowhere", "z", "q1"), STATES_MSG),  # states before alphabet
        (("q0", "z", "nowhere"), STATES_MSG),
        (("q0", "a", "nowhere"), STATES_MSG),  # states before duplicate
        (("q0", "A", "q1"), alphabet_msg("A")),  # case-sensitive
        (("q0", "\xe9", "q1"), alphabet_msg("\xe9")),  # "e" + combining acute is two characters
        (("q0", "a", "q0"), duplicate_msg("q0", "a")),
    ],
)
def test_check_order(args, expected):
    m = Morvane({"q0", "q1", "q2"}, {"a", "b", "ab", "", "e\u0301"}, "q0", {"q2"})
    m.add_transition("q0", "a", "q1")
    assert message(m.add_transition, *args) == expected
    assert m.get_transitions() == [("q0", "a", "q1")]


def test_members_that_are_not_one_character_never_match():
    m = Morvane({"q"}, {"ab", "", "b"}, "q", set())
    for member in ("ab", ""):
        error = error_of(m.add_transition, "q", member, "q")
        assert error.args == ("expected a string of length 1",)
        assert error.__notes__[-1] == "while processing 'with'"
    assert message(m.add_transition, "q", "a", "q") == alphabet_msg("a")
    m.add_transition("q", "b", "q")
    assert m.get_transitions() == [("q", "b", "q")]


@pytest.mark.parametrize(
    ("args", "kind", "note"),
    [
        ((1, 2, 3), TypeError, "of"),  # of is converted before with and for_
        (("nowhere", 1, 3), TypeError, "with"),  # conversion before the engine checks
        (("nowhere", "zz", None), ValueError, "with"),
        (("nowhere", "z", None), TypeError, "for_"),
        (("q0", "z", "\ud800"), UnicodeEncodeError, "for_"),
        (("\udfff", "a", "q1"), UnicodeEncodeError, "of"),
    ],
)
def test_conversion_failures_win(abc, args, kind, note):
    error = error_of(abc.add_transition, *args, kind=kind)
    assert error.__notes__[-1] == f"while processing '{note}'"
    assert len(abc.get_transitions()) == 2


def test_keywords_and_has_transition_never_raises(abc):
    abc.add_transition(**{"of": "q2", "with": "a", "for_": "q0"})
    assert abc.has_transition(of="q2", **{"with": "a"})
    for state, symbol in [("q0", "b"), ("nowhere", "a"), ("", "a"), ("q0", "z"), ("q0", "\U0001F600")]:
        assert abc.has_transition(state, symbol) is False
    assert abc.has_transition("q0", "a") is True


def test_get_transitions_is_a_snapshot(abc):
    abc.add_transition("q2", "a", "q1")  # same symbol from another origin
    first = abc.get_transitions()
    assert sorted(first) == [("q0", "a", "q1"), ("q1", "b", "q2"), ("q2", "a", "q1")]
    assert all(type(t) is tuple and len(t) == 3 and len(t[1]) == 1 for t in first)
    first.append(("q0", "b", "q0"))
    abc.remove_transition("q1", "b")
    assert not abc.has_transition("q0", "b")
    assert sorted(abc.get_transitions()) == [("q0", "a", "q1"), ("q2", "a", "q1")]
    assert len(first) == 4


@pytest.mark.parametrize("n_states, n_transitions", [(60, 250), (20_000, 40_000), (6_000, 40)])
def test_get_transitions_counts_its_references(n_states, n_transitions):
    """Against a dict of the same transitions; and each str of the result is
    held by exactly the tuples that name it: a reference counted once too
    often leaks the str, once too few frees it under a tuple. The sizes take
    a small table, one whose states outgrow the caches, and a few
    transitions among many states; "" is the interpreter's own string."""
    rng = random.Random(n_states)
    states = [f"s{i}" for i in range(n_states - 1)] + [""]
    symbols = ["a", "\xe9", "\u4e00", "\U0001F600", "z"]
    m = Morvane(set(states), set(symbols) | {"ab"}, states[0], set())
    model = {}
    while len(model) < n_transitions:
        key = (rng.choice(states), rng.choice(symbols))
        if key not in model:
            model[key] = rng.choice(states)
            m.add_transition(*key, model[key])
    result = m.get_transitions()
    assert sorted(result) == sorted((q, s, t) for (q, s), t in model.items())
    uses = collections.Counter(id(text) for entry in result for text in entry)
    texts = {id(text): text for entry in result for text in entry if text != ""}
    texts["unused"] = "".join(["un", "used"])  # held the same way but by no tuple: what the rest is counted from
    held = {key: sys.getrefcount(text) for key, text in texts.items()}
    unused = held.pop("unused")
    assert {key: count - unused for key, count in held.items()} == {key: uses[key] for key in held}
    del texts
    assert sorted(result) == sorted(m.get_transitions())


@pytest.mark.parametrize("spare_states", [0, 5000])
def test_get_transitions_makes_its_own_strings(spare_states):
    """Every str in a result is made by that call: none is the caller's
    argument, the interpreter's cached one-character string, or an object of
    another call's result. With spare states, few of the rows are in use."""
    states = [f"q{i}" for i in range(4)] + [f"spare{i}" for i in range(spare_states)]
    symbols = [chr(c) for c in range(0x40, 0x100)]
    m = Morvane(set(states), set(symbols), "q0", set())
    given = set()
    for index, symbol in enumerate(symbols):
        origin, target = states[index % 4], states[(index * 7) % 4]
        m.add_transition(origin, symbol, target)
        given |= {id(origin), id(symbol), id(target)}
    first, second = m.get_transitions(), m.get_transitions()
    assert sorted(first) == sorted(second) == sorted(
        (states[i % 4], s, states[(i * 7) % 4]) for i, s in enumerate(symbols))
    first_ids = {id(text) for entry in first for text in entry}
    second_ids = {id(text) for entry in second for text in entry}
    assert not first_ids & second_ids and not (first_ids | second_ids) & given
    for _, symbol, _ in first:
        assert symbol is not chr(ord(symbol))


@pytest.mark.parametrize("padding", [0, 400])
def test_available_symbols_follow_the_current_state(padding):
    """With padding: a hashed table with far fewer transitions than symbols."""
    symbols = ["b", "a", "B", "\xe9", "\ue000", "\uffff", "\U0001F600", "\U00010000", "\x00"]
    spare = {chr(0x3000 + i) for i in range(padding)} | {f"r{i}" for i in range(padding // 20)}
    m = Morvane({"p", "q"} | spare, set(symbols) | spare, "p", set())
    for symbol in symbols:
        m.add_transition("p", symbol, "q")
    m.add_transition("q", "a", "p")
    before = m.available_symbols()
    # By code point: characters above U+FFFF come after every BMP one.
    assert before == sorted(symbols) == ["\x00", "B", "a", "b", "\xe9", "\ue000", "\uffff", "\U00010000", "\U0001F600"]
    assert m.step("\U0001F600") and m.available_symbols() == ["a"]
    m.undo()
    assert m.available_symbols() == before
    m.force_state("q")
    assert m.available_symbols() == ["a"]
    m.remove_transition("q", "a")
    assert m.available_symbols() == []
    m.reset()
    assert m.available_symbols() == before
    before.clear()
    assert len(m.available_symbols()) == len(symbols)


@pytest.mark.parametrize("n_states", [40, 3000])
def test_table_agrees_with_a_dict_as_it_grows_and_shrinks(n_states):
    """A large automaton starts hashed, turns into an array as it fills up and
    back into a hash as it empties; a small one is an array throughout."""
    rng = random.Random(n_states)
    symbols = ["a", "\xff", "\u4e00", "\U0001F600"]
    states = [f"s{i}\xe9" if i % 2 else f"s{i}" for i in range(n_states)]
    m = Morvane(set(states), set(symbols) | {"ab"}, states[0], set())
    model = {}
    capacity = n_states * len(symbols)
    steps = [0.05, 0.5, 0.02, 0.002, 0.2] if not SANITIZED else [0.05, 0.2, 0.01, 0.001]
    for fraction in steps:
        target = max(1, int(capacity * fraction))
        while len(model) != target:
            key = (rng.choice(states), rng.choice(symbols))
            if len(model) < target and key not in model:
                model[key] = rng.choice(states)
                m.add_transition(*key, model[key])
            elif len(model) > target and key in model:
                del model[key]
                m.remove_transition(*key)
            assert m.has_transition(*key) == (key in model)
        assert sorted(m.get_transitions()) == sorted((q, s, t) for (q, s), t in model.items())
        for state in rng.sample(states, 25):
            m.force_state(state)
            assert m.available_symbols() == sorted(s for q, s in model if q == state)
            for symbol in symbols:
                expected = model.get((state, symbol))
                assert m.has_transition(state, symbol) == (expected is not None)
                if expected is not None:
                    assert m.simulate(symbol) == [state, expected]
                    assert message(m.add_transition, state, symbol, state) == duplicate_msg(state, symbol)
                else:
                    assert message(m.remove_transition, state, symbol) == missing_msg(state, symbol)


@pytest.mark.skipif(SANITIZED or not HAS_MALLINFO, reason="needs glibc's own allocator")
def test_hashed_cells_give_back_memory_as_transitions_go():
    """Few transitions over many states and symbols stay hashed; when most
    are removed, the cells shrink to what the rest need."""
    states = [f"s{i}" for i in range(2000)]
    symbols = [chr(0x100 + i) for i in range(600)]
    m = Morvane(set(states), set(symbols), states[0], set())
    keys = [(state, symbol) for state in states[:100] for symbol in symbols]
    kept = keys[:: len(keys) // 5][:5]
    before = allocated_bytes()
    for state, symbol in keys:
        m.add_transition(state, symbol, state)
    grown = allocated_bytes() - before
    assert grown > 1_000_000  # 60,000 hashed cells, 12 bytes a slot
    for key in keys:
        if key not in kept:
            m.remove_transition(*key)
    assert allocated_bytes() - before < grown // 8
    assert sorted(m.get_transitions()) == sorted((state, symbol, state) for state, symbol in kept)
    assert m.available_symbols() == sorted(symbol for state, symbol in kept if state == states[0])


def test_automata_over_equal_and_different_alphabets_keep_their_own_columns():
    """Automata made and dropped in random order over alphabets that repeat,
    overlap and differ (Latin-1, wider, 300 symbols): each maps every
    character to its own alphabet's symbols, whatever else lives or died."""
    rng = random.Random(11)
    pool = ["a", "b", "c", "\xe9", "\u0416", "\U0001F600", "ab"] + [chr(0x400 + i) for i in range(300)]
    alphabets = [frozenset(rng.sample(pool[:7], rng.randrange(0, 6)) + [rng.choice(pool[:6])]) for _ in range(12)] + [frozenset(pool)]
    live = []
    for _ in range(400):
        if live and rng.random() < 0.4:
            live.pop(rng.randrange(len(live)))
        alphabet = rng.choice(alphabets)
        m = Morvane({"p", "q"}, set(alphabet), "p", {"q"})
        symbols = sorted(s for s in alphabet if len(s) == 1)
        chosen = rng.sample(symbols, rng.randrange(1, len(symbols) + 1))
        for symbol in chosen:
            m.add_transition("p", symbol, "q")
        live.append((m, set(chosen)))
        probe, (other, leaving) = rng.choice(pool[:6] + pool[-3:]), rng.choice(live)
        assert other.has_transition("p", probe) == (probe in leaving)
        assert other.accept(probe) == (probe in leaving)
        assert other.available_symbols() == sorted(leaving)

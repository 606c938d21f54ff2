"""The toolkit's dense automaton form and its language operations, checked
against brute force over all short words and against automata-lib."""

import itertools
import random
from array import array

import pytest

from conftest import Morvane
from morvane_tools import _dfa

automata_dfa = pytest.importorskip("automata.fa.dfa")


def random_dfa(rng, n, symbols, density=0.8, final_share=0.3):
    targets = array("i", (rng.randrange(n) if rng.random() < density else -1 for _ in range(n * len(symbols))))
    finals = bytearray(rng.random() < final_share for _ in range(n))
    return _dfa.Dfa(symbols, targets, finals, rng.randrange(n))


def accepts(d, word):
    k, state = len(d.symbols), d.initial
    for c in word:
        j = d.symbols.find(c)
        state = d.targets[state * k + j] if j >= 0 else -1
        if state < 0:
            return False
    return bool(d.finals[state])


def all_words(symbols, up_to):
    for length in range(up_to + 1):
        yield from map("".join, itertools.product(symbols, repeat=length))


def to_automata_lib(d):
    k = len(d.symbols)
    transitions = {
        s: {c: d.targets[s * k + j] for j, c in enumerate(d.symbols) if d.targets[s * k + j] >= 0}
        for s in range(d.n_states)
    }
    return automata_dfa.DFA(
        states=set(range(d.n_states)),
        input_symbols=set(d.symbols),
        transitions=transitions,
        initial_state=d.initial,
        final_states={s for s in range(d.n_states) if d.finals[s]},
        allow_partial=True,
    )


def random_cases(count, seed):
    rng = random.Random(seed)
    for i in range(count):
        symbols = "ab" if i % 3 else "abc"
        yield random_dfa(rng, rng.randint(1, 12), symbols, density=rng.choice((0.6, 0.9, 1.0)))


def test_minimize_against_brute_force_and_automata_lib():
    for d in random_cases(300, seed=1):
        minimal = _dfa.minimize(d)
        minimal.check()
        for word in all_words(d.symbols, 5):
            assert accepts(minimal, word) == accepts(d, word), word
        assert minimal.n_states == len(to_automata_lib(d).minify().states)
        # Canonical numbering: minimising again gives the very same table.
        again = _dfa.minimize(minimal)
        assert (again.targets, again.finals, again.initial) == (minimal.targets, minimal.finals, 0)


def test_round_trip_through_morvane_keeps_everything():
    for d in random_cases(60, seed=2):
        m = _dfa.to_morvane(d)
        back = _dfa.from_morvane(m)
        assert _dfa.to_morvane(back).get_transitions().sort() == m.get_transitions().sort()
        for word in all_words(d.symbols, 4):
            assert m.accept(word) == accepts(d, word) == accepts(back, word)
    # What a Morvane allows beyond a plain automaton survives the round trip:
    # an initial state outside the states, finals outside the states,
    # alphabet members that are not one character.
    m = Morvane({"p", "q"}, {"a", "", "ab", "\U0001f600"}, "start", {"q", "ghost", "start"})
    m.add_transition("p", "\U0001f600", "q")
    d = _dfa.from_morvane(m)
    assert d.symbols == "a\U0001f600" and sorted(d.extra_alphabet) == ["", "ab"]
    again = _dfa.to_morvane(d)
    for query in ("get_states", "get_alphabet", "get_finals", "get_transitions"):
        assert getattr(again, query)() == getattr(m, query)()
    assert again.initial_state == "start" and again.accept("") and not again.accept("\U0001f600")


def test_reading_leaves_the_instance_untouched(abc):
    abc.step("a")
    abc.set_data([1])
    before = (abc.current_state, abc.data, abc.get_history(), abc.get_transitions())
    _dfa.from_morvane(abc)
    assert (abc.current_state, abc.data, abc.get_history(), abc.get_transitions()) == before

"""The toolkit's dense automaton form and its language operations, checked
against brute force over all short words and against automata-lib."""

import itertools
import random
import re
from array import array

import pytest

from conftest import SANITIZED, Morvane
from morvane_tools import _dfa, _native

try:
    from automata.fa.dfa import DFA
except ImportError:  # the brute-force oracles still run
    DFA = None
needs_automata_lib = pytest.mark.skipif(DFA is None, reason="automata-lib is not installed")


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
    return DFA(
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
        if DFA is not None:
            assert minimal.n_states == len(to_automata_lib(d).minify().states)
        # Canonical numbering: minimising again gives the very same table.
        again = _dfa.minimize(minimal)
        assert (again.targets, again.finals, again.initial) == (minimal.targets, minimal.finals, 0)


def test_round_trip_through_morvane_keeps_everything():
    for d in random_cases(60, seed=2):
        m = _dfa.to_morvane(d)
        back = _dfa.from_morvane(m)
        assert sorted(_dfa.to_morvane(back).get_transitions()) == sorted(m.get_transitions())
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


class Lookalike:
    """Answers the queries the reader uses with a Morvane's answers, its
    transitions given as a list of the test's own making."""

    def __init__(self, m, transitions, fresh=False):
        self.m, self.transitions, self.initial_state, self.fresh = m, transitions, m.initial_state, fresh

    def get_states(self):
        return self.m.get_states()

    def get_alphabet(self):
        return self.m.get_alphabet()

    def get_finals(self):
        return self.m.get_finals()

    def get_transitions(self):
        # A fresh list of fresh entries is the reader's alone, as the class's is.
        return [(o, s, t) for o, s, t in self.transitions] if self.fresh else self.transitions


class Name(str):
    """A name of a str subclass, as a query of a lookalike may give."""


def test_reading_shared_and_distinct_name_objects():
    # The reader knows a name object met before by its address; whether the
    # entries share their str objects, repeat none of them, or mix both (more
    # objects than states part of the way through), it reads the same table.
    rng = random.Random(5)
    for d in random_cases(40, seed=9):
        d.names = [f"state {i}" for i in range(d.n_states)]
        m = _dfa.to_morvane(d)
        expected = _native.read_morvane(m)
        entries = m.get_transitions()
        rng.shuffle(entries)
        one_object = {}
        shared = [tuple(one_object.setdefault(part, part) for part in entry) for entry in entries]
        copies = [tuple("".join(list(part)) for part in entry) for entry in entries]
        mixed = [rng.choice((a, b)) for a, b in zip(shared, copies)]
        subclassed = [(Name(o), s, Name(t)) for o, s, t in shared]
        for transitions in (shared, copies, mixed, sorted(shared), subclassed):
            assert _native.read_morvane(Lookalike(m, transitions)) == expected
            assert _native.read_morvane(Lookalike(m, transitions, fresh=True)) == expected
        # An unknown name is refused however it arrives.
        if entries:
            origin, symbol, _ = shared[0]
            for target in ("nowhere", shared[-1][0] + "x"):
                with pytest.raises(ValueError, match="unknown state"):
                    _native.read_morvane(Lookalike(m, shared + [(origin, symbol, target)]))


def test_reading_refuses_malformed_entries(abc):
    # Symbols are known by address once read; a bad one is refused wherever
    # it comes, after good entries with the same symbol or not.
    entries = abc.get_transitions()
    origin, symbol, target = entries[0]
    for bad, error, message in [
        ((origin, "z", target), ValueError, "outside the alphabet"),
        ((origin, symbol + symbol, target), ValueError, "outside the alphabet"),
        ((origin, 7, target), TypeError, "where text was expected"),
        ([origin, symbol, target], TypeError, "not a 3-tuple"),
        ((origin, symbol), TypeError, "not a 3-tuple"),
    ]:
        for transitions in ([bad] + entries, entries + [bad]):
            with pytest.raises(error, match=message):
                _native.read_morvane(Lookalike(abc, transitions))


def test_native_walks_refuse_a_table_naming_no_state():
    # The native functions take tables from Python: one naming a state out of
    # range is refused before any walk, whichever side holds it.
    good = array("i", [0, 1, 1, -1])  # two states over "ab"
    columns = array("i", [0, 1])
    assert _native.same_language(2, good, bytearray(2), 0, columns, 2, good, bytearray(2), 0, columns)
    for bad in (2, -2, 2**31 - 1, -(2**31)):
        table = array("i", [0, 1, bad, -1])
        for first, second in ((table, good), (good, table)):
            with pytest.raises(ValueError, match="not a state"):
                _native.same_language(2, first, bytearray(2), 0, columns, 2, second, bytearray(2), 0, columns)


PAIR_READ = """
import random, resource, sys
from array import array
from morvane_tools import _dfa

rng = random.Random(3)
n, symbols = 8000, "abcdefghijklmnopqrst"
d = _dfa.Dfa(symbols, array("i", (rng.randrange(n) for _ in range(n * len(symbols)))), bytearray(n), 0)
first, second = _dfa.to_morvane(d), _dfa.to_morvane(d)

def fresh_pages(keep):
    _dfa.from_morvane(first, keep)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    _dfa.from_morvane(second)
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before

print(min(fresh_pages(None) for _ in range(3)), min(fresh_pages([]) for _ in range(3)))
"""


@pytest.mark.skipif(SANITIZED, reason="the interpreter's own allocator is replaced")
def test_a_pair_is_read_in_the_memory_of_its_first_read(tmp_path):
    # Fresh pages cost more than reading the transitions does. The first
    # read's few kept entries keep its memory mapped for the second. In a
    # process of its own: a long-lived one has memory to spare.
    import subprocess
    import sys

    run = subprocess.run([sys.executable, "-c", PAIR_READ], capture_output=True, text=True, check=True, cwd=tmp_path)
    alone, kept = map(int, run.stdout.split())
    assert alone > 1000 and kept < alone / 4, (alone, kept)


def test_reading_leaves_the_instance_untouched(abc):
    abc.step("a")
    abc.set_data([1])
    before = (abc.current_state, abc.data, abc.get_history(), abc.get_transitions())
    _dfa.from_morvane(abc)
    assert (abc.current_state, abc.data, abc.get_history(), abc.get_transitions()) == before


# ---- language operations ------------------------------------------------------

import morvane_tools as tools  # noqa: E402

BINARY = {
    tools.union: lambda x, y: x or y,
    tools.intersection: lambda x, y: x and y,
    tools.difference: lambda x, y: x and not y,
    tools.symmetric_difference: lambda x, y: x != y,
}


def random_morvane(rng, symbols, most_states=8):
    d = random_dfa(rng, rng.randint(1, most_states), symbols, density=rng.choice((0.5, 0.8, 1.0)))
    d.names = [f"s{i}" for i in range(d.n_states)]
    return d, _dfa.to_morvane(d)


def snapshot(m):
    return m.current_state, m.data, m.get_history(), sorted(m.get_transitions()), m.get_finals(), m.get_alphabet()


def random_pairs(count, seed):
    """Pairs over one alphabet, and pairs over overlapping alphabets."""
    rng = random.Random(seed)
    for i in range(count):
        first, second = ("ab", "ab") if i % 2 else ("ab", "bc")
        yield random_morvane(rng, first), random_morvane(rng, second)


def test_binary_operations_against_brute_force():
    # Under the sanitizers and valgrind fewer cases: every path is still met.
    for (da, a), (db, b) in random_pairs(200 if not SANITIZED else 40, seed=3):
        a.step(a.get_alphabet()[0])  # current state, data and history must survive
        a.set_data({"x": 1})
        before = snapshot(a), snapshot(b)
        symbols = "".join(sorted(set(da.symbols) | set(db.symbols)))
        words_ = list(all_words(symbols, 5))
        results = {op: op(a, b) for op in BINARY}
        results.update({(op, "min"): op(a, b, minimize=True) for op in BINARY})
        for word in words_:
            x, y = accepts(da, word), accepts(db, word)
            for key, result in results.items():
                op = key[0] if isinstance(key, tuple) else key
                assert result.accept(word) == BINARY[op](x, y), (op.__name__, word)
        for key, result in results.items():
            assert set(result.get_alphabet()) == set(symbols)
            assert result.get_states()[0] == "q0" == result.initial_state
        # The shortest distinguishing word is the first one brute force meets.
        first_difference = next((w for w in words_ if accepts(da, w) != accepts(db, w)), None)
        found = tools.counterexample(a, b)
        if first_difference is not None:
            assert found == first_difference
        else:
            assert found is None or len(found) > 5
        assert tools.equivalent(a, b) == (found is None)
        assert tools.is_subset(a, b) == tools.is_empty(tools.difference(a, b))
        if tools.is_subset(a, b):
            assert not any(accepts(da, w) and not accepts(db, w) for w in words_)
        assert (snapshot(a), snapshot(b)) == before


@needs_automata_lib
def test_operations_against_automata_lib():
    for (da, a), (db, b) in random_pairs(300, seed=4):
        if da.symbols != db.symbols:
            continue
        la, lb = to_automata_lib(da), to_automata_lib(db)
        assert tools.equivalent(a, b) == (la == lb)
        assert tools.is_subset(a, b) == la.issubset(lb)
        assert tools.is_empty(a) == la.isempty()
        assert tools.is_finite(a) == la.isfinite()
        assert len(tools.minimize(a).get_states()) == len(la.minify().states)
        for op, reference in (
            (tools.union, la.union(lb)),
            (tools.intersection, la.intersection(lb)),
            (tools.difference, la.difference(lb)),
            (tools.symmetric_difference, la.symmetric_difference(lb)),
        ):
            ours = _dfa.from_morvane(op(a, b, minimize=True))
            assert to_automata_lib(ours) == reference, op.__name__
            assert ours.n_states == len(reference.to_partial().minify().states)
        for length in (0, 3, 9, 40):
            assert tools.count_words(a, length) == la.count_words_of_length(length)


def test_single_automaton_queries_against_brute_force():
    rng = random.Random(5)
    for _ in range(150 if not SANITIZED else 30):
        d, m = random_morvane(rng, "abc", most_states=6)
        accepted = [w for w in all_words("abc", 5) if accepts(d, w)]
        shortest = tools.shortest_word(m)
        if accepted:
            assert shortest == accepted[0]
        else:
            assert shortest is None or len(shortest) > 5
        assert tools.is_empty(m) == (shortest is None)
        for length in range(6):
            listed = list(tools.words(m, length))
            assert listed == [w for w in accepted if len(w) == length]
            assert tools.count_words(m, length) == len(listed)
            drawn = tools.random_word(m, length, rng=rng)
            assert drawn in listed if listed else drawn is None
        complement = tools.complement(m)
        assert all(complement.accept(w) != m.accept(w) for w in all_words("abc", 4))
        assert tools.equivalent(tools.complement(complement, minimize=True), m)
        assert tools.equivalent(tools.minimize(m), m)
        # A long word accepted means the language is infinite.
        if tools.is_finite(m):
            assert tools.count_words(m, 12) == 0


def test_minimal_form_is_canonical():
    """Renumbered copies with unreachable junk minimise to the same table."""
    rng = random.Random(6)
    for d in random_cases(100, seed=7):
        n, k = d.n_states, len(d.symbols)
        shuffle = list(range(n + 3))
        rng.shuffle(shuffle)
        targets = array("i", [-1]) * ((n + 3) * k)
        finals = bytearray(n + 3)
        for s in range(n):
            finals[shuffle[s]] = d.finals[s]
            for j in range(k):
                t = d.targets[s * k + j]
                targets[shuffle[s] * k + j] = shuffle[t] if t >= 0 else -1
        for junk in range(n, n + 3):  # unreachable states pointing anywhere
            finals[shuffle[junk]] = 1
            targets[shuffle[junk] * k] = shuffle[rng.randrange(n)]
        copy = _dfa.Dfa(d.symbols, targets, finals, shuffle[d.initial])
        a, b = _dfa.minimize(d), _dfa.minimize(copy)
        assert (a.targets, a.finals) == (b.targets, b.finals)
        ma, mb = _dfa.to_morvane(a), _dfa.to_morvane(b)
        assert sorted(ma.get_transitions()) == sorted(mb.get_transitions())


def test_chains_need_many_refinement_steps():
    """Long paths where each step splits off one state (the slow case of
    round-based refinement), with random shortcuts."""
    rng = random.Random(8)
    for n in (2, 30, 200):
        for _ in range(5):
            targets = array("i", [-1]) * (n * 2)
            for s in range(n - 1):
                targets[s * 2] = s + 1
                if rng.random() < 0.2:
                    targets[s * 2 + 1] = rng.randrange(s + 1)  # backwards: a cycle
            finals = bytearray(n)
            finals[n - 1] = 1
            d = _dfa.Dfa("ab", targets, finals, 0)
            minimal = _dfa.minimize(d)
            if DFA is not None:
                assert minimal.n_states == len(to_automata_lib(d).minify().states)
            m = _dfa.to_morvane(d)
            assert tools.equivalent(_dfa.to_morvane(minimal), m)
            assert tools.shortest_word(m) == "a" * (n - 1)
            assert tools.is_finite(m) == all(targets[s * 2 + 1] < 0 for s in range(n))


def test_random_word_is_uniform():
    # Words of length 6 over {a, b} with an even number of a: 32 of them.
    m = Morvane({"even", "odd"}, {"a", "b"}, "even", {"even"})
    for origin, target in (("even", "odd"), ("odd", "even")):
        m.add_transition(origin, "a", target)
        m.add_transition(origin, "b", origin)
    rng = random.Random(9)
    counts = {}
    for _ in range(6400):
        word = tools.random_word(m, 6, rng=rng)
        counts[word] = counts.get(word, 0) + 1
    assert sorted(counts) == list(tools.words(m, 6)) and len(counts) == 32
    assert all(130 < c < 280 for c in counts.values())  # 200 expected, about 14 per standard deviation
    assert tools.count_words(m, 200) == 2**199


def reference_counts(d, length):
    """counts[r][s]: accepted words of length r from s, in Python integers."""
    k = len(d.symbols)
    rows = [[t for j in range(k) if (t := d.targets[s * k + j]) >= 0] for s in range(d.n_states)]
    counts = [[int(f) for f in d.finals]]
    for _ in range(length):
        counts.append([sum(counts[-1][t] for t in row) for row in rows])
    return counts, rows


def reference_draw(d, length, rng):
    counts, rows = reference_counts(d, length)
    state, word = d.initial, []
    if counts[length][state] == 0:
        return None
    for remaining in range(length, 0, -1):
        pick = rng.randrange(counts[remaining][state])
        for j, target in ((j, t) for j in range(len(d.symbols)) if (t := d.targets[state * len(d.symbols) + j]) >= 0):
            if pick < counts[remaining - 1][target]:
                word.append(d.symbols[j])
                state = target
                break
            pick -= counts[remaining - 1][target]
    return "".join(word)


def test_word_counts_and_draws_match_big_integer_reference():
    """Counts far past 64 bits, and draws that follow the same random
    numbers to the same word as a plain big-integer walk."""
    rng = random.Random(10)
    for i in range(40 if not SANITIZED else 10):
        d, m = random_morvane(rng, "abcdefgh"[: rng.randint(1, 8)], most_states=10)
        minimal = _dfa.minimize(d)
        for length in (0, 1, 7, 64, rng.randint(100, 260)):
            counts, _ = reference_counts(minimal, length)
            assert tools.count_words(m, length) == counts[length][minimal.initial]
            seed = rng.random()
            assert tools.random_word(m, length, rng=random.Random(seed)) == reference_draw(
                minimal, length, random.Random(seed)
            )

    # Sums that carry through whole limbs of ones ((2**128 - 1) + 1), and
    # draws whose remainder borrows through whole limbs of zeros.
    class Half(random.Random):
        def randrange(self, *bounds):
            return bounds[0] // 2

    def build(symbols, rows, finals):
        m = Morvane(set(rows), set(symbols), "x", finals)
        for origin, row in rows.items():
            for symbol, target in zip(symbols, row):
                if target:
                    m.add_transition(origin, symbol, target)
        return m

    both, only_a = ("p", "p", None), ("f", None, None)
    carrying = build("ab", {"x": ("i", "f"), "i": ("p", "i"), "p": both[:2], "f": only_a[:2]}, {"p", "f"})
    borrowing = build("abc", {"x": ("f", "p", "p"), "p": both, "f": only_a}, {"p", "f"})
    for length in (65, 129, 200):
        assert tools.count_words(carrying, length) == 2 ** (length - 1)
        d = _dfa.minimize(_dfa.from_morvane(borrowing))
        assert tools.random_word(borrowing, length, rng=Half()) == reference_draw(d, length, Half())

    class Wrong(random.Random):
        def randrange(self, *bounds):
            return bounds[0] if self.random() < 2 else 0

    m = Morvane({"q"}, {"a", "b"}, "q", {"q"})
    m.add_transition("q", "a", "q")
    m.add_transition("q", "b", "q")
    with pytest.raises(ValueError, match=r"randrange\(8\) returned 8, outside"):
        tools.random_word(m, 3, rng=Wrong())


def test_arguments_are_checked():
    m = Morvane({"q"}, {"a"}, "q", {"q"})
    with pytest.raises(TypeError, match="union\\(\\) argument 'b' must be a Morvane, not 'str'"):
        tools.union(m, "q")
    with pytest.raises(ValueError, match="must not be negative"):
        tools.count_words(m, -1)
    with pytest.raises(TypeError, match="length must be an int"):
        list(tools.words(m, 1.5))
    # The dense form reaches native code: a table that does not describe an
    # automaton is refused before any index is followed.
    for symbols, targets, finals, initial in (
        ("a", array("i", [5]), bytearray(1), 0),  # target beyond the states
        ("a", array("i", [-2]), bytearray(1), 0),
        ("ab", array("i", [0]), bytearray(1), 0),  # a short row
        ("a", array("i", [0]), bytearray(1), 3),  # initial beyond the states
        ("a", array("i"), bytearray(), 0),  # no state at all
        ("a", array("d", [0.0]), bytearray(1), 0),  # not a table of int
    ):
        d = _dfa.Dfa(symbols, targets, finals, initial)
        for call in (_dfa.minimize, _dfa.to_morvane):
            with pytest.raises(ValueError):
                call(d)
    with pytest.raises(ValueError, match="not distinct"):
        _dfa.to_morvane(_dfa.Dfa("a", array("i", [1, 0]), bytearray(2), 0, ["x", "x"]))
    # Automata whose alphabets hold members that are not one character.
    odd = Morvane({"p"}, {"", "ab", "b"}, "p", set())
    assert set(tools.union(m, odd).get_alphabet()) == {"", "a", "ab", "b"}
    assert tools.counterexample(m, odd) == "" and tools.is_empty(odd)


def test_regular_expressions_through_from_regex():
    from_regex = getattr(tools, "from_regex", None)
    if from_regex is None:
        pytest.skip("from_regex is not part of this build yet")
    assert tools.is_subset(from_regex("[0-9]+"), from_regex("[0-9a-f]+"))
    assert not tools.is_subset(from_regex("[0-9a-f]+"), from_regex("[0-9]+"))
    assert tools.counterexample(from_regex("[0-9a-f]+"), from_regex("[0-9]+")) == "a"
    assert tools.equivalent(from_regex("(a|b)*abb"), from_regex("[ab]*abb"))
    both = tools.intersection(from_regex("[a-c]*a[a-c]"), from_regex("[a-c]*b[a-c]*"), minimize=True)
    for word in all_words("abc", 5):
        expected = re.fullmatch("[a-c]*a[a-c]", word) and re.fullmatch("[a-c]*b[a-c]*", word)
        assert both.accept(word) == bool(expected)
    assert tools.count_words(from_regex("[0-9]{3}-[0-9]{4}"), 8) == 10**7

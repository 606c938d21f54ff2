"""morvane_tools' tables, checks, drawings and storage: errors with their
places, complete() against brute force, drawings that Graphviz reads, and
documents that loads() must refuse. Round trips of whole instances run in the
stateful model test (test_model.py)."""

import itertools
import json
import random
import shutil
import subprocess
import sys
import types
from array import array

import pytest

import morvane_tools as mt
from morvane_tools import _dfa, _packed
from morvane import Morvane

from conftest import SANITIZED

DECIMAL = {
    "start": {"+": "sign", "-": "sign", **dict.fromkeys("0123456789", "int")},
    "sign": dict.fromkeys("0123456789", "int"),
    "int": {**dict.fromkeys("0123456789", "int"), ".": "frac"},
    "frac": dict.fromkeys("0123456789", "frac"),
}


def decimal():
    return mt.from_table(DECIMAL, "start", {"int", "frac"})


@pytest.mark.parametrize("arguments, keywords, error, words", [
    (([], "a", set()), {}, TypeError, "table must be a mapping"),
    (({"a": ["x"]}, "a", set()), {}, TypeError, "table['a'] must be a mapping"),
    (({"a": {"xy": "b"}}, "a", set()), {}, ValueError, "table['a']: symbol 'xy' must be exactly one character"),
    (({"a": {1: "b"}}, "a", set()), {}, TypeError, "table['a']: symbol 1"),
    (({"a": {"\ud800": "b"}}, "a", set()), {}, ValueError, "lone surrogate"),
    (({"a": {"x": 3}}, "a", set()), {}, TypeError, "table['a']['x'] must be a str, not int"),
    (({"a": {"x": "b"}}, 5, set()), {}, TypeError, "initial must be a str"),
    (({"a": {"x": "b"}}, "a", "b"), {}, TypeError, "finals must be an iterable of str"),
    (({"a": {"x": "b"}}, "a", set()), {"states": {"a"}}, ValueError, "a target of the table, 'b', is not among"),
    (({"a": {"x": "a"}, "c": {}}, "a", set()), {"states": ["a"]}, ValueError, "a row of the table, 'c'"),
    (({"a": {"x": "b"}}, "a", set()), {"alphabet": "y"}, ValueError, "table['a']: symbol 'x' is not in the alphabet"),
])
def test_from_table_refuses_with_the_place(arguments, keywords, error, words):
    with pytest.raises(error) as caught:
        mt.from_table(*arguments, **keywords)
    assert words in str(caught.value)


def test_from_table_defaults_and_explicit_sets():
    m = mt.from_table({"a": {"x": "b"}}, "i", ["f"])
    assert m.get_states() == ["a", "b", "f", "i"] and m.get_alphabet() == ["x"] and m.get_finals() == ["f"]
    # Names outside the states are what the class allows; validate() reports them.
    m = mt.from_table({"a": {"x": "a"}}, "i", {"f"}, states={"a"}, alphabet={"x", "y", "", "long"})
    assert m.get_states() == ["a"] and m.get_alphabet() == ["", "long", "x", "y"]
    report = mt.validate(m)
    assert (report.initial_outside, report.finals_outside) == ("i", ("f",))
    assert mt.to_table(m) == {"a": {"x": "a"}}


class Name(str):
    """A str subclass: from_table takes its checking path for any table holding one."""


def outcome(build):
    try:
        m = build()
    except (TypeError, ValueError) as error:
        return type(error), str(error)
    return (m.get_states(), m.get_alphabet(), m.initial_state, m.get_finals(), sorted(m.get_transitions()),
            m.current_state, m.history_len())


def fresh(text):
    """An equal str that is another object (when it has characters)."""
    return "".join(list(text))


@pytest.mark.parametrize("seed", range(12))
def test_from_table_of_plain_dicts_agrees_with_the_checking_path(seed):
    # A table behind a read-only proxy is not a dict, so from_table checks it
    # in Python; a plain dict goes the fast way. Both must build the same
    # automaton or raise the same error, faults included.
    rng = random.Random(seed)
    names = ["s", "t", "é", "😀", "", "u1", "w" * 20]
    bad_values = [7, "\ud800x", "\udc00", Name("s"), "ab", ("s",)]
    faults = [None] * 4 + ["origin", "symbol", "target", "row", "states", "alphabet", "finals", "initial"]
    for _ in range(60):
        used = rng.sample(names, rng.randint(1, len(names)))
        share = rng.random() < 0.5
        table = {}
        for origin in used:
            row = {}
            for symbol in rng.sample("abcé😀", rng.randint(0, 5)):
                target = rng.choice(used)
                row[symbol if share else fresh(symbol)] = target if share else fresh(target)
            table[origin if share else fresh(origin)] = row
        initial, finals = rng.choice(used + ["outside"]), rng.sample(used, rng.randint(0, len(used)))
        finals = rng.choice([set, list, tuple, frozenset])(finals)
        keywords = {}
        if rng.random() < 0.4:
            keywords["states"] = rng.choice([set, list, tuple])(used + ["extra"])
        if rng.random() < 0.4:
            keywords["alphabet"] = rng.choice(["abcé😀xy", {"a", "b", "c", "é", "😀", "long"}])
        fault, bad = rng.choice(faults), rng.choice(bad_values)
        origin = rng.choice(used)
        if fault == "origin" and isinstance(bad, (str, int, tuple)):
            table[bad] = {"a": origin}
        elif fault == "symbol":
            table[origin][bad] = origin
        elif fault == "target":
            table[origin]["b"] = bad
        elif fault == "row":
            table[origin] = rng.choice([["a"], None, Name("a")])
        elif fault == "states":  # one name fewer: a row, a target or only the initial state
            keywords["states"] = rng.choice([set, list])(set(used) - {origin})
        elif fault == "alphabet":
            keywords["alphabet"] = rng.choice(["ab", {"a", bad} if isinstance(bad, str) else ["a", bad]])
        elif fault == "finals":
            finals = rng.choice(["st", [bad], {origin: 1}])
        elif fault == "initial":
            initial = bad
        checked = types.MappingProxyType(table)
        expected = outcome(lambda: mt.from_table(checked, initial, finals, **keywords))
        assert outcome(lambda: mt.from_table(table, initial, finals, **keywords)) == expected, (fault, table)


def test_empty_cells_are_counted_from_the_bytes():
    # Indexes whose low bytes are 0xff sit beside -1 cells on either side.
    rng = random.Random(3)
    values = [-1, 0, 0xFF, 0xFFFF, 0xFFFFFF, 0x7FFFFFFF, 0x7FFFFF00, 0xFFFFFF00 >> 1]
    for _ in range(300):
        targets = array("i", (rng.choice(values) for _ in range(rng.randint(0, 12))))
        assert _packed.empty_cells(_packed._little_endian(targets)) == targets.count(-1)


def test_validate_finds_each_kind_of_mistake():
    m = mt.from_table({"s": {"a": "t"}, "t": {"a": "t", "b": "u"}, "u": {}, "lost": {"a": "s"}}, "s", {"t"},
                      alphabet={"a", "b", "c", "cc"})
    report = mt.validate(m)
    assert report == mt.Report(
        initial_outside=None, finals_outside=(), unreachable=("lost",), dead=("u",),
        unused_symbols=("c", "cc"),
        incomplete=(("lost", ("b", "c")), ("s", ("b", "c")), ("t", ("c",)), ("u", ("a", "b", "c"))))
    assert not report.ok and "unreachable states: 'lost'" in str(report)
    assert mt.validate(mt.complete(mt.from_table({"s": {"a": "s"}}, "s", {"s"}))).ok


def reference_report(m):
    """validate's findings by plain searches over get_transitions."""
    states, alphabet, finals = m.get_states(), m.get_alphabet(), m.get_finals()
    forward, backward, rows = {}, {}, {state: {} for state in states}
    for origin, symbol, target in m.get_transitions():
        forward.setdefault(origin, set()).add(target)
        backward.setdefault(target, set()).add(origin)
        rows[origin][symbol] = target

    def reached(start, edges):
        seen, todo = set(start), list(start)
        while todo:
            for following in edges.get(todo.pop(), ()):
                if following not in seen:
                    seen.add(following)
                    todo.append(following)
        return seen

    reachable = reached({m.initial_state}, forward)
    alive = reached(set(finals) & set(states), backward)
    used = {symbol for row in rows.values() for symbol in row}
    symbols = [member for member in alphabet if len(member) == 1]
    return mt.Report(
        initial_outside=None if m.initial_state in states else m.initial_state,
        finals_outside=tuple(final for final in finals if final not in states),
        unreachable=tuple(state for state in states if state not in reachable),
        dead=tuple(state for state in states if state not in alive),
        unused_symbols=tuple(member for member in alphabet if member not in used),
        incomplete=tuple((state, tuple(c for c in symbols if c not in rows[state]))
                         for state in states if len(rows[state]) < len(symbols)),
    )


def test_validate_agrees_with_plain_searches():
    rng = random.Random(11)
    for _ in range(200 if not SANITIZED else 40):
        states = [f"s{i}" for i in range(rng.randint(1, 12))]
        alphabet = set(rng.sample("abcdef", rng.randint(1, 6))) | ({"xy"} if rng.random() < 0.2 else set())
        symbols = sorted(c for c in alphabet if len(c) == 1)
        share = rng.random()
        table = {s: {c: rng.choice(states) for c in symbols if rng.random() < share} for s in states}
        initial = rng.choice(states + ["outside"])
        finals = set(rng.sample(states, rng.randint(0, len(states)))) | ({"elsewhere"} if rng.random() < 0.2 else set())
        m = Morvane(set(states), alphabet, initial, finals)
        for origin, row in table.items():
            for symbol, target in row.items():
                m.add_transition(origin, symbol, target)
        assert mt.validate(m) == reference_report(m)


@pytest.mark.parametrize("seed", range(6))
def test_from_table_adds_every_row_however_the_rows_run(seed):
    """Rows empty, full or partial, the first and the last among them: each
    transition arrives exactly once, as to_table reads it back."""
    rng = random.Random(seed)
    states = [f"r{i}" for i in range(rng.choice([1, 2, 40, 700]))]
    share = rng.choice([0.0, 0.3, 1.0])
    table = {state: {symbol: rng.choice(states) for symbol in "abcdef" if rng.random() < share} for state in states}
    assert mt.to_table(mt.from_table(table, states[0], {states[-1]})) == table


def test_large_tables_arrive_whole_when_added_in_passes():
    """Past some 20,000 states the transitions are added a share of the
    targets at a time; each still arrives exactly once, from a dict (targets
    shared out by address, names made at different times) and from the
    dense form."""
    rng = random.Random(7)
    early = [f"e{i}" for i in range(12_000)]
    padding = [object() for _ in range(50_000)]  # the later names lie elsewhere
    states = early + [f"l{i}" for i in range(12_000)]
    table = {s: {c: rng.choice(states) for c in "abcdefghijkl" if rng.random() < 0.9} for s in states}
    del padding
    assert mt.to_table(mt.from_table(table, states[0], {states[-1]})) == table
    targets = array("i", (rng.randrange(-1, 24_000) for _ in range(24_000 * 12)))
    m = _dfa.to_morvane(_dfa.Dfa("abcdefghijkl", targets, bytearray(24_000), 0, states))
    expected = [(states[i // 12], "abcdefghijkl"[i % 12], states[t]) for i, t in enumerate(targets) if t >= 0]
    assert sorted(m.get_transitions()) == sorted(expected)


def words_upto(alphabet, length):
    for size in range(length + 1):
        yield from map("".join, itertools.product(alphabet, repeat=size))


@pytest.mark.parametrize("seed", range(30))
def test_complete_accepts_the_same_words_with_total_rows(seed):
    rng = random.Random(seed)
    states = [f"q{i}" for i in range(rng.randint(1, 5))]
    table = {state: {symbol: rng.choice(states) for symbol in "abc" if rng.random() < 0.5} for state in states}
    initial = rng.choice(states + ["outside"])
    m = mt.from_table(table, initial, set(rng.sample(states + ["outside"], 2)), states=states, alphabet="abc")
    m.step("a")  # the result starts afresh whatever m's state
    total = mt.complete(m, sink="trap")
    assert all(total.accept(word) == m.accept(word) for word in words_upto("abcd", 4))
    assert total.current_state == initial and total.history_len() == 0
    assert not mt.validate(total).incomplete
    with pytest.raises(ValueError, match="already a name"):
        mt.complete(m, sink=rng.choice([*states, initial]))


NASTY = ['"quoted"', "back\\slash", "line\nbreak", "é😀", "", "#;<b>|x|"]


def nasty():
    m = Morvane(set(NASTY), {'"', "\\", "\n", " ", "a", "b", "c", "d", "\x01", "é"}, NASTY[0], {NASTY[1], NASTY[3]})
    for index, (origin, target) in enumerate(zip(NASTY, NASTY[1:] + NASTY[:1])):
        for symbol in ['"', "\\", "\n", " ", "\x01", "é"][index:] + ["a", "b", "c", "d"] * (index == 0):
            m.add_transition(origin, symbol, target)
    m.force_state(NASTY[2])
    return m


def test_drawings_group_symbols_and_mark_the_states():
    m = decimal()
    m.step("-")
    dot = mt.to_dot(m, title="decimal")
    lines = dot.splitlines()
    ids = {line.split('"')[1]: line.split()[0] for line in lines if "label=" in line and "->" not in line[:12]
           and line.strip().startswith("s")}
    assert f'  {ids["frac"]} [label="frac", shape=doublecircle];' in lines
    assert f'  {ids["sign"]} [label="sign", shape=circle, style=filled, fillcolor="#ffd866", penwidth=2];' in lines
    assert f"  __initial -> {ids['start']};" in lines
    assert f'  {ids["start"]} -> {ids["sign"]} [label="\'+\' \'-\'"];' in lines
    assert f'  {ids["int"]} -> {ids["frac"]} [label="\'.\'"];' in lines
    assert sum("->" in line for line in lines) == 7  # one edge per (origin, target) pair, the arrow in
    mermaid = mt.to_mermaid(m).splitlines()
    assert f'  {ids["frac"]}((("frac")))' in mermaid and f'  {ids["start"]}(("start"))' in mermaid
    assert f'  {ids["int"]} -->|"0–9"| {ids["int"]}' in mermaid and f"  class {ids['sign']} current" in mermaid
    nasty_mermaid = mt.to_mermaid(nasty())
    assert "#34;quoted#34;" in nasty_mermaid and "\n" not in nasty_mermaid.replace("\n  ", "").rstrip("\n")
    labels = mt.to_dot(nasty())
    assert "a–d" in labels and "U+0001" in labels and "'␣'" in labels and "'\\\\n'" in labels


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz's dot is not installed")
def test_graphviz_reads_every_drawing():
    for m in (decimal(), nasty()):
        run = subprocess.run(["dot", "-Tsvg"], input=mt.to_dot(m, title='a "title"'), capture_output=True, text=True)
        assert run.returncode == 0 and "<svg" in run.stdout, run.stderr


def document(layout="rows", **changes):
    m = mt.from_table({"a": {"x": "b"}, "b": {}}, "a", {"b"})
    m.set_data([1]), m.step("x"), m.set_data({"k": "v"})
    text = json.loads(mt.dumps(m, layout=layout))
    text.update(changes)
    return json.dumps(text)


def packed(targets, symbols="x"):
    return document("packed", packed_transitions={"symbols": symbols, "targets": targets})


@pytest.mark.parametrize("text, words", [
    ("", "not a JSON document"),
    ("[" * 100_000 + "]" * 100_000, "nested too deeply"),
    ("[]", "must be a JSON object, not an array"),
    (document(format="other"), "format must be 'morvane'"),
    (document(version=2), "version 2 cannot be read"),
    (document(version=True), "version must be an integer"),
    (document(extra=1), "unknown key 'extra'"),
    (json.dumps({"format": "morvane", "version": 1}), "lacks the key"),
    (document(states=["a", "b", "a"]), "states names 'a' twice"),
    (document(states=["a", 3]), "states[1] must be a string"),
    (document(alphabet=["y"]), "transitions: table['a']: symbol 'x' is not in the alphabet of the document"),
    (document(transitions={"a": {"x": "zz"}}), "a target of the table, 'zz', is not among the states of the document"),
    (document(transitions={"a": {"x": ["b"]}}), "transitions: table['a']['x'] must be a str, not list"),
    (document(transitions={"a": {"xy": "b"}}), "symbol 'xy' must be exactly one character"),
    (document(transitions={"a": ["b"]}), "must be a mapping"),
    (document(transitions={"a": {"\ud800": "b"}}), "lone surrogate"),
    (document(initial=["a"]), "initial must be a string"),
    (document(current="\udc00"), "lone surrogate"),
    (document(current="nowhere"), "current: 'nowhere' is neither a state nor the initial state"),
    (document(states=["b"], finals=[], transitions={}, history=[["b", 0], ["a", 0]]),
     "history[1]: the initial state 'a' is not a state"),
    (document(data=7), "data must be an index into values (0 to 1), not 7"),
    (document(history=[["a", -1]]), "history[0][1] must be an index"),
    (document(history=[["a", True]]), "history[0][1] must be an index"),
    (document(history=[["a"]]), "history[0] must be an array [state, index into values]"),
    (document(omitted=[5]), "omitted[0] must be an index"),
    ('{"format": "morvane", "version": 1, "x": NaN}', "NaN is not a JSON value"),
    (document(values=[1e999]).replace("Infinity", "1e999"), "the number '1e999' is too large for a float"),
    (document("packed", transitions={}), 'exactly one of the keys "transitions" and "packed_transitions"'),
    (packed("AQAAAP////8=", symbols="y"), "packed_transitions.symbols must be the alphabet's one-character"),
    (packed("AQAAAP////8"), "packed_transitions.targets is not base64"),
    (packed("AQAAAP//"), "holds 6 bytes; 2 states x 1 symbols need 8"),
    (packed("AgAAAP////8="), "the cell of state 'a' and symbol 'x' holds 2, which is neither -1 nor"),
    (packed(5), "packed_transitions.targets must be a base64 string"),
])
def test_loads_refuses_malformed_documents_with_the_place(text, words):
    assert mt.loads(packed("AQAAAP////8=")).get_transitions() == [("a", "x", "b")]  # the sound document
    with pytest.raises(ValueError) as caught:
        mt.loads(text)
    assert words in str(caught.value)


class Text(str):
    pass


@pytest.mark.parametrize("data, error, words", [
    ((1, 2), TypeError, "data is of type tuple"),
    ({1: "x"}, TypeError, "data has the key 1 of type int"),
    ([1.0, float("inf")], ValueError, "data[1] is inf"),
    ({"k": Text("s")}, TypeError, "data['k'] is of type Text"),
    ([[0]] * 2, ValueError, "is the same list as"),
])
def test_dumps_refuses_what_json_would_change(data, error, words):
    m = decimal()
    m.set_data(data)
    with pytest.raises(error) as caught:
        mt.dumps(m)
    assert words in str(caught.value) and "unsupported='omit'" in str(caught.value)
    m.step("1")
    m.set_data("kept")
    loaded = mt.loads(mt.dumps(m, unsupported="omit"))
    assert loaded.get_history() == [("start", None)] and loaded.data == "kept"


def test_cycles_are_refused_and_deep_nesting_reported():
    m = decimal()
    cycle = []
    cycle.append(cycle)
    m.set_data(cycle)
    with pytest.raises(ValueError, match=r"data\[0\] is the same list as data"):
        mt.dumps(m)
    deep = []
    for _ in range(100_000):
        deep = [deep]
    m.set_data(deep)
    with pytest.raises(ValueError, match="nested too deeply"):
        mt.dumps(m)


def test_pickle_refuses_until_enabled():
    script = """if True:
        import copy, pickle, morvane_tools
        from morvane import Morvane
        m = Morvane({"a"}, {"x"}, "a", set())
        for attempt in (pickle.dumps, copy.deepcopy):
            try:
                attempt(m)
            except TypeError as error:
                assert "cannot pickle" in str(error)
            else:
                raise AssertionError("pickled before enable_pickle()")
        morvane_tools.enable_pickle()
        shared = [1]
        m.set_data(shared), m.step("x"), m.set_data(shared)
        twin = copy.deepcopy(m)
        assert twin.data == [1] and twin.data is not shared and twin.data is twin.peek_history()[1]
    """
    # -P: the checkout's morvane_tools sources lack the compiled part that the
    # installed package has, so the current directory must not come first.
    subprocess.run([sys.executable, "-P", "-c", script], check=True)

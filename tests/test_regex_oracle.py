"""Automata built from real regular expressions (through interegular's FSMs)
must accept exactly what Python's re.fullmatch accepts, and simulate must
walk exactly the path that step takes one character at a time."""

import random
import re

import pytest

interegular = pytest.importorskip("interegular")
from interegular.fsm import anything_else  # noqa: E402

from conftest import SANITIZED, Morvane  # noqa: E402

PATTERNS = [
    r"[A-Za-z_][A-Za-z0-9_]*",  # identifier
    r"-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?",  # JSON number
    r"[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])",  # date
    r"[a-z0-9._%+-]+@[a-z0-9-]+(\.[a-z0-9-]+)*\.[a-z]{2,4}",  # e-mail, roughly
    r"0x[0-9a-fA-F]{1,8}",
    r"(\+|-)?[0-9]{1,3}(,[0-9]{3})*",
    r"(cat|dog|bird)s?",
    r"(if|then|else|end)( (if|then|else|end))*",
    r"(x|xy|xyz)(z|yz)?",
    r"(a|b)*abb",
    r"(ab|cd)*e+",
    r"((a|b)c)*",
    r"(0|1(01*0)*1)*",  # binary numerals of multiples of three
    r"(ab?c?){2,3}",
    r"a{2,5}b{0,2}",
    r"a?",
    r"",
    "[αβγ]+(δ|ε)?",
    "[à-ÿ]{1,3}x",
    "😀+[🙂-🙏]?",
    "[一-丅]+(、[一-丅]+)*",
    "(é|e\u0301)+",  # a composed letter, and a letter followed by a combining mark
    r"[^ab]*a",  # 'anything else' matters here: only words of known characters are compared
    r"<[^<>]+>(a|b)*",
]
OUTSIDERS = ["\x00", " ", "\n", "Z", "~", "é", "\u00a0", "\u0301", "ß", "😀", "\U0010ffff", "\ufffd", "\uffff"]


def automaton(pattern):
    """The pattern's FSM as a Morvane, its FSM, its concrete characters, and
    whether 'anything else' (which gets no transition) leads anywhere."""
    fsm = interegular.parse_pattern(pattern).to_fsm()
    classes = fsm.alphabet.by_transition
    name = {state: f"s{state}·é" for state in fsm.states}
    chars = sorted({char for members in classes.values() for char in members if char is not anything_else})
    m = Morvane(set(name.values()), set(chars) | {"", "ab"}, name[fsm.initial], {name[s] for s in fsm.finals})
    elsewhere = False
    for state, moves in fsm.map.items():
        for index, target in moves.items():
            for char in classes[index]:
                if char is anything_else:
                    elsewhere |= fsm.islive(target)
                else:
                    m.add_transition(name[state], char, name[target])
    return m, fsm, chars, elsewhere


def walk(fsm, chars, rng, length, stop=0.15):
    """A random path through live states from the initial state, as text; at
    a final state it stops with probability stop."""
    by_char = {char: index for index, members in fsm.alphabet.by_transition.items() for char in members}
    state, out = fsm.initial, []
    for _ in range(length):
        moves = [c for c in chars if by_char[c] in fsm.map.get(state, {}) and fsm.islive(fsm.map[state][by_char[c]])]
        if not moves or (state in fsm.finals and rng.random() < stop):
            break
        char = rng.choice(moves)
        out.append(char)
        state = fsm.map[state][by_char[char]]
    return "".join(out)


def inputs(fsm, chars, rng):
    """Words of the language, near misses, long words, foreign characters."""
    alphabet = chars + OUTSIDERS
    words = {"", *chars, *OUTSIDERS}
    words.update(walk(fsm, chars, rng, rng.randrange(1, 40)) for _ in range(30 if SANITIZED else 120))
    words.update(walk(fsm, chars, rng, 3000, stop=0) for _ in range(3))
    for word in list(words):
        for _ in range(3):
            i = rng.randrange(len(word) + 1)
            char = rng.choice(alphabet)
            words.update((word[:i] + char + word[i:], word[:i] + word[i + 1:], word[:i] + char + word[i + 1:],
                          word[:i], word + word, word[i:i + 2][::-1].join((word[:i], word[i + 2:]))))
    words.update("".join(rng.choice(alphabet) for _ in range(rng.randrange(1, 12))) for _ in range(150))
    return sorted(words)


@pytest.mark.parametrize("pattern", PATTERNS)
def test_accept_agrees_with_re(pattern):
    m, fsm, chars, elsewhere = automaton(pattern)
    regex = re.compile(pattern)
    words = inputs(fsm, chars, random.Random(pattern))
    if elsewhere:  # a negated class would take a character that the automaton has no transition for
        words = [word for word in words if set(word) <= set(chars)]
    assert any(regex.fullmatch(word) for word in words)  # the language is represented
    m.force_state(m.get_states()[-1])  # accept starts from the initial state, wherever the automaton is
    for word in words:
        assert m.accept(word) is (regex.fullmatch(word) is not None), (pattern, word)


@pytest.mark.parametrize("pattern", PATTERNS)
def test_simulate_follows_step(pattern):
    m, fsm, chars, _ = automaton(pattern)
    rng = random.Random("step " + pattern)
    for word in rng.sample(inputs(fsm, chars, rng), 30 if SANITIZED else 120):
        m.reset()
        path, stuck = [m.current_state], None
        for char in word:
            if not m.step(char):
                stuck = char
                break
            path.append(m.current_state)
        assert m.history_len() == len(path) - (stuck is None)
        assert m.is_accepted() is m.accept(word[:len(path) - 1]), (pattern, word)
        assert stuck is None or not m.accept(word), (pattern, word)
        # simulate from states reached along the way, undoing back to the initial state
        for start in sorted({0, len(path) - 1, *range(0, len(path), max(1, len(path) // 4))}, reverse=True):
            while m.history_len() > start:
                m.undo()
            assert m.current_state == path[start] and m.history_len() == start
            if stuck is None:
                assert m.simulate(word[start:]) == path[start:], (pattern, word, start)
            else:
                with pytest.raises(ValueError) as caught:
                    m.simulate(word[start:])
                assert str(caught.value) == ("Erro: Nao ha transicao definida a partir do estado "
                                             f"'{path[-1]}' com o simbolo '{stuck}'.")
            assert m.current_state == path[start] and m.history_len() == start  # simulate moves nothing

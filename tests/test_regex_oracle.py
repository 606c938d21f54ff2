"""An oracle nobody here wrote: automata built from real regular expressions
by interegular must accept exactly what re.fullmatch accepts, and simulate
must agree with stepping one character at a time."""

import random
import re

import pytest

from conftest import SANITIZED, Morvane

interegular = pytest.importorskip("interegular")

PATTERNS = [
    r"[A-Za-z_][A-Za-z0-9_]*",
    r"-?(0|[1-9][0-9]*)",
    r"-?[0-9]+\.[0-9]+([eE][+-]?[0-9]+)?",
    r"[0-9]{4}-[0-9]{2}-[0-9]{2}",
    r"[a-z]+@[a-z]+\.(com|org|pt)",
    r"(ab|cd)*e?",
    r"((a|b)*c)+",
    r"a(b(c(d)*)*)*",
    r"(a+b+)+",
    r"x{2,4}y{0,2}",
    r"[àéíóúç]+ã?",
    r"(olá|oi)( mundo)?",
    "[\u4e00-\u4e0f]+",
    "\U0001F600+(ok)?",
    r"(0|1(01*0)*1)*",  # multiples of three in binary
    r"[^ab]*a",
    r"(GET|POST) /[a-z/]*",
    r"a*b*c*",
    r"((aa)|(bbb))*",
    r"",
]


def to_morvane(fsm):
    """The FSM as a Morvane: each concrete character of a class gets the
    class's transitions; interegular's 'anything else' class has no
    character to stand for, so it gets none."""
    classes = {index: [c for c in chars if isinstance(c, str)] for index, chars in fsm.alphabet.by_transition.items()}
    names = {state: f"s{state}" for state in fsm.states}
    alphabet = {c for chars in classes.values() for c in chars}
    m = Morvane(set(names.values()), alphabet, names[fsm.initial], {names[s] for s in fsm.finals})
    for origin, moves in fsm.map.items():
        for index, target in moves.items():
            for ch in classes[index]:
                m.add_transition(names[origin], ch, names[target])
    return m, alphabet


def inputs(pattern, alphabet, rng):
    """Random words over the pattern's characters and a few strangers, near
    misses of matching words, and long ones."""
    pool = sorted(alphabet) + ["Z", "é", "\U0001f601", " ", "\x00"]
    words = ["", *(rng.choice(pool) for _ in range(10))]
    for _ in range(60 if SANITIZED else 300):
        words.append("".join(rng.choice(pool) for _ in range(rng.randrange(0, 12))))
    matching = [w for w in words if re.fullmatch(pattern, w)]
    for word in matching[:30]:
        words += [word + rng.choice(pool), word[:-1], word[1:], word * 3]
    words.append(rng.choice(pool) * 5000)
    return words


@pytest.mark.parametrize("pattern", PATTERNS)
def test_accept_agrees_with_re(pattern):
    fsm = interegular.parse_pattern(pattern).to_fsm()
    anything_else = any(not isinstance(c, str) for chars in fsm.alphabet.by_transition.values() for c in chars)
    m, alphabet = to_morvane(fsm)
    rng = random.Random(pattern)
    for word in inputs(pattern, alphabet, rng):
        if anything_else and any(c not in alphabet for c in word):
            continue  # a negated class would match it; the automaton knows only concrete characters
        assert m.accept(word) == bool(re.fullmatch(pattern, word)), (pattern, word)


@pytest.mark.parametrize("pattern", PATTERNS[:8])
def test_simulate_agrees_with_stepping(pattern):
    fsm = interegular.parse_pattern(pattern).to_fsm()
    m, alphabet = to_morvane(fsm)
    rng = random.Random(pattern)
    for word in inputs(pattern, alphabet, rng)[:200]:
        m.reset()
        path = [m.current_state]
        stuck = None
        for ch in word:
            if not m.step(ch):
                stuck = (m.current_state, ch)
                break
            path.append(m.current_state)
        m.reset()
        if stuck is None:
            assert m.simulate(word) == path
        else:
            with pytest.raises(ValueError) as error:
                m.simulate(word)
            state, ch = stuck
            assert str(error.value) == f"Erro: Nao ha transicao definida a partir do estado '{state}' com o simbolo '{ch}'."

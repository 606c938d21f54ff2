"""Every entry, on its success and failure paths, run thousands of times: no
reference and no memory may be left behind."""

import ctypes
import gc
import os
import sys
from types import SimpleNamespace

import pytest

from conftest import SANITIZED, Morvane, while_exclusively_borrowed

ROUNDS = 1_000 if SANITIZED else 5_000
WARM_UP = 30
LIBC = ctypes.CDLL(None)


def text(tag, size=1_000):
    """A new, non-interned str: big enough that a leaked copy shows in the memory figures."""
    return "".join([tag, "."] + ["x"] * size)


class Alive:
    """Counts its live instances; __del__ optionally raises or calls back into an instance."""

    count = 0

    def __init__(self, raises=False, machine=None):
        Alive.count += 1
        self.raises, self.machine = raises, machine

    def __del__(self):
        Alive.count -= 1
        if self.machine is not None:
            for call in (lambda: self.machine.data, lambda: self.machine.step("a")):
                fails(RuntimeError, call)
        if self.raises:
            raise LookupError("from __del__")


class Unprintable:
    def __str__(self):
        raise LookupError("no text")

    def __index__(self):
        raise ArithmeticError("no number")


class Name(str):
    action = staticmethod(lambda: None)

    def __str__(self):  # runs inside get_context_type, under a shared borrow
        Name.action()
        return str.__str__(self)


class Probe:
    pass


Probe.__name__ = Name("Probe")


class NoNote(Exception):
    def add_note(self, note):
        raise RuntimeError("no notes here")


class FailingSet(set):
    def __iter__(self):
        raise NoNote("iteration")


def fails(kind, call, *args, note=None, message=None, **kwargs):
    try:
        call(*args, **kwargs)
    except BaseException as error:  # noqa: BLE001 - checked right here
        assert type(error) is kind, repr(error)
        assert message is None or str(error) == message
        assert note is None or error.__notes__[-1] == f"while processing '{note}'"
    else:
        raise AssertionError(f"{call} did not fail")


def kit():
    k = SimpleNamespace(q0=text("q0"), q1=text("q1"), q2=text("q2"), nowhere=text("nowhere"), a="".join(["a"]))
    k.states, k.alphabet, k.finals = {k.q0, k.q1, k.q2}, frozenset({k.a, "b"}), {k.q2}
    k.token, k.payload, k.number, k.bad = object(), [object()], 2**70 + len(k.q0), object()
    k.surrogate, k.suffix = text("\ud800"), text("suffix")
    k.m = Morvane(k.states, k.alphabet, k.q0, k.finals)
    k.m.add_transition(k.q0, k.a, k.q1)
    k.m.add_transition(k.q1, "b", k.q2)
    return k


def construction(k):
    for m in (Morvane(k.states, k.alphabet, k.q0, k.finals),
              Morvane(finals=frozenset(k.finals), initial=k.q0, alphabet=set(k.alphabet), states=k.states)):
        assert m.current_state == k.q0
        m.set_data(k.token)
        m.step(k.a)
    fails(TypeError, Morvane, k.states, k.alphabet)
    fails(TypeError, Morvane, k.states, k.alphabet, k.q0, k.finals, k.bad)
    fails(TypeError, Morvane, k.states, k.alphabet, k.q0, k.finals, states=k.states)
    fails(TypeError, Morvane, k.states, k.alphabet, k.q0, k.finals, extra=k.bad)
    fails(TypeError, Morvane, [k.q0], k.alphabet, k.q0, k.finals, note="states")
    fails(TypeError, Morvane, k.states, {k.a, k.q1, k.bad}, k.q0, k.finals, note="alphabet")
    fails(UnicodeEncodeError, Morvane, k.states, k.alphabet, k.surrogate, k.finals, note="initial")
    fails(TypeError, Morvane, {k.q0, k.q1, k.q2, k.number}, k.alphabet, k.q0, k.finals, note="states")
    fails(NoNote, Morvane, k.states, FailingSet({k.a}), k.q0, k.finals)


def queries(k):
    m = k.m
    assert (m.current_state, m.initial_state, m.data) == (k.q0, k.q0, None)
    assert m.get_states() == [k.q0, k.q1, k.q2] and m.get_finals() == [k.q2]
    assert m.get_alphabet() == [k.a, "b"] and len(m.get_transitions()) == 2
    assert m.available_symbols() == ["a"] and m.is_accepted() is False
    assert m.is_final(k.q2) and not m.is_final(state=k.nowhere)
    fails(TypeError, m.is_final, k.bad, note="state")
    fails(TypeError, m.is_final, k.q2, state=k.q2)
    fails(TypeError, m.get_states, k.bad)


def transitions(k):
    m, q0, q1, q2, a = k.m, k.q0, k.q1, k.q2, k.a
    m.add_transition(q2, a, q0)
    assert m.has_transition(q2, a) and not m.has_transition(of=k.nowhere, **{"with": a})
    m.remove_transition(of=q2, **{"with": a})
    fails(ValueError, m.add_transition, k.nowhere, a, q0, message="Erro: Um ou ambos os estados nao pertencem ao automato.")
    fails(ValueError, m.add_transition, q0, "c", q1, message="Erro: O simbolo 'c' nao pertence ao alfabeto do automato.")
    fails(ValueError, m.add_transition, q0, a, q2,
          message=f"Erro: O estado '{q0}' ja possui uma transicao definida para o simbolo 'a'.")
    fails(ValueError, m.remove_transition, q2, "b",
          message=f"Erro: Nao existe transicao definida para o estado '{q2}' com o simbolo 'b'.")
    fails(TypeError, m.add_transition, k.bad, a, q1, note="of")
    fails(ValueError, m.add_transition, q0, k.suffix, q1, note="with")
    fails(UnicodeEncodeError, m.add_transition, q0, a, k.surrogate, note="for_")
    fails(TypeError, m.remove_transition, q0, None, note="with")
    fails(TypeError, m.has_transition, q0, a, k.bad)
    fails(TypeError, m.add_transition, q0, a)
    fails(TypeError, m.remove_transition, q0, a, of=q0)
    fails(TypeError, m.has_transition, q0, wtih=a)


def stepping(k):
    m = k.m
    m.set_data(k.token)
    assert m.step(k.a) is True and m.step(symbol="z") is False
    m.force_state(k.q2)
    m.force_state(state_id=k.q1)
    assert m.peek_history() == (k.q2, k.token) and len(m.get_history()) == m.history_len() == 4
    fails(ValueError, m.force_state, k.nowhere, message="O estado destino nao existe no automato.")
    fails(ValueError, m.step, k.suffix, note="symbol")
    fails(TypeError, m.force_state, k.number, note="state_id")
    fails(TypeError, m.step, k.a, k.a)
    fails(TypeError, m.force_state, state=k.q0)
    m.set_data(k.payload)
    assert m.undo() and m.undo() and m.data is k.token
    m.clear_history()
    assert m.undo() is False and m.peek_history() is None
    m.set_data(k.payload)
    m.step(k.a)
    m.reset()
    assert (m.current_state, m.data, m.history_len()) == (k.q0, None, 0)


def acceptance(k):
    m = k.m
    assert m.accept(k.a + "b") and not m.accept(st=k.suffix) and not m.accept("")
    assert m.simulate(input=k.a + "b") == [k.q0, k.q1, k.q2]
    fails(ValueError, m.simulate, "ab" + k.a,
          message=f"Erro: Nao ha transicao definida a partir do estado '{k.q2}' com o simbolo 'a'.")
    fails(UnicodeEncodeError, m.simulate, k.surrogate, note="input")
    fails(TypeError, m.accept, k.number, note="st")
    fails(TypeError, m.accept)


def context(k):
    m = k.m
    for data, name in ((k.token, "object"), (k.payload, "list"), (k.number, "int"), (Probe(), "Probe")):
        m.set_data(data)
        assert m.data is data and m.get_context_type() == name
    m.update_context(new_data=k.payload)
    fails(TypeError, m.set_data)
    fails(TypeError, m.update_context, k.token, data=k.token)
    m.set_data(k.suffix)
    m.transform_data("str", "concat", k.suffix)
    m.transform_data("int", "add", k.number % 1000)  # text counts as 0
    m.transform_data(data_type_result="str", operation="noop", assert_val=k.bad)
    m.set_data(Unprintable())
    m.transform_data("str", "concat", k.suffix)  # through the unraisable hook
    m.set_data(Unprintable())
    m.transform_data("int", "add", 1)  # the data's __index__ error is dropped
    m.set_data(k.surrogate)
    m.transform_data("str", "noop", None)
    fails(TypeError, m.transform_data, "str", "concat", k.number)
    fails(TypeError, m.transform_data, "int", "add", 1.5)
    fails(OverflowError, m.transform_data, "int", "add", k.number)
    fails(ArithmeticError, m.transform_data, "int", "add", Unprintable())
    fails(TypeError, m.transform_data, "float", "add", k.token, message="Tipo de dado nao suportado. Use 'str' ou 'int'.")
    fails(TypeError, m.transform_data, k.bad, "clear", None, note="data_type_result")
    fails(TypeError, m.transform_data, "str", "clear")
    m.set_data(Alive(raises=True))
    m.clear_data()  # __del__ raises into the unraisable hook
    m.set_data(Alive(machine=m))
    m.transform_data("any", "clear", None)  # __del__ meets the borrow


def borrows(k):
    m = k.m
    shared = (lambda: m.data, lambda: m.get_history(), lambda: m.accept(k.a), lambda: m.simulate(k.suffix))
    exclusive = (lambda: m.step(k.a), lambda: m.set_data(k.token), lambda: m.force_state(k.bad),
                 lambda: m.transform_data("str", "concat", k.suffix), lambda: m.add_transition(k.q0, k.a, k.q1))

    def under_exclusive():
        for call in shared:
            fails(RuntimeError, call, message="Already mutably borrowed")
        for call in exclusive:
            fails(RuntimeError, call, message="Already borrowed")

    def under_shared():
        assert m.history_len() == 0 and m.get_states()
        for call in exclusive:
            fails(RuntimeError, call, message="Already borrowed")

    assert while_exclusively_borrowed(m, under_exclusive) is None
    Name.action = under_shared
    m.set_data(Probe())
    assert m.get_context_type() == "Probe"
    Name.action = staticmethod(lambda: None)
    m.clear_data()


def figures():
    gc.collect()
    LIBC.malloc_trim(0)
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return resident, sys.getallocatedblocks()


@pytest.mark.parametrize("scenario", [construction, queries, transitions, stepping, acceptance, context, borrows])
def test_nothing_is_left_behind(scenario, monkeypatch):
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", lambda args: unraisable.append(type(args.exc_value)))
    k = kit()
    tracked = [Morvane, *vars(k).values()]
    for _ in range(WARM_UP):
        scenario(k)
    resident, blocks = figures()  # collects first: earlier tests' garbage must not count here
    counts, reported = [sys.getrefcount(o) for o in tracked], len(unraisable)
    for _ in range(ROUNDS):
        scenario(k)
    grown, more_blocks = (now - before for now, before in zip(figures(), (resident, blocks)))
    changed = {name: after - before for name, before, after in
               zip(["Morvane", *vars(k)], counts, [sys.getrefcount(o) for o in tracked]) if after != before}
    problems = [f"reference counts changed by {changed}"] if changed else []
    if more_blocks >= ROUNDS // 5:
        problems.append(f"{more_blocks} more Python memory blocks after {ROUNDS} rounds")
    if grown >= 2 * 1024 * 1024 and not SANITIZED:  # ASan's quarantine keeps freed memory
        problems.append(f"resident memory grew by {grown} bytes")
    assert not problems, "; ".join(problems)
    assert set(unraisable[reported:]) <= {LookupError} and Alive.count == 0
    assert (k.m.current_state, k.m.history_len(), k.m.data) == (k.q0, 0, None)

"""Several threads on shared and private instances, switching as often as the
interpreter allows, also while a borrow is held across Python code."""

import gc
import queue
import random
import sys
import threading
import time
from collections import Counter

import pytest

from conftest import SANITIZED, Morvane

DURATION = 1.0 if SANITIZED else 2.0
DELTA = {"p": {"a": "q", "b": "r"}, "q": {"a": "r", "b": "p"}, "r": {"a": "p", "b": "q"}}
WORDS = ["", "a", "b", "ab", "ba", "aa", "bb", "aab", "abab", "babba", "x", "ax" * 20]
# "a" moves one state on, "b" two (modulo 3); r, the only final state, is two on from p.
ACCEPTED = [set(word) <= {"a", "b"} and (word.count("a") + 2 * word.count("b")) % 3 == 2 for word in WORDS]


def machine():
    m = Morvane(set(DELTA), {"a", "b"}, "p", {"r"})
    for state, row in DELTA.items():
        for symbol, target in row.items():
            m.add_transition(state, symbol, target)
    return m


class Model:
    """What a private instance must hold."""

    def __init__(self):
        self.state, self.data, self.history = "p", None, []

    def move(self, state):
        self.history.append((self.state, self.data))
        self.state = state


class Slow:
    """Context data that gives the interpreter away while a borrow is held."""

    def __str__(self):
        time.sleep(0)
        return "slow"

    def __index__(self):
        time.sleep(0)
        return 3


class Name(str):
    def __str__(self):  # runs inside get_context_type, under a shared borrow
        time.sleep(0)
        return str.__str__(self)


class Probe:
    pass


Probe.__name__ = Name("Probe")


# The operations: each does its calls on m and checks them, against the model for a private instance.
def moves(m, model, rng):
    symbol, state, value = rng.choice("ab"), rng.choice("pqr"), rng.randrange(100)
    assert m.step(symbol) is True
    m.force_state(state)
    m.set_data(value)
    if model:
        model.move(DELTA[model.state][symbol])
        model.move(state)
        model.data = value


def undo(m, model, rng):
    undone = m.undo()
    if model:
        assert undone is bool(model.history)
        if undone:
            model.state, model.data = model.history.pop()


def trim(m, model, rng):
    if model and len(model.history) < 40:
        return
    if rng.random() < 0.5:
        m.reset()
        if model:
            model.state, model.data = "p", None
    else:
        m.clear_history()
    if model:
        model.history = []


def queries(m, model, rng):
    index = rng.randrange(len(WORDS))
    word = WORDS[index].replace("x", "")
    assert m.accept(WORDS[index]) is ACCEPTED[index]
    path = m.simulate(word)
    assert [DELTA[state][symbol] for state, symbol in zip(path, word)] == path[1:]
    state, history, data = m.current_state, m.get_history(), m.data
    assert state in DELTA and m.available_symbols() == ["a", "b"]
    if model:
        expected = (model.state, model.data, model.history, model.history[-1] if model.history else None)
        assert (state, data, history, m.peek_history()) == expected and path[0] == state


def transform(m, model, rng):
    m.set_data(Slow())
    m.transform_data("str", "concat", "!")
    m.transform_data("int", "add", Slow())  # "slow!" counts as 0
    if model:
        model.data = 3
        assert m.data == 3


def context_type(m, model, rng):
    m.set_data(Probe())
    name = m.get_context_type()
    if model:  # on the shared instance another thread may have replaced the data meanwhile
        assert name == "Probe"
        model.data = m.data


# (the borrow that the operation holds while Python code runs, the operation)
OPERATIONS = [(None, moves), (None, undo), (None, undo), (None, trim), (None, queries),
              ("exclusive", transform), ("shared", context_type)]
CONFLICTING = {"Already mutably borrowed": ("exclusive",), "Already borrowed": ("exclusive", "shared")}


class Ledger:
    """Runs operations and accepts a borrow error only where another thread's borrow overlapped the call."""

    def __init__(self):
        self.lock, self.inflight, self.started, self.conflicts = threading.Lock(), Counter(), Counter(), Counter()

    def run(self, holds, operation, m, model, rng):
        with self.lock:
            inflight, started = self.inflight.copy(), self.started.copy()
            self.inflight[holds] += 1
            self.started[holds] += 1
        try:
            operation(m, model, rng)
        except RuntimeError as error:
            assert model is None, f"{operation.__name__} on a private instance: {error}"
            with self.lock:  # held when this call began, or begun during it, by someone else
                others = [inflight[kind] + self.started[kind] - started[kind] - (kind == holds)
                          for kind in CONFLICTING[str(error)]]
            assert any(others), f"{operation.__name__}: {error} and no other borrow was held"
            self.conflicts[str(error)] += 1
        finally:
            with self.lock:
                self.inflight[holds] -= 1


def consistent(m):
    history = m.get_history()
    assert m.history_len() == len(history) and m.peek_history() == (history[-1] if history else None)
    assert m.current_state in DELTA and [m.accept(word) for word in WORDS] == ACCEPTED
    m.reset()
    assert (m.current_state, m.data, m.history_len(), m.undo()) == ("p", None, 0, False)
    assert m.step("a") is True and m.simulate("ab") == ["q", "r", "q"]


@pytest.fixture
def switching():
    interval, collecting = sys.getswitchinterval(), gc.isenabled()
    sys.setswitchinterval(1e-6)
    gc.disable()  # a collection could run finalisers inside any call
    yield
    sys.setswitchinterval(interval)
    if collecting:
        gc.enable()


def test_shared_and_private_instances(switching):
    shared, ledger, failures = machine(), Ledger(), []
    assert [shared.accept(word) for word in WORDS] == ACCEPTED
    privates = [(machine(), Model()) for _ in range(3)]
    deadline = time.monotonic() + DURATION

    def worker(seed, private, model):
        rng = random.Random(seed)
        try:
            while time.monotonic() < deadline:
                ledger.run(*rng.choice(OPERATIONS), shared, None, rng)
                ledger.run(*rng.choice(OPERATIONS), private, model, rng)
        except BaseException as error:  # noqa: BLE001 - reported by the test
            failures.append(error)

    threads = [threading.Thread(target=worker, args=(seed, *pair)) for seed, pair in enumerate(privates)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert ledger.conflicts, "no call ever met a borrow held by another thread"
    for m in [shared] + [private for private, _ in privates]:
        consistent(m)


def test_another_thread_meets_the_borrow():
    m, jobs, outcomes, probe = machine(), queue.Queue(), [], Probe()
    calls = [lambda: m.data, m.history_len, lambda: m.accept("b"), lambda: m.is_final("r"),
             lambda: m.step("a"), lambda: m.set_data(1), m.undo, lambda: m.transform_data("s", "clear", 0)]

    def helper():
        while (job := jobs.get()) is not None:
            try:
                outcomes.append(job())
            except Exception as error:  # noqa: BLE001 - compared below; the helper must go on
                outcomes.append(str(error) if type(error) is RuntimeError else error)
            jobs.task_done()

    def from_other_thread():
        for call in calls:
            jobs.put(call)
        jobs.join()  # gives the interpreter away with the borrow still held

    class Hook:
        def __str__(self):
            from_other_thread()
            return "hook"

    class Handing(str):
        def __str__(self):
            from_other_thread()
            return str.__str__(self)

    thread = threading.Thread(target=helper)
    thread.start()
    try:
        m.set_data(Hook())
        m.transform_data("str", "noop", None)  # exclusive: every call from the other thread fails
        assert outcomes == ["Already mutably borrowed"] * 4 + ["Already borrowed"] * 4 and m.data == "hook"
        outcomes.clear()
        Probe.__name__ = Handing("Probe")
        m.set_data(probe)
        assert m.get_context_type() == "Probe"  # shared: readers pass, writers fail
        assert outcomes == [probe, 0, True, True] + ["Already borrowed"] * 4
    finally:
        Probe.__name__ = Name("Probe")
        jobs.put(None)
        thread.join()
    consistent(m)

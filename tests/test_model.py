"""Random call sequences on a Morvane and on the plain-Python model (model.py),
side by side: every method, good and bad arguments, wrong call shapes, and
context data whose __str__, __index__ and finaliser raise or call back into
the instance. After every call the outcomes, the callbacks' observations and
the whole observable state must agree.

Profiles: "ci" (default) and "long" (MORVANE_HYPOTHESIS_PROFILE=long)."""

import contextlib
import gc
import itertools
import os
import pickle
import sys
import traceback
from dataclasses import dataclass
from pathlib import Path

from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.database import DirectoryBasedExampleDatabase
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, precondition, rule

import morvane_tools
from model import INT64_MAX, INT64_MIN, Model
from morvane import Morvane

settings.register_profile(
    "ci", max_examples=600, stateful_step_count=50, deadline=None, derandomize=False,
    database=DirectoryBasedExampleDatabase(Path(__file__).resolve().parent.parent / ".hypothesis" / "examples"),
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.register_profile("long", settings.get_profile("ci"), max_examples=10_000)
# For a suite run that checks an installed copy rather than the behaviour.
settings.register_profile("smoke", settings.get_profile("ci"), max_examples=60)
PROFILE = settings.get_profile(os.environ.get("MORVANE_HYPOTHESIS_PROFILE", "ci"))
if os.environ.get("MORVANE_SANITIZED"):
    PROFILE = settings(PROFILE, max_examples=max(PROFILE.max_examples // 10, 20))

# ---- two sides: what each side's callbacks reach and what they saw -----------------
SIDES = {"real": None, "model": None}
LOGS = {"real": [], "model": []}
UNRAISABLE = {"real": [], "model": []}
RUNNING = ["real"]
SERIALS = itertools.count(1)


@contextlib.contextmanager
def running(side):
    RUNNING.append(side)
    try:
        yield
    finally:
        RUNNING.pop()


def record_unraisable(args):
    UNRAISABLE[RUNNING[-1]].append((args.exc_type, str(args.exc_value)))


class Halt(BaseException):
    """Not an Exception: nothing may swallow it."""


def outcome(call, *args, **kwargs):
    try:
        return "ok", call(*args, **kwargs)
    except (Exception, Halt) as error:
        return type(error), str(error), getattr(error, "__notes__", None)


def poke(side, tag):
    """Calls back into the instance; records a read, a change and a bad call."""
    target = SIDES[side]
    if target is not None:
        LOGS[side].append((tag, outcome(lambda: target.current_state), outcome(target.step, "a"),
                           outcome(target.has_transition)))


# ---- context data with behaviour ------------------------------------------------
@dataclass(frozen=True)
class Recipe:
    kind: int  # index into PROBES
    str_mode: str
    index_mode: str
    value: int
    del_mode: str = "none"


LIVE_PROBES = {"real": 0, "model": 0}  # a probe that outlives its run was not released


class Probe:
    def __init__(self, recipe, serial, side):
        self.recipe, self.serial, self.side = recipe, serial, side
        LIVE_PROBES[side] += 1

    def __str__(self):
        mode = self.recipe.str_mode
        if mode == "poke":
            poke(self.side, ("str", self.serial))
        if mode == "raise":
            raise LookupError(f"no text {self.serial}")
        return {"nonstr": 5, "surrogate": "x\udc80y\ud83d"}.get(mode, f"probe {self.serial} ☃")

    def __del__(self):
        LIVE_PROBES[self.side] -= 1
        if self.recipe.del_mode != "none":
            poke(self.side, ("del", self.serial))
        if self.recipe.del_mode == "raise" and SIDES[self.side] is not None:  # quiet once the run is over
            raise ValueError(f"finaliser {self.serial}")


class IndexProbe(Probe):
    def __index__(self):
        mode, value = self.recipe.index_mode, self.recipe.value
        if mode == "poke":
            poke(self.side, ("index", self.serial))
        if mode in ("raise", "memory", "halt"):
            raise {"raise": KeyError, "memory": MemoryError, "halt": Halt}[mode](f"index {self.serial}")
        return "7" if mode == "nonint" else value


class CallbackName(str):
    def __str__(self):
        poke(RUNNING[-1], ("name",))
        return str.__str__(self)


class RaisingName(str):
    def __str__(self):
        raise KeyError("name")


def probe_class(base, name):
    cls = type("Probe", (base,), {})
    cls.__name__ = name
    return cls


PROBES = [probe_class(base, name) for base in (IndexProbe, Probe)
          for name in ("Probe", "Índice😀", CallbackName("Sønde"), RaisingName("Ráise"))]


class EmptiesItsDict(set):
    """A set whose iteration empties every dict that holds it, such as the
    keyword dict of the call that converts it."""

    def __iter__(self):
        for referrer in gc.get_referrers(self):
            if type(referrer) is dict:
                referrer.clear()
        return super().__iter__()


@dataclass(frozen=True)
class Thief:
    members: tuple


def fresh(value):
    """An equal object that nobody else holds (one-character and empty str
    excepted: the interpreter shares those)."""
    if isinstance(value, str):
        return type(value)(value.encode("utf-8", "surrogatepass").decode("utf-8", "surrogatepass"))
    if isinstance(value, (set, frozenset)):
        return type(value)(map(fresh, value))
    return value


def materialize(args, kwargs, base, side):
    """The same call for one side: each Recipe becomes that side's twin and
    each Thief an EmptiesItsDict. Beside a Thief, every other argument is a
    fresh object, so that the emptied dict was its only owner."""
    serials = itertools.count(base)
    copy = fresh if any(isinstance(value, Thief) for value in (*args, *kwargs.values())) else lambda value: value

    def one(value):
        if isinstance(value, Recipe):
            return PROBES[value.kind](value, next(serials), side)
        return EmptiesItsDict(map(fresh, value.members)) if isinstance(value, Thief) else copy(value)
    return [one(value) for value in args], {name: one(value) for name, value in kwargs.items()}


def in_child(check):
    """Runs check() in a forked child and fails with what went wrong there."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        status = 0
        try:
            check()
        except BaseException:  # noqa: BLE001 - reported to the parent
            os.write(write, traceback.format_exc().encode())
            status = 1
        os._exit(status)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:
        report = pipe.read().decode()
    _, status = os.waitpid(pid, 0)
    assert status == 0, report or f"the child ended with status {status}"


def same(real, model):
    """The very object stored; for a probe, its twin on the model side."""
    if isinstance(real, Probe):
        return type(model) is type(real) and model.serial == real.serial
    return real is model


def alike(real, model):
    if type(real) is not type(model):
        return False
    if isinstance(real, (list, tuple)):
        return len(real) == len(model) and all(map(alike, real, model))
    return real == model


def pairs_alike(real, model):
    return type(real) is type(model) is tuple and alike(real[0], model[0]) and same(real[1], model[1])


def json_value(value):
    """Whether dumps writes the value (rather than leaving it out)."""
    if type(value) in (type(None), bool, int, str):
        return True
    if type(value) is float:
        return value == value and abs(value) != float("inf")
    if type(value) is list:
        return all(map(json_value, value))
    return type(value) is dict and all(type(key) is str and json_value(item) for key, item in value.items())


# ---- strategies -------------------------------------------------------------------
class StrSub(str):
    pass


class Shouty(str):
    def __str__(self):
        return "shout " + str.__str__(self)


class SetSub(set):
    pass


class FrozenSub(frozenset):
    pass


STATES = ["q0", "q1", "", "é", "\x00", "estado😀", "q\x00\U0010ffff"]
CHARS = ["a", "b", "é", "😀", "\x00", "\U0010ffff"]
ODD_TEXT = [5, None, b"q0", 2.5, ["q0"], StrSub("q1"), Shouty("q0"), "q\ud800", "\udfff"]
NUMBERS = [0, 7, -1, True, INT64_MAX, INT64_MIN, 2**63, -(2**70)]
TEXTS = ["a\ud800b", "", "ab", "4", "é😀", StrSub("sub"), StrSub("x\ud800"), Shouty("s\udc00"), Shouty("plain")]
OTHERS = [None, 3.9, [1], ()]


def probes(mortal=False):
    return st.builds(Recipe, st.integers(0, len(PROBES) - 1),
                     st.sampled_from(["text", "poke", "raise", "nonstr", "surrogate"]),
                     st.sampled_from(["value", "poke", "raise", "memory", "halt", "nonint"]),
                     st.sampled_from([0, 5, -1, INT64_MAX, 2**64]),
                     st.sampled_from(["poke", "raise", "none"] if mortal else ["none"]))


def mostly(good, odd):
    """good seven times in eight."""
    return st.integers(0, 7).flatmap(lambda i: odd if i == 7 else good)


def sets_of(pool, min_size=0):
    return st.sampled_from([set, frozenset, SetSub, FrozenSub]).flatmap(
        lambda cls: st.lists(st.sampled_from(pool), min_size=min_size).map(cls))


STATE = mostly(st.sampled_from(STATES + ["nowhere"]), st.one_of(st.sampled_from(ODD_TEXT), probes()))
SYMBOL = mostly(st.sampled_from(CHARS + ["A", "z"]),
                st.sampled_from(["", "ab", "\ud800", "a\ud800", 7, None, StrSub("a"), Shouty("b")]))
WORD = mostly(st.text(st.sampled_from(CHARS + ["z"]), max_size=6),
              st.sampled_from(["a\ud800", "\udc00b", 3, None, StrSub("ab")]))
NEW_DATA = st.one_of(probes(mortal=True), *map(st.sampled_from, (NUMBERS, TEXTS, OTHERS)))
SET = mostly(sets_of(STATES),
             st.one_of(st.sampled_from([["q0"], ("q0",), {"q0": 1}, None, {"q0", 5}, frozenset({b"x"}), {"a\ud800"}]),
                       st.lists(st.sampled_from(STATES + [5, "\udfff"]), max_size=3).map(lambda m: Thief(tuple(m)))))
SIGNATURES = {
    "add_transition": [("of", STATE), ("with", SYMBOL), ("for_", STATE)],
    "remove_transition": [("of", STATE), ("with", SYMBOL)],
    "has_transition": [("of", STATE), ("with", SYMBOL)],
    "step": [("symbol", SYMBOL)],
    "force_state": [("state_id", STATE)],
    "accept": [("st", WORD)],
    "simulate": [("input", WORD)],
    "is_final": [("state", STATE)],
    "set_data": [("new_data", NEW_DATA)],
    "update_context": [("new_data", NEW_DATA)],
    "transform_data": [
        ("data_type_result", mostly(st.sampled_from(["int", "str"]),
                                    st.sampled_from(["STR", "", "float", 1, None, "s\ud800"]))),
        ("operation", mostly(st.sampled_from(["add", "concat", "noop", "clear"]),
                             st.sampled_from(["CLEAR", b"add", None]))),
        ("assert_val", st.one_of(*map(st.sampled_from, (NUMBERS, TEXTS, OTHERS)), probes()))],
}
SIGNATURES["Morvane"] = [("states", SET), ("alphabet", SET), ("initial", STATE), ("finals", SET)]
SIGNATURES.update((name, []) for name in (
    "get_states", "get_alphabet", "get_finals", "get_transitions", "available_symbols", "undo", "reset", "get_history",
    "history_len", "peek_history", "clear_history", "is_accepted", "clear_data", "get_context_type"))
METHODS = sorted(SIGNATURES, key=lambda name: (name == "Morvane", name))  # the first is drawn most
KEYWORDS = ["sym", "For_", "for", "é", "😀", "\ud800", "x\x00", "self", "Symbol"]
SHAPES = mostly(st.sampled_from(["positional", "positional", "keywords", "mixed"]),
                st.sampled_from(["missing", "surplus", "duplicate", "unexpected"]))


@st.composite
def call_shape(draw, params, values, shapes=SHAPES):
    """(args, kwargs) binding values to params, or one of the ways to get it wrong."""
    shape, n = draw(shapes), len(params)
    if shape == "positional" or n == 0 and shape in ("missing", "duplicate"):
        return list(values), {}
    if shape == "surplus":
        extra = draw(st.sampled_from([None, "a", 1]))
        return [*values, extra], ({draw(st.sampled_from(KEYWORDS)): 1} if draw(st.booleans()) else {})
    k = 0 if shape == "keywords" else draw(st.integers(0, n))
    drop = draw(st.integers(0, n - 1)) if shape == "missing" else None
    if drop is not None:
        k = min(k, drop)
    items = [(params[i], values[i]) for i in draw(st.permutations(range(n))) if i >= k and i != drop]
    if shape == "duplicate" and k:
        j = draw(st.integers(0, k - 1))
        items.insert(draw(st.integers(0, len(items))), (params[j], values[j]))
    if shape == "unexpected":
        items.insert(draw(st.integers(0, len(items))), (draw(st.sampled_from(KEYWORDS)), values[0] if n else 1))
    return list(values[:k]), dict(items)


# ---- the machine --------------------------------------------------------------------
class MorvaneMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.real = self.model = None
        self.unbuilt_checked = False
        self.previous_hook, sys.unraisablehook = sys.unraisablehook, record_unraisable

    def teardown(self):
        SIDES.update(real=None, model=None)
        self.real = self.model = None  # finalisers of the data left behind reach nobody
        sys.unraisablehook = self.previous_hook
        for log in (*LOGS.values(), *UNRAISABLE.values()):
            log.clear()

    def both(self, name, args, kwargs, targets=None):
        """Runs one call on both sides, compares the outcomes and what callbacks saw."""
        targets, base, results = targets or {"real": self.real, "model": self.model}, next(SERIALS) * 10, {}
        for side in ("real", "model"):
            with running(side):
                call_args, call_kwargs = materialize(args, kwargs, base, side)
                call = getattr(targets[side], name) if name else targets[side]
                results[side] = outcome(call, *call_args, **call_kwargs)
                del call_args, call_kwargs  # an object held only by the call dies here
        real, model = results["real"], results["model"]
        if real[0] != "ok" or model[0] != "ok":
            assert real == model, (name, args, kwargs)
        elif name in ("get_history", "peek_history"):
            assert type(real[1]) is type(model[1]), (real, model)
            entries = real[1] if name == "get_history" else [real[1]] if real[1] else []
            expected = model[1] if name == "get_history" else [model[1]] if model[1] else []
            assert len(entries) == len(expected) and all(map(pairs_alike, entries, expected)), (real, model)
        elif name:
            unordered = name == "get_transitions"
            assert alike(*(sorted(r[1]) if unordered else r[1] for r in (real, model))), (real, model)
        assert LOGS["real"] == LOGS["model"], "callbacks saw different things"
        assert UNRAISABLE["real"] == UNRAISABLE["model"], "different unraisable exceptions"
        for log in (*LOGS.values(), *UNRAISABLE.values()):
            log.clear()
        return real, model

    @initialize(data=st.data())
    def build(self, data):
        states = data.draw(mostly(sets_of(STATES, min_size=2), sets_of(STATES)))
        values = [states, data.draw(mostly(sets_of(CHARS, min_size=2), sets_of(CHARS + ["", "ab", "A"]))),
                  data.draw(mostly(st.sampled_from(sorted(states) or ["q0"]), st.sampled_from(STATES + ["nowhere"]))),
                  data.draw(sets_of(STATES + ["nowhere"]))]
        good_shapes = st.sampled_from(["positional", "keywords", "mixed"])
        args, kwargs = data.draw(call_shape(["states", "alphabet", "initial", "finals"], values, good_shapes))
        self.real, self.model = Morvane(*args, **kwargs), Model(*args, **kwargs)
        SIDES.update(real=self.real, model=self.model)

    @rule(data=st.data())
    def call(self, data):
        self.call_method(data, data.draw(st.sampled_from(METHODS), label="method"))

    @rule(data=st.data())
    def context(self, data):
        """The calls that run Python code of the context data, with arguments that mostly fit."""
        name = data.draw(st.sampled_from(["set_data", "transform_data", "step", "get_context_type", "undo", "reset",
                                          "clear_history"]), label="method")
        if name != "transform_data":
            return self.call_method(data, name)
        kind, operation = data.draw(st.sampled_from(
            [("int", "add"), ("str", "concat"), ("int", "noop"), ("str", "noop"), ("int", "clear")]), label="transform")
        extremes = st.sampled_from([INT64_MAX, INT64_MIN] if kind == "int" else TEXTS[:1])  # sums that wrap
        pool = st.sampled_from(NUMBERS if kind == "int" else TEXTS)
        value = data.draw(st.one_of(extremes, pool, probes()), label="assert_val")
        self.transform([kind, operation, value], {})

    def call_method(self, data, name):
        params = SIGNATURES[name]
        known = st.sampled_from(sorted(self.model._states) or STATES)
        values = [data.draw(mostly(known, STATE) if strategy is STATE else strategy, label=param)
                  for param, strategy in params]
        args, kwargs = data.draw(call_shape([param for param, _ in params], values), label="shape")
        if name == "Morvane":
            real, model = self.both(None, args, kwargs, {"real": Morvane, "model": Model})
            for query in ("get_states", "get_alphabet", "get_finals", "get_transitions", "get_history", "is_accepted"):
                if real[0] == "ok":
                    self.both(query, [], {}, {"real": real[1], "model": model[1]})
            return
        self.transform(args, kwargs) if name == "transform_data" else self.both(name, args, kwargs)

    def transform(self, args, kwargs):
        if self.both("transform_data", args, kwargs)[0][0] == "ok":
            data_now = self.real.data
            assert type(data_now) in (str, int, type(None)) and alike(data_now, self.model._data)
            self.model._data = data_now  # from now on the new object is compared by identity

    @precondition(lambda self: not self.unbuilt_checked)
    @rule(data=st.data())
    def unbuilt(self, data):
        """Calls on an instance whose record was never built, real and model
        side by side. Replacing Morvane.__new__ cannot be undone within a
        process, so this runs in a forked child."""
        self.unbuilt_checked = True
        calls = []
        for _ in range(data.draw(st.integers(1, 6), label="calls")):
            name = data.draw(st.sampled_from(METHODS[:-1] + ["current_state", "initial_state", "data"]), label="method")
            params = SIGNATURES.get(name, [])
            values = [data.draw(strategy, label=param) for param, strategy in params]
            calls.append((name, *data.draw(call_shape([param for param, _ in params], values), label="shape")))

        def check():
            Morvane.__new__ = lambda cls, *args, **kwargs: object.__new__(cls)
            targets = {"real": Morvane(), "model": object.__new__(Model)}
            SIDES.update(targets)
            for name, args, kwargs in calls:
                if name in ("current_state", "initial_state", "data"):
                    outcomes = [outcome(lambda: getattr(target, name)) for target in targets.values()]
                    assert outcomes[0] == outcomes[1] and outcomes[0][0] is TypeError, outcomes
                else:
                    self.both(name, args, kwargs, targets)
            SIDES.update(real=None, model=None)
            del targets  # the unbuilt instance is released here, with nothing to release

        in_child(check)

    @rule(data=st.data())
    def connect(self, data):
        states = sorted(self.model._states) or STATES
        chars = [c for c in self.model._alphabet if len(c) == 1] or CHARS
        of, char, to = (data.draw(st.sampled_from(pool)) for pool in (states, sorted(chars), states))
        self.both("add_transition", [of, char, to], {})

    @rule(data=st.data())
    def walk(self, data):
        chars = sorted({c for c in self.model._alphabet if len(c) == 1} | {"z"})
        word = data.draw(st.text(st.sampled_from(chars), max_size=8))
        for name in ("simulate", "accept"):
            self.both(name, [word], {})
        for char in word[:3]:
            self.both("step", [char], {})

    @rule(data=st.data())
    def round_trip(self, data):
        """The toolkit's copies: copy() takes the instance's place (the model goes
        on agreeing with it, data identity included); to_table/from_table, JSON
        and pickle give twins whose whole observable state matches."""
        how = data.draw(st.sampled_from(["copy", "table", "json", "pickle"]), label="round trip")
        real = self.real
        if how == "copy":
            self.real = morvane_tools.copy(real)
            SIDES.update(real=self.real)
            return
        if how == "table":
            twin = morvane_tools.from_table(morvane_tools.to_table(real), real.initial_state, real.get_finals(),
                                            states=real.get_states(), alphabet=real.get_alphabet())
            assert twin.history_len() == 0 and twin.data is None and twin.current_state == real.initial_state
            assert sorted(twin.get_transitions()) == sorted(real.get_transitions())
            return
        if how == "json":
            layout = data.draw(st.sampled_from(["rows", "packed"]), label="layout")
            twin = morvane_tools.loads(morvane_tools.dumps(real, unsupported="omit", layout=layout))
            kept = json_value
        else:
            if any(isinstance(value, Probe) for value in [real.data, *(d for _, d in real.get_history())]):
                return  # the probes' classes are made at run time: pickle cannot name them
            morvane_tools.enable_pickle()  # here, not at import: other modules' tests see the class as it ships
            twin = pickle.loads(pickle.dumps(real))
            kept = lambda value: True  # noqa: E731
        for query in ("get_states", "get_alphabet", "get_finals", "current_state", "initial_state"):
            here, there = (getattr(m, query) for m in (real, twin))
            assert (here() if callable(here) else here) == (there() if callable(there) else there), query
        assert sorted(twin.get_transitions()) == sorted(real.get_transitions())
        originals = [real.data, *(value for _, value in real.get_history())]
        copies = [twin.data, *(value for _, value in twin.get_history())]
        assert [state for state, _ in real.get_history()] == [state for state, _ in twin.get_history()]
        for original, copied in zip(originals, copies, strict=True):
            if kept(original):
                assert type(copied) is type(original) and (copied == original or copied != copied)
            else:
                assert copied is None
        for (a, b), (c, d) in itertools.product(zip(originals, copies), repeat=2):
            if kept(a) and kept(c) and type(a) in (list, dict):
                assert (a is c) == (b is d), "containers shared before are shared after, and only those"

    @invariant()
    def agree(self):
        if self.real is None:
            return
        seen = {}
        for side, target in (("real", self.real), ("model", self.model)):
            with running(side):
                transitions = target.get_transitions()
                seen[side] = [target.current_state, target.initial_state, target.available_symbols(),
                              target.is_accepted(), target.history_len(), type(transitions), sorted(transitions),
                              target.get_history(), target.data]
        real, model = seen["real"], seen["model"]
        assert alike(real[:7], model[:7]), (real[:7], model[:7])
        assert len(real[7]) == len(model[7]) and all(map(pairs_alike, real[7], model[7])), (real[7], model[7])
        assert same(real[8], model[8]), (real[8], model[8])
        assert LOGS == {"real": [], "model": []} and UNRAISABLE == {"real": [], "model": []}


TestMorvaneModel = MorvaneMachine.TestCase
TestMorvaneModel.settings = PROFILE

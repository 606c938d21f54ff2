"""morvane's peers: plain Python, the re module, automata-lib, the
transitions package and the floor (a plain C++ loop over the same dense
table, floor/floor.cpp), each built from a workloads.Dfa.

A peer of whole-input acceptance is one function decorated with
@accept_peer: the accept section measures every one of them on every
automaton it applies to. A package that may be missing is imported here
with a fallback of None, and its peer says so in a note.
"""

from __future__ import annotations

import hashlib
import importlib.util
import os
import re
import subprocess
import sys
import sysconfig
import tempfile
from pathlib import Path
from types import ModuleType
from typing import Callable

from harness import Call, Context, Goal, Peer
from workloads import Dfa

try:
    from automata.fa.dfa import DFA
except ImportError:
    DFA = None

try:
    from transitions import Machine
except ImportError:
    Machine = None

HERE = Path(__file__).resolve().parent

# The optional packages among the peers (distribution names): the header and
# the JSON report name the version of each, or that it is not installed.
PEER_PACKAGES = ["automata-lib", "transitions"]

# ---- plain Python ------------------------------------------------------------------


def python_accept(delta: dict, initial: str, finals, text: str) -> bool:
    state = initial
    for symbol in text:
        state = delta[state].get(symbol)
        if state is None:
            return False
    return state in finals


def python_simulate(delta: dict, start: str, text: str) -> list[str]:
    state = start
    path = [state]
    append = path.append
    for symbol in text:
        state = delta[state][symbol]
        append(state)
    return path


class PythonStepper:
    """Stepping with an undo history, in plain Python: per-state dicts of
    transitions and a list of (state, data) tuples."""

    __slots__ = ("delta", "current", "data", "history")

    def __init__(self, delta: dict, initial: str):
        self.delta = delta
        self.current = initial
        self.data = None
        self.history = []

    def step(self, symbol: str) -> bool:
        # The same refusals as morvane's step: a str of exactly one character.
        if not isinstance(symbol, str):
            raise TypeError(f"'{type(symbol).__qualname__}' object is not an instance of 'str'")
        if len(symbol) != 1:
            raise ValueError("expected a string of length 1")
        self.history.append((self.current, self.data))
        target = self.delta[self.current].get(symbol)
        if target is None:
            return False
        self.current = target
        return True

    def undo(self) -> bool:
        if not self.history:
            return False
        self.current, self.data = self.history.pop()
        return True


def dict_get_call() -> Call:
    """The yardstick for single calls: a bound dict.get on a present key."""
    table = {f"q{i}": i for i in range(50)}
    return Call("get(key)", {"get": table.get, "key": "q17"})


# ---- packages ---------------------------------------------------------------------------


def automata_lib_dfa(dfa: Dfa):
    return DFA(
        states=set(dfa.names),
        input_symbols=set(dfa.symbols),
        transitions=dfa.to_dicts(),
        initial_state=dfa.initial_name,
        final_states=dfa.final_names,
    )


def transitions_machine(dfa: Dfa):
    """A transitions.Machine with one trigger per symbol; a symbol without a
    transition from the current state is ignored, as a failed step."""
    model = type("Model", (), {})()
    moves = [[symbol, origin, target] for origin, symbol, target in dfa.edges()]
    # Symbols without any transition still need a trigger: give them one from
    # a state that is never reached.
    idle = [[symbol, "unreached", "unreached"] for symbol in dfa.symbols if all(m[0] != symbol for m in moves)]
    Machine(
        model=model,
        states=[*dfa.names, "unreached"],
        transitions=moves + idle,
        initial=dfa.initial_name,
        auto_transitions=False,
        ignore_invalid_triggers=True,
    )
    return model


# ---- the floor ------------------------------------------------------------------


def build_floor() -> ModuleType:
    """Compiles benchmarks/floor/floor.cpp for this interpreter (once per
    source and interpreter) and imports it."""
    source = HERE / "floor" / "floor.cpp"
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    digest = hashlib.sha256(source.read_bytes() + sys.version.encode() + suffix.encode()).hexdigest()[:16]
    target = Path(tempfile.gettempdir()) / f"morvane-bench-floor-{digest}" / f"floor{suffix}"
    if not target.exists():
        target.parent.mkdir(parents=True, exist_ok=True)
        partial = target.with_name(f"{target.name}.{os.getpid()}.tmp")
        include = sysconfig.get_paths()["include"]
        compiler = os.environ.get("CXX", "g++")
        command = [compiler, "-std=c++20", "-O2", "-shared", "-fPIC", f"-I{include}", str(source), "-o", str(partial)]
        subprocess.run(command, check=True)
        os.replace(partial, target)
    location = importlib.util.spec_from_file_location("floor", target)
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


def load_floor(floor: ModuleType, dfa: Dfa) -> ModuleType:
    """Loads the table into the floor, which holds one table at a time."""
    floor.load_table(dfa.names, dfa.symbols, dfa.targets, dfa.finals, dfa.initial)
    return floor


# ---- whole-input acceptance ----------------------------------------------------------
AcceptPeer = Callable[[Context, Dfa, str], "Peer | None"]
ACCEPT_PEERS: list[AcceptPeer] = []


def accept_peer(factory: AcceptPeer) -> AcceptPeer:
    """Registers a peer of `accept`, measured in the order of this file. It
    gets the context, the automaton and the input, and returns a Peer whose
    run() answers as morvane's accept(text) does, or None where it does not
    apply (the automaton has no pattern, the package is missing: then a
    ctx.note says why its rows are skipped)."""
    ACCEPT_PEERS.append(factory)
    return factory


def accept_peers(ctx: Context, dfa: Dfa, text: str) -> list[Peer]:
    return [peer for factory in ACCEPT_PEERS if (peer := factory(ctx, dfa, text)) is not None]


@accept_peer
def python_loop_peer(ctx: Context, dfa: Dfa, text: str) -> Peer:
    delta, initial, finals = dfa.to_dicts(), dfa.initial_name, dfa.final_names
    return Peer("pure-Python loop", lambda: python_accept(delta, initial, finals, text), Goal.faster(10))


@accept_peer
def re_peer(ctx: Context, dfa: Dfa, text: str) -> Peer | None:
    if dfa.pattern is None:
        return None
    pattern = re.compile(dfa.pattern)
    return Peer("re.fullmatch", lambda: pattern.fullmatch(text) is not None)


@accept_peer
def automata_lib_peer(ctx: Context, dfa: Dfa, text: str) -> Peer | None:
    if DFA is None:
        ctx.note("automata-lib is not installed: its rows are skipped.")
        return None
    automaton = automata_lib_dfa(dfa)
    return Peer("automata-lib DFA", lambda: automaton.accepts_input(text))


@accept_peer
def floor_peer(ctx: Context, dfa: Dfa, text: str) -> Peer:
    floor = load_floor(ctx.floor, dfa)
    return Peer("floor (C++ loop)", lambda: floor.accept(text), Goal.within(1.5))

"""Coverage-guided fuzzing of the morvane extension with atheris.

The fuzzer's bytes drive the stateful model test of the suite
(tests/test_model.py): one Morvane and the plain-Python model of it
(tests/model.py) built alike, then a sequence of its rules — every method
with good and bad arguments and call shapes, context data whose __str__,
__index__ and finaliser raise or call back into the instance, keyword dicts
emptied while the call converts them, and calls on an instance whose record
was never built — each checked against the model, outcome by outcome, with
the machine's invariant after every rule; once both are released no context
data object may be left alive. Hypothesis turns each input into those
choices, so whatever the fuzzer finds, the model test can replay.

Some inputs then save the instance with morvane_tools.dumps, damage the
document at a few places and load it: loads must give a whole automaton
whose document reads back the same, or raise ValueError, nothing else.

Run it through tools/fuzz.sh, which builds the instrumented extension and
preloads the sanitizer runtime that carries libFuzzer.
"""
import sys
from pathlib import Path

import atheris
import morvane_tools

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

with atheris.instrument_imports(include=["model", "test_model"]):
    from hypothesis import HealthCheck, given, settings, strategies as st
    from test_model import LIVE_PROBES, MorvaneMachine

MAX_RULES = 48
# The machine's rules as hypothesis records them; each takes one st.data().
RULES = [getattr(MorvaneMachine, name).hypothesis_stateful_rule for name in dir(MorvaneMachine)
         if hasattr(getattr(MorvaneMachine, name), "hypothesis_stateful_rule")]


@settings(database=None, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.data())
def run_machine(data):
    """The steps of a stateful run: build, rules drawn one by one, the
    invariant after each, teardown."""
    machine = MorvaneMachine()
    try:
        machine.build(data)
        machine.agree()
        for _ in range(data.draw(st.integers(0, MAX_RULES), label="rules")):
            rule = data.draw(st.sampled_from(RULES), label="rule")
            if all(precondition(machine) for precondition in rule.preconditions):
                rule.function(machine, data)
                machine.agree()
        if data.draw(st.booleans(), label="save"):
            damaged_document(data, machine.real)
    finally:
        machine.teardown()
    del machine
    assert LIVE_PROBES == {"real": 0, "model": 0}, f"context data kept alive after release: {LIVE_PROBES}"


def damaged_document(data, m):
    """A saved instance, damaged at up to three places, must load whole or raise ValueError."""
    layout = data.draw(st.sampled_from(["rows", "packed"]), label="layout")
    text = morvane_tools.dumps(m, unsupported="omit", layout=layout)
    for _ in range(data.draw(st.integers(0, 3), label="damages")):
        at, cut = data.draw(st.integers(0, len(text)), label="at"), data.draw(st.integers(0, 4), label="cut")
        text = text[:at] + data.draw(st.text(max_size=3), label="insert") + text[at + cut:]
    try:
        loaded = morvane_tools.loads(text)
    except ValueError:
        return
    again = morvane_tools.dumps(loaded, sort_transitions=True)
    assert morvane_tools.dumps(morvane_tools.loads(again), sort_transitions=True) == again, ("reload", again)


def main():
    atheris.Setup(sys.argv, run_machine.hypothesis.fuzz_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

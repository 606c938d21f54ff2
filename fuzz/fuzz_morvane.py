"""Coverage-guided fuzzing of the morvane extension with atheris.

The fuzzer's bytes drive the stateful model test of the suite
(tests/test_model.py): one Morvane and the plain-Python model of it
(tests/model.py) built alike, then a sequence of its rules — every method
with good and bad arguments and call shapes, context data whose __str__,
__index__ and finaliser raise or call back into the instance, keyword dicts
emptied while the call converts them, and calls on an instance whose record
was never built — each checked against the model, outcome by outcome, with
the machine's invariant after every rule, and once both are released no context data
object may be left alive. Hypothesis turns each input into
those choices, so whatever the fuzzer finds, the model test can replay.

Run it through tools/fuzz.sh, which builds the instrumented extension and
preloads the sanitizer runtime that carries libFuzzer.
"""
import sys
from pathlib import Path

import atheris

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

with atheris.instrument_imports(include=["model", "test_model"]):
    from hypothesis import HealthCheck, given, settings, strategies as st
    from test_model import LIVE_PROBES, MorvaneMachine

MAX_RULES = 48


@settings(database=None, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.data())
def run_machine(data):
    """The steps of a stateful run: build, rules drawn one by one, the
    invariant after each, teardown."""
    machine = MorvaneMachine()
    try:
        machine.build(data)
        machine.agree()
        rules = [machine.call, machine.context, machine.connect, machine.walk, machine.unbuilt]
        for _ in range(data.draw(st.integers(0, MAX_RULES), label="rules")):
            rule = data.draw(st.sampled_from(rules), label="rule")
            if rule == machine.unbuilt and machine.unbuilt_checked:
                continue
            rule(data)
            machine.agree()
    finally:
        machine.teardown()
    del machine
    assert LIVE_PROBES == {"real": 0, "model": 0}, f"context data kept alive after release: {LIVE_PROBES}"


def main():
    atheris.Setup(sys.argv, run_machine.hypothesis.fuzz_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

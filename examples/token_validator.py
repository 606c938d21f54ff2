"""Classify the tokens of a line of text with three small automata.

Each token class (identifier, integer, decimal number) is a deterministic
finite automaton. A token belongs to the first class whose automaton accepts
it; for a token that no class accepts, the example replays it with
simulate() to show where it went wrong.
"""

import string

from morvane import Morvane

DIGITS = string.digits
LETTERS = string.ascii_letters + "_"


def identifier() -> Morvane:
    """[A-Za-z_][A-Za-z0-9_]*"""
    m = Morvane({"start", "name"}, set(LETTERS + DIGITS), "start", {"name"})
    for ch in LETTERS:
        m.add_transition("start", ch, "name")
    for ch in LETTERS + DIGITS:
        m.add_transition("name", ch, "name")
    return m


def integer() -> Morvane:
    """-?[0-9]+"""
    m = Morvane({"start", "sign", "digits"}, set(DIGITS + "-"), "start", {"digits"})
    m.add_transition("start", "-", "sign")
    for ch in DIGITS:
        m.add_transition("start", ch, "digits")
        m.add_transition("sign", ch, "digits")
        m.add_transition("digits", ch, "digits")
    return m


def decimal() -> Morvane:
    """-?[0-9]+\\.[0-9]+"""
    states = {"start", "sign", "whole", "point", "fraction"}
    m = Morvane(states, set(DIGITS + "-."), "start", {"fraction"})
    m.add_transition("start", "-", "sign")
    m.add_transition("whole", ".", "point")
    for ch in DIGITS:
        for origin, target in [("start", "whole"), ("sign", "whole"), ("whole", "whole"),
                               ("point", "fraction"), ("fraction", "fraction")]:
            m.add_transition(origin, ch, target)
    return m


def diagnose(m: Morvane, token: str) -> str:
    """Why `m` rejects `token`, in words."""
    try:
        path = m.simulate(token)
    except ValueError as error:
        return str(error)
    return f"stops in state '{path[-1]}', which is not final"


def main() -> None:
    classes = {"identifier": identifier(), "integer": integer(), "decimal": decimal()}
    line = "rate = 0.25 * base_42 - -17 + 3. + 9x + é"
    print(f"Tokens of: {line}\n")
    print(f"{'token':<10} {'class':<12} note")
    print(f"{'-' * 10} {'-' * 12} {'-' * 40}")
    for token in line.split():
        if token in "=*+-" and len(token) == 1:
            print(f"{token:<10} operator")
            continue
        kind = next((name for name, m in classes.items() if m.accept(token)), None)
        if kind:
            print(f"{token:<10} {kind}")
        else:
            closest = "decimal" if token[:1].isdigit() else "identifier"
            print(f"{token:<10} {'INVALID':<12} as {closest}: {diagnose(classes[closest], token)}")

    # The same automaton driven one symbol at a time, with undo.
    m = classes["decimal"]
    print("\nStepping the decimal automaton through '3.5', then taking one step back:")
    for ch in "3.5":
        m.step(ch)
        print(f"  read {ch!r}: now in {m.current_state!r}, accepted so far: {m.is_accepted()}")
    m.undo()
    print(f"  undo: back in {m.current_state!r} ({m.history_len()} moves remembered)")


if __name__ == "__main__":
    main()

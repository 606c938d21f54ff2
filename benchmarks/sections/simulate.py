"""simulate on a long input: the visited states as a list of new str."""

from harness import Context, Goal, Peer, Row, per_char_rows
from peers import load_floor, python_simulate
from workloads import LETTERS, Dfa, even_as_text, random_text

NAME = "simulate"
TITLE = "c. simulate: the visited states as a list of str, per input character"


def run(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    rows = []
    cases = [
        (f"(A) even a's, 2 states, {length:,} chars", Dfa.even_as(), even_as_text(length)),
        (f"(B) random, 50 states, a-z, {length:,} chars", Dfa.random_total(50), random_text(length, LETTERS)),
    ]
    for what, table, text in cases:
        m = table.to_morvane()
        delta, start = table.to_dicts(), table.initial_name
        floor = load_floor(ctx.floor, table)
        peers = [
            Peer("pure-Python loop", lambda: python_simulate(delta, start, text)),
            Peer("floor (C++ loop)", lambda: floor.simulate(text), Goal.within(1.3)),
        ]
        rows += per_char_rows(ctx, what, length, lambda: m.simulate(text), peers, batched=False)
    ctx.note(
        "the pure-Python path holds the same str objects again and again; morvane and the floor make a new str"
        " per step."
    )
    return rows

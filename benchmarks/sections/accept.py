"""accept on a long input, against every registered accept peer."""

from harness import Context, Row, per_char_rows
from peers import accept_peers
from workloads import LETTERS, Dfa, even_as_text, random_text

NAME = "accept"
TITLE = "a. accept: whole-input acceptance, per input character"


def run(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    cases = [
        (f"(A) even a's, 2 states, {length:,} chars", Dfa.even_as(), even_as_text(length)),
        (f"(B) random, 50 states, a-z, {length:,} chars", Dfa.random_total(50), random_text(length, LETTERS)),
    ]
    rows = []
    for what, table, text in cases:
        m = table.to_morvane()
        rows += per_char_rows(ctx, what, length, lambda: m.accept(text), accept_peers(ctx, table, text))
    return rows

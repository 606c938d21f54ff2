"""accept as the table grows and as the input grows, next to the floor."""

from harness import Context, Row, per_char_rows
from peers import floor_peer
from workloads import LETTERS, SEED, Dfa, random_text

NAME = "scaling"
TITLE = "d. scaling of accept with table size and input length"


def run(ctx: Context) -> list[Row]:
    length = ctx.sizes.input_length
    text = random_text(length, LETTERS)
    rows = []
    for shape, build in (("structured", Dfa.structured), ("random", Dfa.random_total)):
        for count in ctx.sizes.scaling_states:
            table = build(count)
            m = table.to_morvane()
            peers = [floor_peer(ctx, table, text)]
            rows += per_char_rows(
                ctx, f"{shape}, {count:,} states, {length:,} chars", length, lambda: m.accept(text), peers
            )
            del m, table
    ctx.note(
        "the largest tables do not fit the CPU caches: every step of a random walk there is a cache miss, "
        "in morvane and in the floor alike."
    )

    table = Dfa.random_total(50)
    m = table.to_morvane()
    per_length = []
    for size in ctx.sizes.scaling_lengths:
        text = random_text(size, LETTERS, seed=SEED + size)
        peers = [floor_peer(ctx, table, text)]
        per_length += per_char_rows(ctx, f"random, 50 states, {size:,} chars", size, lambda: m.accept(text), peers)
    rows += per_length
    shortest, longest = per_length[0], per_length[-1]
    rows.append(
        Row(
            f"per-char cost, {ctx.sizes.scaling_lengths[-1]:,} vs {ctx.sizes.scaling_lengths[0]:,} chars",
            "ns/char",
            longest.morvane,
            f"morvane at {ctx.sizes.scaling_lengths[0]:,}",
            shortest.morvane,
        )
    )
    return rows

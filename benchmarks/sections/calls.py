"""Single calls against a bound dict.get."""

from harness import Call, CallPeer, Context, Goal, Row, per_call_rows
from peers import dict_get_call, python_accept
from workloads import LETTERS, SEED, Dfa, random_text

NAME = "calls"
TITLE = "b. single calls, against a bound dict.get"


def run(ctx: Context) -> list[Row]:
    table = Dfa.random_total(50)
    m = table.to_morvane()
    short = random_text(8, LETTERS, seed=SEED + 1)
    delta = table.to_dicts()
    baseline = dict_get_call()
    rows = per_call_rows(
        ctx,
        "has_transition(state, symbol)",
        Call("has(state, symbol)", {"has": m.has_transition, "state": "q17", "symbol": "k"}),
        [CallPeer("dict.get", baseline, Goal.within(1.5))],
    )
    rows += per_call_rows(
        ctx,
        "is_final(state)",
        Call("is_final(state)", {"is_final": m.is_final, "state": "q17"}),
        [CallPeer("dict.get", baseline, Goal.within(1.5))],
    )
    python_loop = Call(
        "run(delta, initial, finals, text)",
        {"run": python_accept, "delta": delta, "initial": "q0", "finals": table.final_names, "text": short},
    )
    rows += per_call_rows(
        ctx,
        "accept(8 chars)",
        Call("accept(text)", {"accept": m.accept, "text": short}),
        [CallPeer("dict.get", baseline), CallPeer("pure-Python loop", python_loop)],
    )
    return rows

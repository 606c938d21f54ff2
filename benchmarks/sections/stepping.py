"""step, undo and the history queries, per call."""

from harness import Call, CallPeer, Context, Goal, Row, per_call_rows
from peers import Machine, PythonStepper, dict_get_call, transitions_machine
from workloads import stepping_automaton

NAME = "stepping"
TITLE = "e. stepping and history, per call"


def step_rows(ctx: Context, kind: str, symbol: str) -> list[Row]:
    table, m = stepping_automaton()
    python = PythonStepper(table.to_dicts(), table.initial_name)
    batch = ctx.sizes.step_batch
    peers = [
        CallPeer("dict.get", dict_get_call(), Goal.within(1.25)),
        CallPeer("empty C method (floor)", Call("noop(symbol)", {"noop": ctx.floor.noop, "symbol": symbol})),
        CallPeer(
            "Python class",
            Call(
                "step(symbol)", {"step": python.step, "symbol": symbol, "clear": python.history.clear}, "clear()", batch
            ),
            Goal.faster(10),
        ),
    ]
    if Machine is not None:
        model = transitions_machine(table)
        peers.append(CallPeer("transitions.Machine", Call("fire()", {"fire": getattr(model, symbol)})))
        fresh = transitions_machine(table)
        expected = (m.step(symbol), python.step(symbol), getattr(fresh, symbol)())
        if len(set(expected)) != 1:
            raise AssertionError(f"step({symbol!r}): the implementations disagree: {expected}")
    own = Call("step(symbol)", {"step": m.step, "symbol": symbol, "clear": m.clear_history}, "clear()", batch)
    return per_call_rows(ctx, f"step {kind}", own, peers)


def run(ctx: Context) -> list[Row]:
    if Machine is None:
        ctx.note("the transitions package is not installed: its rows are skipped.")
    ctx.note(
        "each timed batch of steps starts from an empty history (cleared outside the timed region), "
        f"so it holds at most {ctx.sizes.step_batch:,} entries."
    )
    rows = step_rows(ctx, "with a transition", "a") + step_rows(ctx, "without a transition", "c")

    table, m = stepping_automaton()
    python = PythonStepper(table.to_dicts(), table.initial_name)
    rows += per_call_rows(
        ctx,
        "step + undo pair",
        Call("step(s); undo()", {"step": m.step, "undo": m.undo, "s": "a"}),
        [CallPeer("Python class", Call("step(s); undo()", {"step": python.step, "undo": python.undo, "s": "a"}))],
    )

    batch = ctx.sizes.step_batch

    def fill(stepper):
        return lambda: [stepper.step("a") for _ in range(batch)]

    m.set_data(["context"])
    rows += per_call_rows(
        ctx,
        "undo (history not empty)",
        Call("undo()", {"undo": m.undo, "fill": fill(m)}, "fill()", batch),
        [
            CallPeer("dict.get", dict_get_call(), Goal.within(2)),
            CallPeer("Python class", Call("undo()", {"undo": python.undo, "fill": fill(python)}, "fill()", batch)),
        ],
    )
    m.step("a")
    queries = [
        ("peek_history()", Call("peek()", {"peek": m.peek_history})),
        ("history_len()", Call("length()", {"length": m.history_len})),
        ("data (property)", Call("m.data", {"m": m})),
    ]
    for what, own in queries:
        rows += per_call_rows(ctx, what, own, [CallPeer("dict.get", dict_get_call(), Goal.within(2))])
    name, data = m.peek_history()
    rows += per_call_rows(
        ctx,
        "peek_history()",
        Call("peek()", {"peek": m.peek_history}),
        [CallPeer("new (str, obj) in C (floor)", Call("pair(name, data)", {"pair": ctx.floor.pair, "name": name, "data": data}))],
    )
    ctx.note(
        "an empty C method with one argument is the floor of any call; against a Python class, "
        "no method can be faster than that floor allows."
    )
    return rows

"""Calls that the type checkers must refuse, one per line marked "# rejected".

tools/typecheck.sh requires mypy --strict and pyright each to report an error
on exactly the marked lines and nowhere else, so a stub that grew too loose
(Any, a missing parameter, a lost @final or read-only property) fails here.
The module is never run.
"""

import morvane
from morvane import Morvane

m = Morvane({"q0"}, {"a"}, "q0", set())

Morvane(["q0"], {"a"}, "q0", set())  # rejected
Morvane({"q0"}, {"a"}, "q0", {"q0": 1}.keys())  # rejected
Morvane({"q0"}, {1}, "q0", set())  # rejected
Morvane({"q0"}, {"a"}, None, set())  # rejected
Morvane(states={"q0"}, alphabet={"a"}, initial="q0", final=set())  # rejected
m.add_transition("q0", "a")  # rejected
m.add_transition("q0", for_="q0")  # rejected
m.add_transition(of="q0", with_="a", for_="q0")  # rejected
m.remove_transition("q0")  # rejected
m.has_transition(of="q0")  # rejected
m.step(1)  # rejected
m.step(sym="a")  # rejected
m.force_state()  # rejected
m.reset(1)  # rejected
m.accept(None)  # rejected
m.simulate(input=b"ab")  # rejected
m.is_final(State="q0")  # rejected
m.set_data()  # rejected
m.transform_data("int", "add")  # rejected
count: str = m.history_len()  # rejected
states: list[int] = m.get_states()  # rejected
entry: tuple[str, object] = m.peek_history()  # rejected
m.data + 1  # rejected
m.current_state = "q0"  # rejected
m.extra = 1  # rejected
error: Exception = morvane.PanicException()  # rejected


class Derived(Morvane): ...  # rejected

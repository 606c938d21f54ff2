"""Coverage-guided fuzzing of the morvane extension with atheris.

Each input builds one Morvane (sometimes with arguments of the wrong type or
shape) and drives it through a sequence of calls: every method and property,
with valid and invalid arguments, by position and by keyword, with missing,
surplus, duplicate and unknown arguments, and with context data whose
__str__, __index__ or finaliser raises or calls back into the instance.

A plain Python model of the automaton runs beside it. Every call must end as
the model says: its result, or its exception with type, message and note
(documented exception types only; anything else, PanicException included,
is a crash). After every call the instance must agree with the model on its
state, history, data and transition table, and a callback's call into the
instance must have met the borrow error.
When the input is done and the instance released, every probe object handed
to it must have been released too (a lost reference keeps one alive).
Some inputs then save the instance with morvane_tools.dumps, damage the
document at a few places and load it: loads must give a whole automaton
whose document reads back the same, or raise ValueError, nothing else.

Run it through tools/fuzz.sh, which builds the instrumented extension and
preloads the sanitizer runtime that carries libFuzzer.
"""
import sys

import atheris

import morvane_tools
from morvane import Morvane

MAX_CALLS = 48
ALLOWED = (TypeError, ValueError, RuntimeError, UnicodeEncodeError, OverflowError)
INT64 = (-(2**63), 2**63 - 1)

TEXTS = ["", "a", "b", "q0", "q1", "é", "😀", "\x00", "ab", "A", "日", "\U0010ffff", "e\u0301", "\uffff", "\ue000"]
UNENCODABLE = ["\ud800", "q\udfff"]  # lone surrogates
SYMBOLS = ["a", "b", "A", "é", "😀", "\x00", "日", "\U0010ffff", "\ue000", "\ud800", "", "ab"]


class Planted(Exception):
    """Raised on purpose by probe objects."""


class StrSub(str):
    pass


class SetSub(set):
    pass


class Run:
    """What callbacks see: the instance under test and the borrow its current call holds."""
    instance = None
    borrow = None  # None, "shared" or "exclusive"
    live_probes = 0
    violations = []


def note(message):
    if len(Run.violations) < 10:
        Run.violations.append(message)


# Calls that a callback makes into the instance, each with the borrow it takes.
REENTRY = [
    ("shared", lambda m: m.current_state),
    ("shared", lambda m: m.data),
    ("shared", lambda m: m.get_history()),
    ("shared", lambda m: m.accept("ab")),
    ("shared", lambda m: m.get_context_type()),
    ("exclusive", lambda m: m.step("a")),
    ("exclusive", lambda m: m.set_data(None)),
    ("exclusive", lambda m: m.undo()),
    ("exclusive", lambda m: m.reset()),
    ("exclusive", lambda m: m.transform_data("int", "add", 1)),
    ("exclusive", lambda m: m.clear_history()),
]


def call_back(which):
    """Calls into the instance from user code; the call in progress must refuse it."""
    m, outer = Run.instance, Run.borrow
    if m is None or outer is None:
        return
    inner, call = REENTRY[which % len(REENTRY)]
    try:
        call(m)
    except RuntimeError as error:
        expected = "Already borrowed" if inner == "exclusive" else "Already mutably borrowed"
        if str(error) != expected:
            note(f"re-entry {which}: {error!r}, expected {expected!r}")
        return
    except BaseException as error:
        note(f"re-entry {which}: unexpected {error!r}")
        return
    if outer == "exclusive" or inner == "exclusive":
        note(f"re-entry {which} during a {outer} borrow succeeded")


class Probe:
    """Context data whose __str__ and finaliser behave as told."""

    def __init__(self, str_mode, del_mode, which):
        self.str_mode, self.del_mode, self.which = str_mode, del_mode, which
        Run.live_probes += 1

    def __str__(self):
        if self.str_mode == 1:
            return "P\udc80"
        if self.str_mode == 2:
            raise Planted("__str__")
        if self.str_mode == 3:
            call_back(self.which)
            return "R"
        if self.str_mode == 4:
            return 5  # not a str
        return "P"

    def __repr__(self):
        return "Probe"

    def __del__(self):
        Run.live_probes -= 1
        if self.del_mode == 1:
            raise Planted("__del__")
        if self.del_mode == 2:
            call_back(self.which)


class IndexProbe(Probe):
    """A probe with an integer value, given by __index__."""

    def __init__(self, str_mode, del_mode, which, index_mode, value):
        super().__init__(str_mode, del_mode, which)
        self.index_mode, self.value = index_mode, value

    def __index__(self):
        if self.index_mode == 1:
            raise Planted("__index__")
        if self.index_mode == 2:
            call_back(self.which)
        if self.index_mode == 3:
            return "x"  # not an int
        return self.value


def unraisable(report):
    # __del__ and a failing __str__ during transform_data end up here.
    if not issubclass(report.exc_type, (Planted, TypeError)):
        note(f"unraisable {report.exc_type.__name__}: {report.exc_value}")


# ---- the model -------------------------------------------------------------------

def encodable(text):
    try:
        text.encode("utf-8")
        return True
    except UnicodeEncodeError:
        return False


# A failure is (exception type, message), the message None where it is the interpreter's.

def cast_failure(value, expected):
    if value is None:
        return TypeError, f"'None' is not an instance of '{expected}'"
    return TypeError, f"'{type(value).__qualname__}' object is not an instance of '{expected}'"


def as_text(value):
    """(text, None) or (None, failure), as the text conversion does."""
    if not isinstance(value, str):
        return None, cast_failure(value, "str")
    if not encodable(value):
        return None, (UnicodeEncodeError, None)
    return str.__str__(value), None


def as_symbol(value):
    if not isinstance(value, str):
        return None, cast_failure(value, "str")
    if not encodable(value):
        return None, (UnicodeEncodeError, None)
    if len(value) != 1:
        return None, (ValueError, "expected a string of length 1")
    return str.__str__(value), None


def as_set(value):
    if not isinstance(value, (set, frozenset)):
        return None, cast_failure(value, "set")
    texts = set()
    for member in value:
        text, error = as_text(member)
        if error:
            return None, error
        texts.add(text)
    return texts, None


def int_value(value):
    """(int, None) or (None, failure), as PyLong_AsLong does."""
    if isinstance(value, IndexProbe):
        if value.index_mode == 1:
            return None, (Planted, "__index__")
        if value.index_mode == 3:
            return None, (TypeError, None)
        value = value.value
    elif not isinstance(value, int):
        return None, (TypeError, None)
    if not INT64[0] <= value <= INT64[1]:
        return None, (OverflowError, None)
    return int(value), None


def display_text(value):
    """What str() gives for the context data, as transform_data sees it."""
    if isinstance(value, str) and encodable(value):
        return str.__str__(value)
    if isinstance(value, Probe):
        text = {0: "P", 1: "P\udc80", 3: "R"}.get(value.str_mode)
        if text is None:
            return f"<unprintable {type(value).__name__} object>"
    else:
        text = str(value)  # builtins and Morvane: no user code
    return text.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


def describe(value):
    """What the model keeps of a context data object: its id, its text, its
    integer value and its type name. Keeping the object itself would keep it
    alive, and its release during a call is part of what is under test."""
    return id(value), display_text(value), int_value(value)[0] or 0, type(value).__name__


class Model:
    def __init__(self, states, alphabet, initial, finals):
        self.states, self.alphabet, self.finals = states, alphabet, finals
        self.initial = self.current = initial
        self.transitions = {}
        self.history = []  # (state, description of the data)
        self.data = describe(None)

    def walk(self, start, text):
        path = [start]
        for symbol in text:
            target = self.transitions.get((path[-1], symbol))
            if target is None:
                return path, False
            path.append(target)
        return path, True


# ---- decoding the input --------------------------------------------------------

class Source:
    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)

    def left(self):
        return self.fdp.remaining_bytes()

    def int(self, low, high):
        return self.fdp.ConsumeIntInRange(low, high)

    def chance(self, one_in):
        return self.int(1, one_in) == 1

    def pick(self, items):
        return items[self.int(0, len(items) - 1)]

    def text(self):
        kind = self.int(0, 39)
        if kind < 32:
            return self.pick(TEXTS)
        if kind < 34:
            return self.fdp.ConsumeUnicodeNoSurrogates(self.int(0, 3))
        if kind < 36:
            return StrSub(self.pick(TEXTS))
        if kind < 38:
            return self.pick(TEXTS) + self.pick(TEXTS)
        return self.fdp.ConsumeUnicode(2) if kind == 38 else self.pick(UNENCODABLE)

    def junk(self):
        return self.pick([None, 5, 2**70, 3.5, b"a", ["a"], ("a",), {"a": 1}, True, object()])

    def text_argument(self, known=()):
        if self.chance(12):
            return self.junk()
        if known and self.int(0, 2):
            return self.pick(sorted(known))
        return self.text()

    def symbol_argument(self, known=()):
        if self.chance(12):
            return self.junk()
        singles = sorted(s for s in known if len(s) == 1)
        if singles and self.int(0, 2):
            return self.pick(singles)
        if self.chance(6):
            return self.text()
        return self.pick(SYMBOLS)

    def input_text(self, alphabet):
        if self.chance(12):
            return self.junk()
        letters = [s for s in alphabet if len(s) == 1] + SYMBOLS[:9]
        word = "".join(self.pick(letters) for _ in range(self.int(0, 5)))
        return word + "\udc00" if self.chance(20) else word

    def text_set(self):
        if self.chance(40):
            return self.pick([None, ["q0"], ("a",), {"q0": 1}, "q0"])
        members = [self.text() if not self.chance(60) else self.junk() for _ in range(self.int(0, 5))]
        members = [m for m in members if m.__hash__ is not None]
        return self.pick([set, set, frozenset, SetSub])(members)

    def data(self, m):
        kind = self.int(0, 13)
        if kind == 0:
            return None
        if kind == 1:
            return self.int(-3, 3)
        if kind == 2:
            return self.pick([2**63 - 1, -(2**63), 2**63, 2**64 + 5, True, 3.9])
        if kind == 3:
            return self.text()
        if kind == 4:
            return self.pick([[1, "a"], b"\xff", (), {"k": None}])
        if kind in (5, 6, 7):
            return Probe(self.int(0, 4), self.int(0, 2), self.int(0, 99))
        if kind in (8, 9, 10):
            value = self.pick([0, 1, -1, 41, 2**63 - 1, -(2**63), 2**63])
            return IndexProbe(self.int(0, 4), self.int(0, 2), self.int(0, 99), self.int(0, 3), value)
        if kind == 11:
            return m  # a reference cycle, broken before the end
        # A chain of instances, each the context data of the next, with a probe inside.
        inner = Probe(0, self.int(0, 2), self.int(0, 99))
        for _ in range(self.int(1, 120)):
            link = Morvane({"s"}, {"x"}, "s", set())
            link.set_data(inner)
            inner = link
        return inner

    def shape(self, names, values):
        """Arguments for a call: (args, kwargs, whether the binding must fail)."""
        kind = self.int(0, 31)
        if kind < 22 or not names:
            return list(values), {}, False
        if kind < 25:
            return [], dict(zip(names, values)), False
        if kind < 28:
            cut = self.int(0, len(names))
            return list(values[:cut]), dict(zip(names[cut:], values[cut:])), False
        if kind == 28:
            gone = self.int(0, len(names) - 1)  # the others by position before it, by keyword after it
            return list(values[:gone]), dict(zip(names[gone + 1:], values[gone + 1:])), True
        if kind == 29:
            return list(values) + [None], {}, True
        if kind == 30:
            return list(values), {self.pick(["x", "State", "for", "of_", "é"]): 1}, True
        return list(values), {names[self.int(0, len(names) - 1)]: values[0]}, True


# ---- one input -------------------------------------------------------------------

def invoke(borrow, function, args=(), kwargs=None):
    """Calls into the instance; returns (result, exception type, message, notes)."""
    Run.borrow = borrow
    try:
        return function(*args, **(kwargs or {})), None, None, None
    except ALLOWED + (Planted,) as error:
        return None, type(error), str(error), getattr(error, "__notes__", None)
    finally:
        Run.borrow = None


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def agree(m, model):
    """The instance and the model hold the same automaton."""
    check(not Run.violations, Run.violations)
    check(m.current_state == model.current, ("current_state", m.current_state, model.current))
    check(id(m.data) == model.data[0], ("data", m.data))
    history = m.get_history()
    check(m.history_len() == len(history) == len(model.history), "history length")
    check([(s, id(d)) for s, d in history] == [(s, d[0]) for s, d in model.history], ("history", history))
    peek = m.peek_history()
    check(peek == (history[-1] if history else None), ("peek_history", peek))
    table = m.get_transitions()
    check(len(table) == len(model.transitions), ("transitions", table))
    for origin, symbol, target in table:
        check(model.transitions.get((origin, symbol)) == target, ("transition", origin, symbol, target))
        check(m.has_transition(origin, symbol), ("has_transition", origin, symbol))
    symbols = sorted(s for (o, s) in model.transitions if o == model.current)
    check(m.available_symbols() == symbols, ("available_symbols", m.available_symbols(), symbols))
    check(m.is_accepted() == (model.current in model.finals), "is_accepted")


def expect_failure(outcome, failure, parameter=None):
    """The call raised the failure, with the note naming the parameter or without any note."""
    error, message = failure
    check(outcome[1] is error and message in (None, outcome[2]), (outcome, "expected", failure))
    notes = [f"while processing '{parameter}'"] if parameter else None
    check(outcome[3] == notes, (outcome, "expected notes", notes))


def run_call(source, m, model):
    """One call on the instance, checked against the model."""
    op = source.int(0, 31)
    states, alphabet = model.states, model.alphabet

    if op >= 28:  # no-argument methods, called with an argument; properties assigned; foreign receiver
        kind = op - 28
        if kind == 0:
            name = source.pick(["get_states", "undo", "reset", "get_history", "clear_data", "is_accepted"])
            outcome = invoke(None, getattr(m, name), (1,))
            expect_failure(outcome, (TypeError, None))
        elif kind == 1:
            name = source.pick(["current_state", "initial_state", "data", "foo"])
            try:
                setattr(m, name, "q0") if source.int(0, 1) else delattr(m, name)
                raise AssertionError(f"{name} could be set")
            except AttributeError:
                pass
        elif kind == 2:
            outcome = invoke(None, Morvane.step, (object(), "a"))
            expect_failure(outcome, (TypeError, None))
        else:  # results belong to the caller: changing them changes nothing (checked by agree)
            for listing in (m.get_transitions(), m.get_history(), m.available_symbols(), m.get_states()):
                listing.append("z")
                listing.pop(0)
        return

    # Methods with parameters: (name, parameter names, argument makers, borrow).
    text = lambda known=(): source.text_argument(known)
    symbol = lambda: source.symbol_argument(alphabet)
    key = lambda: source.pick(sorted(model.transitions)) if model.transitions and source.int(0, 1) \
        else (text(states), symbol())
    table = [
        ("add_transition", ("of", "with", "for_"), lambda: (text(states), symbol(), text(states)), "exclusive"),
        ("remove_transition", ("of", "with"), lambda: key(), "exclusive"),
        ("has_transition", ("of", "with"), lambda: key(), "shared"),
        ("step", ("symbol",), lambda: (symbol(),), "exclusive"),
        ("force_state", ("state_id",), lambda: (text(states),), "exclusive"),
        ("accept", ("st",), lambda: (source.input_text(alphabet),), "shared"),
        ("simulate", ("input",), lambda: (source.input_text(alphabet),), "shared"),
        ("is_final", ("state",), lambda: (text(model.finals | states),), "shared"),
        ("set_data", ("new_data",), lambda: (source.data(m),), "exclusive"),
        ("update_context", ("new_data",), lambda: (source.data(m),), "exclusive"),
        ("transform_data", ("data_type_result", "operation", "assert_val"),
         lambda: (text({"str", "int", "STR", "float"}), text({"concat", "add", "clear", "noop"}),
                  source.data(m) if source.int(0, 1) else source.pick([1, -1, 2**63, "x", "\udc80", 2.0])),
         "exclusive"),
    ]
    no_args = ["get_states", "get_alphabet", "get_finals", "get_transitions", "available_symbols", "undo",
               "reset", "get_history", "history_len", "peek_history", "clear_history", "is_accepted",
               "clear_data", "get_context_type", "current_state", "initial_state", "data"]

    if op >= len(table):
        name = no_args[(op - len(table)) % len(no_args)]
        exclusive = name in ("undo", "reset", "clear_history", "clear_data")
        if name in ("current_state", "initial_state", "data"):
            outcome = invoke("shared", lambda: getattr(m, name))
        else:
            outcome = invoke("exclusive" if exclusive else "shared", getattr(m, name))
        run_plain(name, outcome, m, model)
        return

    name, names, make, borrow = table[op]
    values = make()
    args, kwargs, bad_shape = source.shape(names, values)
    outcome = invoke(borrow, getattr(m, name), args, kwargs)
    if bad_shape:
        expect_failure(outcome, (TypeError, None))
        return
    run_with_arguments(name, names, values, outcome, model)


def run_plain(name, outcome, m, model):
    result, error = outcome[:2]
    check(error is None, (name, outcome))
    if name == "undo":
        check(result is bool(model.history), "undo result")
        if model.history:
            model.current, model.data = model.history.pop()
    elif name == "reset":
        model.current, model.history, model.data = model.initial, [], describe(None)
    elif name == "clear_history":
        model.history = []
    elif name == "clear_data":
        model.data = describe(None)
    elif name == "history_len":
        check(result == len(model.history), "history_len")
    elif name == "get_context_type":
        check(result == model.data[3], ("get_context_type", result, model.data[3]))
    elif name in ("get_states", "get_alphabet", "get_finals"):
        expected = {"get_states": model.states, "get_alphabet": model.alphabet, "get_finals": model.finals}[name]
        check(result == sorted(expected), (name, result))
    elif name in ("current_state", "initial_state"):
        check(result == (model.current if name == "current_state" else model.initial), (name, result))


def run_with_arguments(name, names, values, outcome, model):
    result, error = outcome[:2]
    converters = {
        "add_transition": (as_text, as_symbol, as_text), "remove_transition": (as_text, as_symbol),
        "has_transition": (as_text, as_symbol), "step": (as_symbol,), "force_state": (as_text,),
        "accept": (as_text,), "simulate": (as_text,), "is_final": (as_text,),
        "transform_data": (as_text, as_text),
    }.get(name, ())
    converted = []
    for convert, value, parameter in zip(converters, values, names):
        text, failure = convert(value)
        if failure:
            expect_failure(outcome, failure, parameter)
            return
        converted.append(text)

    if name == "add_transition":
        origin, symbol, target = converted
        if origin not in model.states or target not in model.states:
            expect_failure(outcome, (ValueError, "Erro: Um ou ambos os estados nao pertencem ao automato."))
            return
        if symbol not in model.alphabet:
            expect_failure(outcome, (ValueError, f"Erro: O simbolo '{symbol}' nao pertence ao alfabeto do automato."))
            return
        if (origin, symbol) in model.transitions:
            expect_failure(outcome, (ValueError, f"Erro: O estado '{origin}' ja possui uma transicao definida "
                                                 f"para o simbolo '{symbol}'."))
            return
        model.transitions[origin, symbol] = target
    elif name == "remove_transition":
        if tuple(converted) not in model.transitions:
            expect_failure(outcome, (ValueError, "Erro: Nao existe transicao definida para o estado '{}' "
                                                 "com o simbolo '{}'.".format(*converted)))
            return
        del model.transitions[tuple(converted)]
    elif name == "has_transition":
        check(result is (tuple(converted) in model.transitions), "has_transition")
    elif name == "step":
        model.history.append((model.current, model.data))
        target = model.transitions.get((model.current, converted[0]))
        check(result is (target is not None), ("step", result))
        if target is not None:
            model.current = target
    elif name == "force_state":
        if converted[0] not in model.states:
            expect_failure(outcome, (ValueError, "O estado destino nao existe no automato."))
            return
        model.history.append((model.current, model.data))
        model.current = converted[0]
    elif name == "accept":
        path, complete = model.walk(model.initial, converted[0])
        check(result is (complete and path[-1] in model.finals), ("accept", converted[0], result))
    elif name == "simulate":
        path, complete = model.walk(model.current, converted[0])
        if not complete:
            stuck_on = converted[0][len(path) - 1]
            expect_failure(outcome, (ValueError, f"Erro: Nao ha transicao definida a partir do estado "
                                                 f"'{path[-1]}' com o simbolo '{stuck_on}'."))
            return
        check(result == path, ("simulate", result, path))
    elif name == "is_final":
        check(result is (converted[0] in model.finals), "is_final")
    elif name in ("set_data", "update_context"):
        model.data = describe(values[0])
    elif name == "transform_data":
        run_transform(converted, values[2], outcome, model)
        return
    check(error is None, (name, outcome))


def run_transform(converted, assert_val, outcome, model):
    result_type, operation = converted
    error = outcome[1]
    if operation == "clear":
        expected = None
    elif result_type == "str":
        expected = model.data[1]
        if operation == "concat":
            suffix, failure = as_text(assert_val)
            if failure:
                expect_failure(outcome, failure)
                return
            expected += suffix
    elif result_type == "int":
        expected = model.data[2]
        if operation == "add":
            addend, failure = int_value(assert_val)
            if failure:
                expect_failure(outcome, failure)
                return
            expected = (expected + addend + 2**63) % 2**64 - 2**63
    else:
        expect_failure(outcome, (TypeError, "Tipo de dado nao suportado. Use 'str' ou 'int'."))
        return
    check(error is None, ("transform_data", outcome))
    data = Run.instance.data
    check(data == expected and type(data) is type(expected), ("transform_data", data, expected))
    model.data = describe(data)


def construct(source):
    """Constructor call: (instance or None, model or None)."""
    values = (source.text_set(), source.text_set(), source.text_argument(), source.text_set())
    names = ("states", "alphabet", "initial", "finals")
    args, kwargs, bad_shape = source.shape(names, values)
    outcome = invoke(None, Morvane, args, kwargs)
    if bad_shape:
        expect_failure(outcome, (TypeError, None))
        return None, None
    converted = []
    for convert, value, parameter in zip((as_set, as_set, as_text, as_set), values, names):
        text, failure = convert(value)
        if failure:
            expect_failure(outcome, failure, parameter)
            return None, None
        converted.append(text)
    check(outcome[1] is None, outcome)
    return outcome[0], Model(*converted)


def damaged_document(source, m):
    """A saved instance, damaged at up to three places, must load whole or raise ValueError."""
    text = morvane_tools.dumps(m, unsupported="omit", layout=source.pick(["rows", "packed"]))
    for _ in range(source.int(0, 3)):
        at, cut = source.int(0, len(text)), source.int(0, 4)
        text = text[:at] + source.fdp.ConsumeUnicode(source.int(0, 3)) + text[at + cut:]
    try:
        loaded = morvane_tools.loads(text)
    except ValueError:
        return
    except Exception as error:
        check(False, ("loads", type(error).__name__, str(error)[:200]))
        return
    again = morvane_tools.dumps(loaded, sort_transitions=True)
    check(morvane_tools.dumps(morvane_tools.loads(again), sort_transitions=True) == again, ("reload", again))


def test_one_input(data):
    Run.violations.clear()
    source = Source(data)
    m, model = construct(source)
    if m is not None:
        Run.instance = m
        try:
            for _ in range(MAX_CALLS):
                if not source.left():
                    break
                run_call(source, m, model)
                agree(m, model)
            if source.left() and source.chance(4):
                damaged_document(source, m)
            # A reference cycle through the instance is not collected: break it.
            if id(m) in [model.data[0]] + [d[0] for _, d in model.history]:
                m.reset()
        finally:
            Run.instance = None
        del m, model
    check(not Run.violations, Run.violations)
    check(Run.live_probes == 0, f"{Run.live_probes} probe(s) still alive after release")


def main():
    sys.unraisablehook = unraisable
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

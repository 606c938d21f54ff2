"""A plain-Python model of morvane.Morvane: the same surface, results, exceptions,
messages and notes, including argument binding and the borrow flag.

It holds Python objects exactly where the extension does (the context data and
one snapshot per history entry), takes each new reference before it drops the
old one and drops them in the same order, so finalisers of context data run at
the same moments. Python code that runs while a borrow is held (``__str__`` and
``__index__`` of the data, finalisers) meets the same borrow errors.
``object.__new__(Model)`` stands for an instance whose record was never built.
"""

import contextlib
import operator
import sys
import types

INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1
SHARED, EXCLUSIVE = "shared", "exclusive"
UNBUILT = "'Morvane' object was not initialised by Morvane(...)"


# ---- conversions at the boundary ---------------------------------------------------
def cast_error(value, expected):
    if value is None:
        return TypeError(f"'None' is not an instance of '{expected}'")
    return TypeError(f"'{type(value).__qualname__}' object is not an instance of '{expected}'")


def text(value):
    if not isinstance(value, str):
        raise cast_error(value, "str")
    value.encode("utf-8")  # UnicodeEncodeError for lone surrogates
    return str.__str__(value)


def symbol(value):
    value = text(value)
    if len(value) != 1:
        raise ValueError("expected a string of length 1")
    return value


def string_set(value):
    if not isinstance(value, (set, frozenset)):
        raise cast_error(value, "set")
    return {text(member) for member in value}


def int64(value):
    """The interpreter's PyLong_AsLong."""
    value = operator.index(value)
    if not INT64_MIN <= value <= INT64_MAX:
        raise OverflowError("Python int too large to convert to C long")
    return int(value)


def wrap64(value):
    return (value - INT64_MIN) % 2**64 + INT64_MIN


def report_unraisable(error, obj):
    """What PyErr_WriteUnraisable does with the current exception."""
    sys.unraisablehook(types.SimpleNamespace(exc_type=type(error), exc_value=error,
                                             exc_traceback=error.__traceback__, err_msg=None, object=obj))


MAX_NESTED_NAMES = 8  # only a name that is an instance of its own type nests that deep


def display(obj, level=0):
    """str(obj) as UTF-8 text. A failure is reported and the text is
    "<unprintable NAME object>", NAME being the type's name displayed in turn."""
    try:
        result = str(obj)
    except Exception as error:
        report_unraisable(error, obj)
        if level == MAX_NESTED_NAMES:
            return "<unprintable object>"
        return f"<unprintable {display(type(obj).__name__, level + 1)} object>"
    return result.encode("utf-8", "surrogatepass").decode("utf-8", "replace")


# ---- the call frame ------------------------------------------------------------------
def bind(method, params, args, kwargs):
    full = f"Morvane.{method}()"
    if len(args) > len(params):
        were = "was" if len(args) == 1 else "were"
        raise TypeError(f"{full} takes {len(params)} positional arguments but {len(args)} {were} given")
    bound = dict(zip(params, args))
    for name, value in kwargs.items():
        if name in bound:
            raise TypeError(f"{full} got multiple values for argument '{name}'")
        if name not in params:
            raise TypeError(f"{full} got an unexpected keyword argument '{name}'")
        bound[name] = value
    missing = [f"'{name}'" for name in params if name not in bound]
    if missing:
        listed = missing[0] if len(missing) == 1 else " and ".join(missing) if len(missing) == 2 \
            else ", ".join(missing[:-1]) + ", and " + missing[-1]
        plural = "argument" if len(missing) == 1 else "arguments"
        raise TypeError(f"{full} missing {len(missing)} required positional {plural}: {listed}")
    return [bound[name] for name in params]


def convert(conversion, value, param):
    if conversion is None:
        return value
    try:
        return conversion(value)
    except Exception as error:
        error.add_note(f"while processing '{param}'")
        raise


def method(borrow, *params):
    """An entry: bind, borrow, convert in parameter order, run the operation."""
    def wrap(operation):
        def entry(self, /, *args, **kwargs):
            if not params and (args or kwargs):  # the host's own no-argument check
                given = "takes no keyword arguments" if kwargs else f"takes no arguments ({len(args)} given)"
                raise TypeError(f"Morvane.{operation.__name__}() {given}")
            values = bind(operation.__name__, [name for name, _ in params], args, kwargs)
            with self._borrow(borrow):
                return operation(self, *[convert(conv, value, name) for (name, conv), value in zip(params, values)])
        return entry
    return wrap


def getter(function):
    def read(self):
        with self._borrow(SHARED):
            return function(self)
    return property(read)


class Model:
    def __init__(self, /, *args, **kwargs):
        params = ("states", string_set), ("alphabet", string_set), ("initial", text), ("finals", string_set)
        values = bind("__new__", [name for name, _ in params], args, kwargs)
        self._states, self._alphabet, self._initial, self._finals = (
            convert(conv, value, name) for (name, conv), value in zip(params, values))
        self._current, self._data, self._transitions, self._history, self._flag = self._initial, None, {}, [], 0

    @contextlib.contextmanager
    def _borrow(self, kind):
        if "_flag" not in vars(self):  # made by object.__new__, never initialised
            raise TypeError(UNBUILT)
        if kind == SHARED:
            if self._flag == -1:
                raise RuntimeError("Already mutably borrowed")
            self._flag += 1
        else:
            if self._flag != 0:
                raise RuntimeError("Already borrowed")
            self._flag = -1
        try:
            yield
        finally:
            self._flag = self._flag - 1 if kind == SHARED else 0

    def _replace_data(self, new):
        old, self._data = self._data, new
        del old  # the old reference goes only after the new one is stored

    def _drop_history(self):
        while self._history:
            del self._history[0]  # oldest first

    current_state = getter(lambda self: self._current)
    initial_state = getter(lambda self: self._initial)
    data = getter(lambda self: self._data)

    @method(SHARED)
    def get_states(self):
        return sorted(self._states)

    @method(SHARED)
    def get_alphabet(self):
        return sorted(self._alphabet)

    @method(SHARED)
    def get_finals(self):
        return sorted(self._finals)

    # ---- transitions ----
    @method(EXCLUSIVE, ("of", text), ("with", symbol), ("for_", text))
    def add_transition(self, of, char, for_):
        if of not in self._states or for_ not in self._states:
            raise ValueError("Erro: Um ou ambos os estados nao pertencem ao automato.")
        if char not in self._alphabet:
            raise ValueError(f"Erro: O simbolo '{char}' nao pertence ao alfabeto do automato.")
        if (of, char) in self._transitions:
            raise ValueError(f"Erro: O estado '{of}' ja possui uma transicao definida para o simbolo '{char}'.")
        self._transitions[of, char] = for_

    @method(EXCLUSIVE, ("of", text), ("with", symbol))
    def remove_transition(self, of, char):
        if self._transitions.pop((of, char), None) is None:
            raise ValueError(f"Erro: Nao existe transicao definida para o estado '{of}' com o simbolo '{char}'.")

    @method(SHARED, ("of", text), ("with", symbol))
    def has_transition(self, of, char):
        return (of, char) in self._transitions

    @method(SHARED)
    def get_transitions(self):
        return [(of, char, to) for (of, char), to in self._transitions.items()]

    @method(SHARED)
    def available_symbols(self):
        return sorted(char for of, char in self._transitions if of == self._current)

    # ---- stepping and history ----
    @method(EXCLUSIVE, ("symbol", symbol))
    def step(self, char):
        self._history.append((self._current, self._data))
        target = self._transitions.get((self._current, char))
        if target is not None:
            self._current = target
        return target is not None

    @method(EXCLUSIVE, ("state_id", text))
    def force_state(self, state):
        if state not in self._states:
            raise ValueError("O estado destino nao existe no automato.")
        self._history.append((self._current, self._data))
        self._current = state

    @method(EXCLUSIVE)
    def undo(self):
        if not self._history:
            return False
        self._current, snapshot = self._history.pop()
        self._replace_data(snapshot)
        return True

    @method(EXCLUSIVE)
    def reset(self):
        self._current = self._initial
        self._replace_data(None)
        self._drop_history()

    @method(SHARED)
    def get_history(self):
        return list(self._history)

    @method(SHARED)
    def history_len(self):
        return len(self._history)

    @method(SHARED)
    def peek_history(self):
        return self._history[-1] if self._history else None

    @method(EXCLUSIVE)
    def clear_history(self):
        self._drop_history()

    # ---- acceptance and simulation ----
    def _walk(self, state, word):
        path = [state]
        for char in word:
            if (state, char) not in self._transitions:
                return path, char
            state = self._transitions[state, char]
            path.append(state)
        return path, None

    @method(SHARED, ("st", text))
    def accept(self, word):
        path, stuck = self._walk(self._initial, word)
        return stuck is None and path[-1] in self._finals

    @method(SHARED, ("input", text))
    def simulate(self, word):
        path, stuck = self._walk(self._current, word)
        if stuck is not None:
            raise ValueError(f"Erro: Nao ha transicao definida a partir do estado '{path[-1]}' com o simbolo '{stuck}'.")
        return path

    @method(SHARED, ("state", text))
    def is_final(self, state):
        return state in self._finals

    @method(SHARED)
    def is_accepted(self):
        return self._current in self._finals

    # ---- context data ----
    @method(EXCLUSIVE, ("new_data", None))
    def set_data(self, new):
        self._replace_data(new)

    @method(EXCLUSIVE, ("new_data", None))
    def update_context(self, new):
        self._replace_data(new)

    @method(EXCLUSIVE)
    def clear_data(self):
        self._replace_data(None)

    @method(SHARED)
    def get_context_type(self):
        return display(type(self._data).__name__)

    @method(EXCLUSIVE, ("data_type_result", text), ("operation", text), ("assert_val", None))
    def transform_data(self, kind, operation, value):
        if operation == "clear":
            return self._replace_data(None)
        if kind == "str":
            try:
                base = text(self._data)
            except (TypeError, UnicodeEncodeError):
                base = display(self._data)
            return self._replace_data(base + text(value) if operation == "concat" else base)
        if kind == "int":
            try:
                number = int64(self._data)
            except MemoryError:
                raise
            except Exception:
                number = 0
            return self._replace_data(wrap64(number + int64(value)) if operation == "add" else number)
        raise TypeError("Tipo de dado nao suportado. Use 'str' ou 'int'.")

"""Shared helpers for the test suite."""

import ctypes
import gc
import pathlib
import sys

import pytest

# The suite runs against the installed build. `python -m pytest` puts the top
# of the checkout first on sys.path, where the morvane_tools sources (without
# their compiled part) would shadow the installed package.
_TOP = pathlib.Path(__file__).resolve().parent.parent
sys.path[:] = [entry for entry in sys.path if pathlib.Path(entry or ".").resolve() != _TOP]

import morvane

Morvane = morvane.Morvane


@pytest.fixture
def abc():
    """q0 -a-> q1 -b-> q2, alphabet {a, b}, initial q0, finals {q2}."""
    m = Morvane({"q0", "q1", "q2"}, {"a", "b"}, "q0", {"q2"})
    m.add_transition("q0", "a", "q1")
    m.add_transition("q1", "b", "q2")
    return m


def error_of(call, *args, kind=ValueError):
    """The exception, of exactly that type, that call(*args) raises."""
    with pytest.raises(kind) as info:
        call(*args)
    assert type(info.value) is kind
    return info.value


class _Callback:
    """Context data whose str() runs a callback: a way to run Python code
    while transform_data holds the instance's exclusive borrow."""

    def __init__(self, callback):
        self.callback = callback

    def __str__(self):
        self.callback()
        return "callback"


def while_exclusively_borrowed(m, action):
    """Runs action() while m holds its exclusive borrow; returns what it
    returned or the exception it raised. m's data ends up as a str."""
    outcome = {}

    def callback():
        try:
            outcome["result"] = action()
        except BaseException as error:  # noqa: BLE001 - handed back to the test
            outcome["error"] = error

    m.set_data(_Callback(callback))
    m.transform_data("str", "noop", None)
    return outcome.get("error", outcome.get("result"))


def while_shared_borrowed(m, action):
    """Runs action() while m holds a shared borrow (inside get_context_type,
    through the str() of the data type's name); returns its result or error."""
    outcome = {}

    class Name(str):
        def __str__(self):
            try:
                outcome["result"] = action()
            except BaseException as error:  # noqa: BLE001
                outcome["error"] = error
            return str.__str__(self)

    class Probe:
        pass

    Probe.__name__ = Name("Probe")
    m.set_data(Probe())
    assert m.get_context_type() == "Probe"
    return outcome.get("error", outcome.get("result"))


def collect():
    for _ in range(3):
        gc.collect()


SANITIZED = bool(__import__("os").environ.get("MORVANE_SANITIZED"))
refcount = sys.getrefcount


class MallocInfo(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in "arena a b c mapped d e used f g".split()]


def allocated_bytes():
    """Bytes the C allocator has handed out and not had back (glibc's mallinfo2)."""
    mallinfo2 = ctypes.CDLL(None).mallinfo2
    mallinfo2.restype = MallocInfo
    info = mallinfo2()
    return info.used + info.mapped


HAS_MALLINFO = hasattr(ctypes.CDLL(None), "mallinfo2")

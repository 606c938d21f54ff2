# Type information for the morvane extension module.
#
# The module is a single compiled file, so these declarations are installed
# twice from this one source: as morvane.pyi beside the extension, and as the
# stub-only package morvane-stubs (with py.typed), which is where mypy looks
# for a module that is not a package.

from typing import Self, TypeAlias, TypedDict, Unpack, final, overload

__all__ = ["Morvane"]

# A set argument is a set or frozenset of str, or an instance of a subclass of
# either. Other collections (lists, tuples, dict views) are refused at run
# time, so collections.abc.Set would claim too much.
_StrSet: TypeAlias = set[str] | frozenset[str]

# The transition methods name their symbol parameter "with", a reserved word:
# a stub cannot spell it as an ordinary parameter. Each of those methods is
# declared as two overloads that together accept exactly the calls that bind
# at run time:
#   - the symbol passed by position (then "of" is positional too), written
#     here as the positional-only parameter "with_";
#   - the symbol passed by keyword, which Python allows only by unpacking a
#     mapping, e.g. m.has_transition(of="q0", **{"with": "a"}); then any
#     later parameter ("for_") must be a keyword as well.
_With = TypedDict("_With", {"with": str})

@final
class Morvane:
    """A deterministic finite automaton with text states, a current state, an
    undo history of (state, data) snapshots and one context-data object."""

    def __new__(
        cls, states: _StrSet, alphabet: _StrSet, initial: str, finals: _StrSet
    ) -> Self:
        """Builds an automaton at its initial state, with no transitions, no
        history and None as data. Nothing is checked beyond the types: the
        initial and final states need not be among the states, and alphabet
        members may have any length (only one-character ones carry transitions)."""

    # Read-only properties.
    @property
    def current_state(self) -> str:
        """The state the automaton is in now."""
    @property
    def initial_state(self) -> str:
        """The state given at construction; accept() and reset() start from it."""
    @property
    def data(self) -> object:
        """The context data: the very object stored (None when there is none)."""

    # States, alphabet and final states, each sorted by code point.
    def get_states(self) -> list[str]:
        """The states, sorted by code point (a new list)."""
    def get_alphabet(self) -> list[str]:
        """The alphabet members, sorted by code point (a new list)."""
    def get_finals(self) -> list[str]:
        """The final states, sorted by code point (a new list)."""

    # Transition table. A symbol ("with") is a str of exactly one character.
    @overload
    def add_transition(self, of: str, with_: str, /, for_: str) -> None:
        """Adds the transition from state `of` on the one-character symbol `with`
        to state `for_`. ValueError when a state is unknown, the symbol is not
        in the alphabet, or `of` already has a transition on it (never replaced)."""
    @overload
    def add_transition(self, of: str, *, for_: str, **kwargs: Unpack[_With]) -> None:
        """Adds the transition from state `of` on the one-character symbol `with`
        to state `for_`. ValueError when a state is unknown, the symbol is not
        in the alphabet, or `of` already has a transition on it (never replaced)."""
    @overload
    def remove_transition(self, of: str, with_: str, /) -> None:
        """Removes the transition from `of` on `with`; ValueError if there is none."""
    @overload
    def remove_transition(self, of: str, **kwargs: Unpack[_With]) -> None:
        """Removes the transition from `of` on `with`; ValueError if there is none."""
    @overload
    def has_transition(self, of: str, with_: str, /) -> bool:
        """Whether state `of` has a transition on the symbol `with`."""
    @overload
    def has_transition(self, of: str, **kwargs: Unpack[_With]) -> bool:
        """Whether state `of` has a transition on the symbol `with`."""
    def get_transitions(self) -> list[tuple[str, str, str]]:
        """Every transition as (origin, symbol, target), in no particular order."""
    def available_symbols(self) -> list[str]:
        """The symbols with a transition from the current state, by code point."""

    # Stepping and history: each history entry is (state, context data).
    def step(self, symbol: str) -> bool:
        """Records (state, data) in the history, then follows the transition on
        the symbol: True if there was one, False (state unchanged) if not."""
    def force_state(self, state_id: str) -> None:
        """Records (state, data) in the history and moves to the given state;
        ValueError, with nothing recorded, if it is not one of the states."""
    def undo(self) -> bool:
        """Takes back the newest history entry, restoring its state and data;
        False when the history is empty."""
    def reset(self) -> None:
        """Back to the initial state, with None as data and an empty history."""
    def get_history(self) -> list[tuple[str, object]]:
        """The history entries (state, data), oldest first."""
    def history_len(self) -> int:
        """The number of history entries."""
    def peek_history(self) -> tuple[str, object] | None:
        """The newest history entry (what undo() would restore), or None."""
    def clear_history(self) -> None:
        """Empties the history; the current state and data stay."""

    # Acceptance and simulation.
    def accept(self, st: str) -> bool:
        """Whether the whole text leads from the initial state to a final state;
        the current state plays no part and nothing changes."""
    def simulate(self, input: str) -> list[str]:
        """The states visited reading the text from the current state, which
        does not change; ValueError at the first symbol without a transition."""
    def is_final(self, state: str) -> bool:
        """Whether the name is one of the final states."""
    def is_accepted(self) -> bool:
        """Whether the current state is final."""

    # Context data: any object, stored as itself.
    def set_data(self, new_data: object) -> None:
        """Replaces the context data (the object itself, not a copy); records no history."""
    def update_context(self, new_data: object) -> None:
        """The same as set_data()."""
    def clear_data(self) -> None:
        """Sets the context data to None; the current state stays."""
    def transform_data(self, data_type_result: str, operation: str, assert_val: object) -> None:
        """Replaces the data by a str ("str": str(data)) or a 64-bit int ("int":
        its integer value, 0 when it has none). "concat" then appends the text
        of assert_val, "add" adds its integer value (wrapping around), any other
        operation only converts; "clear" sets None whatever the result type.
        TypeError for a result type other than "str" or "int"."""
    def get_context_type(self) -> str:
        """The type name of the context data ("NoneType" when there is none)."""

class PanicException(BaseException):
    """An internal invariant of morvane broke. It derives from BaseException, so
    that 'except Exception' does not swallow it; please report it with the
    code that raised it."""

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
    def __new__(
        cls, states: _StrSet, alphabet: _StrSet, initial: str, finals: _StrSet
    ) -> Self: ...

    # Read-only properties.
    @property
    def current_state(self) -> str: ...
    @property
    def initial_state(self) -> str: ...
    @property
    def data(self) -> object: ...

    # States, alphabet and final states, each sorted by code point.
    def get_states(self) -> list[str]: ...
    def get_alphabet(self) -> list[str]: ...
    def get_finals(self) -> list[str]: ...

    # Transition table. A symbol ("with") is a str of exactly one character.
    @overload
    def add_transition(self, of: str, with_: str, /, for_: str) -> None: ...
    @overload
    def add_transition(self, of: str, *, for_: str, **kwargs: Unpack[_With]) -> None: ...
    @overload
    def remove_transition(self, of: str, with_: str, /) -> None: ...
    @overload
    def remove_transition(self, of: str, **kwargs: Unpack[_With]) -> None: ...
    @overload
    def has_transition(self, of: str, with_: str, /) -> bool: ...
    @overload
    def has_transition(self, of: str, **kwargs: Unpack[_With]) -> bool: ...
    def get_transitions(self) -> list[tuple[str, str, str]]:
        """Retorna todas as transições como tuplas (origem, símbolo, destino)."""
    def available_symbols(self) -> list[str]:
        """Retorna os símbolos que possuem transição definida a partir do estado atual."""

    # Stepping and history: each history entry is (state, context data).
    def step(self, symbol: str) -> bool: ...
    def force_state(self, state_id: str) -> None: ...
    def undo(self) -> bool: ...
    def reset(self) -> None: ...
    def get_history(self) -> list[tuple[str, object]]: ...
    def history_len(self) -> int:
        """Quantidade de entradas atualmente registradas no histórico."""
    def peek_history(self) -> tuple[str, object] | None:
        """Observa a última entrada do histórico (estado, dado) sem removê-la."""
    def clear_history(self) -> None:
        """Limpa o histórico de (estado, dado) acumulado, sem alterar estado ou dado atuais."""

    # Acceptance and simulation.
    def accept(self, st: str) -> bool: ...
    def simulate(self, input: str) -> list[str]:
        """Simula o consumo de uma cadeia a partir do estado atual SEM alterar o estado
        do autômato, retornando o caminho de estados percorrido. Falha se, em algum
        ponto, não houver transição definida para o símbolo lido."""
    def is_final(self, state: str) -> bool: ...
    def is_accepted(self) -> bool: ...

    # Context data: any object, stored as itself.
    def set_data(self, new_data: object) -> None:
        """Substitui o dado de contexto diretamente (alias explícito de update_context)."""
    def update_context(self, new_data: object) -> None: ...
    def clear_data(self) -> None:
        """Zera o dado de contexto, sem afetar o estado atual do autômato."""
    def transform_data(self, data_type_result: str, operation: str, assert_val: object) -> None: ...
    def get_context_type(self) -> str: ...

class PanicException(BaseException):
    """An internal invariant of morvane broke. It derives from BaseException, so
    that 'except Exception' does not swallow it; please report it with the
    code that raised it."""

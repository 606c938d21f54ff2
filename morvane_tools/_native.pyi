# The toolkit's compiled algorithms (internal; the public functions live in
# morvane_tools). An automaton is passed as four arguments: the symbol count,
# its targets (array('i'), row-major, -1 for none), its finals (one byte per
# state) and its initial state.

from array import array
from collections.abc import Buffer, Callable, Iterable

from morvane import Morvane

def read_morvane(
    instance: Morvane, keep: list[object] = ..., /
) -> tuple[str, array[int], bytearray, int, list[str], list[str], list[str], bool]: ...
def build_morvane(
    cls: type[Morvane],
    names: list[str] | None,
    symbols: str,
    targets: Buffer,
    finals: Buffer,
    initial: int,
    extra_alphabet: Iterable[str],
    extra_finals: Iterable[str],
    initial_listed: bool,
    /,
) -> Morvane: ...
def from_table(
    cls: type[Morvane],
    table: object,
    initial: object,
    finals: object,
    states: object,
    alphabet: object,
    /,
) -> Morvane | None: ...
def minimize(symbol_count: int, targets: Buffer, finals: Buffer, initial: int, /) -> tuple[bytes, bytearray]: ...
def product(
    symbol_count_a: int,
    targets_a: Buffer,
    finals_a: Buffer,
    initial_a: int,
    columns_a: Buffer,
    symbol_count_b: int,
    targets_b: Buffer,
    finals_b: Buffer,
    initial_b: int,
    columns_b: Buffer,
    operation: int,
    /,
) -> tuple[bytes, bytearray]: ...
def product_shortest_word(
    symbol_count_a: int,
    targets_a: Buffer,
    finals_a: Buffer,
    initial_a: int,
    columns_a: Buffer,
    symbol_count_b: int,
    targets_b: Buffer,
    finals_b: Buffer,
    initial_b: int,
    columns_b: Buffer,
    operation: int,
    /,
) -> list[int] | None: ...
def same_language(
    symbol_count_a: int,
    targets_a: Buffer,
    finals_a: Buffer,
    initial_a: int,
    columns_a: Buffer,
    symbol_count_b: int,
    targets_b: Buffer,
    finals_b: Buffer,
    initial_b: int,
    columns_b: Buffer,
    /,
) -> bool: ...
def shortest_word(symbol_count: int, targets: Buffer, finals: Buffer, initial: int, /) -> list[int] | None: ...
def is_infinite(symbol_count: int, targets: Buffer, finals: Buffer, initial: int, /) -> bool: ...
def regex_automaton(
    class_count: int,
    accepts: Buffer,
    exclusions: Buffer,
    finals: Buffer,
    follow: list[dict[int, int]],
    column_class: Buffer,
    max_states: int,
    /,
) -> tuple[bytes, bytearray] | None: ...
def count_words(symbol_count: int, targets: Buffer, finals: Buffer, initial: int, length: int, /) -> int: ...
def random_word(
    symbol_count: int, targets: Buffer, finals: Buffer, initial: int, length: int, randrange: Callable[[int], int], /
) -> list[int] | None: ...
def rows_of(names: list[str], symbols: str, targets: Buffer, finals: Buffer, initial: int, /) -> list[dict[str, str]]: ...
def reach(symbol_count: int, targets: Buffer, finals: Buffer, initial: int, /) -> tuple[bytes, bytes]: ...

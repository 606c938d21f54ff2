"""Tools around :class:`morvane.Morvane`.

Automata from tables and regular expressions, checks, drawings, saving and
loading, and operations on automata. Every function here works on a
``Morvane`` through its public methods and returns new instances; the class
itself is never changed.
"""

__all__: list[str] = []

from morvane_tools._ops import (
    complement,
    count_words,
    counterexample,
    difference,
    equivalent,
    intersection,
    is_empty,
    is_finite,
    is_subset,
    minimize,
    random_word,
    shortest_word,
    symmetric_difference,
    union,
    words,
)

__all__ += [
    "complement",
    "count_words",
    "counterexample",
    "difference",
    "equivalent",
    "intersection",
    "is_empty",
    "is_finite",
    "is_subset",
    "minimize",
    "random_word",
    "shortest_word",
    "symmetric_difference",
    "union",
    "words",
]

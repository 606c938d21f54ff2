"""Tools around :class:`morvane.Morvane`.

Automata from tables and regular expressions, checks, drawings, saving and
loading, and operations on automata. Every function here works on a
``Morvane`` through its public methods and returns new instances; the class
itself is never changed.
"""

from morvane_tools._check import Report, complete, validate
from morvane_tools._draw import to_dot, to_mermaid
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
from morvane_tools._regex import from_regex
from morvane_tools._store import copy, dumps, enable_pickle, loads
from morvane_tools._table import from_table, to_table

__all__ = [
    "Report",
    "complete",
    "copy",
    "dumps",
    "enable_pickle",
    "from_regex",
    "from_table",
    "loads",
    "to_dot",
    "to_mermaid",
    "to_table",
    "validate",
    # operations
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

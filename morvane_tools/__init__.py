"""Tools around :class:`morvane.Morvane`.

Automata from tables and regular expressions, checks, drawings, saving and
loading, and operations on automata. Every function here works on a
``Morvane`` through its public methods and returns new instances; the class
itself is never changed.
"""

from ._regex import from_regex

__all__: list[str] = ["from_regex"]

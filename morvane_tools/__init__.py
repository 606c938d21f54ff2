"""Tools around :class:`morvane.Morvane`.

Automata from tables and regular expressions, checks, drawings, saving and
loading, and operations on automata. Every function here works on a
``Morvane`` through its public methods and returns new instances; the class
itself is never changed.
"""

__all__: list[str] = []

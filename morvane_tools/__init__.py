"""morvane_tools: functions that build, inspect and combine Morvane automata.

Everything here works on Morvane instances through their public methods and
returns new instances; the class itself is left exactly as it is.
"""

__all__: list[str] = []

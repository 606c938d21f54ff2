"""Counters and accumulators kept in the context data while an automaton runs.

transform_data() rewrites the context data as the automaton moves:
("int", "add", n) adds n to it as a 64-bit integer, ("str", "concat", s)
appends s to it as text. Each call stores a new object, so the history's
snapshots keep their old values and undo() takes a count back too.

Two things to know, both shown below:
- the data starts as None, which counts as 0 for "int" but reads as the text
  "None" for "str": start a text accumulator with set_data("");
- text is not parsed for "int": the data "12" counts as 0.
"""

import string

from morvane import Morvane

LETTERS = string.ascii_letters + "'"
SEPARATORS = " ,.;:!?-"


def words_automaton() -> Morvane:
    """Two states: between words ('gap') and inside one ('word')."""
    m = Morvane({"gap", "word"}, set(LETTERS + SEPARATORS), "gap", {"gap", "word"})
    for ch in LETTERS:
        m.add_transition("gap", ch, "word")
        m.add_transition("word", ch, "word")
    for ch in SEPARATORS:
        m.add_transition("gap", ch, "gap")
        m.add_transition("word", ch, "gap")
    return m


def run(m: Morvane, text: str, on_word_start) -> None:
    """Steps through text and calls on_word_start(ch) whenever a word begins."""
    for ch in text:
        was = m.current_state
        if not m.step(ch):
            raise ValueError(f"no transition from {was!r} on {ch!r}")
        if was == "gap" and m.current_state == "word":
            on_word_start(ch)


def count_words(text: str) -> Morvane:
    m = words_automaton()  # data None: counts as 0
    run(m, text, lambda ch: m.transform_data("int", "add", 1))
    return m


def acronym(text: str, start: object = "") -> str:
    m = words_automaton()
    m.set_data(start)
    run(m, text, lambda ch: m.transform_data("str", "concat", ch.upper()))
    return m.data


def coin_box(coins: str) -> Morvane:
    """Sums coins of 1, 2 and 5; the automaton allows at most three coins,
    then 'k' to keep them."""
    m = Morvane({"empty", "one", "two", "three", "kept"}, {"1", "2", "5", "k"}, "empty", {"kept"})
    for origin, target in [("empty", "one"), ("one", "two"), ("two", "three")]:
        for coin in "125":
            m.add_transition(origin, coin, target)
    for origin in ["one", "two", "three"]:
        m.add_transition(origin, "k", "kept")
    m.set_data(0)
    for symbol in coins:
        if not m.step(symbol):
            m.undo()  # a refused step still pushed a snapshot: drop it
            print(f"   coin {symbol!r} refused in state {m.current_state!r}")
        elif symbol != "k":
            m.transform_data("int", "add", int(symbol))
    return m


def main() -> None:
    text = "Portable Network Graphics, or PNG, is a raster-graphics file format"
    m = count_words(text)
    print("Counting words with transform_data('int', 'add', 1)")
    print(f"   text:  {text!r}")
    print(f"   words: {m.data} ({m.get_context_type()}), after {m.history_len()} steps")
    for _ in range(len("format")):
        m.undo()
    print(f"   undo x6 (the last word): {m.data} words, in state {m.current_state!r}")

    print("\nBuilding text with transform_data('str', 'concat', letter)")
    for phrase in ["portable network graphics", "graphics interchange format"]:
        print(f"   acronym of {phrase!r}: {acronym(phrase)!r}")
    print(f"   starting from None instead of '': {acronym('graphics interchange format', None)!r}")

    print("\nA coin box: the automaton checks the sequence, the data holds the total")
    box = coin_box("2515k")
    print(f"   coins '2515k': total {box.data}, state {box.current_state!r}, accepted {box.is_accepted()}")
    totals = [data for _, data in box.get_history()] + [box.data]
    print(f"   running totals kept in the history: {totals}")
    box.undo()
    box.undo()
    print(f"   undo x2: total {box.data}, state {box.current_state!r}")
    box.set_data("12")
    box.transform_data("int", "add", 1)
    print(f"   data '12' (text) plus 1: {box.data}  <- text is not parsed; it counts as 0")


if __name__ == "__main__":
    main()

"""`from_regex`: the minimal automaton of a Python regular expression.

The way there: our own parser (`_regex_syntax`) turns the pattern into a
tree (a pattern re refuses fails with re's own error); the alphabet is fixed
and every character set becomes a bit mask over it; the alphabet is cut into classes of characters that no set tells apart;
the position (Glushkov) automaton is built; the subset construction over the
classes, minimisation and the spreading of classes back over the characters
run natively (native/regex_automaton.cpp).

Possessive repeats need one thing the textbook construction lacks: an exit
from the repeat is allowed only on a character the repeat could not take.
So a follow edge carries an exclusion mask, the characters it must not be
taken on; plain edges carry 0.
"""

from __future__ import annotations

import re
import string
from array import array
from bisect import bisect_left, bisect_right
from collections.abc import Iterable

from morvane import Morvane

from . import _dfa, _native
from ._regex_syntax import (
    ASCII,
    DOTALL,
    IGNORECASE,
    Alternation,
    Anchor,
    Atomic,
    CharSet,
    Node,
    Repeat,
    Sequence,
    check_with_re,
    parse,
    refusal,
)

__all__ = ["from_regex"]

DEFAULT_CHARACTERS = string.printable
"""Characters every default alphabet holds besides those the pattern names."""

MAX_DEFAULT_ALPHABET = 1 << 16
"""The most characters a default alphabet may have (a pattern naming more, say
through a huge range, must give its alphabet)."""

MAX_POSITIONS = 100_000
"""The most character positions a pattern may have once counted repeats are
written out."""

_ALLOWED_FLAGS = re.IGNORECASE | re.MULTILINE | re.DOTALL | re.VERBOSE | re.ASCII | re.UNICODE
_SURROGATES = (0xD800, 0xDFFF)

# A fragment of the position automaton: its first positions, its last
# positions (each with the exclusion mask its entering or leaving edge
# carries), whether it matches the empty string, and the exclusion mask of
# that empty path.
Fragment = tuple[dict[int, int], dict[int, int], bool, int]


def from_regex(
    pattern: str | re.Pattern[str],
    alphabet: str | set[str] | frozenset[str] | None = None,
    *,
    flags: int | re.RegexFlag = 0,
    max_states: int = 100_000,
) -> Morvane:
    """The minimal automaton accepting exactly the strings that
    ``re.fullmatch(pattern, s, flags)`` matches, over `alphabet`.

    `alphabet` is a string or a set of one-character strings; by default it is
    every character the pattern names plus `string.printable`. Negated
    classes, the dot and the shorthand classes are taken within it. States are
    named q0 (initial), q1, ... breadth-first. Raises ValueError for a
    malformed pattern and for constructs without an exact automaton, naming
    them and their position; `max_states` bounds the automaton built before
    minimisation.
    """
    text, flags = _pattern_and_flags(pattern, flags)
    try:
        parsed = parse(text, flags)
    except ValueError:
        check_with_re(text, flags)  # a refused construct in a malformed pattern: re's error comes first
        raise
    if parsed.anchors:
        _check_anchors(parsed.tree)
    symbols = _alphabet(parsed.charsets, alphabet)
    _fill_masks(parsed.charsets, symbols, given=alphabet is not None)
    dfa = _Builder(symbols, max_states).build(parsed.tree)
    return _dfa.to_morvane(dfa)


def _pattern_and_flags(pattern: object, flags: object) -> tuple[str, int]:
    if isinstance(flags, bool) or not isinstance(flags, int):
        raise TypeError(f"flags must be an int or re.RegexFlag, not {type(flags).__name__!r}")
    if isinstance(pattern, re.Pattern):
        if not isinstance(pattern.pattern, str):
            raise TypeError("from_regex takes a str pattern, not a bytes one")
        flags |= pattern.flags
        pattern = pattern.pattern
    if not isinstance(pattern, str):
        raise TypeError(f"pattern must be a str or a compiled str pattern, not {type(pattern).__name__!r}")
    unsupported = int(flags) & ~int(_ALLOWED_FLAGS)
    if unsupported:
        raise ValueError(f"flags {re.RegexFlag(unsupported)!r} are not supported by from_regex")
    return pattern, int(flags)


# -- anchors --------------------------------------------------------------------
def _check_anchors(tree: Node) -> None:
    """^ and \\A are kept where no character can come before them, $ and \\Z
    where none can come after: there they always hold under full match. Any
    other place would make them real assertions, which are refused."""
    consumes: dict[int, bool] = {}

    def can_consume(node: Node) -> bool:
        """Whether the node holds a character position (can take a character)."""
        known = consumes.get(id(node))
        if known is None:
            if isinstance(node, CharSet):
                known = True
            elif isinstance(node, Sequence):
                known = any([can_consume(item) for item in node.items])
            elif isinstance(node, Alternation):
                known = any([can_consume(branch) for branch in node.branches])
            elif isinstance(node, Repeat):
                known = can_consume(node.item) and node.high != 0
            elif isinstance(node, Atomic):
                known = can_consume(node.item)
            else:
                known = False
            consumes[id(node)] = known
        return known

    def walk(node: Node, before: bool, after: bool) -> None:
        if isinstance(node, Anchor):
            if before if node.at_start else after:
                side = "before" if node.at_start else "after"
                raise refusal(
                    f"anchor {node.text!r}",
                    node.position,
                    f"is inside the pattern (characters can come {side} it); anchors are "
                    "accepted only at the very start (^, \\A) or end ($, \\Z), where full "
                    "match makes them hold anyway",
                )
        elif isinstance(node, Sequence):
            takes = [can_consume(item) for item in node.items]
            ahead = takes.count(True)
            seen = 0
            for item, take in zip(node.items, takes):
                ahead -= take
                walk(item, before or seen > 0, after or ahead > 0)
                seen += take
        elif isinstance(node, Alternation):
            for branch in node.branches:
                walk(branch, before, after)
        elif isinstance(node, Repeat):
            again = (node.high is None or node.high > 1) and can_consume(node.item)
            walk(node.item, before or again, after or again)
        elif isinstance(node, Atomic):
            walk(node.item, before, after)

    walk(tree, False, False)


# -- alphabet and character sets ------------------------------------------------------
def _named_codes(node: CharSet) -> list[range]:
    """The code points a set names, as ranges without surrogates."""
    named = []
    for low, high in node.ranges:
        if high < _SURROGATES[0] or low > _SURROGATES[1]:
            named.append(range(low, high + 1))
        else:
            named.append(range(low, min(high, _SURROGATES[0] - 1) + 1))
            named.append(range(max(low, _SURROGATES[1] + 1), high + 1))
    return named


_LAST_CASED = 0x1F000  # no character from here on has a case mapping


def _fold_key(char: str) -> str:
    """Characters with one key are equal ignoring case, as re sees it: equal
    simple lowercase, or lowercases that share their uppercase."""
    lower = char.lower()
    if len(lower) != 1:
        lower = char
    upper = lower.upper()
    return upper if len(upper) == 1 else lower


_partners: dict[str, str] = {}


def _case_partners() -> dict[str, str]:
    """Fold key -> every cased character with that key (built once, on the
    first ignore-case pattern that names a character)."""
    if not _partners:
        for code in range(_LAST_CASED):
            char = chr(code)
            if char.lower() != char or char.upper() != char:
                key = _fold_key(char)
                _partners[key] = _partners.get(key, "") + char
    return _partners


def _case_variants(char: str, ascii_only: bool) -> str:
    if ascii_only:
        return char.swapcase() if char.isascii() and char.isalpha() else ""
    key = _fold_key(char)
    return _case_partners().get(key, "") + key


def _alphabet(charsets: list[CharSet], given: object) -> str:
    """The sorted alphabet as one string."""
    if given is not None:
        if isinstance(given, str):
            members: Iterable[object] = given
        elif isinstance(given, (set, frozenset)):
            members = given
        else:
            raise TypeError(f"alphabet must be a str or a set of one-character strings, not {type(given).__name__!r}")
        chars = set()
        for member in members:
            if not isinstance(member, str):
                raise TypeError(f"alphabet members must be str, not {type(member).__name__!r}")
            if len(member) != 1:
                raise ValueError(f"alphabet members must be single characters, not {member!r}")
            if _SURROGATES[0] <= ord(member) <= _SURROGATES[1]:
                raise ValueError(f"alphabet member {member!r} is a surrogate, which no automaton symbol can be")
            chars.add(member)
        return "".join(sorted(chars))
    codes = {ord(c) for c in DEFAULT_CHARACTERS}
    for node in charsets:
        count = sum(high - low + 1 for low, high in node.ranges)
        if count + len(codes) > MAX_DEFAULT_ALPHABET:
            raise ValueError(
                f"{node.text!r} at position {node.position} names more than {MAX_DEFAULT_ALPHABET} "
                "characters; give the alphabet explicitly"
            )
        for named in _named_codes(node):
            codes.update(named)
            if node.flags & IGNORECASE:
                for code in named:
                    codes.update(map(ord, _case_variants(chr(code), bool(node.flags & ASCII))))
    if len(codes) > MAX_DEFAULT_ALPHABET:
        raise ValueError(f"the pattern names more than {MAX_DEFAULT_ALPHABET} characters; give the alphabet explicitly")
    return "".join(map(chr, sorted(codes)))


_ASCII_CATEGORIES = {
    "d": frozenset("0123456789"),
    "s": frozenset(" \t\n\r\f\v"),
    "w": frozenset(string.ascii_letters + string.digits + "_"),
}


def _category_mask(symbols: str, letter: str, ascii_only: bool) -> int:
    lower = letter.lower()
    if ascii_only:
        members = _ASCII_CATEGORIES[lower]
        mask = sum(1 << i for i, c in enumerate(symbols) if c in members)
    elif lower == "d":
        mask = sum(1 << i for i, c in enumerate(symbols) if c.isdecimal())
    elif lower == "s":
        mask = sum(1 << i for i, c in enumerate(symbols) if c.isspace())
    else:
        mask = sum(1 << i for i, c in enumerate(symbols) if c.isalnum() or c == "_")
    if letter != lower:
        mask ^= (1 << len(symbols)) - 1
    return mask


def _fill_masks(charsets: list[CharSet], symbols: str, given: bool) -> None:
    """Sets every character set's mask: its members within the alphabet."""
    codes = [ord(c) for c in symbols]
    full = (1 << len(symbols)) - 1
    categories: dict[tuple[str, bool], int] = {}
    folded: dict[tuple[str, int], int] = {}
    for node in charsets:
        if given and not node.negated:
            _check_named(node, symbols, codes)
        if node.dot:
            node.mask = full if node.flags & DOTALL else full & ~_range_mask(codes, 10, 10)
            continue
        if node.flags & IGNORECASE:
            # re decides case-insensitive membership itself: its simple case
            # folding (with the extra Greek and Latin equivalences), per alphabet.
            source, re_flags = _class_source(node)
            key = (source, re_flags)
            if key not in folded:
                index = {c: i for i, c in enumerate(symbols)}
                folded[key] = sum(1 << index[c] for c in set(re.findall(source, symbols, re_flags)))
            node.mask = folded[key]
            continue
        mask = 0
        for low, high in node.ranges:
            mask |= _range_mask(codes, low, high)
        for letter in node.categories:
            key2 = (letter, bool(node.flags & ASCII))
            if key2 not in categories:
                categories[key2] = _category_mask(symbols, letter, key2[1])
            mask |= categories[key2]
        node.mask = full & ~mask if node.negated else mask


def _range_mask(codes: list[int], low: int, high: int) -> int:
    i = bisect_left(codes, low)
    j = bisect_right(codes, high, i)
    return ((1 << j) - 1) ^ ((1 << i) - 1)


def _check_named(node: CharSet, symbols: str, codes: list[int]) -> None:
    """Characters a pattern names must be in a given alphabet: a class is
    never quietly cut down to what the alphabet holds."""
    for low, high in node.ranges:
        i = bisect_left(codes, low)
        j = bisect_right(codes, high, i)
        surrogates = max(0, min(high, _SURROGATES[1]) - max(low, _SURROGATES[0]) + 1)
        if j - i < high - low + 1 - surrogates:
            present = set(symbols[i:j])
            missing = next(
                chr(c)
                for c in range(low, high + 1)
                if chr(c) not in present and not _SURROGATES[0] <= c <= _SURROGATES[1]
            )
            raise ValueError(
                f"{node.text!r} at position {node.position} needs {missing!r}, which is not in the alphabet"
            )


def _class_source(node: CharSet) -> tuple[str, int]:
    parts = ["[^" if node.negated else "["]
    for low, high in node.ranges:
        parts.append(f"\\U{low:08x}" if low == high else f"\\U{low:08x}-\\U{high:08x}")
    parts.extend("\\" + letter for letter in node.categories)
    parts.append("]")
    return "".join(parts), re.IGNORECASE | (re.ASCII if node.flags & ASCII else 0)


# -- the position automaton and the subset construction ---------------------------------
def _single_mask(node: Node) -> int | None:
    """The mask of a node that always takes exactly one character of a set
    (a character, a class, an alternation of such), else None."""
    if isinstance(node, CharSet):
        return node.mask
    if isinstance(node, Alternation):
        mask = 0
        for branch in node.branches:
            m = _single_mask(branch)
            if m is None:
                return None
            mask |= m
        return mask
    if isinstance(node, Atomic):
        return _single_mask(node.item)
    return None


def _merge(into: dict[int, int], source: dict[int, int], extra: int) -> None:
    """Adds positions with exclusion masks; a position reached two ways is
    excluded only on what both ways exclude."""
    for p, e in source.items():
        e |= extra
        old = into.get(p)
        into[p] = e if old is None else old & e


class _Builder:
    def __init__(self, symbols: str, max_states: int) -> None:
        self.symbols = symbols
        self.max_states = max_states
        self.masks: list[int] = [0]  # position 0 is the start
        self.follow: list[dict[int, int]] = [{}]
        self.possessive_masks: set[int] = set()

    # fragments
    def position(self, mask: int) -> Fragment:
        p = len(self.masks)
        if p > MAX_POSITIONS:
            raise ValueError(
                f"the pattern has more than {MAX_POSITIONS} character positions once its counted repeats are written out"
            )
        self.masks.append(mask)
        self.follow.append({})
        return {p: 0}, {p: 0}, False, 0

    def link(self, last: dict[int, int], first: dict[int, int]) -> None:
        follow = self.follow
        if not self.possessive_masks:  # every exclusion is 0 so far: merging is updating
            for p in last:
                follow[p].update(first)
            return
        for p, e in last.items():
            _merge(follow[p], first, e)

    def concat(self, a: Fragment, b: Fragment) -> Fragment:
        first_a, last_a, nullable_a, skip_a = a
        first_b, last_b, nullable_b, skip_b = b
        if last_a and first_b:
            self.link(last_a, first_b)
        first = first_a
        if nullable_a and first_b:
            first = dict(first_a)
            _merge(first, first_b, skip_a)
        last = last_b
        if nullable_b and last_a:
            last = dict(last_b)
            _merge(last, last_a, skip_b)
        return first, last, nullable_a and nullable_b, skip_a | skip_b

    def star(self, a: Fragment) -> Fragment:
        self.link(a[1], a[0])
        return a[0], a[1], True, 0

    def build_node(self, node: Node) -> Fragment:
        if isinstance(node, CharSet):
            return self.position(node.mask)
        if isinstance(node, Sequence):
            result: Fragment = ({}, {}, True, 0)
            for item in node.items:
                result = self.concat(result, self.build_node(item))
            return result
        if isinstance(node, Alternation):
            first: dict[int, int] = {}
            last: dict[int, int] = {}
            nullable = False
            skip = -1
            for branch in node.branches:
                f, l, n, s = self.build_node(branch)
                _merge(first, f, 0)
                _merge(last, l, 0)
                if n:
                    nullable = True
                    skip &= s
            return first, last, nullable, skip if nullable else 0
        if isinstance(node, Repeat):
            return self.repeat(node)
        if isinstance(node, Atomic):
            return self.atomic(node)
        return {}, {}, True, 0  # an anchor that holds where it stands

    def repeat(self, node: Repeat) -> Fragment:
        if node.mode == "possessive":
            mask = _single_mask(node.item)
            if mask is None:
                raise refusal(
                    f"possessive repeat {node.text!r}",
                    node.position,
                    "applies to a sub-pattern that can take more than one character; only a "
                    "single character or class can be repeated possessively",
                )
            return self.possessive(mask, node.low, node.high)
        # lazy and greedy repeats match the same strings under full match
        result: Fragment = ({}, {}, True, 0)
        for _ in range(node.low):
            result = self.concat(result, self.build_node(node.item))
        if node.high is None:
            return self.concat(result, self.star(self.build_node(node.item)))
        optional: Fragment = ({}, {}, True, 0)
        for _ in range(node.high - node.low):
            f, l, _n, _s = self.concat(self.build_node(node.item), optional)
            optional = f, l, True, 0
        return self.concat(result, optional)

    def possessive(self, mask: int, low: int, high: int | None) -> Fragment:
        """mask{low,high} taking all it can: an exit before `high` characters
        is allowed only on a character outside `mask`."""
        if high == 0:
            return {}, {}, True, 0
        self.possessive_masks.add(mask)
        count = low if high is None else high
        chain = [next(iter(self.position(mask)[0])) for _ in range(count)]
        if high is None:
            loop = next(iter(self.position(mask)[0]))
            self.follow[loop][loop] = 0
            chain.append(loop)
        for p, q in zip(chain, chain[1:]):
            self.follow[p][q] = 0
        last = {p: mask for p in chain[max(low, 1) - 1 :]}
        if high is not None:
            last[chain[-1]] = 0
        return {chain[0]: 0}, last, low == 0, mask

    def atomic(self, node: Atomic) -> Fragment:
        """An atomic group keeps the first way its content matches; taken
        exactly where that way is the only one or a possessive repeat."""
        item = node.item
        while isinstance(item, Atomic):
            item = item.item
        mask = _single_mask(item)
        if mask is not None:
            return self.position(mask)
        if isinstance(item, Sequence) and all(_single_mask(i) is not None for i in item.items):
            return self.build_node(item)
        if isinstance(item, Repeat) and _single_mask(item.item) is not None:
            repeat_mask = _single_mask(item.item)
            assert repeat_mask is not None
            if item.mode == "lazy":  # the first way is the shortest
                return self.possessive(repeat_mask, item.low, item.low)
            return self.possessive(repeat_mask, item.low, item.high)
        raise refusal(
            "atomic group (?>...)",
            node.position,
            "is supported only around one character or class, a fixed sequence of them, or one "
            "repeat of a character or class",
        )

    # the whole automaton
    def build(self, tree: Node) -> _dfa.Dfa:
        """Builds the position automaton of `tree`, then hands it to the native
        side for the subset construction over classes, minimisation and the
        spreading of classes back over the characters."""
        first, last, nullable, _skip = self.build_node(tree)
        self.follow[0] = first
        classes = self.classes()
        k = len(classes)
        if k == 0:  # an empty alphabet: one state, final when the empty string matches
            return _dfa.Dfa(self.symbols, array("i"), bytearray([nullable]), 0)
        rows: dict[int, bytes] = {}

        def row(mask: int) -> bytes:
            found = rows.get(mask)
            if found is None:
                found = rows[mask] = bytes([1 if c & mask else 0 for c in classes])
            return found

        accepts = b"".join([bytes(k), *map(row, self.masks[1:])])
        exclusions = [bytes(k)]
        if self.possessive_masks:
            numbers: dict[int, int] = {}
            for edges in self.follow:
                for q, e in edges.items():
                    if e:
                        number = numbers.get(e)
                        if number is None:
                            number = numbers[e] = len(exclusions)
                            exclusions.append(row(e))
                        edges[q] = number
        finals = bytearray(len(self.masks))
        for p in last:
            finals[p] = 1
        finals[0] = nullable
        column_class = array("i", bytes(4 * len(self.symbols)))
        for i, c in enumerate(classes):
            while c:
                low_bit = c & -c
                c ^= low_bit
                column_class[low_bit.bit_length() - 1] = i
        result = _native.regex_automaton(
            k, accepts, b"".join(exclusions), finals, self.follow, column_class, self.max_states
        )
        if result is None:
            raise ValueError(f"the pattern needs more than max_states={self.max_states} states before minimisation")
        targets, final_states = result
        return _dfa.Dfa(self.symbols, _dfa.table_from_bytes(targets), final_states, 0)

    def classes(self) -> list[int]:
        """The alphabet cut into classes no mask tells apart, ordered by their
        first character."""
        full = (1 << len(self.symbols)) - 1
        classes = [full] if full else []
        for mask in set(self.masks[1:]) | self.possessive_masks:
            split = []
            for c in classes:
                inside = c & mask
                if inside and inside != c:
                    split.append(inside)
                    split.append(c ^ inside)
                else:
                    split.append(c)
            classes = split
        classes.sort(key=lambda c: c & -c)
        return classes

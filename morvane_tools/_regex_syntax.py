"""The parser behind `from_regex`: Python `re` syntax into a small tree.

It follows re's grammar (escapes, classes, quantifiers and their odd literal
cases, groups, inline flags, verbose mode) and refuses, with the construct
and its position, what no finite automaton can take exactly. It also notices
every pattern that re would refuse; re itself is then asked, so that such a
pattern fails with re's own message and position. Character sets stay
symbolic here: they become sets of alphabet members once the alphabet is
known.
"""

from __future__ import annotations

import re
import unicodedata
from dataclasses import dataclass, field

IGNORECASE = re.IGNORECASE.value
MULTILINE = re.MULTILINE.value
DOTALL = re.DOTALL.value
VERBOSE = re.VERBOSE.value
ASCII = re.ASCII.value
UNICODE = re.UNICODE.value

_FLAG_LETTERS = {"i": IGNORECASE, "m": MULTILINE, "s": DOTALL, "x": VERBOSE, "a": ASCII, "u": UNICODE, "L": 0}
_DIGITS = "0123456789"
_OCTAL = "01234567"
_HEX = "0123456789abcdefABCDEF"
_WHITESPACE = " \t\n\r\v\f"
_SPECIAL = ".\\[{()*+?^$|"
_SIMPLE_ESCAPES = {"a": 7, "b": 8, "f": 12, "n": 10, "r": 13, "t": 9, "v": 11, "\\": 92}
_CATEGORIES = frozenset("dDsSwW")
_MAX_REPEAT = 0xFFFFFFFF  # re refuses repeat counts from here on
_CLASS_ESCAPE_LETTERS = frozenset("abfnrtvxuUNdDsSwW")
_ESCAPE_LETTERS = _CLASS_ESCAPE_LETTERS | frozenset("AZbB")


class _Malformed(Exception):
    """A pattern that re refuses; re itself then says why and where."""


def refusal(what: str, position: int, why: str) -> ValueError:
    """The error for a construct that has no exact automaton here."""
    return ValueError(f"{what} at position {position} {why}")


def check_with_re(pattern: str, flags: int) -> None:
    """Raises re's own error, as ValueError, when re refuses the pattern."""
    try:
        re.compile(pattern, flags)
    except re.error as error:
        raise ValueError(f"invalid pattern: {error.msg} at position {error.pos}") from None
    except (OverflowError, ValueError) as error:
        raise ValueError(f"invalid pattern: {error}") from None


@dataclass(eq=False, slots=True)
class CharSet:
    """One character taken from a set: a literal, a class or the dot.

    ranges: (first, last) code points, literals as one-point ranges;
    categories: letters of the shorthand classes inside (d, D, s, S, w, W);
    dot: the dot (everything but the line feed unless DOTALL);
    flags: the flags in force where it stands.
    """

    ranges: list[tuple[int, int]]
    categories: str
    negated: bool
    dot: bool
    flags: int
    position: int
    text: str
    mask: int = 0  # the members within the alphabet, as bits over its sorted characters


@dataclass(eq=False, slots=True)
class Sequence:
    items: list[Node]


@dataclass(eq=False, slots=True)
class Alternation:
    branches: list[Node]


@dataclass(eq=False, slots=True)
class Repeat:
    item: Node
    low: int
    high: int | None  # None: unbounded
    mode: str  # "greedy", "lazy" or "possessive"
    position: int
    text: str


@dataclass(eq=False, slots=True)
class Atomic:
    item: Node
    position: int


@dataclass(eq=False, slots=True)
class Anchor:
    at_start: bool  # ^ and \A; otherwise $ and \Z
    position: int
    text: str


Node = CharSet | Sequence | Alternation | Repeat | Atomic | Anchor


@dataclass(slots=True)
class Parsed:
    tree: Node
    flags: int
    charsets: list[CharSet] = field(default_factory=list)
    anchors: bool = False


class _Parser:
    def __init__(self, pattern: str, flags: int) -> None:
        self.text = pattern
        self.index = 0
        self.flags = flags
        self.charsets: list[CharSet] = []
        self.anchors = False
        self.group_names: set[str] = set()

    # -- reading ---------------------------------------------------------------
    def peek(self) -> str:
        return self.text[self.index] if self.index < len(self.text) else ""

    def take(self) -> str:
        c = self.text[self.index]
        self.index += 1
        return c

    def take_if(self, c: str) -> bool:
        if self.text.startswith(c, self.index):
            self.index += len(c)
            return True
        return False

    def expect(self, c: str) -> None:
        if not self.take_if(c):
            raise _Malformed

    def take_while(self, allowed: str, limit: int) -> str:
        start = self.index
        while self.index < len(self.text) and self.index - start < limit and self.text[self.index] in allowed:
            self.index += 1
        return self.text[start : self.index]

    # -- grammar ---------------------------------------------------------------
    def parse_alternation(self, flags: int, top: bool) -> Node:
        branches = [self.parse_sequence(flags, top)]
        while self.take_if("|"):
            branches.append(self.parse_sequence(flags, False))
        return branches[0] if len(branches) == 1 else Alternation(branches)

    def parse_sequence(self, flags: int, first: bool) -> Node:
        """One branch; `first` when it opens the whole pattern (where re
        allows global flags)."""
        items: list[Node] = []
        last = ""  # what the last item was: "" none yet, "anchor", "repeat" or "item"
        text = self.text
        while self.index < len(text):
            start = self.index
            c = text[start]
            if c in "|)":
                break
            self.index += 1
            if flags & VERBOSE:
                if c in _WHITESPACE:
                    continue
                if c == "#":
                    end = text.find("\n", self.index)
                    self.index = len(text) if end < 0 else end + 1
                    continue
            if c in "*+?{":
                if self.repeat(c, items, last, start):
                    last = "repeat"
                    continue
                c = "{"  # not a repeat: a plain character
            if c not in _SPECIAL or c == "{":
                items.append(self.literal(ord(c), flags, start))
            elif c == "\\":
                items.append(self.escape(flags, start))
            elif c == "[":
                items.append(self.char_class(flags, start))
            elif c == ".":
                items.append(self.charset([], "", False, True, flags, start))
            elif c == "(":
                item = self.group(flags, start, first and not items)
                if item is None:  # a comment or the global flags
                    continue
                items.append(item)
            elif c == "^" or c == "$":
                items.append(self.anchor(c == "^", start, c))
            last = "anchor" if isinstance(items[-1], Anchor) and c != "(" else "item"
        return items[0] if len(items) == 1 else Sequence(items)

    def charset(
        self, ranges: list[tuple[int, int]], categories: str, negated: bool, dot: bool, flags: int, start: int
    ) -> CharSet:
        node = CharSet(ranges, categories, negated, dot, flags, start, self.text[start : self.index])
        self.charsets.append(node)
        return node

    def anchor(self, at_start: bool, start: int, text: str) -> Anchor:
        self.anchors = True
        return Anchor(at_start, start, text)

    def literal(self, code: int, flags: int, start: int) -> CharSet:
        return self.charset([(code, code)], "", False, False, flags, start)

    def repeat(self, c: str, items: list[Node], last: str, start: int) -> bool:
        """Applies a quantifier to the last item; False when a '{' turns out to
        be a plain character."""
        if c == "{":
            if self.peek() == "}":
                return False
            low_text = self.take_while(_DIGITS, len(self.text))
            if self.take_if(","):
                high_text = self.take_while(_DIGITS, len(self.text))
            else:
                high_text = low_text
            if not self.take_if("}"):
                self.index = start + 1
                return False
            low = int(low_text) if low_text else 0
            high = int(high_text) if high_text else None
            if low >= _MAX_REPEAT or (high is not None and (high >= _MAX_REPEAT or high < low)):
                raise _Malformed
        else:
            low, high = {"*": (0, None), "+": (1, None), "?": (0, 1)}[c]
        mode = "greedy"
        if self.take_if("?"):
            mode = "lazy"
        elif self.take_if("+"):
            mode = "possessive"
        if last != "item":  # nothing to repeat, or a repeat repeated
            raise _Malformed
        item = items.pop()
        items.append(Repeat(item, low, high, mode, start, self.text[start : self.index]))
        return True

    def escape(self, flags: int, start: int) -> Node:
        c = self.take()
        if c.isascii() and c.isalpha() and c not in _ESCAPE_LETTERS:
            raise _Malformed
        if c in _CATEGORIES:
            return self.charset([], c, False, False, flags, start)
        if c == "A" or c == "Z":
            return self.anchor(c == "A", start, "\\" + c)
        if c in "bB":
            raise refusal(
                f"word boundary \\{c}",
                start,
                "is not supported: it looks at the characters around it; write the classes it implies instead",
            )
        if c in "123456789":
            # a back-reference, unless three octal digits make a character
            if (
                c in _OCTAL
                and self.peek() in _OCTAL
                and self.index + 1 < len(self.text)
                and self.text[self.index + 1] in _OCTAL
            ):
                self.index += 2
                code = int(self.text[start + 1 : self.index], 8)
                if code > 0o377:
                    raise _Malformed
                return self.literal(code, flags, start)
            self.take_while(_DIGITS, 1)
            raise refusal(
                f"back-reference {self.text[start:self.index]}",
                start,
                "is not regular: no finite automaton can compare a group with an earlier match",
            )
        return self.literal(self.escaped_character(c, in_class=False), flags, start)

    def escaped_character(self, c: str, in_class: bool) -> int:
        """The code point of a character escape whose letter `c` was just read."""
        if c in _SIMPLE_ESCAPES:
            return _SIMPLE_ESCAPES[c]
        if c in "xuU":
            width = {"x": 2, "u": 4, "U": 8}[c]
            digits = self.take_while(_HEX, width)
            if len(digits) != width or int(digits, 16) > 0x10FFFF:
                raise _Malformed
            return int(digits, 16)
        if c == "N":
            self.expect("{")
            end = self.text.find("}", self.index)
            name = self.text[self.index : end]
            if end < 0 or not name:
                raise _Malformed
            self.index = end + 1
            return ord(unicodedata.lookup(name))  # KeyError: an unknown name; TypeError: a sequence
        if c == "0" or (in_class and c in _OCTAL):
            code = int(c + self.take_while(_OCTAL, 2), 8)
            if code > 0o377:
                raise _Malformed
            return code
        if (c.isascii() and c.isalpha()) or c in _DIGITS:
            raise _Malformed  # an escape re does not know (categories are not characters)
        return ord(c)

    def char_class(self, flags: int, start: int) -> CharSet:
        negated = self.take_if("^")
        ranges: list[tuple[int, int]] = []
        categories = ""
        empty = True
        while True:
            c = self.take()
            if c == "]" and not empty:
                break
            empty = False
            low: int | None
            if c == "\\":
                e = self.take()
                if e in _CATEGORIES:
                    categories += e
                    low = None
                elif e.isascii() and e.isalpha() and e not in _CLASS_ESCAPE_LETTERS:
                    raise _Malformed
                else:
                    low = self.escaped_character(e, in_class=True)
            else:
                low = ord(c)
            if self.peek() == "-" and self.index + 1 < len(self.text) and self.text[self.index + 1] != "]":
                self.index += 1
                c2 = self.take()
                if c2 == "\\":
                    high = self.escaped_character(self.take(), in_class=True)
                else:
                    high = ord(c2)
                if low is None or high < low:  # a range from a shorthand class, or backwards
                    raise _Malformed
                ranges.append((low, high))
            elif low is not None:
                ranges.append((low, low))
        return self.charset(ranges, categories, negated, False, flags, start)

    def group(self, flags: int, start: int, at_start: bool) -> Node | None:
        if not self.take_if("?"):
            return self.group_body(flags, start)
        c = self.take()
        if c == "P":
            if self.take_if("<"):
                end = self.text.find(">", self.index)
                name = self.text[self.index : end]
                if end < 0 or not name.isidentifier() or name in self.group_names:
                    raise _Malformed
                self.group_names.add(name)
                self.index = end + 1
                return self.group_body(flags, start)
            self.expect("=")
            end = self.text.find(")", self.index)
            name = self.text[self.index : end]
            if end < 0 or name not in self.group_names:
                raise _Malformed
            raise refusal(
                f"back-reference (?P={name})",
                start,
                "is not regular: no finite automaton can compare a group with an earlier match",
            )
        if c == ":":
            return self.group_body(flags, start)
        if c == "#":
            end = self.text.find(")", self.index)
            if end < 0:
                raise _Malformed
            self.index = end + 1
            return None
        if c in "=!" or (c == "<" and self.peek() in ("=", "!")):
            kind = {"=": "look-ahead (?=...)", "!": "negative look-ahead (?!...)"}.get(c)
            if kind is None:
                kind = "look-behind (?<=...)" if self.peek() == "=" else "negative look-behind (?<!...)"
            raise refusal(kind, start, "is not supported: look-around has no exact automaton here")
        if c == "(":
            raise refusal(
                "conditional group (?(...)...)",
                start,
                "is not regular: it depends on whether an earlier group matched",
            )
        if c == ">":
            return Atomic(self.group_body(flags, start), start)
        # inline flags: global (?aimsux) or scoped (?aimsux-imsx:...)
        on = off = 0
        self.index -= 1
        letters = self.take_while("aimsux", len(self.text))
        for letter in letters:
            on |= _FLAG_LETTERS[letter]
        if on & ASCII and on & UNICODE:
            raise _Malformed
        if self.take_if(")"):
            if not letters or not at_start:
                raise _Malformed  # (?) or global flags after the start
            self.flags |= on
            return None
        if self.take_if("-"):
            removed = self.take_while("imsx", len(self.text))
            if not removed:
                raise _Malformed
            for letter in removed:
                off |= _FLAG_LETTERS[letter]
            if on & off:
                raise _Malformed
        elif not letters:
            raise _Malformed  # an unknown extension
        self.expect(":")
        return self.group_body((flags | on) & ~off, start)

    def group_body(self, flags: int, start: int) -> Node:
        body = self.parse_alternation(flags, False)
        self.expect(")")
        return body


def parse(pattern: str, flags: int) -> Parsed:
    """The tree of a pattern that `re.compile(pattern, flags)` accepts.

    Global inline flags are at the very start of the pattern (re insists), so
    they are read before anything they could apply to; the tree is parsed
    once more when they change the flags given, so that every node carries
    the flags in force where it stands."""
    parser = _Parser(pattern, flags)
    try:
        tree = parser.parse_alternation(flags, True)
        if parser.index < len(pattern):  # a ')' without its '('
            raise _Malformed
        if parser.flags & ASCII and parser.flags & UNICODE:
            raise _Malformed
    except (_Malformed, IndexError, KeyError, TypeError):
        check_with_re(pattern, flags)
        raise ValueError(f"from_regex cannot read the pattern near position {parser.index}") from None
    if parser.flags != flags:
        return parse(pattern, parser.flags)
    return Parsed(tree, flags, parser.charsets, parser.anchors)

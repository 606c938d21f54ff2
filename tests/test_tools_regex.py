"""from_regex against re.fullmatch: the automaton must accept exactly what re
matches, over real-world patterns, on positive, mutated, random and boundary
inputs; refused constructs must be refused with their position."""

import random
import re
import string
import warnings

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from morvane_tools import _dfa, from_regex  # noqa: E402

PATTERNS = [
    # e-mail addresses
    r"[a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,}",
    r"(?i)[a-z0-9!#$%&'*+/=?^_`{|}~-]+(?:\.[a-z0-9!#$%&'*+/=?^_`{|}~-]+)*@(?:[a-z0-9](?:[a-z0-9-]*[a-z0-9])?\.)+[a-z]{2,6}",
    # dates and times
    r"\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12]\d|3[01])",
    r"([01]\d|2[0-3]):[0-5]\d(:[0-5]\d(\.\d{1,6})?)?",
    r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(?:\.\d+)?(?:Z|[+-]\d{2}:\d{2})",
    r"(0?[1-9]|[12][0-9]|3[01])/(0?[1-9]|1[012])/(19|20)\d\d",
    r"(?:Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d{2} (?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4}",
    # network
    r"((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)\.){3}(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)",
    r"(\d{1,3}\.){3}\d{1,3}(/(3[0-2]|[12]?\d))?",
    r"([0-9A-Fa-f]{2}[:-]){5}[0-9A-Fa-f]{2}",
    r"(?:[0-9a-fA-F]{1,4}:){7}[0-9a-fA-F]{1,4}",
    r"https?://[a-zA-Z0-9.-]+(:\d{1,5})?(/[^\s?#]*)?(\?[^\s#]*)?(#\S*)?",
    r"(?:ftp|https?)://(?:www\.)?[-\w.]+\.[a-z]{2,}(?:/[-\w./?%&=]*)?",
    r"[a-z][a-z0-9+.-]*:[^\s]+",
    # identifiers and versions
    r"[0-9a-f]{8}-[0-9a-f]{4}-[1-5][0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}",
    r"(?i)[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}",
    r"(0|[1-9]\d*)\.(0|[1-9]\d*)\.(0|[1-9]\d*)(?:-((?:0|[1-9]\d*|\d*[a-zA-Z-][0-9a-zA-Z-]*)(?:\.(?:0|[1-9]\d*|\d*[a-zA-Z-][0-9a-zA-Z-]*))*))?(?:\+([0-9a-zA-Z-]+(?:\.[0-9a-zA-Z-]+)*))?",
    r"v?\d+(\.\d+){0,2}(-(alpha|beta|rc)\d*)?",
    r"#([0-9a-fA-F]{3}){1,2}",
    r"#(?:[0-9a-fA-F]{3,4}){1,2}",
    r"rgb\(\s*\d{1,3}\s*,\s*\d{1,3}\s*,\s*\d{1,3}\s*\)",
    r"[A-Za-z_][A-Za-z0-9_]*",
    r"[^\W\d]\w*",
    r"[a-z]+(?:-[a-z]+)*",
    r"@[A-Za-z0-9_]{1,15}",
    r"[A-Z]{2}\d{2}[A-Z0-9]{1,30}",
    r"\d{3}-\d{2}-\d{4}",
    r"\+?1?[ -.]?\(?\d{3}\)?[ -.]?\d{3}[ -.]?\d{4}",
    r"[A-Z]{1,2}\d[A-Z\d]? ?\d[A-Z]{2}",
    r"\d{5}(?:-\d{4})?",
    # numbers
    r"[+-]?\d+",
    r"-?(?:0|[1-9]\d*)(?:\.\d+)?(?:[eE][+-]?\d+)?",
    r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?",
    r"0[xX][0-9a-fA-F]+|0[oO][0-7]+|0[bB][01]+|[1-9][0-9_]*|0",
    r"\d{1,3}(,\d{3})*(\.\d\d)?",
    r"\$\d+(?:\.\d{2})?",
    r"(?:[IVXLCDM])+",
    # quoted strings with escapes
    r'"(?:[^"\\]|\\.)*"',
    r"'(?:[^'\\\n]|\\.)*'",
    r'"(?:[^"\\\x00-\x1f]|\\["\\/bfnrt]|\\u[0-9a-fA-F]{4})*"',
    r"`[^`]*`",
    # log-line prefixes and structured lines
    r"\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}(,\d{3})?\] (DEBUG|INFO|WARNING|ERROR|CRITICAL): .*",
    r"(?:\d{1,3}\.){3}\d{1,3} - \S+ \[[^\]]+\] \"(?:GET|POST|PUT|DELETE) \S+ HTTP/1\.[01]\" \d{3} (?:\d+|-)",
    r"[A-Z][a-z]{2} [ \d]\d \d{2}:\d{2}:\d{2} [\w.-]+ \w+(\[\d+\])?: .*",
    r"(?P<level>[A-Z]+)\s+(?P<logger>[\w.]+):(?P<line>\d+) - .+",
    r"\{\s*\"name\"\s*:\s*\"[^\"]*\"\s*,\s*\"age\"\s*:\s*\d+\s*\}",
    # the corners of the syntax
    r"(a|b)*abb",
    r"(x|xy|xyz)(z|yz)?",
    r"a{2,5}?b{0,2}?c{,2}d{}e{x",
    r"(?x) \d+ (?: \. \d+ )?  # a number",
    r"(?s)<!--.*?-->",
    r"^(?:[a-z]+|\d+)$",
    r"\A\w+\Z",
    r"(?i)straße|ΣΑΣ|k",
    r"[^\s\S]|x?",
    r"(?a)\w+\s\d",
    r"[\w\-\]\\^]+",
    r"a*+b|a++c?+|[ab]{1,3}+b",
    r"(?>[a-z]*)\d|(?>x+?)y|(?>ab\.)c",
    r"(?:a|b)?+b",
    r"(?i:AB)c(?-i:D)",
]

MUTATION_CHARS = "aA0 _-.:/\\\"'\n\té@x9Zz"


def automaton(pattern):
    m = from_regex(pattern)
    return m, "".join(m.get_alphabet())


def agree(m, pattern, text):
    assert m.accept(text) == bool(re.fullmatch(pattern, text)), (pattern, text)


@st.composite
def probes(draw, matches, alphabet, named):
    """A match of the pattern (when one exists over the alphabet), mutated or
    not, or a random string over the characters that matter."""
    kind = draw(st.sampled_from(["match", "mutant", "mutant", "random"]))
    if kind == "random":
        return draw(st.text(st.sampled_from(named), max_size=30))
    text = draw(matches)
    if kind == "match":
        return text
    for _ in range(draw(st.integers(1, 3))):
        i = draw(st.integers(0, len(text)))
        op = draw(st.sampled_from(["insert", "delete", "replace", "double", "cut"]))
        char = draw(st.sampled_from(alphabet))
        if op == "insert":
            text = text[:i] + char + text[i:]
        elif op == "delete":
            text = text[:i] + text[i + 1 :]
        elif op == "replace":
            text = text[:i] + char + text[i + 1 :]
        elif op == "double":
            text = text[:i] + text[i : i + 3] + text[i:]
        else:
            text = text[:i]
    return text


@pytest.mark.parametrize("pattern", PATTERNS)
def test_agrees_with_re(pattern):
    m, alphabet = automaton(pattern)
    assert m.initial_state == "q0"
    # minimal: minimisation leaves the automaton as it is
    d = _dfa.from_morvane(m)
    assert _dfa.minimize(d).n_states == d.n_states
    # boundary inputs: empty, every single character, and long runs
    for text in ["", *alphabet, "a" * 200, "0" * 200, " " * 50]:
        agree(m, pattern, text)

    matches = st.from_regex(re.compile(pattern), fullmatch=True, alphabet=st.sampled_from(alphabet))
    named = sorted((set(pattern) | set(MUTATION_CHARS)) & set(alphabet))

    @settings(max_examples=30, deadline=None, suppress_health_check=list(HealthCheck), database=None)
    @given(probes(matches, alphabet, named))
    def check(text):
        agree(m, pattern, text)

    check()


# One character through every kind of set, flag and alphabet corner: the
# whole alphabet is tried, so Unicode categories and case folding are
# compared character by character with re.
CORNERS = (
    "aAzZ09_ \t\n\r\x0b\x0c\x1c\x85\xa0\u2028\u3000"
    "٣²½ⅷ߀éÉßẞſSsKk\u212aıİiIΣσςΘθϑµΜμǅǄǆﬀΩω\u2126ÅåⅠⅰαβγΑΒΓ😀"
)
SET_PATTERNS = [
    r"\d", r"\D", r"\w", r"\W", r"\s", r"\S", r".", r"(?s).", r"[^a-z]", r"[\d\s]", r"[^\w\s]",
    r"(?a)\w", r"(?a)\d", r"(?a)\s", r"(?a)[^\W]", r"(?i)s", r"(?i)k", r"(?i)ß", r"(?i)σ", r"(?i)[a-z]",
    r"(?i)[^a-z]", r"(?i)\w", r"(?i)θ", r"(?i)i", r"(?i)ı", r"(?ia)k", r"(?ia)[a-z]", r"(?i)µ", r"(?i)ǅ",
    r"(?i)[α-γ]", r"(?i)ω", r"(?i)ⅰ", r"(?i)[^k]",
]


@pytest.mark.parametrize("pattern", SET_PATTERNS)
def test_sets_character_by_character(pattern):
    m = from_regex(pattern, CORNERS + string.ascii_letters + "".join(c for c in pattern if c.isalpha()))
    for char in m.get_alphabet():
        agree(m, pattern, char)


def test_default_alphabet():
    m = from_regex("[à-ä]é(?i:ß)x")
    alphabet = set(m.get_alphabet())
    assert set(string.printable) | set("àáâãäéßẞ") <= alphabet
    assert len(alphabet) == len(string.printable) + 8
    assert not m.accept("\x00é") and not set("\x00ñ") & alphabet


@pytest.mark.parametrize(
    "pattern, alphabet, message",
    [
        (r"[a-z]+", "abc", "'[a-z]' at position 0 needs 'd', which is not in the alphabet"),
        (r"ab(c|é)", "abc", "'é' at position 5 needs 'é'"),
        (r"a", ["a"], "alphabet must be a str or a set"),
        (r"a", {"ab"}, "alphabet members must be single characters, not 'ab'"),
        (r"[\x00-\U0010ffff]", None, "at position 0 names more than 65536 characters"),
    ],
)
def test_alphabet_refusals(pattern, alphabet, message):
    with pytest.raises((ValueError, TypeError)) as caught:
        from_regex(pattern, alphabet)
    assert message in str(caught.value)


def test_explicit_alphabet_takes_negations_within_it():
    m = from_regex(r"[^a]\d.\W", {"a", "b", "1", "!", "\n"})
    assert m.get_alphabet() == ["\n", "!", "1", "a", "b"]
    assert m.accept("b1a!") and m.accept("!1b\n") and not m.accept("a1b!") and not m.accept("b1\n!")


@pytest.mark.parametrize(
    "pattern, construct, position",
    [
        (r"(a)b\1", r"back-reference \1", 4),
        (r"(?P<x>a)(?P=x)", "back-reference (?P=x)", 8),
        (r"a(?=b)b", "look-ahead (?=...)", 1),
        (r"a(?!b)c", "negative look-ahead (?!...)", 1),
        (r"(?<=a)b", "look-behind (?<=...)", 0),
        (r"x(?<!a)b", "negative look-behind (?<!...)", 1),
        (r"(a)?(?(1)b|c)", "conditional group", 4),
        (r"a^b", "anchor '^'", 1),
        (r"a$b", "anchor '$'", 1),
        (r"(?:a$)+", "anchor '$'", 4),
        (r"x|(?:b*\A)c", r"anchor '\\A'", 7),
        (r"\bword\b", r"word boundary \b", 0),
        (r"ab\B", r"word boundary \B", 2),
        (r"(?:ab)*+", "possessive repeat '*+'", 6),
        (r"x(a|bc){2}+", "possessive repeat '{2}+'", 7),
        (r"(?>a|ab)c", "atomic group (?>...)", 0),
        (r"(?>a*a)", "atomic group (?>...)", 0),
        (r"a(b", "invalid pattern: missing ), unterminated subpattern", 1),
        (r"a**", "invalid pattern: multiple repeat", 2),
        (r"[z-a]", "invalid pattern: bad character range z-a", 1),
    ],
)
def test_refusals_name_construct_and_position(pattern, construct, position):
    with pytest.raises(ValueError) as caught:
        from_regex(pattern)
    assert construct in str(caught.value)
    assert f"at position {position}" in str(caught.value)


def test_arguments():
    assert from_regex(re.compile("ab", re.I)).accept("aB")
    assert from_regex("ab", flags=re.I | re.S).accept("Ab")
    with pytest.raises(TypeError):
        from_regex(b"ab")  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="not supported"):
        from_regex("ab", flags=re.DEBUG)
    with pytest.raises(ValueError, match="max_states=10"):
        from_regex("(a|b)*a(a|b){6}", max_states=10)


def test_catastrophic_pattern():
    """re backtracks exponentially here; the automaton is that of the
    equivalent \\w-free pattern [a-zA-Z0-9_]*!, so that one is the oracle."""
    m = from_regex(r"([a-zA-Z0-9_]+)*!")
    assert len(m.get_states()) == 2
    assert not m.accept("a" * 10_000)
    assert m.accept("a" * 10_000 + "!")
    for text in ["", "!", "a!", "a!!", "_9Z!", "a-!", "a"]:
        assert m.accept(text) == bool(re.fullmatch(r"[a-zA-Z0-9_]*!", text))


def test_random_patterns_agree():
    """Patterns made of the constructs above, drawn at random."""
    rng = random.Random(12)
    single = ["a", "b", "[ab]", "[^a]", ".", r"\d", "(?i:A)", "(?:a|1)"]
    longer = ["(?:a|bc)", "(?:ab)", "(a?b)"]
    quants = ["", "", "*", "+", "?", "{2}", "{1,3}", "*?", "??", "*+", "?+", "{0,2}+"]
    alphabet = "abc1A\n"
    for _ in range(150):
        parts = []
        for _ in range(rng.randint(1, 5)):
            atom = rng.choice(single + longer)
            quant = rng.choice(quants)
            if atom in longer and len(quant) > 1 and quant.endswith("+"):
                quant = quant[:-1]  # possessive repeats of longer sub-patterns are refused
            parts.append(atom + quant)
        pattern = "|".join(["".join(parts)] + (["".join(rng.sample(parts, len(parts)))] if rng.random() < 0.3 else []))
        m = from_regex(pattern, alphabet)
        for n in range(7):
            for _ in range(30):
                agree(m, pattern, "".join(rng.choice(alphabet) for _ in range(n)))


TOKENS = [
    "a", "b", "é", "0", "7", "9", "\\", "[", "]", "^", "-", "(", ")", "?", "*", "+", "{", "}", ",", "|", ".",
    "$", "P", "<", ">", "=", "!", ":", "#", "i", "x", "s", "u", "L", "d", "w", "N", "A", "Z", "q", " ", "\n",
    "(?", "(?P<n>", "(?P=n)", "(?:", "(?i)", "(?x)", "(?a-i:", "(?#", "\\d", "\\x4", "\\u00e9", "\\N{", "SPACE}",
    "{1,2}", "{2}", "{,3}", "[^", "\\1", "\\0", "\\477", "*+", "+?", "(?>",
]


@settings(max_examples=1000, deadline=None, database=None, suppress_health_check=list(HealthCheck))
@given(st.lists(st.sampled_from(TOKENS), max_size=10).map("".join))
def test_patterns_re_refuses_are_refused(pattern):
    """Our parser finds every pattern re refuses (and then reports re's own
    error); a pattern re takes is either refused as a construct or read the
    way re reads it."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            re.compile(pattern)
            valid = True
        except (re.error, OverflowError, ValueError):
            valid = False
        try:
            m = from_regex(pattern)
        except ValueError as error:
            assert str(error).startswith("invalid pattern") != valid, (pattern, str(error))
            return
    assert valid, pattern
    rng = random.Random(pattern)
    alphabet = [c for c in "ab0é9 \n-" if c in m.get_alphabet()]
    for n in range(5):
        for _ in range(8):
            agree(m, pattern, "".join(rng.choice(alphabet) for _ in range(n)))

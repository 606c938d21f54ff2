"""The example programs run as a user would run them, and say what they should."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import morvane

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def run_example(name, *args, path=None, cwd=None):
    """Runs examples/<name> with this interpreter; returns its output lines.
    The morvane under test is put first on the child's module path."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        [str(pathlib.Path(morvane.__file__).parent), *filter(None, [env.get("PYTHONPATH")])]
    )
    if path is not None:
        env["PATH"] = path
    done = subprocess.run(  # noqa: PLW1510 - the return code is checked below
        [sys.executable, str(EXAMPLES / name), *args],
        capture_output=True,
        text=True,
        encoding="utf-8",
        env=env,
        cwd=cwd,
        timeout=120,
    )
    assert done.returncode == 0, f"{name} failed:\n{done.stdout}\n{done.stderr}"
    assert done.stderr == "", done.stderr
    return done.stdout.splitlines()


def test_token_validator():
    lines = run_example("token_validator.py")
    first = lines.index("token      class        note") + 2  # after the rule under the header
    rows = lines[first : lines.index("", first)]
    assert [row.split()[0] for row in rows] == "rate = 0.25 * base_42 - -17 + 3. + 9x + é".split()
    table = {row.split()[0]: row.split()[1:] for row in rows}
    assert table["="] == table["*"] == ["operator"]
    assert table["rate"] == ["identifier"]
    assert table["0.25"] == ["decimal"]
    assert table["base_42"] == ["identifier"]
    assert table["-17"] == ["integer"]
    assert " ".join(table["3."]) == ("INVALID as decimal: stops in state 'point', which is not final")
    assert " ".join(table["9x"]) == (
        "INVALID as decimal: Erro: Nao ha transicao definida a partir do estado 'whole' com o simbolo 'x'."
    )
    assert table["é"][0] == "INVALID"
    assert "  read '5': now in 'fraction', accepted so far: True" in lines
    assert lines[-1] == "  undo: back in 'point' (2 moves remembered)"


def test_protocol_session():
    lines = run_example("protocol_session.py")
    replies = [line for line in lines if line.startswith("C: ")]
    assert len(replies) == 14
    # A command out of order is refused and moves nothing.
    assert replies[1].split("S: ")[1].split()[:5] == ["503", "not", "now", "(MAIL,", "QUIT)"]
    assert replies[1].split()[-5:] == ["greeted", "client=laptop", "from=-", "to=-", "sent=0"]
    # UNDO takes back the mistyped recipient: state and data together.
    assert replies[4].endswith("recipients client=laptop from=ana to=bob,bbo sent=0")
    assert replies[5].endswith("recipients client=laptop from=ana to=bob sent=0")
    assert replies[6].endswith("recipients client=laptop from=ana to=bob,eve sent=0")
    # RSET forces the state; UNDO after it brings back the mail under way.
    assert replies[10].endswith("greeted    client=laptop from=- to=- sent=1")
    assert replies[11].endswith("recipients client=laptop from=ana to=carl sent=1")
    assert replies[13].startswith("C: QUIT         S: 221 bye")
    assert "session complete: True; 9 moves remembered" in lines
    history = lines[lines.index("The remembered moves, oldest first (state before the move, data then):") + 1 :]
    assert history[:9] == [
        "   start      to=- sent=0",
        "   greeted    to=- sent=0",
        "   sender     to=- sent=0",
        "   recipients to=bob sent=0",
        "   recipients to=bob,eve sent=0",
        "   sent       to=bob,eve sent=1",
        "   sender     to=- sent=1",
        "   recipients to=carl sent=1",
        "   greeted    to=- sent=1",
    ]
    assert "   valid    HELO MAIL RCPT RCPT DATA MAIL RCPT DATA QUIT" in lines
    assert "   invalid  HELO MAIL DATA QUIT" in lines
    assert lines[-1] == (
        "   simulate('hmdq'): Erro: Nao ha transicao definida a partir do estado 'sender' com o simbolo 'd'."
    )


def test_counter():
    lines = run_example("counter.py")
    assert "   words: 11 (int), after 67 steps" in lines
    assert "   undo x6 (the last word): 10 words, in state 'gap'" in lines
    assert "   acronym of 'portable network graphics': 'PNG'" in lines
    assert "   acronym of 'graphics interchange format': 'GIF'" in lines
    assert "   starting from None instead of '': 'NoneGIF'" in lines
    assert "   coin '5' refused in state 'three'" in lines
    assert "   coins '2515k': total 8, state 'kept', accepted True" in lines
    assert "   running totals kept in the history: [0, 2, 7, 8, 8]" in lines
    assert "   undo x2: total 7, state 'two'" in lines
    assert lines[-1] == "   data '12' (text) plus 1: 1  <- text is not parsed; it counts as 0"


DOT_BODY = [
    '  s0 [label="fraction", shape=doublecircle];',
    '  s1 [label="point", shape=circle, style=filled, fillcolor="#ffd866", penwidth=2];',
    '  s2 [label="sign", shape=circle];',
    '  s3 [label="start", shape=circle];',
    '  s4 [label="whole", shape=circle];',
    "  __initial -> s3;",
    '  s0 -> s0 [label="0–9"];',
    '  s1 -> s0 [label="0–9"];',
    '  s2 -> s4 [label="0–9"];',
    "  s3 -> s2 [label=\"'-'\"];",
    '  s3 -> s4 [label="0–9"];',
    "  s4 -> s1 [label=\"'.'\"];",
    '  s4 -> s4 [label="0–9"];',
    "}",
]


def test_render_dot_without_graphviz(tmp_path):
    lines = run_example("render_dot.py", "--out", str(tmp_path), path=str(tmp_path / "no-programs-here"))
    dot = (tmp_path / "decimal.dot").read_text(encoding="utf-8").splitlines()
    assert dot[0] == "digraph automaton {"
    assert dot[-len(DOT_BODY) :] == DOT_BODY
    assert lines[: len(dot)] == dot
    assert f"wrote {tmp_path / 'decimal.dot'}: 5 states, 52 transitions in 7 edges" in lines
    assert lines[-1].startswith("Graphviz's dot program is not installed")
    assert sorted(p.name for p in tmp_path.iterdir() if p.is_file()) == ["decimal.dot"]


def test_render_dot_elsewhere_in_the_automaton(tmp_path):
    run_example("render_dot.py", "--out", str(tmp_path), "--input=12.5", path=str(tmp_path / "none"))
    dot = (tmp_path / "decimal.dot").read_text(encoding="utf-8")
    assert "after reading '12.5': in state 'fraction'" in dot
    assert 's0 [label="fraction", shape=doublecircle, style=filled' in dot
    assert 's1 [label="point", shape=circle];' in dot


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz's dot is not installed")
def test_render_dot_with_graphviz(tmp_path):
    lines = run_example("render_dot.py", "--out", str(tmp_path))
    assert lines[-2:] == [f"wrote {tmp_path / 'decimal.svg'}", f"wrote {tmp_path / 'decimal.png'}"]
    assert (tmp_path / "decimal.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    svg = (tmp_path / "decimal.svg").read_text(encoding="utf-8")
    assert "<svg" in svg and ">fraction</text>" in svg and "#ffd866" in svg


def test_batch_validate_on_a_process_pool():
    lines = run_example("batch_validate.py", "--lines", "20000", "--workers", "2")
    counts = [int(line.split()[1].replace(",", "")) for line in lines if line.split()[0] in ("here:", "pool:", "dask:")
              and "skipped" not in line]
    assert len(counts) >= 2 and len(set(counts)) == 1 and 9000 < counts[0] < 11000, lines
    assert lines[-1] == "the counts agree"

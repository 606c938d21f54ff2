"""Every ```pycon block of README.md and docs/*.md runs as written.

The blocks of one file run in order in one namespace, as a reader would type
them, and their output must match what the page shows (exception notes
included).
"""

import doctest
import io
import pathlib
import re

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^([ \t]*)```(\w*)[ \t]*\n(.*?)^\1```", re.MULTILINE | re.DOTALL)


def blocks(text):
    """(language, line number, body) of each fenced block."""
    for match in FENCE.finditer(text):
        yield match.group(2), text.count("\n", 0, match.start(3)), match.group(3)


@pytest.mark.parametrize("page", PAGES, ids=lambda page: str(page.relative_to(ROOT)))
def test_page_examples_run(page):
    text = page.read_text(encoding="utf-8")
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    namespace = {}
    report = io.StringIO()
    examples = 0
    for language, line, body in blocks(text):
        if language != "pycon":
            # A session written under another fence would never be checked.
            assert ">>> " not in body, f"{page.name}:{line + 1}: a Python session outside a pycon block"
            continue
        test = parser.get_doctest(body, namespace, page.name, str(page), line)
        assert test.examples, f"{page.name}:{line + 1}: a pycon block without examples"
        examples += len(test.examples)
        runner.run(test, out=report.write, clear_globs=False)
        namespace = test.globs  # the next block goes on from here
    assert examples > 0, f"{page.name} has no pycon examples"
    assert runner.failures == 0, f"{runner.failures} example(s) of {page.name} failed:\n{report.getvalue()}"

"""The README's examples run as written."""

import doctest
import pathlib

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples():
    text = README.read_text(encoding="utf-8")
    parser = doctest.DocTestParser()
    test = parser.get_doctest(text, {}, "README.md", str(README), 0)
    assert len(test.examples) > 20
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0, f"{runner.failures} README example(s) failed"

#!/usr/bin/env bash
# Memory check of the extension: tools/leaks.sh [pytest arguments]
#
# Runs test modules under valgrind memcheck against a normal build of the
# extension (build/leaks-*, with debug information) in .venv/leaks-3.12, and
# fails when valgrind reports a definitely lost block, or an invalid memory
# access, with a frame in morvane's own code (morvane*.so, or the toolkit's
# morvane_tools/_native*.so) on its stack. The
# interpreter's own noise is suppressed by tools/valgrind-python.supp.
#
# Without arguments it runs the modules that cover every method, each edge of
# binding and conversion, re-entry and release, and the toolkit's native
# reading, building, saving and operations, leaving out the slow ones
# (model-based, threads, scale, reference-count loops, long inputs, large
# tables, the automata-lib oracle, statistics) to stay within a few minutes:
# valgrind runs Python some 40 times slower.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source "$root/tools/venv.sh"
debian_package valgrind valgrind

python=$(python_for 3.12)
[ -n "$python" ] || fail "the leak check needs CPython 3.12"

venv="$root/.venv/leaks-3.12"
venv "$venv" "$python"
build_morvane "$venv" "build/leaks-{wheel_tag}" -C cmake.build-type=RelWithDebInfo
venv_install_group "$venv" test

if [ $# -eq 0 ]; then
    set -- tests/test_module.py tests/test_construction.py tests/test_binding.py tests/test_transitions.py \
        tests/test_stepping.py tests/test_acceptance.py tests/test_context.py tests/test_release.py \
        tests/test_tools_io.py tests/test_tools_ops.py \
        -k "not long_inputs and not automata_lib and not uniform and not deep_nesting and not added_in_passes"
fi
work=$(mktemp -d /tmp/morvane-leaks.XXXXXX)
phase "tests under valgrind memcheck (report in $work)"
status=0
# MORVANE_SANITIZED tells the tests that an instrumented allocator is in
# place: smaller loops, and no checks of how memory goes back to the system.
MORVANE_SANITIZED=1 PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --num-callers=60 --suppressions=tools/valgrind-python.supp \
    --xml=yes --xml-file="$work/memcheck.xml" \
    "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" || status=$?
if [ $status -ne 0 ]; then
    echo "the tests failed under valgrind (exit status $status)" >&2
    exit 1
fi

# Every reported error whose stack has a frame in one of our extensions is ours.
"$venv/bin/python" - "$work/memcheck.xml" <<'EOF'
import re
import sys
import xml.etree.ElementTree as ET

ours = 0
for error in ET.parse(sys.argv[1]).getroot().iter("error"):
    frames = [frame for stack in error.iter("stack") for frame in stack.iter("frame")]
    if not any(re.search(r"/(morvane[^/]*|morvane_tools/_native[^/]*)\.so$", frame.findtext("obj", "")) for frame in frames):
        continue
    ours += 1
    what = error.findtext("xwhat/text") or error.findtext("what")
    print(f"\n{error.findtext('kind')}: {what}")
    for frame in frames[:16]:
        where = f"{frame.findtext('file')}:{frame.findtext('line')}" if frame.findtext("file") else frame.findtext("obj")
        print(f"    {frame.findtext('fn', '???')} ({where})")
other = sum(1 for _ in ET.parse(sys.argv[1]).getroot().iter("error")) - ours
print(f"\nvalgrind: {ours} error(s) in morvane's code, {other} elsewhere (not ours, not counted)")
sys.exit(1 if ours else 0)
EOF
rm -rf "$work"

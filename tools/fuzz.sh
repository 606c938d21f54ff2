#!/usr/bin/env bash
# Coverage-guided fuzzing of the extension: tools/fuzz.sh [SECONDS] (default 60).
#
# Sets up what it needs: clang (from Debian's packages), a virtual environment
# .venv/fuzz-3.12 with atheris and hypothesis, and a build of the extension instrumented for
# libFuzzer with AddressSanitizer and UBSan (build/fuzz-*). Then runs
# fuzz/fuzz_morvane.py over the seed corpus fuzz/corpus/ for SECONDS. New
# corpus entries and crash inputs go to a temporary folder, never the repo.
# Exits non-zero on a crash, a failed check or any sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}

source "$root/tools/venv.sh"
debian_package clang++ clang

python=$(python_for 3.12)
[ -n "$python" ] || fail "fuzzing needs CPython 3.12"

venv="$root/.venv/fuzz-3.12"
venv "$venv" "$python"
venv_install "$venv" "the fuzzer" atheris==3.1.0 hypothesis
build_morvane "$venv" "build/fuzz-{wheel_tag}" -C cmake.define.CMAKE_CXX_COMPILER=clang++ \
    -C cmake.define.MORVANE_FUZZ=ON -C cmake.define.MORVANE_SANITIZE=ON

# libFuzzer lives in the sanitizer runtime that atheris ships; it must be
# preloaded so that the extension's coverage counters reach it.
runtime="$("$venv/bin/python" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so"
work=$(mktemp -d /tmp/morvane-fuzz.XXXXXX)
mkdir "$work/corpus"
phase "fuzzing for $seconds s (new inputs and crashes in $work)"
# The system allocator, so that ASan sees every Python object too. Leak
# detection is off: the interpreter keeps much of its memory to the end, and
# the fuzz target checks itself that the instance lets go of what it held.
# Hypothesis reads each input as a stream of choices, so inputs are full
# length from the start rather than grown a byte at a time.
status=0
env LD_PRELOAD="$runtime" PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$venv/bin/python" fuzz/fuzz_morvane.py -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -detect_leaks=0 \
    -len_control=0 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" fuzz/corpus >"$work/log" 2>&1 || status=$?
# Leave out the progress lines and the dictionary that libFuzzer suggests.
grep -vE '^(#[0-9]|"|###### )' "$work/log" | tail -n 60 || true
grep '^#[0-9]' "$work/log" | tail -n 1 || true
if [ "$status" -ne 0 ] || grep -qE 'ERROR: .*Sanitizer|runtime error:' "$work/log"; then
    echo "fuzzing found a fault (exit status $status); the input and the log are in $work" >&2
    echo "to run one input again: env LD_PRELOAD=$runtime PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0" \
        "$venv/bin/python fuzz/fuzz_morvane.py $work/crash-..." >&2
    exit 1
fi
rm -rf "$work"

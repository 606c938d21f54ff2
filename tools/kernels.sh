#!/usr/bin/env bash
# The walking kernels against the plain walk:
#   tools/kernels.sh [SEED] [AUTOMATA_PER_CLASS] [FUZZ_SECONDS]
#
# Builds tests/kernels/kernel_tests.cpp with CMake (a build of its own under
# build/kernels, no Python needed) and runs it on this processor; then
# cross-compiles the same program for aarch64, statically linked, and runs
# it under qemu-user: the portable and NEON walks on a processor without any
# x86 instruction. Last, fuzz/fuzz_kernels.cpp under libFuzzer with ASan and
# UBSan for FUZZ_SECONDS (default 30). Installs the cross compiler, qemu and
# clang when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source "$root/tools/venv.sh"
seed=${1:-1}
per_class=${2:-6}
fuzz_seconds=${3:-30}

cmake_bin=cmake
for venv in "$root"/.venv/3.1*; do
    [ -x "$venv/bin/cmake" ] && cmake_bin="$venv/bin/cmake" && break
done
command -v "$cmake_bin" >/dev/null || { echo "kernels needs cmake (./dev test installs it into .venv/)" >&2; exit 1; }
generator=()
for venv in "$root"/.venv/3.1*; do
    [ -x "$venv/bin/ninja" ] && generator=(-G Ninja -DCMAKE_MAKE_PROGRAM="$venv/bin/ninja") && break
done

echo "== kernel tests on this processor"
"$cmake_bin" -S "$root" -B build/kernels "${generator[@]}" -DMORVANE_KERNEL_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
"$cmake_bin" --build build/kernels
build/kernels/morvane_kernel_tests "$seed" "$per_class"

debian_package aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
debian_package qemu-aarch64 qemu-user
echo "== kernel tests on aarch64 (cross-compiled, under qemu-aarch64)"
mkdir -p build/kernels-aarch64
aarch64-linux-gnu-g++ -std=c++20 -O2 -static -Wall -Wextra -Isrc \
    tests/kernels/kernel_tests.cpp src/automaton/walk/*.cpp -o build/kernels-aarch64/morvane_kernel_tests
qemu-aarch64 build/kernels-aarch64/morvane_kernel_tests "$seed" "$per_class"

debian_package clang++ clang
echo "== fuzzing the kernels for $fuzz_seconds s"
mkdir -p build/kernels-fuzz
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -Isrc \
    fuzz/fuzz_kernels.cpp src/automaton/walk/*.cpp -o build/kernels-fuzz/fuzz_kernels
work=$(mktemp -d /tmp/morvane-kernel-fuzz.XXXXXX)
status=0
build/kernels-fuzz/fuzz_kernels -max_total_time="$fuzz_seconds" -max_len=4096 -artifact_prefix="$work/" "$work" \
    >"$work/log" 2>&1 || status=$?
grep -E '^Done|ERROR|runtime error|kernel .* ends in' "$work/log" || true
if [ "$status" -ne 0 ]; then
    echo "fuzzing found a fault (exit status $status); the input and the log are in $work" >&2
    exit 1
fi
rm -rf "$work"

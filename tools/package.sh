#!/usr/bin/env bash
# Builds morvane's distributions and tests each one as a user installs it.
#
#   tools/package.sh [--quick] [X.Y ...]     Python versions; by default 3.12 and 3.13
#
# --quick (CI's setting) installs the sdist on the newest version only, and
# the model-based test explores a tenth of its usual sequences in each
# installed copy; every wheel is still installed and tested, and the sdist
# still builds from source.
#
# Into dist/: one sdist, and one wheel per version (each built in an isolated
# environment, as pip and build do). Then, for each version, twice: a fresh
# virtual environment gets morvane from the wheel file, or from the sdist file
# (compiled from it there), and the test suite runs against that installed
# copy from a scratch directory outside the source tree. Interpreters are
# found on PATH and under pyenv, as ./dev finds them. Exits non-zero if any
# build, install or test run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.12 3.13)
sdist_versions=("${versions[@]}")
[ $quick -eq 0 ] || sdist_versions=("${versions[-1]}")

source "$root/tools/venv.sh"

declare -A python_for
while read -r version python; do
    [ -n "$version" ] && python_for[$version]=$python
done <<<"$(find_pythons)"
for version in "${versions[@]}"; do
    [ -n "${python_for[$version]:-}" ] || fail "no CPython $version found on PATH or under pyenv (for example 'pyenv install $version')"
done

# ---- helpers -----------------------------------------------------------------------
work=$(mktemp -d "${TMPDIR:-/tmp}/morvane-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
dist="$root/dist"
mkdir -p "$dist"
rm -f "$dist"/morvane-*.whl "$dist"/morvane-*.tar.gz

# builder DIR PYTHON: a fresh environment with the build frontend
builder() {
    venv "$1" "$2" && venv_install "$1" "the build frontend" build
}

timings=()
failures=()
# timed NAME COMMAND...: runs it, records its time, and a failure by name
timed() {
    local name=$1 start=$SECONDS status=0
    shift
    phase "$name"
    "$@" || status=$?
    timings+=("$(printf '%4ds  %s' $((SECONDS - start)) "$name")")
    if [ $status -ne 0 ]; then
        echo "FAILED: $name" >&2
        failures+=("$name")
    fi
    return 0
}

# The files that the tests read beside tests/ itself (README and pages with
# examples, the example programs, the pytest settings in pyproject.toml).
suite_files=(tests README.md docs examples pyproject.toml)

# test_installed VERSION KIND ARTIFACT: a fresh venv, morvane from ARTIFACT,
# the test suite from a scratch copy.
test_installed() {
    local version=$1 kind=$2 artifact=$3
    local venv="$work/venv-$kind-$version" suite="$work/suite-$kind-$version"
    venv "$venv" "${python_for[$version]}" && venv_install_group "$venv" test
    if [ "$kind" = wheel ]; then
        run_pip "$venv/bin/python" install --no-deps --no-index "$artifact" || return 1
    else
        # Compiled here from the sdist, in pip's isolated build environment.
        run_pip "$venv/bin/python" install --no-deps "$artifact" || return 1
    fi
    mkdir -p "$suite"
    local item
    for item in "${suite_files[@]}"; do
        [ -e "$root/$item" ] && cp -R "$root/$item" "$suite/"
    done
    find "$suite" -name __pycache__ -prune -exec rm -rf {} +
    # The module must come from the environment, and carry its type information.
    (cd "$suite" && "$venv/bin/python" - "$venv" <<'EOF') || return 1
import pathlib, sys, morvane
site = pathlib.Path(morvane.__file__).parent
assert pathlib.Path(sys.argv[1]).resolve() in site.resolve().parents, f"morvane imported from {site}"
for name in ("morvane.pyi", "morvane-stubs/__init__.pyi", "morvane-stubs/py.typed",
             "morvane_tools/__init__.py", "morvane_tools/py.typed"):
    assert (site / name).is_file(), f"{name} not installed"
print(f"morvane from {morvane.__file__}")
EOF
    # Under --quick the model-based test explores fewer sequences: the suite
    # step has already explored them against the same sources.
    local profile=ci
    [ $quick -eq 0 ] || profile=smoke
    (cd "$suite" && MORVANE_HYPOTHESIS_PROFILE=$profile "$venv/bin/python" -m pytest -q -p no:cacheprovider)
}

# ---- builds ------------------------------------------------------------------------
for version in "${versions[@]}"; do
    timed "build frontend for Python $version" builder "$work/builder-$version" "${python_for[$version]}"
done
[ ${#failures[@]} -eq 0 ] || exit 1

first=${versions[0]}
timed "sdist" "$work/builder-$first/bin/python" -m build --sdist --outdir "$dist" "$root"
for version in "${versions[@]}"; do
    timed "wheel for Python $version" "$work/builder-$version/bin/python" -m build --wheel \
        --outdir "$work/wheel-$version" -C "build-dir=$work/build-$version" "$root"
    cp "$work/wheel-$version"/morvane-*.whl "$dist/" 2>/dev/null || true
done

sdist=$(ls "$dist"/morvane-*.tar.gz 2>/dev/null | head -n 1 || true)
if [ -n "$sdist" ]; then
    echo "== $(basename "$sdist") holds $(tar -tzf "$sdist" | grep -vc '/$') files"
fi

# ---- installs and tests ------------------------------------------------------------
for version in "${versions[@]}"; do
    tag="cp${version/./}"
    wheel=$(ls "$dist"/morvane-*-"$tag"-"$tag"-*.whl 2>/dev/null | head -n 1 || true)
    if [ -n "$wheel" ]; then
        timed "tests on Python $version, installed from $(basename "$wheel")" test_installed "$version" wheel "$wheel"
    else
        failures+=("no wheel for Python $version")
    fi
done
for version in "${sdist_versions[@]}"; do
    if [ -n "$sdist" ]; then
        timed "tests on Python $version, installed from $(basename "$sdist")" test_installed "$version" sdist "$sdist"
    else
        failures+=("no sdist for Python $version")
    fi
done

echo "== times"
printf '%s\n' "${timings[@]}"
printf '%4ds  in all\n' $SECONDS
echo "== distributions in dist/"
ls -1 "$dist" | grep '^morvane-' || true
if [ ${#failures[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failures[@]}" >&2
    exit 1
fi
echo "packaging checks passed"

#!/usr/bin/env bash
# Checks morvane's type information against an installed copy of the module.
#
#   tools/typecheck.sh
#
# Builds and installs morvane (stub files included, through the CMake install
# rules) into .venv/typecheck-X.Y with the newest CPython >= 3.12 found, then,
# from a scratch directory outside the source tree so that only the installed
# copy can be found:
#   1. mypy.stubtest: the stub against the compiled module;
#   2. tests/typing/check_signatures.py: the methods whose parameter "with"
#      stubtest cannot read, the exception's base and the installed files;
#   3. mypy --strict and pyright (basedpyright, strict) on tests/typing/usage.py,
#      which then also runs, so every typed call is known to work;
#   4. both checkers on tests/typing/rejected.py, which must be refused on
#      exactly its lines marked "# rejected";
#   5. the toolkit morvane_tools, typed inline: stubtest of the installed
#      package and mypy --strict on it.
# Exits non-zero if any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

source "$root/tools/venv.sh"
read -r version python <<<"$(find_pythons | head -n 1)"
[ -n "${python:-}" ] || fail "the type checks need CPython 3.12 or newer: install one (for example 'pyenv install 3.13') and run this again."

venv="$root/.venv/typecheck-$version"
venv "$venv" "$python"
build_morvane "$venv" "build/typecheck-{wheel_tag}"
venv_install "$venv" "checkers" mypy basedpyright

scratch=$(mktemp -d "${TMPDIR:-/tmp}/morvane-typecheck.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$root/tests/typing/usage.py" "$root/tests/typing/rejected.py" "$scratch/"
cd "$scratch"
echo '{ "typeCheckingMode": "strict" }' >pyrightconfig.json
pyright() { "$venv/bin/basedpyright" --pythonpath "$venv/bin/python" "$@"; }

failed=()
step() { # step NAME COMMAND...: runs it, remembers a failure
    local name=$1
    shift
    phase "$name"
    "$@" || failed+=("$name")
}

# marked FILE: the numbers of its lines marked "# rejected"
marked() { grep -n '# rejected$' "$1" | cut -d: -f1 | sort -n | tr '\n' ' '; }

# expect_rejected NAME FILE OUTPUT: the lines of FILE with an error in OUTPUT
# (mypy's "FILE:LINE: error:" or pyright's "FILE:LINE:COL - error:") must be
# exactly the marked ones.
expect_rejected() {
    local name=$1 file=$2 output=$3 found expected
    found=$(grep -oE "$file:[0-9]+(:[0-9]+)?:? -? ?error" <<<"$output" | cut -d: -f2 | sort -nu | tr '\n' ' ')
    expected=$(marked "$file")
    if [ "$found" != "$expected" ]; then
        echo "$output"
        echo "$name: errors on lines [$found], expected on [$expected]" >&2
        return 1
    fi
    echo "$name refuses the $(wc -w <<<"$expected") marked lines of $file, and nothing else"
}

mypy_rejects() {
    local output
    output=$("$venv/bin/python" -m mypy --strict --no-error-summary rejected.py 2>&1) && true
    expect_rejected mypy rejected.py "$output"
}

pyright_rejects() {
    local output
    output=$(pyright rejected.py 2>&1) && true
    expect_rejected pyright rejected.py "$output"
}

step "stubtest" "$venv/bin/python" -m mypy.stubtest morvane
step "signatures" "$venv/bin/python" "$root/tests/typing/check_signatures.py"
step "mypy --strict usage.py" "$venv/bin/python" -m mypy --strict usage.py
step "pyright usage.py" pyright usage.py
step "running usage.py" "$venv/bin/python" usage.py
step "mypy --strict rejected.py" mypy_rejects
step "pyright rejected.py" pyright_rejects
step "stubtest morvane_tools" "$venv/bin/python" -m mypy.stubtest morvane_tools
step "mypy --strict morvane_tools" "$venv/bin/python" -m mypy --strict -p morvane_tools

if [ ${#failed[@]} -gt 0 ]; then
    printf 'type checks failed:' >&2
    printf ' [%s]' "${failed[@]}" >&2
    echo >&2
    exit 1
fi
echo "type checks passed"

# Finding interpreters, shared by ./dev and tools/*.sh (sourced, not run).

# "X.Y PATH" for every distinct CPython >= 3.12 on PATH or under pyenv, newest
# first. A pyenv shim may name a version it cannot run: each is tried.
find_pythons() {
    local candidates=() seen="" python version
    for name in python3.14 python3.13 python3.12 python3; do
        command -v "$name" >/dev/null 2>&1 && candidates+=("$(command -v "$name")")
    done
    local pyenv_root="${PYENV_ROOT:-$HOME/.pyenv}"
    if command -v pyenv >/dev/null 2>&1; then pyenv_root=$(pyenv root); fi
    for python in "$pyenv_root"/versions/3.*/bin/python3; do
        [ -x "$python" ] && candidates+=("$python")
    done
    for python in "${candidates[@]}"; do
        version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2]) if sys.version_info >= (3, 12) and sys.implementation.name == "cpython" else None' 2>/dev/null) || continue
        [ -n "$version" ] && [ "$version" != "None" ] || continue
        case " $seen " in *" $version "*) continue ;; esac
        seen="$seen $version"
        echo "$version $python"
    done | sort -t. -k2,2nr
}

# The path of CPython X.Y, or nothing.
python_for() {
    find_pythons | awk -v wanted="$1" '$1 == wanted { print $2; exit }'
}

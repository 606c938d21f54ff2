# Virtual environments, pip and progress, shared by ./dev and tools/*.sh
# (sourced, not run). Every phase is named with the time since the command
# started; pip's and the build's own progress shows beneath it, indented.
# Anything pip cannot install stops the command with pip's exit status.

root=${root:-$(cd "${BASH_SOURCE[0]%/*}/.." && pwd)}
source "$root/tools/pythons.sh"

# ---- progress ---------------------------------------------------------------------
# The clock starts with the command; ./dev exports it to the scripts it hands
# over to, so that they keep counting from there.
MORVANE_STARTED=${MORVANE_STARTED:-${EPOCHREALTIME/./}}

# elapsed: seconds since the command started, to a tenth.
elapsed() {
    local tenths=$(((${EPOCHREALTIME/./} - MORVANE_STARTED) / 100000))
    printf '%d.%d s' $((tenths / 10)) $((tenths % 10))
}

# phase TEXT: names the phase that starts now.
phase() { printf '== [%7s] %s\n' "$(elapsed)" "$*"; }

fail() {
    echo "$*" >&2
    exit 1
}

# debian_package COMMAND PACKAGE: installs the Debian package PACKAGE, which
# provides COMMAND, unless COMMAND is on PATH already.
debian_package() {
    command -v "$1" >/dev/null 2>&1 && return 0
    phase "installing $2 (Debian package)"
    { apt-get update -q && apt-get install -y -q "$2"; } >/dev/null || fail "could not install the Debian package $2"
}

# ---- pip ----------------------------------------------------------------------------
# pip's output, less what says nothing about the install at hand: one warning
# per package for every index or link location in the user's pip
# configuration that does not exist (a local mirror that is not mounted), the
# indexes it looks in, requirements already met, and, around a build, its own
# bookkeeping: metadata, wheel cache, uninstalling the previous copy, the
# files copied into the wheel. The build's progress (scikit-build-core's
# "***" steps, CMake's configuration, ninja's [n/m] lines) and every warning
# and error of the compiler stay.
pip_noise='^ *(WARNING: Location .* is ignored: it is neither a file nor a directory\.'
pip_noise+='|Requirement already satisfied: |Looking in (indexes|links): |Using pip |Processing /'
pip_noise+='|Preparing metadata|Running command |Building wheels for collected |Created wheel for |Stored in directory: '
pip_noise+='|Successfully (built|uninstalled) |Attempting uninstall: |Found existing installation: '
pip_noise+='|Uninstalling |Removing file or directory |Installing collected packages: morvane$'
pip_noise+='|loading initial cache file |-- Install(ing: | configuration: )|-- Up-to-date: '
pip_noise+='|\*\*\* scikit-build-core .*\(metadata_wheel\)$|\*\*\* (Installing project into wheel|Making wheel|Created morvane))'

# run_pip PYTHON ARGS...: PYTHON's pip, its output filtered and indented; returns
# pip's own exit status.
run_pip() {
    local python=$1
    shift
    local -
    set +e
    PYTHONUNBUFFERED=1 "$python" -m pip --disable-pip-version-check "$@" 2>&1 | sed -u -E "\%$pip_noise%d; s/^/    /"
    return "${PIPESTATUS[0]}"
}

# ---- what to install ------------------------------------------------------------
# requirements PYTHON GROUP: the requirements that pyproject.toml names, one a
# line. GROUP "build": the build backend, with the CMake and ninja that it
# fetches for itself in an isolated build; any other GROUP: that list of
# [project.optional-dependencies] ("test", "bench").
requirements() {
    "$1" - "$root/pyproject.toml" "$2" <<'EOF'
import sys, tomllib
with open(sys.argv[1], "rb") as file:
    project = tomllib.load(file)
group = sys.argv[2]
if group == "build":
    names = project["build-system"]["requires"] + ["cmake>=3.20", "ninja"]
else:
    names = project["project"]["optional-dependencies"][group]
print("\n".join(names))
EOF
}

# ---- environments -------------------------------------------------------------------
# venv DIR PYTHON: the virtual environment DIR, created with PYTHON the first time.
venv() {
    local dir=$1 python=$2
    [ -x "$dir/bin/python" ] && return 0
    phase "creating ${dir#"$root"/} with $python"
    "$python" -m venv "$dir" || fail "could not create the virtual environment $dir with $python"
}

# venv_install DIR WHAT REQUIREMENT...: installs the requirements into the
# environment DIR, unless the same list is installed there already (a stamp
# in DIR remembers it, so a second run asks pip nothing).
venv_install() {
    local dir=$1 what=$2
    shift 2
    local stamp="$dir/.installed-${what// /-}" wanted status=0
    wanted=$(printf '%s\n' "$@")
    [ "$wanted" = "$(cat "$stamp" 2>/dev/null)" ] && return 0
    phase "installing $what into ${dir#"$root"/}: $* (from the package index)"
    run_pip "$dir/bin/python" install "$@" || status=$?
    [ $status -eq 0 ] || fail "pip could not install $what into $dir (exit status $status)"
    printf '%s\n' "$wanted" >"$stamp"
}

# venv_install_group DIR GROUP: venv_install DIR "GROUP packages" with pyproject.toml's list.
venv_install_group() {
    local dir=$1 group=$2 names
    names=$(requirements "$dir/bin/python" "$group") || fail "could not read the $group list of pyproject.toml"
    local -a list
    mapfile -t list <<<"$names"
    local what="$group packages"
    [ "$group" = build ] && what="build tools"
    venv_install "$dir" "$what" "${list[@]}"
}

# build_morvane DIR BUILD_DIR [pip options...]: builds morvane in BUILD_DIR
# (incrementally: a scikit-build-core build-dir, "{wheel_tag}" allowed), with
# the environment DIR's own build tools, and installs it there.
build_morvane() {
    local dir=$1 build_dir=$2 status=0
    shift 2
    venv_install_group "$dir" build
    phase "building morvane for ${dir#"$root"/} in $build_dir${*:+ ($*)}"
    run_pip "$dir/bin/python" install -v --no-build-isolation --force-reinstall --no-deps \
        -C "build-dir=$build_dir" "$@" "$root" || status=$?
    [ $status -eq 0 ] || fail "building morvane failed (pip exit status $status)"
}

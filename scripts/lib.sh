# lib.sh — what the scripts share: the project root, finding a CPython, running a command
# as root, installing system packages and libyaml, and installing the Python tools and
# dependencies into an environment. Sourced, never run: source "$(dirname "$0")/lib.sh"

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# True when the interpreter $1 is CPython 3.12 or later.
python_is_recent() {
    "$1" -c 'import sys; sys.exit(0 if sys.version_info >= (3, 12) else 1)' >/dev/null 2>&1
}

# pyenv's interpreters whose versions match the extended regular expression $1, oldest first.
pyenv_pythons() {
    command -v pyenv >/dev/null 2>&1 || return 0
    local v dir
    dir=$(pyenv root)
    for v in $(pyenv versions --bare 2>/dev/null | grep -E "$1" | sort -V); do
        if [ -x "$dir/versions/$v/bin/python3" ]; then echo "$dir/versions/$v/bin/python3"; fi
    done
    return 0
}

# An interpreter of 3.12 or later: python3.12 on PATH first, then newer ones, then pyenv's.
find_python() {
    local c
    for c in python3.12 python3.13 python3.14 python3; do
        if command -v "$c" >/dev/null 2>&1 && python_is_recent "$c"; then
            command -v "$c"
            return 0
        fi
    done
    c=$(pyenv_pythons '^3\.(1[2-9]|[2-9][0-9])')
    [ -n "$c" ] && echo "${c%%$'\n'*}"
}

# CPython of version $1 (3.13, say): python$1 on PATH first, then pyenv's newest release of it.
find_python_version() {
    if command -v "python$1" >/dev/null 2>&1 && "python$1" -c pass >/dev/null 2>&1; then
        command -v "python$1"
        return 0
    fi
    local c
    c=$(pyenv_pythons "^${1//./\\.}(\\.|\$)")
    [ -n "$c" ] && echo "${c##*$'\n'}"
}

# Runs a command as root: directly when already root, through sudo otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs Debian packages.
apt_install() {
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"
}

have_libyaml() {
    pkg-config --exists yaml-0.1 2>/dev/null || [ -e /usr/include/yaml.h ]
}

# libyaml's headers, from the system's packages.
ensure_libyaml() {
    if ! have_libyaml; then
        echo "== installing libyaml-dev"
        apt_install libyaml-dev pkg-config
    fi
}

# The build tools into the environment of interpreter $1.
install_build_tools() {
    "$1" -m pip install -q "scikit-build-core>=0.10" cmake ninja
}

# The package's dependencies, and those of the extras named after the interpreter, as
# pyproject.toml lists them, into the environment of interpreter $1:
# install_project_deps .venv/bin/python test
install_project_deps() {
    local py=$1 listed deps
    shift
    listed=$("$py" "$root/scripts/project-deps" "$@") || return 1
    [ -n "$listed" ] || return 0
    mapfile -t deps <<<"$listed"
    "$py" -m pip install -q "${deps[@]}"
}

# Runs the test suite with interpreter $1, the rest being pytest's arguments: spread over the
# machine's cores (pytest-xdist), then the tests marked serial, which measure the whole
# process, on their own. A part that selects no test (pytest's exit 5) is no failure.
run_suite() {
    local py=$1 rc=0
    shift
    "$py" -m pytest -q -p no:cacheprovider -n auto -m "not serial" "$@" || rc=$?
    [ "$rc" -eq 0 ] || [ "$rc" -eq 5 ] || return "$rc"
    rc=0
    "$py" -m pytest -q -p no:cacheprovider -m serial "$@" || rc=$?
    [ "$rc" -eq 0 ] || [ "$rc" -eq 5 ] || return "$rc"
}

# shellcheck shell=bash
# Shared by run.sh and test.sh.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

vb_configure_and_build() {  # build-dir, extra cmake args...
    local dir="$1"; shift
    cmake -S "$root" -B "$root/$dir" "$@" >/dev/null
    cmake --build "$root/$dir" -j "$jobs"
}

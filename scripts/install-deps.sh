#!/usr/bin/env bash
# Installs the Debian packages of the named lists (files beside this script) that
# are missing. Runs apt-get only when something is missing, so repeated runs are
# quick. With --dry-run it prints the missing packages and installs nothing.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
dry_run=0
if [[ "${1:-}" == --dry-run ]]; then dry_run=1; shift; fi
(($# > 0)) || { echo "usage: $0 [--dry-run] package-list..." >&2; exit 2; }

wanted=()
for list in "$@"; do
    [[ -f "$here/$list" ]] || { echo "no package list $here/$list" >&2; exit 2; }
    mapfile -t -O "${#wanted[@]}" wanted < <(grep -v '^\s*#' "$here/$list" | grep -v '^\s*$')
done

missing=()
for pkg in "${wanted[@]}"; do
    status="$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)"
    [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

if ((dry_run)); then
    printf '%s\n' "${missing[@]}"
    exit 0
fi
if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

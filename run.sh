#!/usr/bin/env bash
# Installs what is missing, builds Release and starts Vellumbra (arguments pass through).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/common.sh"
"$root/scripts/install-deps.sh" debian-packages.txt
vb_configure_and_build build -DCMAKE_BUILD_TYPE=Release -DVB_BUILD_TESTS=OFF -DVB_BUILD_BENCH=OFF
exec "$root/build/Vellumbra_UI_v2/Vellumbra_UI_v2" "$@"

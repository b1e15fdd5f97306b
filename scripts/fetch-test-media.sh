#!/usr/bin/env bash
# Fills the test-media cache with real photos, videos and HDR images taken from
# Debian packages (apt-get download + dpkg -x, nothing installed). Quick when the
# cache is already full; tests that need media skip when it could not be filled.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cache="${VB_TEST_MEDIA:-$here/../.cache/test-media}"
mkdir -p "$cache/debs"

packages=(
    forensics-samples-files   # phone JPEGs with EXIF (one with Orientation 180), a 1080p phone video
    mate-backgrounds          # camera JPEGs with rich EXIF
    blender-data              # real HDRI .exr files
)

for pkg in "${packages[@]}"; do
    stamp="$cache/.$pkg.done"
    [[ -f "$stamp" ]] && continue
    (
        cd "$cache/debs" || exit 1
        rm -f "${pkg}"_*.deb
        if ! apt-get download -q "$pkg" >/dev/null 2>&1; then
            apt-get update -qq >/dev/null 2>&1 || true
            apt-get download -q "$pkg" >/dev/null 2>&1 || exit 1
        fi
        dpkg -x "${pkg}"_*.deb "$cache/$pkg" && rm -f "${pkg}"_*.deb
    ) && touch "$stamp" || echo "warning: could not fetch test media package $pkg; its tests will skip" >&2
done
exit 0

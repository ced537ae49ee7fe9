#!/usr/bin/env bash
# Renders the hicolor PNG sizes of the application icon from its SVG. The PNGs are kept in the
# repository, so a build needs no SVG renderer; run this again after changing the SVG.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/deps.sh"
vexo_install_missing librsvg2-bin >/dev/null
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
        "$here/com.korvanta.VexolinkNMS.svg" --output "$here/${size}x${size}.png"
done

#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG, for the hicolor theme. The PNGs are
# committed, so building needs no SVG renderer; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"

command -v rsvg-convert >/dev/null || {
  echo "render-icons: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2
  exit 1
}
for size in 16 24 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" scalable/apps/com.brenmoor.tolvane.svg \
    -o "${size}x${size}/apps/com.brenmoor.tolvane.png"
done

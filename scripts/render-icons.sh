#!/usr/bin/env bash
# Renders the icon's PNG sizes from its SVG drawing (packaging/icons/png/SIZE.png), for
# desktops that want fixed sizes. Run after changing the drawing and commit the result.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" org.example.korvane.svg -o "png/$size.png"
done
echo "Rendered $(ls png | wc -l) sizes into packaging/icons/png/"

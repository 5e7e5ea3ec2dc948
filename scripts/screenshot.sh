#!/usr/bin/env bash
# Takes docs/screenshot.png: the Korvane window in the middle of a run (the demo disc
# converted to MP3, the second track part-way), on a virtual display.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default: build; the build makes the demo disc)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
driver="$build/bin/korvane-screenshot"
demo="$build/demo/korvane-demo.cue"
out=docs/screenshot.png
for needed in "$driver" "$demo"; do
  if [ ! -e "$needed" ]; then
    echo "screenshot.sh: $needed is missing; build first (cmake --build $build)." >&2
    exit 1
  fi
done
mkdir -p docs
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KORVANE_DRIVER="$driver" KORVANE_DEMO="$demo" KORVANE_PAUSE="$work/paused" KORVANE_SHOT="$work/shot.png"

# The driver holds the run when the second track passes 40 % and creates the pause
# file; the picture is taken then, and removing the file lets the driver abort and end.
# The driver places the window at the top left corner; the picture is cut to the window
# with its own frame (client area 629 x 519, edges, border and title bar). The screen is
# larger, as a desktop's is, so that the window does not fill it.
xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" bash -c '
  "$KORVANE_DRIVER" "$KORVANE_DEMO" "$KORVANE_PAUSE" &
  driver=$!
  for _ in $(seq 600); do
    [ -e "$KORVANE_PAUSE" ] && break
    kill -0 "$driver" 2>/dev/null || break
    sleep 0.1
  done
  status=1
  if [ -e "$KORVANE_PAUSE" ]; then
    import -window root -crop 645x554+0+0 +repage "$KORVANE_SHOT" && status=0
    rm -f "$KORVANE_PAUSE"
  fi
  wait "$driver" || status=1
  exit $status
'
mv "$work/shot.png" "$out"
echo "Wrote $out"

#!/usr/bin/env bash
# Korvane's main job. With a display it opens the window with the disc added (the
# audio CD in the first drive, else the demo disc image that the build made); without
# one it rips that disc to WAV files with the command-line front end.
# Usage: scripts/run.sh [BUILD_DIR] [korvane-cli options...]
set -euo pipefail
build=${1:-build}
shift || true
bin="$build/bin"
out=${KORVANE_OUT:-korvane-output}
demo="$build/demo/korvane-demo.cue"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/korvane" ]; then
  if "$bin/korvane-cli" --list 2>/dev/null | grep -q '  audio$'; then
    exec "$bin/korvane"
  fi
  exec "$bin/korvane" "$demo"
fi

if "$bin/korvane-cli" --list 2>/dev/null | grep -q '  audio$'; then
  source=()
  echo "Ripping the audio CD in the first drive into $out/"
else
  source=("$demo")
  echo "No audio CD in a drive: ripping the demo disc $demo into $out/"
fi
"$bin/korvane-cli" --list "${source[@]}"
exec "$bin/korvane-cli" --out "$out" "$@" "${source[@]}"

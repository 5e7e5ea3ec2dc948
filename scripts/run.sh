#!/usr/bin/env bash
# Korvane's main job: rips a disc to WAV files. With a CD drive holding an audio CD it
# rips that disc; without one it rips the demo disc image that the build made.
# Usage: scripts/run.sh [BUILD_DIR] [korvane-cli options...]
set -euo pipefail
build=${1:-build}
shift || true
bin="$build/bin"
out=${KORVANE_OUT:-korvane-output}
demo="$build/demo/korvane-demo.cue"

if "$bin/korvane-cli" --list 2>/dev/null | grep -q '  audio$'; then
  source=()
  echo "Ripping the audio CD in the first drive into $out/"
else
  source=("$demo")
  echo "No audio CD in a drive: ripping the demo disc $demo into $out/"
fi
"$bin/korvane-cli" --list "${source[@]}"
exec "$bin/korvane-cli" --out "$out" "$@" "${source[@]}"

#!/usr/bin/env bash
# Korvane's main job. Until a front end exists, it lists what the build made.
set -euo pipefail
build=${1:-build}
echo "Korvane is built in $build/bin:"
ls -1 "$build/bin"
